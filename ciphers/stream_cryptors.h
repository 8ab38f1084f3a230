#pragma once
// The Shadowsocks stream ciphers: each direction starts with the sender's
// random IV and continues as one cipher stream; a UDP datagram is an IV and
// its payload, the caller resetting the cryptor before each one.

#include <cstdint>
#include <memory>

#include "ciphers/cryptor.h"

namespace CryptoPP {
class SymmetricCipher;
}

class CNoneCryptor : public CCryptor {
public:
    CNoneCryptor(std::string method, std::string password);
    int EncryptInto(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                    bool udp) override;
    int DecryptInto(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                    bool* needMore, bool udp) override;
};

// The IV-first framing that every stream cipher shares. The peer's IV may
// arrive split over several inputs; its bytes are kept until it is whole.
class CStreamCryptor : public CCryptor {
public:
    int EncryptInto(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                    bool udp) override;
    int DecryptInto(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                    bool* needMore, bool udp) override;
    void Reset() override;

protected:
    using CCryptor::CCryptor;
    // Start the keystream of a direction at `iv` (IV-length bytes).
    virtual void BeginSend(const unsigned char* iv) = 0;
    virtual void BeginReceive(const unsigned char* iv) = 0;
    virtual void CryptSend(const unsigned char* in, unsigned char* out, size_t len) = 0;
    virtual void CryptReceive(const unsigned char* in, unsigned char* out, size_t len) = 0;

private:
    size_t ivReceivedBytes_ = 0;
};

// A stream cipher from Crypto++ keyed once per direction; later IVs only
// resynchronise it.
class CCryptoppStreamCryptor : public CStreamCryptor {
public:
    ~CCryptoppStreamCryptor() override;

protected:
    CCryptoppStreamCryptor(std::string method, std::string password, int keyLength, int ivLength,
                           std::unique_ptr<CryptoPP::SymmetricCipher> send,
                           std::unique_ptr<CryptoPP::SymmetricCipher> receive);
    void BeginSend(const unsigned char* iv) override;
    void BeginReceive(const unsigned char* iv) override;
    void CryptSend(const unsigned char* in, unsigned char* out, size_t len) override;
    void CryptReceive(const unsigned char* in, unsigned char* out, size_t len) override;

private:
    void Begin(CryptoPP::SymmetricCipher& cipher, bool& keyed, const unsigned char* iv);
    std::unique_ptr<CryptoPP::SymmetricCipher> send_;
    std::unique_ptr<CryptoPP::SymmetricCipher> receive_;
    bool sendKeyed_ = false;
    bool receiveKeyed_ = false;
};

// AES in CFB128 mode.
class CAESCfbCryptor : public CCryptoppStreamCryptor {
public:
    CAESCfbCryptor(std::string method, std::string password, int keyBits);
};

// AES in CTR mode, the IV being the first big-endian counter block.
class CAESCtrCryptor : public CCryptoppStreamCryptor {
public:
    CAESCtrCryptor(std::string method, std::string password, int keyBits);
};

// Camellia in CFB128 mode.
class CCamelliaCfbCryptor : public CCryptoppStreamCryptor {
public:
    CCamelliaCfbCryptor(std::string method, std::string password, int keyBits);
};

class CSalsa20Criptor : public CCryptoppStreamCryptor {
public:
    CSalsa20Criptor(std::string method, std::string password);
};

// Plain RC4. With the MD5 session key ("rc4-md5", "rc4-md5-6") each direction
// is keyed with MD5(key, IV); the key block itself never changes, so a Reset
// derives the next session key from the right bytes.
class CRC4Cryptor : public CStreamCryptor {
public:
    CRC4Cryptor(std::string method, std::string password, int ivLength, bool md5SessionKey);
    ~CRC4Cryptor() override;

protected:
    void BeginSend(const unsigned char* iv) override;
    void BeginReceive(const unsigned char* iv) override;
    void CryptSend(const unsigned char* in, unsigned char* out, size_t len) override;
    void CryptReceive(const unsigned char* in, unsigned char* out, size_t len) override;
    // The 16-byte RC4 key of a direction started at `iv`.
    void MakeSessionKey(const unsigned char* iv, unsigned char sessionKey[16]) const;

private:
    bool md5SessionKey_;
    unsigned char sendKey_[16] = {};
    unsigned char decryptKey_[16] = {};
    std::unique_ptr<CryptoPP::SymmetricCipher> send_;
    std::unique_ptr<CryptoPP::SymmetricCipher> receive_;
};

// ChaCha20 with the 8-byte nonce and 64-bit block counter. The position in
// the keystream is a 64-bit byte count per direction, so any split of the
// stream gives the same bytes.
class CChaCha20Cryptor : public CStreamCryptor {
public:
    CChaCha20Cryptor(std::string method, std::string password);
    void Reset() override;
    uint64_t GetSendCounter() const { return sendCounter_; }
    uint64_t GetReceiveCounter() const { return receiveCounter_; }

protected:
    CChaCha20Cryptor(std::string method, std::string password, int ivLength);
    void BeginSend(const unsigned char* iv) override;
    void BeginReceive(const unsigned char* iv) override;
    void CryptSend(const unsigned char* in, unsigned char* out, size_t len) override;
    void CryptReceive(const unsigned char* in, unsigned char* out, size_t len) override;
    // The counters are protected so that a test can stand one near a limit.
    uint64_t sendCounter_ = 0;
    uint64_t receiveCounter_ = 0;

private:
    void Crypt(const unsigned char* iv, uint64_t& counter, const unsigned char* in, unsigned char* out,
               size_t len) const;
    void XorAt(const unsigned char* iv, uint64_t block, const unsigned char* in, unsigned char* out,
               size_t len) const;
};

// ChaCha20 with the 12-byte IETF nonce and 32-bit block counter.
class CChaCha20IetfCryptor : public CChaCha20Cryptor {
public:
    CChaCha20IetfCryptor(std::string method, std::string password);
};
