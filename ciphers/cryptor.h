#pragma once
// The cryptor of one Shadowsocks connection or UDP session: the common base of
// every cipher class, the password-to-key derivation with its process-wide
// cache, and the cipher library's start-up.

#include <atomic>
#include <cstddef>
#include <string>

// Set when the cipher library could not start; the libsodium stream ciphers
// are then refused.
extern std::atomic<bool> SodiumInitFailed;

// Starts libsodium (CPU feature detection, random source). The local proxy
// service's start-up calls it once before any connection; later calls change
// nothing.
void InitCipherLibrary();

// The Shadowsocks key block of a password: MD5(password) followed by
// MD5(MD5(password) + password). Cached under "method:password".
void PasswordToKey(const std::string& method, const std::string& password, unsigned char out[32]);
// The same bytes, never cached: for callers whose passwords are made per
// connection and would only fill the cache.
void PasswordToKeyUncached(const std::string& password, unsigned char out[32]);
// Number of cached key blocks; the cache never holds more than
// kKeyCacheCapacity of them.
constexpr size_t kKeyCacheCapacity = 1024;
size_t KeyCacheSize();

class CCryptor {
public:
    virtual ~CCryptor() = default;
    CCryptor(const CCryptor&) = delete;
    CCryptor& operator=(const CCryptor&) = delete;

    // Turns `len` bytes into wire form. On success (1) `*out` is a new buffer
    // from PrivateHeapAlloc of `*outLen` bytes that the caller frees with
    // PrivateHeapFree; an empty result is null and 0. 0 on failure.
    int Encrypt(const unsigned char* in, size_t len, unsigned char** out, size_t* outLen, bool udp);
    // Turns wire bytes back into plaintext; output as for Encrypt. `*needMore`
    // is set when the cryptor holds input that needs more bytes to complete.
    int Decrypt(const unsigned char* in, size_t len, unsigned char** out, size_t* outLen, bool* needMore,
                bool udp);
    // Encrypt and Decrypt into a block the caller keeps from call to call, so
    // that a relayed chunk costs no allocation: `*block` is null or a
    // PrivateHeapAlloc block, the output (`*outLen` bytes) is written at its
    // start, and it is grown by PrivateHeapRealloc only when the output does
    // not fit; it is never shrunk or cleared. The block stays the caller's
    // whatever the result, to free with PrivateHeapFree.
    virtual int EncryptInto(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                            bool udp);
    virtual int DecryptInto(const unsigned char* in, size_t len, unsigned char** block, size_t* outLen,
                            bool* needMore, bool udp);
    // Back to the state after construction, with a fresh encrypt IV; the key
    // stays. Used before every UDP datagram.
    virtual void Reset();
    virtual void GenerateRandomBytes(unsigned char* buf, size_t len);
    // MD5 of the password.
    virtual void PasswordDigest(unsigned char out[16]);

    const std::string& GetMethod() const { return method_; }
    // The key block of the password; a cipher uses its first GetKeyLength() bytes.
    const unsigned char* GetKey() const { return key_; }
    int GetKeyLength() const { return keyLength_; }
    // The IV this side sends (for the AEAD ciphers a nonce-sized random value
    // that only the ShadowsocksR plug-ins use).
    const unsigned char* GetIv() const { return encryptIv_; }
    int GetIvLength() const { return ivLength_; }
    bool IsIvSent() const { return ivSent_; }
    bool IsIvReceived() const { return ivReceived_; }
    int GetInstanceNumber() const { return instance_; }

protected:
    CCryptor(std::string method, std::string password, int keyLength, int ivLength);

    std::string method_;
    std::string password_;
    unsigned char key_[32];
    bool ivSent_;
    unsigned char encryptIv_[32];
    bool ivReceived_;
    unsigned char decryptIv_[32];
    int keyLength_;
    int ivLength_;
    int instance_;
};
