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

int CNoneCryptor::Encrypt(const unsigned char* in, size_t len, unsigned char** out,
                          size_t* outLen, bool) {
    return CopyOut(in, len, out, outLen);
}

int CNoneCryptor::Decrypt(const unsigned char* in, size_t len, unsigned char** out,
                          size_t* outLen, bool* needMore, bool) {
    *needMore = false;
    return CopyOut(in, len, out, outLen);
}

int CStreamCryptor::Encrypt(const unsigned char* in, size_t len, unsigned char** out,
                            size_t* outLen, bool) {
    *out = nullptr;
    *outLen = 0;
    const size_t prefix = m_ivSent ? 0 : static_cast<size_t>(m_ivLength);
    const size_t total = prefix + len;
    unsigned char* buf = nullptr;
    try {
        if (!m_ivSent) BeginSend(m_encryptIv);
        if (total > 0) {
            buf = static_cast<unsigned char*>(PrivateHeapAlloc(total));
            if (!buf) return 0;
            if (prefix) std::memcpy(buf, m_encryptIv, prefix);
            if (len) CryptSend(in, buf + prefix, len);
        }
    } catch (...) {
        PrivateHeapFree(buf);
        return 0;
    }
    m_ivSent = true;
    *out = buf;
    *outLen = total;
    return 1;
}

int CStreamCryptor::Decrypt(const unsigned char* in, size_t len, unsigned char** out,
                            size_t* outLen, bool* needMore, bool) {
    *needMore = false;
    *out = nullptr;
    *outLen = 0;
    try {
        if (!m_ivReceived) {
            const size_t ivLength = static_cast<size_t>(m_ivLength);
            const size_t take = std::min(ivLength - m_ivReceivedBytes, len);
            if (take) std::memcpy(m_decryptIv + m_ivReceivedBytes, in, take);
            m_ivReceivedBytes += take;
            in += take;
            len -= take;
            if (m_ivReceivedBytes < ivLength) {
                *needMore = true;
                return 1;
            }
            BeginReceive(m_decryptIv);
            m_ivReceived = true;
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
    m_ivReceivedBytes = 0;
}
