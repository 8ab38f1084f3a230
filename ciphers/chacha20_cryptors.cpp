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
    m_sendCounter = 0;
    m_receiveCounter = 0;
}

void CChaCha20Cryptor::BeginSend(const unsigned char*) {
    m_sendCounter = 0;
}

void CChaCha20Cryptor::BeginReceive(const unsigned char*) {
    m_receiveCounter = 0;
}

void CChaCha20Cryptor::CryptSend(const unsigned char* in, unsigned char* out, size_t len) {
    Crypt(m_encryptIv, m_sendCounter, in, out, len);
}

void CChaCha20Cryptor::CryptReceive(const unsigned char* in, unsigned char* out, size_t len) {
    Crypt(m_decryptIv, m_receiveCounter, in, out, len);
}

void CChaCha20Cryptor::XorAt(const unsigned char* iv, uint64_t block, const unsigned char* in,
                             unsigned char* out, size_t len) const {
    if (m_ivLength == 12) {
        // The IETF block counter is 32 bits wide; the peer truncates it the same way.
        crypto_stream_chacha20_ietf_xor_ic(out, in, len, iv, static_cast<uint32_t>(block), m_key);
    } else {
        crypto_stream_chacha20_xor_ic(out, in, len, iv, block, m_key);
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
