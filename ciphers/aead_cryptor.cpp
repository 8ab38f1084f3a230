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
      saltLength_(saltLength),
      tagLength_(tagLength),
      nonceLength_(nonceLength),
      masterKeyLength_(keyLength) {
    // The master key is the head of the password's key block, which has no
    // limit on the password's length.
    std::memcpy(masterKey_, key_, static_cast<size_t>(masterKeyLength_));
    NewSendSalt();
    DeriveSubkey(1);
}

AEADCryptor::~AEADCryptor() {
    PrivateHeapFree(receiveBuffer_);
    sodium_memzero(masterKey_, sizeof(masterKey_));
    sodium_memzero(sendSubkey_, sizeof(sendSubkey_));
    sodium_memzero(receiveSubkey_, sizeof(receiveSubkey_));
}

void AEADCryptor::NewSendSalt() {
    unsigned char salt[64];
    RandomBytes(salt, sizeof(salt));
    std::memcpy(sendSalt_, salt, static_cast<size_t>(saltLength_));
}

void AEADCryptor::DeriveSubkey(int direction) {
    const size_t keyLength = static_cast<size_t>(masterKeyLength_);
    const size_t saltLength = static_cast<size_t>(saltLength_);
    if (direction == 1) {
        HkdfSha1(masterKey_, keyLength, sendSalt_, saltLength, kSubkeyInfo, sizeof(kSubkeyInfo), sendSubkey_,
                 keyLength);
        ++sendSubkeyVersion_;
    } else {
        HkdfSha1(masterKey_, keyLength, receiveSalt_, saltLength, kSubkeyInfo, sizeof(kSubkeyInfo),
                 receiveSubkey_, keyLength);
        ++receiveSubkeyVersion_;
    }
}

void AEADCryptor::Reset() {
    CCryptor::Reset();
    NewSendSalt();
    DeriveSubkey(1);
    saltSent_ = 0;
    saltReceived_ = 0;
    std::memset(sendNonce_, 0, sizeof(sendNonce_));
    std::memset(receiveNonce_, 0, sizeof(receiveNonce_));
    PrivateHeapFree(receiveBuffer_);
    receiveBuffer_ = nullptr;
    bufferedLength_ = 0;
    receiveFailed_ = false;
}

int AEADCryptor::EncryptInto(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                             bool udp) {
    *outLen = 0;
    return udp ? SealUdp(in, len, block, outLen) : SealTcp(in, len, block, outLen);
}

int AEADCryptor::DecryptInto(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                             bool* needMore, bool udp) {
    *outLen = 0;
    if (!udp && receiveFailed_) {
        *needMore = false;
        return 0;
    }
    int ok = 0;
    try {
        ok = udp ? OpenUdp(in, len, block, outLen) : OpenTcp(in, len, block, outLen, needMore);
    } catch (...) {
    }
    if (!ok) *outLen = 0;
    if (!ok && !udp) receiveFailed_ = true;
    return ok;
}

int AEADCryptor::SealTcp(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen) {
    const size_t prefix = saltSent_ ? 0 : static_cast<size_t>(saltLength_);
    const size_t tag = static_cast<size_t>(tagLength_);
    const size_t chunks = (len + kMaxPayload - 1) / kMaxPayload;
    const size_t total = prefix + chunks * (2 + 2 * tag) + len;
    if (total == 0) return 1;
    if (!PrivateHeapReserve(block, total)) return 0;
    unsigned char* p = *block;
    if (prefix) std::memcpy(p, sendSalt_, prefix);
    p += prefix;
    while (len > 0) {
        const size_t m = std::min(len, kMaxPayload);
        const unsigned char lengthBytes[2] = {static_cast<unsigned char>(m >> 8),
                                              static_cast<unsigned char>(m & 0xFF)};
        size_t n = 0;
        if (!SealMessage(lengthBytes, 2, p, &n)) return 0;
        sodium_increment(sendNonce_, static_cast<size_t>(nonceLength_));
        p += n;
        if (!SealMessage(in, m, p, &n)) return 0;
        sodium_increment(sendNonce_, static_cast<size_t>(nonceLength_));
        p += n;
        in += m;
        len -= m;
    }
    saltSent_ = 1;
    *outLen = total;
    return 1;
}

int AEADCryptor::SealUdp(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen) {
    const size_t salt = static_cast<size_t>(saltLength_);
    const size_t total = salt + len + static_cast<size_t>(tagLength_);
    if (!PrivateHeapReserve(block, total)) return 0;
    std::memcpy(*block, sendSalt_, salt);
    size_t n = 0;
    if (!SealMessage(in, len, *block + salt, &n)) return 0;
    *outLen = total;
    return 1;
}

int AEADCryptor::OpenUdp(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen) {
    const size_t salt = static_cast<size_t>(saltLength_);
    const size_t tag = static_cast<size_t>(tagLength_);
    if (len <= salt + tag) return 0;
    std::memcpy(receiveSalt_, in, salt);
    DeriveSubkey(0);
    const size_t plainLength = len - salt - tag;
    if (!PrivateHeapReserve(block, plainLength)) return 0;
    size_t n = 0;
    if (!OpenMessage(in + salt, len - salt, *block, &n)) return 0;
    *outLen = plainLength;
    return 1;
}

bool AEADCryptor::FillBuffer(const unsigned char*& in, size_t& len, size_t want) {
    if (bufferedLength_ < want) {
        const size_t take = std::min(want - bufferedLength_, len);
        if (take) std::memcpy(receiveBuffer_ + bufferedLength_, in, take);
        bufferedLength_ += take;
        in += take;
        len -= take;
    }
    return bufferedLength_ >= want;
}

bool AEADCryptor::OpenLength(const unsigned char* p, size_t* payloadLen) {
    unsigned char lengthBytes[2];
    size_t n = 0;
    if (!OpenMessage(p, 2 + static_cast<size_t>(tagLength_), lengthBytes, &n)) return false;
    *payloadLen = (static_cast<size_t>(lengthBytes[0]) << 8) | lengthBytes[1];
    return *payloadLen <= kMaxPayload;
}

bool AEADCryptor::OpenPayload(const unsigned char* p, size_t payloadLen, unsigned char* out) {
    sodium_increment(receiveNonce_, static_cast<size_t>(nonceLength_));
    size_t n = 0;
    if (!OpenMessage(p, payloadLen + static_cast<size_t>(tagLength_), out, &n)) return false;
    sodium_increment(receiveNonce_, static_cast<size_t>(nonceLength_));
    return true;
}

int AEADCryptor::OpenTcp(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                         bool* needMore) {
    *needMore = false;
    const size_t tag = static_cast<size_t>(tagLength_);
    const size_t head = 2 + tag;
    if (!receiveBuffer_) {
        // Holds at most one partial chunk: the complete ones are opened in place.
        receiveBuffer_ = static_cast<unsigned char*>(PrivateHeapAlloc(head + kMaxPayload + tag));
        if (!receiveBuffer_) return 0;
    }

    if (!saltReceived_) {
        const size_t salt = static_cast<size_t>(saltLength_);
        if (bufferedLength_ + len <= salt) {
            if (len) std::memcpy(receiveBuffer_ + bufferedLength_, in, len);
            bufferedLength_ += len;
            *needMore = true;
            return 1;
        }
        const size_t take = salt - bufferedLength_;
        if (bufferedLength_) std::memcpy(receiveSalt_, receiveBuffer_, bufferedLength_);
        std::memcpy(receiveSalt_ + bufferedLength_, in, take);
        in += take;
        len -= take;
        bufferedLength_ = 0;
        saltReceived_ = 1;
        DeriveSubkey(0);
    }

    size_t plainLength = 0;
    bool reserved = false;
    // Plaintext never outgrows the bytes it comes from, so one reservation
    // covers the whole input.
    auto reservePlain = [&](size_t remaining) {
        if (!reserved) reserved = PrivateHeapReserve(block, remaining);
        return reserved;
    };

    // Complete the chunk that an earlier input began.
    if (bufferedLength_ > 0) {
        if (!FillBuffer(in, len, head)) {
            *needMore = true;
            return 1;
        }
        size_t payload = 0;
        if (!OpenLength(receiveBuffer_, &payload)) return 0;
        if (!FillBuffer(in, len, head + payload + tag)) {
            *needMore = true;
            return 1;
        }
        if (!reservePlain(payload + len)) return 0;
        if (!OpenPayload(receiveBuffer_ + head, payload, *block)) return 0;
        plainLength = payload;
        bufferedLength_ = 0;
    }

    // Whole chunks straight from the input.
    while (len > head) {
        size_t payload = 0;
        if (!OpenLength(in, &payload)) return 0;
        const size_t chunk = head + payload + tag;
        if (len < chunk) break;
        if (!reservePlain(len)) return 0;
        if (!OpenPayload(in + head, payload, *block + plainLength)) return 0;
        plainLength += payload;
        in += chunk;
        len -= chunk;
    }

    if (len > 0) {
        std::memcpy(receiveBuffer_, in, len);
        bufferedLength_ = len;
        *needMore = true;
    }
    *outLen = plainLength;
    return 1;
}
