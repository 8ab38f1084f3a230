#include <sodium.h>

#include <algorithm>

#include "ciphers/stream_cryptors.h"

namespace {
constexpr uint64_t kBlock = 64;
}

CChaCha20Cryptor::CChaCha20Cryptor(std::string method, std::string password)
    : CChaCha20Cryptor(std::move(method), std::move(password), 8) {}

CChaCha20Cryptor::CChaCha20Cryptor(std::string method, std::string password, int ivLength)
    : CStreamCryptor(std::move(method), std::move(password), 32, ivLength) {}

CChaCha20IetfCryptor::CChaCha20IetfCryptor(std::string method, std::string password)
    : CChaCha20Cryptor(std::move(method), std::move(password), 12) {}

void CChaCha20Cryptor::Reset() {
    CStreamCryptor::Reset();
    sendCounter_ = 0;
    receiveCounter_ = 0;
}

void CChaCha20Cryptor::BeginSend(const unsigned char*) {
    sendCounter_ = 0;
}

void CChaCha20Cryptor::BeginReceive(const unsigned char*) {
    receiveCounter_ = 0;
}

void CChaCha20Cryptor::CryptSend(const unsigned char* in, unsigned char* out, size_t len) {
    Crypt(encryptIv_, sendCounter_, in, out, len);
}

void CChaCha20Cryptor::CryptReceive(const unsigned char* in, unsigned char* out, size_t len) {
    Crypt(decryptIv_, receiveCounter_, in, out, len);
}

void CChaCha20Cryptor::XorAt(const unsigned char* iv, uint64_t block, const unsigned char* in,
                             unsigned char* out, size_t len) const {
    if (ivLength_ == 12) {
        // The IETF block counter is 32 bits wide; the peer truncates it the same way.
        crypto_stream_chacha20_ietf_xor_ic(out, in, len, iv, static_cast<uint32_t>(block), key_);
    } else {
        crypto_stream_chacha20_xor_ic(out, in, len, iv, block, key_);
    }
}

void CChaCha20Cryptor::Crypt(const unsigned char* iv, uint64_t& counter, const unsigned char* in,
                             unsigned char* out, size_t len) const {
    // Finish a block begun by the previous call with one keystream block, then
    // hand libsodium the rest from a block boundary.
    const size_t offset = static_cast<size_t>(counter % kBlock);
    if (offset != 0) {
        unsigned char keystream[kBlock] = {};
        XorAt(iv, counter / kBlock, keystream, keystream, kBlock);
        const size_t n = std::min(len, static_cast<size_t>(kBlock) - offset);
        for (size_t i = 0; i < n; ++i) out[i] = in[i] ^ keystream[offset + i];
        sodium_memzero(keystream, sizeof(keystream));
        in += n;
        out += n;
        len -= n;
        counter += n;
    }
    if (len > 0) {
        XorAt(iv, counter / kBlock, in, out, len);
        counter += len;
    }
}
