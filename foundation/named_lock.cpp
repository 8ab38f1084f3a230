#include "foundation/named_lock.h"

CNamedLock::CNamedLock(const wchar_t* name, int keep) : name_(name ? name : L""), keep_(keep) {
    enabled_.store(1, std::memory_order_release);
}

CNamedLock::~CNamedLock() {
    enabled_.store(0, std::memory_order_release);
}

bool CNamedLock::Enter() {
    if (!IsEnabled()) return false;
    mutex_.lock();
    entries_.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

void CNamedLock::Leave() {
    entries_.fetch_sub(1, std::memory_order_acq_rel);
    mutex_.unlock();
}

void CNamedLock::Lock(int) {
    Enter();
}

void CNamedLock::Unlock(int) {
    if (IsEnabled()) Leave();
}

CNamedLockGuard::CNamedLockGuard(CNamedLock* lock) : lock_(lock) {
    if (lock_) held_ = lock_->Enter();
}

CNamedLockGuard::~CNamedLockGuard() {
    if (held_) lock_->Leave();
}
