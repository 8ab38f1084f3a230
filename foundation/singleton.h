#pragma once
// Base of the long-lived managers: class T derives from CSingleton<T> and is
// reached only through T::GetInstance, which builds the one instance on first
// use under a lock of T's own and then runs its OnCreate hook once.
//
// T declares `friend class CSingleton<T>;` when its constructor is private.

#include "foundation/named_lock.h"

template <class T>
class CSingleton {
public:
    static T* GetInstance() {
        CNamedLockGuard guard(&ClassLock());
        if (!instance_) {
            T* created = new T();  // a throwing constructor leaves the pointer null
            instance_ = created;
            static_cast<CSingleton*>(created)->OnCreate();
        }
        return instance_;
    }

    // Destroys the instance; a later GetInstance builds a fresh one.
    static void ReleaseInstance() {
        CNamedLockGuard guard(&ClassLock());
        if (instance_) {
            CSingleton* doomed = instance_;
            delete doomed;
            instance_ = nullptr;
        }
    }

protected:
    CSingleton() = default;
    virtual void OnCreate() {}
    virtual ~CSingleton() = default;

private:
    // Built on first use, so no other static initialiser can reach it unbuilt.
    static CNamedLock& ClassLock() {
        static CNamedLock lock(L"Unspecific", 0);
        return lock;
    }

    static inline T* instance_ = nullptr;
};
