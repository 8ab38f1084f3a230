#pragma once
// A process-local recursive lock that carries a name, counts how often it is
// held and can be switched off; and its scoped guard. Every long-lived manager
// and the shared structures of the relay guard their data with one.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class CNamedLock {
public:
    explicit CNamedLock(const wchar_t* name = L"Unspecific", int keep = 0);
    ~CNamedLock();
    CNamedLock(const CNamedLock&) = delete;
    CNamedLock& operator=(const CNamedLock&) = delete;

    // Both do nothing while the lock is disabled (before construction ends and
    // once destruction begins). The trace flag has no effect.
    void Lock(int trace = 0);
    void Unlock(int trace = 0);

    bool IsEnabled() const { return enabled_.load(std::memory_order_acquire) != 0; }
    // Lock calls not yet matched by Unlock, over all threads.
    int32_t GetEntryCount() const { return entries_.load(std::memory_order_acquire); }
    const std::wstring& GetName() const { return name_; }
    int GetKeep() const { return keep_; }

private:
    friend class CNamedLockGuard;
    bool Enter();  // true when the lock was taken
    void Leave();

    std::recursive_mutex mutex_;
    std::atomic<int32_t> entries_{0};
    std::atomic<int> enabled_{0};
    std::wstring name_;
    // Kept for callers that pass it; a std::recursive_mutex needs no explicit delete.
    int keep_;
};

// Holds a CNamedLock for the length of a scope. A null lock is ignored, and the
// guard releases only what it took, so a lock disabled meanwhile stays balanced.
class CNamedLockGuard {
public:
    explicit CNamedLockGuard(CNamedLock* lock);
    ~CNamedLockGuard();
    CNamedLockGuard(const CNamedLockGuard&) = delete;
    CNamedLockGuard& operator=(const CNamedLockGuard&) = delete;

private:
    CNamedLock* lock_;
    bool held_ = false;
};
