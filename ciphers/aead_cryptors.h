#pragma once
// The Shadowsocks AEAD ciphers. Each side sends a random salt first; the
// session subkey is HKDF-SHA1(master key, salt, "ss-subkey"). A TCP stream is
// a series of chunks [sealed 2-byte length][sealed payload] under a
// little-endian nonce counter that steps after every sealed message; a UDP
// datagram is [salt][sealed payload] under nonce zero.

#include <cstdint>
#include <memory>

#include "ciphers/cryptor.h"

namespace CryptoPP {
class AuthenticatedSymmetricCipher;
}

class AEADCryptor : public CCryptor {
public:
    static constexpr size_t kMaxPayload = 0x3FFF;

    ~AEADCryptor() override;
    int EncryptInto(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                    bool udp) override;
    int DecryptInto(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                    bool* needMore, bool udp) override;
    void Reset() override;

    int GetSaltLength() const { return saltLength_; }
    int GetNonceLength() const { return nonceLength_; }
    const unsigned char* GetSendSalt() const { return sendSalt_; }
    const unsigned char* GetSendNonce() const { return sendNonce_; }
    const unsigned char* GetReceiveNonce() const { return receiveNonce_; }

protected:
    AEADCryptor(std::string method, std::string password, int keyLength, int saltLength, int tagLength,
                int nonceLength);

    // Output into the caller's kept block, as EncryptInto and DecryptInto.
    virtual int SealTcp(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen);
    virtual int SealUdp(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen);
    virtual int OpenTcp(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                        bool* needMore);
    virtual int OpenUdp(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen);
    // One AEAD message with the send (receive) subkey and nonce as they stand;
    // `out` holds len + tag (len - tag) bytes. 1 on success, 0 on failure.
    virtual int SealMessage(const unsigned char* plain, size_t len, unsigned char* out, size_t* outLen) = 0;
    virtual int OpenMessage(const unsigned char* sealed, size_t len, unsigned char* out, size_t* outLen) = 0;
    // 1: send side, 0: receive side.
    void DeriveSubkey(int direction);

    unsigned char sendSalt_[64] = {};
    unsigned char receiveSalt_[64] = {};
    int saltLength_;
    int tagLength_;
    int nonceLength_;
    unsigned char masterKey_[64] = {};
    int masterKeyLength_;
    unsigned char sendSubkey_[64] = {};
    unsigned char receiveSubkey_[64] = {};
    // Bumped whenever a subkey is derived, so that ciphers with keyed state
    // know when to key it again.
    uint32_t sendSubkeyVersion_ = 0;
    uint32_t receiveSubkeyVersion_ = 0;
    int saltSent_ = 0;
    int saltReceived_ = 0;
    unsigned char sendNonce_[32] = {};
    unsigned char receiveNonce_[32] = {};
    // TCP input not yet turned into plaintext: part of the salt or of one chunk.
    unsigned char* receiveBuffer_ = nullptr;
    size_t bufferedLength_ = 0;
    // Set when TCP input failed: the failed input and its chunks are gone, so
    // the stream cannot go on until Reset.
    bool receiveFailed_ = false;

private:
    void NewSendSalt();
    // Moves input into the receive buffer until it holds `want` bytes; true
    // when it does.
    bool FillBuffer(const unsigned char*& in, size_t& len, size_t want);
    // Opens the 18-byte sealed length at `p` into `*payloadLen`.
    bool OpenLength(const unsigned char* p, size_t* payloadLen);
    // Opens a sealed payload and steps the nonce past the chunk.
    bool OpenPayload(const unsigned char* p, size_t payloadLen, unsigned char* out);
};

class CAEADAesGcmCryptor : public AEADCryptor {
public:
    CAEADAesGcmCryptor(std::string method, std::string password, int keyLength);
    ~CAEADAesGcmCryptor() override;

protected:
    int SealMessage(const unsigned char* plain, size_t len, unsigned char* out, size_t* outLen) override;
    int OpenMessage(const unsigned char* sealed, size_t len, unsigned char* out, size_t* outLen) override;

private:
    std::unique_ptr<CryptoPP::AuthenticatedSymmetricCipher> encryption_;
    std::unique_ptr<CryptoPP::AuthenticatedSymmetricCipher> decryption_;
    uint32_t encryptionKeyVersion_ = 0;
    uint32_t decryptionKeyVersion_ = 0;
};

// The libsodium AEADs in combined mode, told apart by their two functions.
class CSodiumAEADCryptor : public AEADCryptor {
public:
    using SealFn = int (*)(unsigned char* c, unsigned long long* clen, const unsigned char* m,
                           unsigned long long mlen, const unsigned char* ad, unsigned long long adlen,
                           const unsigned char* nsec, const unsigned char* npub, const unsigned char* k);
    using OpenFn = int (*)(unsigned char* m, unsigned long long* mlen, unsigned char* nsec,
                           const unsigned char* c, unsigned long long clen, const unsigned char* ad,
                           unsigned long long adlen, const unsigned char* npub, const unsigned char* k);

protected:
    CSodiumAEADCryptor(std::string method, std::string password, int nonceLength, SealFn seal, OpenFn open);
    int SealMessage(const unsigned char* plain, size_t len, unsigned char* out, size_t* outLen) override;
    int OpenMessage(const unsigned char* sealed, size_t len, unsigned char* out, size_t* outLen) override;

private:
    SealFn seal_;
    OpenFn open_;
};

class CAEADChaCha20IetfPoly1305 : public CSodiumAEADCryptor {
public:
    CAEADChaCha20IetfPoly1305(std::string method, std::string password);
};

class CAEADXChaCha20IetfPoly1305 : public CSodiumAEADCryptor {
public:
    CAEADXChaCha20IetfPoly1305(std::string method, std::string password);
};
