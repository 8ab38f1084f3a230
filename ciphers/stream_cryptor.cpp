#include <algorithm>
#include <cstring>

#include "ciphers/stream_cryptors.h"
#include "foundation/private_heap.h"

namespace {

// Copies `len` bytes into a new private-heap block; an empty input gives null.
int CopyOut(const unsigned char* in, size_t len, unsigned char** out, size_t* outLen) {
    *out = nullptr;
    *outLen = 0;
    if (len == 0) return 1;
    auto* buf = static_cast<unsigned char*>(PrivateHeapAlloc(len));
    if (!buf) return 0;
    std::memcpy(buf, in, len);
    *out = buf;
    *outLen = len;
    return 1;
}

}  // namespace

CNoneCryptor::CNoneCryptor(std::string method, std::string password)
    : CCryptor(std::move(method), std::move(password), 16, 0) {}

int CNoneCryptor::Encrypt(const unsigned char* in, size_t len, unsigned char** out, size_t* outLen, bool) {
    return CopyOut(in, len, out, outLen);
}

int CNoneCryptor::Decrypt(const unsigned char* in, size_t len, unsigned char** out, size_t* outLen,
                          bool* needMore, bool) {
    *needMore = false;
    return CopyOut(in, len, out, outLen);
}

int CStreamCryptor::Encrypt(const unsigned char* in, size_t len, unsigned char** out, size_t* outLen, bool) {
    *out = nullptr;
    *outLen = 0;
    const size_t prefix = ivSent_ ? 0 : static_cast<size_t>(ivLength_);
    const size_t total = prefix + len;
    unsigned char* buf = nullptr;
    try {
        if (!ivSent_) BeginSend(encryptIv_);
        if (total > 0) {
            buf = static_cast<unsigned char*>(PrivateHeapAlloc(total));
            if (!buf) return 0;
            if (prefix) std::memcpy(buf, encryptIv_, prefix);
            if (len) CryptSend(in, buf + prefix, len);
        }
    } catch (...) {
        PrivateHeapFree(buf);
        return 0;
    }
    ivSent_ = true;
    *out = buf;
    *outLen = total;
    return 1;
}

int CStreamCryptor::Decrypt(const unsigned char* in, size_t len, unsigned char** out, size_t* outLen,
                            bool* needMore, bool) {
    *needMore = false;
    *out = nullptr;
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
        auto* buf = static_cast<unsigned char*>(PrivateHeapAlloc(len));
        if (!buf) return 0;
        try {
            CryptReceive(in, buf, len);
        } catch (...) {
            PrivateHeapFree(buf);
            throw;
        }
        *out = buf;
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
