#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/arc4.h>
#include <cryptopp/md5.h>

#include <cstring>

#include "ciphers/stream_cryptors.h"

CRC4Cryptor::CRC4Cryptor(std::string method, std::string password, int ivLength,
                         bool md5SessionKey)
    : CStreamCryptor(std::move(method), std::move(password), 16, ivLength),
      m_md5SessionKey(md5SessionKey),
      m_send(std::make_unique<CryptoPP::Weak::ARC4::Encryption>()),
      m_receive(std::make_unique<CryptoPP::Weak::ARC4::Encryption>()) {}

CRC4Cryptor::~CRC4Cryptor() = default;

void CRC4Cryptor::MakeSessionKey(const unsigned char* iv, unsigned char sessionKey[16]) const {
    if (!m_md5SessionKey || m_ivLength == 0) {
        std::memcpy(sessionKey, m_key, 16);
        return;
    }
    CryptoPP::Weak::MD5 md5;
    md5.Update(m_key, 16);
    md5.Update(iv, static_cast<size_t>(m_ivLength));
    md5.Final(sessionKey);
}

void CRC4Cryptor::BeginSend(const unsigned char* iv) {
    MakeSessionKey(iv, m_sendKey);
    m_send->SetKey(m_sendKey, 16);
}

void CRC4Cryptor::BeginReceive(const unsigned char* iv) {
    MakeSessionKey(iv, m_decryptKey);
    m_receive->SetKey(m_decryptKey, 16);
}

void CRC4Cryptor::CryptSend(const unsigned char* in, unsigned char* out, size_t len) {
    m_send->ProcessData(out, in, len);
}

void CRC4Cryptor::CryptReceive(const unsigned char* in, unsigned char* out, size_t len) {
    m_receive->ProcessData(out, in, len);
}
