#include <sodium.h>

#include <algorithm>
#include <cstring>

#include "ciphers/aead_cryptors.h"
#include "ciphers/crypto_helpers.h"
#include "foundation/private_heap.h"

namespace {

const unsigned char kSubkeyInfo[] = {'s', 's', '-', 's', 'u', 'b', 'k', 'e', 'y'};

}  // namespace

AEADCryptor::AEADCryptor(std::string method, std::string password, int keyLength, int saltLength,
                         int tagLength, int nonceLength)
    : CCryptor(std::move(method), std::move(password), keyLength, nonceLength),
      m_saltLength(saltLength),
      m_tagLength(tagLength),
      m_nonceLength(nonceLength),
      m_masterKeyLength(keyLength) {
    // The master key is the head of the password's key block, which has no
    // limit on the password's length.
    std::memcpy(m_masterKey, m_key, static_cast<size_t>(m_masterKeyLength));
    NewSendSalt();
    DeriveSubkey(1);
}

AEADCryptor::~AEADCryptor() {
    PrivateHeapFree(m_receiveBuffer);
    sodium_memzero(m_masterKey, sizeof(m_masterKey));
    sodium_memzero(m_sendSubkey, sizeof(m_sendSubkey));
    sodium_memzero(m_receiveSubkey, sizeof(m_receiveSubkey));
}

void AEADCryptor::NewSendSalt() {
    unsigned char salt[64];
    RandomBytes(salt, sizeof(salt));
    std::memcpy(m_sendSalt, salt, static_cast<size_t>(m_saltLength));
}

void AEADCryptor::DeriveSubkey(int direction) {
    const size_t keyLength = static_cast<size_t>(m_masterKeyLength);
    const size_t saltLength = static_cast<size_t>(m_saltLength);
    if (direction == 1) {
        HkdfSha1(m_masterKey, keyLength, m_sendSalt, saltLength, kSubkeyInfo, sizeof(kSubkeyInfo),
                 m_sendSubkey, keyLength);
        ++m_sendSubkeyVersion;
    } else {
        HkdfSha1(m_masterKey, keyLength, m_receiveSalt, saltLength, kSubkeyInfo,
                 sizeof(kSubkeyInfo), m_receiveSubkey, keyLength);
        ++m_receiveSubkeyVersion;
    }
}

void AEADCryptor::Reset() {
    CCryptor::Reset();
    NewSendSalt();
    DeriveSubkey(1);
    m_saltSent = 0;
    m_saltReceived = 0;
    std::memset(m_sendNonce, 0, sizeof(m_sendNonce));
    std::memset(m_receiveNonce, 0, sizeof(m_receiveNonce));
    PrivateHeapFree(m_receiveBuffer);
    m_receiveBuffer = nullptr;
    m_bufferedLength = 0;
    m_receiveFailed = false;
}

int AEADCryptor::Encrypt(const unsigned char* in, size_t len, unsigned char** out, size_t* outLen,
                         bool udp) {
    *out = nullptr;
    *outLen = 0;
    return udp ? SealUdp(in, len, out, outLen) : SealTcp(in, len, out, outLen);
}

int AEADCryptor::Decrypt(const unsigned char* in, size_t len, unsigned char** out,
                         size_t* outLen, bool* needMore, bool udp) {
    *out = nullptr;
    *outLen = 0;
    if (!udp && m_receiveFailed) {
        *needMore = false;
        return 0;
    }
    int ok = 0;
    try {
        ok = udp ? OpenUdp(in, len, out, outLen) : OpenTcp(in, len, out, outLen, needMore);
    } catch (...) {
    }
    if (!ok && !udp) m_receiveFailed = true;
    return ok;
}

int AEADCryptor::SealTcp(const unsigned char* in, size_t len, unsigned char** out,
                         size_t* outLen) {
    const size_t prefix = m_saltSent ? 0 : static_cast<size_t>(m_saltLength);
    const size_t tag = static_cast<size_t>(m_tagLength);
    const size_t chunks = (len + kMaxPayload - 1) / kMaxPayload;
    const size_t total = prefix + chunks * (2 + 2 * tag) + len;
    if (total == 0) return 1;
    auto* buf = static_cast<unsigned char*>(PrivateHeapAlloc(total));
    if (!buf) return 0;
    unsigned char* p = buf;
    if (prefix) std::memcpy(p, m_sendSalt, prefix);
    p += prefix;
    while (len > 0) {
        const size_t m = std::min(len, kMaxPayload);
        const unsigned char lengthBytes[2] = {static_cast<unsigned char>(m >> 8),
                                              static_cast<unsigned char>(m & 0xFF)};
        size_t n = 0;
        if (!SealMessage(lengthBytes, 2, p, &n)) break;
        sodium_increment(m_sendNonce, static_cast<size_t>(m_nonceLength));
        p += n;
        if (!SealMessage(in, m, p, &n)) break;
        sodium_increment(m_sendNonce, static_cast<size_t>(m_nonceLength));
        p += n;
        in += m;
        len -= m;
    }
    if (len > 0) {
        PrivateHeapFree(buf);
        return 0;
    }
    m_saltSent = 1;
    *out = buf;
    *outLen = total;
    return 1;
}

int AEADCryptor::SealUdp(const unsigned char* in, size_t len, unsigned char** out,
                         size_t* outLen) {
    const size_t salt = static_cast<size_t>(m_saltLength);
    const size_t total = salt + len + static_cast<size_t>(m_tagLength);
    auto* buf = static_cast<unsigned char*>(PrivateHeapAlloc(total));
    if (!buf) return 0;
    std::memcpy(buf, m_sendSalt, salt);
    size_t n = 0;
    if (!SealMessage(in, len, buf + salt, &n)) {
        PrivateHeapFree(buf);
        return 0;
    }
    *out = buf;
    *outLen = total;
    return 1;
}

int AEADCryptor::OpenUdp(const unsigned char* in, size_t len, unsigned char** out,
                         size_t* outLen) {
    const size_t salt = static_cast<size_t>(m_saltLength);
    const size_t tag = static_cast<size_t>(m_tagLength);
    if (len <= salt + tag) return 0;
    std::memcpy(m_receiveSalt, in, salt);
    DeriveSubkey(0);
    const size_t plainLength = len - salt - tag;
    auto* buf = static_cast<unsigned char*>(PrivateHeapAlloc(plainLength));
    if (!buf) return 0;
    size_t n = 0;
    if (!OpenMessage(in + salt, len - salt, buf, &n)) {
        PrivateHeapFree(buf);
        return 0;
    }
    *out = buf;
    *outLen = plainLength;
    return 1;
}

bool AEADCryptor::FillBuffer(const unsigned char*& in, size_t& len, size_t want) {
    if (m_bufferedLength < want) {
        const size_t take = std::min(want - m_bufferedLength, len);
        if (take) std::memcpy(m_receiveBuffer + m_bufferedLength, in, take);
        m_bufferedLength += take;
        in += take;
        len -= take;
    }
    return m_bufferedLength >= want;
}

bool AEADCryptor::OpenLength(const unsigned char* p, size_t* payloadLen) {
    unsigned char lengthBytes[2];
    size_t n = 0;
    if (!OpenMessage(p, 2 + static_cast<size_t>(m_tagLength), lengthBytes, &n)) return false;
    *payloadLen = (static_cast<size_t>(lengthBytes[0]) << 8) | lengthBytes[1];
    return *payloadLen <= kMaxPayload;
}

bool AEADCryptor::OpenPayload(const unsigned char* p, size_t payloadLen, unsigned char* out) {
    sodium_increment(m_receiveNonce, static_cast<size_t>(m_nonceLength));
    size_t n = 0;
    if (!OpenMessage(p, payloadLen + static_cast<size_t>(m_tagLength), out, &n)) return false;
    sodium_increment(m_receiveNonce, static_cast<size_t>(m_nonceLength));
    return true;
}

int AEADCryptor::OpenTcp(const unsigned char* in, size_t len, unsigned char** out, size_t* outLen,
                         bool* needMore) {
    *needMore = false;
    const size_t tag = static_cast<size_t>(m_tagLength);
    const size_t head = 2 + tag;
    if (!m_receiveBuffer) {
        // Holds at most one partial chunk: the complete ones are opened in place.
        m_receiveBuffer = static_cast<unsigned char*>(PrivateHeapAlloc(head + kMaxPayload + tag));
        if (!m_receiveBuffer) return 0;
    }

    if (!m_saltReceived) {
        const size_t salt = static_cast<size_t>(m_saltLength);
        if (m_bufferedLength + len <= salt) {
            if (len) std::memcpy(m_receiveBuffer + m_bufferedLength, in, len);
            m_bufferedLength += len;
            *needMore = true;
            return 1;
        }
        const size_t take = salt - m_bufferedLength;
        if (m_bufferedLength) std::memcpy(m_receiveSalt, m_receiveBuffer, m_bufferedLength);
        std::memcpy(m_receiveSalt + m_bufferedLength, in, take);
        in += take;
        len -= take;
        m_bufferedLength = 0;
        m_saltReceived = 1;
        DeriveSubkey(0);
    }

    unsigned char* plain = nullptr;
    size_t plainLength = 0;
    auto fail = [&]() {
        PrivateHeapFree(plain);
        return 0;
    };
    // Plaintext never outgrows the bytes it comes from.
    auto reservePlain = [&](size_t remaining) {
        if (!plain) plain = static_cast<unsigned char*>(PrivateHeapAlloc(remaining));
        return plain != nullptr;
    };

    // Complete the chunk that an earlier input began.
    if (m_bufferedLength > 0) {
        if (!FillBuffer(in, len, head)) {
            *needMore = true;
            return 1;
        }
        size_t payload = 0;
        if (!OpenLength(m_receiveBuffer, &payload)) return 0;
        if (!FillBuffer(in, len, head + payload + tag)) {
            *needMore = true;
            return 1;
        }
        if (!reservePlain(payload + len)) return 0;
        if (!OpenPayload(m_receiveBuffer + head, payload, plain)) return fail();
        plainLength = payload;
        m_bufferedLength = 0;
    }

    // Whole chunks straight from the input.
    while (len > head) {
        size_t payload = 0;
        if (!OpenLength(in, &payload)) return fail();
        const size_t chunk = head + payload + tag;
        if (len < chunk) break;
        if (!reservePlain(len)) return 0;
        if (!OpenPayload(in + head, payload, plain + plainLength)) return fail();
        plainLength += payload;
        in += chunk;
        len -= chunk;
    }

    if (len > 0) {
        std::memcpy(m_receiveBuffer, in, len);
        m_bufferedLength = len;
        *needMore = true;
    }

    if (plainLength == 0) {
        PrivateHeapFree(plain);
        return 1;
    }
    if (void* exact = PrivateHeapRealloc(plainLength, plain)) plain = static_cast<unsigned char*>(exact);
    *out = plain;
    *outLen = plainLength;
    return 1;
}
