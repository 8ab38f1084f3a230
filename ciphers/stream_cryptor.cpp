#include <algorithm>
#include <cstring>

#include "ciphers/stream_cryptors.h"
#include "foundation/private_heap.h"

CNoneCryptor::CNoneCryptor(std::string method, std::string password)
    : CCryptor(std::move(method), std::move(password), 16, 0) {}

int CNoneCryptor::EncryptInto(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                              bool) {
    *outLen = 0;
    if (len == 0) return 1;
    if (!PrivateHeapReserve(block, len)) return 0;
    std::memcpy(*block, in, len);
    *outLen = len;
    return 1;
}

int CNoneCryptor::DecryptInto(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                              bool* needMore, bool) {
    *needMore = false;
    return CNoneCryptor::EncryptInto(in, len, block, outLen, false);
}

int CStreamCryptor::EncryptInto(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                                bool) {
    *outLen = 0;
    const size_t prefix = ivSent_ ? 0 : static_cast<size_t>(ivLength_);
    const size_t total = prefix + len;
    try {
        if (!ivSent_) BeginSend(encryptIv_);
        if (total > 0) {
            if (!PrivateHeapReserve(block, total)) return 0;
            if (prefix) std::memcpy(*block, encryptIv_, prefix);
            if (len) CryptSend(in, *block + prefix, len);
        }
    } catch (...) {
        return 0;
    }
    ivSent_ = true;
    *outLen = total;
    return 1;
}

int CStreamCryptor::DecryptInto(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                                bool* needMore, bool) {
    *needMore = false;
    *outLen = 0;
    try {
        if (!ivReceived_) {
            const size_t ivLength = static_cast<size_t>(ivLength_);
            const size_t take = std::min(ivLength - ivReceivedBytes_, len);
            if (take) std::memcpy(decryptIv_ + ivReceivedBytes_, in, take);
            ivReceivedBytes_ += take;
            in += take;
            len -= take;
            if (ivReceivedBytes_ < ivLength) {
                *needMore = true;
                return 1;
            }
            BeginReceive(decryptIv_);
            ivReceived_ = true;
        }
        if (len == 0) return 1;
        if (!PrivateHeapReserve(block, len)) return 0;
        CryptReceive(in, *block, len);
        *outLen = len;
    } catch (...) {
        return 0;
    }
    return 1;
}

void CStreamCryptor::Reset() {
    CCryptor::Reset();
    ivReceivedBytes_ = 0;
}
