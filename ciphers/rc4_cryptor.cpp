#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/arc4.h>
#include <cryptopp/md5.h>

#include <cstring>

#include "ciphers/stream_cryptors.h"

CRC4Cryptor::CRC4Cryptor(std::string method, std::string password, int ivLength, bool md5SessionKey)
    : CStreamCryptor(std::move(method), std::move(password), 16, ivLength),
      md5SessionKey_(md5SessionKey),
      send_(std::make_unique<CryptoPP::Weak::ARC4::Encryption>()),
      receive_(std::make_unique<CryptoPP::Weak::ARC4::Encryption>()) {}

CRC4Cryptor::~CRC4Cryptor() = default;

void CRC4Cryptor::MakeSessionKey(const unsigned char* iv, unsigned char sessionKey[16]) const {
    if (!md5SessionKey_ || ivLength_ == 0) {
        std::memcpy(sessionKey, key_, 16);
        return;
    }
    CryptoPP::Weak::MD5 md5;
    md5.Update(key_, 16);
    md5.Update(iv, static_cast<size_t>(ivLength_));
    md5.Final(sessionKey);
}

void CRC4Cryptor::BeginSend(const unsigned char* iv) {
    MakeSessionKey(iv, sendKey_);
    send_->SetKey(sendKey_, 16);
}

void CRC4Cryptor::BeginReceive(const unsigned char* iv) {
    MakeSessionKey(iv, decryptKey_);
    receive_->SetKey(decryptKey_, 16);
}

void CRC4Cryptor::CryptSend(const unsigned char* in, unsigned char* out, size_t len) {
    send_->ProcessData(out, in, len);
}

void CRC4Cryptor::CryptReceive(const unsigned char* in, unsigned char* out, size_t len) {
    receive_->ProcessData(out, in, len);
}
