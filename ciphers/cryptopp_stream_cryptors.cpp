#include <cryptopp/aes.h>
#include <cryptopp/camellia.h>
#include <cryptopp/modes.h>
#include <cryptopp/salsa.h>

#include "ciphers/stream_cryptors.h"

CCryptoppStreamCryptor::CCryptoppStreamCryptor(std::string method, std::string password, int keyLength,
                                               int ivLength, std::unique_ptr<CryptoPP::SymmetricCipher> send,
                                               std::unique_ptr<CryptoPP::SymmetricCipher> receive)
    : CStreamCryptor(std::move(method), std::move(password), keyLength, ivLength),
      send_(std::move(send)),
      receive_(std::move(receive)) {}

CCryptoppStreamCryptor::~CCryptoppStreamCryptor() = default;

void CCryptoppStreamCryptor::Begin(CryptoPP::SymmetricCipher& cipher, bool& keyed, const unsigned char* iv) {
    // The key never changes, so only the first IV pays for the key schedule.
    if (keyed) {
        cipher.Resynchronize(iv, ivLength_);
    } else {
        cipher.SetKeyWithIV(key_, static_cast<size_t>(keyLength_), iv, static_cast<size_t>(ivLength_));
        keyed = true;
    }
}

void CCryptoppStreamCryptor::BeginSend(const unsigned char* iv) {
    Begin(*send_, sendKeyed_, iv);
}

void CCryptoppStreamCryptor::BeginReceive(const unsigned char* iv) {
    Begin(*receive_, receiveKeyed_, iv);
}

void CCryptoppStreamCryptor::CryptSend(const unsigned char* in, unsigned char* out, size_t len) {
    send_->ProcessData(out, in, len);
}

void CCryptoppStreamCryptor::CryptReceive(const unsigned char* in, unsigned char* out, size_t len) {
    receive_->ProcessData(out, in, len);
}

CAESCfbCryptor::CAESCfbCryptor(std::string method, std::string password, int keyBits)
    : CCryptoppStreamCryptor(std::move(method), std::move(password), keyBits / 8, 16,
                             std::make_unique<CryptoPP::CFB_Mode<CryptoPP::AES>::Encryption>(),
                             std::make_unique<CryptoPP::CFB_Mode<CryptoPP::AES>::Decryption>()) {}

CAESCtrCryptor::CAESCtrCryptor(std::string method, std::string password, int keyBits)
    : CCryptoppStreamCryptor(std::move(method), std::move(password), keyBits / 8, 16,
                             std::make_unique<CryptoPP::CTR_Mode<CryptoPP::AES>::Encryption>(),
                             std::make_unique<CryptoPP::CTR_Mode<CryptoPP::AES>::Encryption>()) {}

CCamelliaCfbCryptor::CCamelliaCfbCryptor(std::string method, std::string password, int keyBits)
    : CCryptoppStreamCryptor(std::move(method), std::move(password), keyBits / 8, 16,
                             std::make_unique<CryptoPP::CFB_Mode<CryptoPP::Camellia>::Encryption>(),
                             std::make_unique<CryptoPP::CFB_Mode<CryptoPP::Camellia>::Decryption>()) {}

CSalsa20Criptor::CSalsa20Criptor(std::string method, std::string password)
    : CCryptoppStreamCryptor(std::move(method), std::move(password), 32, 8,
                             std::make_unique<CryptoPP::Salsa20::Encryption>(),
                             std::make_unique<CryptoPP::Salsa20::Encryption>()) {}
