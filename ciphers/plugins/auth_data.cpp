#include "ciphers/plugins/auth_data.h"

#include <cstring>

#include "ciphers/crypto_helpers.h"
#include "foundation/named_lock.h"

namespace {

// Built on first use, so that no static initialiser can reach them unbuilt.
CNamedLock& SharedDataLock() {
    static CNamedLock lock(L"Unspecific", 0);
    return lock;
}

CNamedLock& InstanceLock() {
    static CNamedLock lock(L"Unspecific", 0);
    return lock;
}

CAuthData* g_instance = nullptr;

}  // namespace

CAuthData::CAuthData() = default;

CAuthData* CAuthData::GetInstance() {
    CNamedLockGuard guard(&InstanceLock());
    if (!g_instance) g_instance = new CAuthData();  // lives until the process ends
    g_instance->Renew();
    return g_instance;
}

CAuthData* CAuthData::Current() {
    CNamedLockGuard guard(&InstanceLock());
    return g_instance;
}

void CAuthData::Renew() {
    unsigned char id[4];
    RandomBytes(id, sizeof(id));
    CNamedLockGuard guard(&SharedDataLock());
    std::memcpy(clientId_, id, sizeof(id));
    const uint32_t asNumber = static_cast<uint32_t>(id[0]) | (static_cast<uint32_t>(id[1]) << 8) |
                              (static_cast<uint32_t>(id[2]) << 16) | (static_cast<uint32_t>(id[3]) << 24);
    connectionId_ = asNumber & 0x00FFFFFDu;
}

void CAuthData::RenewIfExhausted() {
    CNamedLockGuard guard(&SharedDataLock());  // recursive: Renew takes it again
    if (connectionId_ > 0xFF000000u) Renew();
}

uint32_t CAuthData::NextConnection(unsigned char clientId[4]) {
    CNamedLockGuard guard(&SharedDataLock());
    RenewIfExhausted();
    const uint32_t id = ++connectionId_;
    std::memcpy(clientId, clientId_, 4);
    return id;
}

void CAuthData::GetClientId(unsigned char clientId[4]) const {
    CNamedLockGuard guard(&SharedDataLock());
    std::memcpy(clientId, clientId_, 4);
}

uint32_t CAuthData::GetConnectionId() const {
    CNamedLockGuard guard(&SharedDataLock());
    return connectionId_;
}
