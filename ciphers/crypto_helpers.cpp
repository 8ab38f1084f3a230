#include "ciphers/crypto_helpers.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/aes.h>
#include <cryptopp/hkdf.h>
#include <cryptopp/hmac.h>
#include <cryptopp/md5.h>
#include <cryptopp/sha.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "ciphers/crypto_env.h"
#include "ciphers/xorshift_state.h"

namespace {

std::mutex g_xorshiftLock;
XorShift128PlusState g_xorshift{0x10000000, 0xFFFFFFFF};

template <class Mac>
void ComputeMac(const unsigned char* key, size_t keyLen, const unsigned char* data, size_t len,
                unsigned char* out) {
    Mac mac(key, keyLen);
    mac.Update(data, len);
    mac.Final(out);
}

}  // namespace

void RandomBytes(unsigned char* buf, size_t len) {
    FillRandom(buf, len);
}

int GetHeadSize(const unsigned char* data, size_t len) {
    if (!data || len < 2) return 30;
    switch (data[0] & 0x07) {
        case 1:
            return 7;
        case 4:
            return 19;
        case 2:
        case 3:
            return data[1] + 4;
        default:
            return 30;
    }
}

uint64_t XorShift128Plus() {
    std::lock_guard<std::mutex> guard(g_xorshiftLock);
    return g_xorshift.Next();
}

void Md5Digest(const unsigned char* data, size_t len, unsigned char out[16]) {
    CryptoPP::Weak::MD5().CalculateDigest(out, data, len);
}

void Sha1Digest(const unsigned char* data, size_t len, unsigned char out[20]) {
    CryptoPP::SHA1().CalculateDigest(out, data, len);
}

void HmacMd5(const unsigned char* key, size_t keyLen, const unsigned char* data, size_t len,
             unsigned char out[16]) {
    ComputeMac<CryptoPP::HMAC<CryptoPP::Weak::MD5>>(key, keyLen, data, len, out);
}

void HmacSha1(const unsigned char* key, size_t keyLen, const unsigned char* data, size_t len,
              unsigned char out[20]) {
    ComputeMac<CryptoPP::HMAC<CryptoPP::SHA1>>(key, keyLen, data, len, out);
}

int HmacSha1SplitKey(const unsigned char* key1, size_t key1Len, const unsigned char* key2, size_t key2Len,
                     const unsigned char* data, size_t len, unsigned char out[20]) {
    // A salt and a key are at most 64 bytes together; longer keys still work.
    unsigned char small[128];
    std::vector<unsigned char> large;
    unsigned char* key = small;
    if (key1Len + key2Len > sizeof(small)) {
        large.resize(key1Len + key2Len);
        key = large.data();
    }
    if (key1Len) std::memcpy(key, key1, key1Len);
    if (key2Len) std::memcpy(key + key1Len, key2, key2Len);
    HmacSha1(key, key1Len + key2Len, data, len, out);
    return 0;
}

void HkdfSha1(const unsigned char* secret, size_t secretLen, const unsigned char* salt, size_t saltLen,
              const unsigned char* info, size_t infoLen, unsigned char* out, size_t outLen) {
    CryptoPP::HKDF<CryptoPP::SHA1>().DeriveKey(out, outLen, secret, secretLen, salt, saltLen, info, infoLen);
}

void Aes128CbcEncryptBlock(unsigned char out[16], const unsigned char key[16], const unsigned char in[16]) {
    // CBC over one block with a zero IV is the plain block encryption.
    CryptoPP::AES::Encryption aes(key, 16);
    aes.ProcessBlock(in, out);
}

int Md5Func(unsigned char* out, const unsigned char* data, size_t len) {
    Md5Digest(data, len, out);
    return 0;
}

int Sha1Func(unsigned char* out, const unsigned char* data, size_t len) {
    Sha1Digest(data, len, out);
    return 0;
}

int HmacMd5Func(unsigned char* out, const unsigned char* data, size_t len, const unsigned char* key,
                size_t keyLen) {
    HmacMd5(key, keyLen, data, len, out);
    return 0;
}

int HmacSha1Func(unsigned char* out, const unsigned char* data, size_t len, const unsigned char* key,
                 size_t keyLen) {
    HmacSha1(key, keyLen, data, len, out);
    return 0;
}
