#include <cryptopp/aes.h>
#include <cryptopp/gcm.h>
#include <sodium.h>

#include "ciphers/aead_cryptors.h"

CAEADAesGcmCryptor::CAEADAesGcmCryptor(std::string method, std::string password, int keyLength)
    : AEADCryptor(std::move(method), std::move(password), keyLength, keyLength, 16, 12),
      encryption_(std::make_unique<CryptoPP::GCM<CryptoPP::AES>::Encryption>()),
      decryption_(std::make_unique<CryptoPP::GCM<CryptoPP::AES>::Decryption>()) {}

CAEADAesGcmCryptor::~CAEADAesGcmCryptor() = default;

int CAEADAesGcmCryptor::SealMessage(const unsigned char* plain, size_t len, unsigned char* out,
                                    size_t* outLen) {
    try {
        // Key schedule and hash tables once per subkey; each message only
        // sets its nonce.
        if (encryptionKeyVersion_ != sendSubkeyVersion_) {
            encryption_->SetKeyWithIV(sendSubkey_, static_cast<size_t>(keyLength_), sendNonce_, 12);
            encryptionKeyVersion_ = sendSubkeyVersion_;
        }
        encryption_->EncryptAndAuthenticate(out, out + len, 16, sendNonce_, 12, nullptr, 0, plain, len);
    } catch (...) {
        return 0;
    }
    *outLen = len + 16;
    return 1;
}

int CAEADAesGcmCryptor::OpenMessage(const unsigned char* sealed, size_t len, unsigned char* out,
                                    size_t* outLen) {
    if (len < 16) return 0;
    try {
        if (decryptionKeyVersion_ != receiveSubkeyVersion_) {
            decryption_->SetKeyWithIV(receiveSubkey_, static_cast<size_t>(keyLength_), receiveNonce_, 12);
            decryptionKeyVersion_ = receiveSubkeyVersion_;
        }
        if (!decryption_->DecryptAndVerify(out, sealed + len - 16, 16, receiveNonce_, 12, nullptr, 0, sealed,
                                           len - 16))
            return 0;
    } catch (...) {
        return 0;
    }
    *outLen = len - 16;
    return 1;
}

CSodiumAEADCryptor::CSodiumAEADCryptor(std::string method, std::string password, int nonceLength, SealFn seal,
                                       OpenFn open)
    : AEADCryptor(std::move(method), std::move(password), 32, 32, 16, nonceLength),
      seal_(seal),
      open_(open) {}

int CSodiumAEADCryptor::SealMessage(const unsigned char* plain, size_t len, unsigned char* out,
                                    size_t* outLen) {
    unsigned long long n = 0;
    if (seal_(out, &n, plain, len, nullptr, 0, nullptr, sendNonce_, sendSubkey_) != 0) return 0;
    *outLen = static_cast<size_t>(n);
    return 1;
}

int CSodiumAEADCryptor::OpenMessage(const unsigned char* sealed, size_t len, unsigned char* out,
                                    size_t* outLen) {
    unsigned long long n = 0;
    if (len < 16 || open_(out, &n, nullptr, sealed, len, nullptr, 0, receiveNonce_, receiveSubkey_) != 0)
        return 0;
    *outLen = static_cast<size_t>(n);
    return 1;
}

CAEADChaCha20IetfPoly1305::CAEADChaCha20IetfPoly1305(std::string method, std::string password)
    : CSodiumAEADCryptor(std::move(method), std::move(password), 12,
                         crypto_aead_chacha20poly1305_ietf_encrypt,
                         crypto_aead_chacha20poly1305_ietf_decrypt) {}

CAEADXChaCha20IetfPoly1305::CAEADXChaCha20IetfPoly1305(std::string method, std::string password)
    : CSodiumAEADCryptor(std::move(method), std::move(password), 24,
                         crypto_aead_xchacha20poly1305_ietf_encrypt,
                         crypto_aead_xchacha20poly1305_ietf_decrypt) {}
