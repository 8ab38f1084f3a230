#pragma once
// Randomness, digests, message authentication and one-block AES for the
// cryptors and the ShadowsocksR plug-ins. Everything but XorShift128Plus is
// reentrant.

#include <cstddef>
#include <cstdint>

// Fills `len` bytes with random bytes from the current random source.
void RandomBytes(unsigned char* buf, size_t len);

// Size of the Shadowsocks address header at the start of `data`: 7 for IPv4,
// 19 for IPv6, length byte + 4 for a domain name; 30 when it cannot be told.
int GetHeadSize(const unsigned char* data, size_t len);

// Next value of the process-wide xorshift128+ generator, which starts from a
// fixed state in every run.
uint64_t XorShift128Plus();

void Md5Digest(const unsigned char* data, size_t len, unsigned char out[16]);
void Sha1Digest(const unsigned char* data, size_t len, unsigned char out[20]);
void HmacMd5(const unsigned char* key, size_t keyLen, const unsigned char* data, size_t len,
             unsigned char out[16]);
void HmacSha1(const unsigned char* key, size_t keyLen, const unsigned char* data, size_t len,
              unsigned char out[20]);
// HMAC-SHA1 keyed with part 1 followed by part 2.
int HmacSha1SplitKey(const unsigned char* key1, size_t key1Len, const unsigned char* key2, size_t key2Len,
                     const unsigned char* data, size_t len, unsigned char out[20]);
// HKDF (RFC 5869) over SHA-1: `outLen` bytes from the secret, salt and info.
void HkdfSha1(const unsigned char* secret, size_t secretLen, const unsigned char* salt, size_t saltLen,
              const unsigned char* info, size_t infoLen, unsigned char* out, size_t outLen);
// AES-128 encryption of exactly one 16-byte block.
void Aes128CbcEncryptBlock(unsigned char out[16], const unsigned char key[16], const unsigned char in[16]);

// The interchangeable forms the auth_aes128 protocols pick by name; all
// return 0.
using HashFunc = int (*)(unsigned char* out, const unsigned char* data, size_t len);
using HmacFunc = int (*)(unsigned char* out, const unsigned char* data, size_t len, const unsigned char* key,
                         size_t keyLen);
int Md5Func(unsigned char* out, const unsigned char* data, size_t len);
int Sha1Func(unsigned char* out, const unsigned char* data, size_t len);
int HmacMd5Func(unsigned char* out, const unsigned char* data, size_t len, const unsigned char* key,
                size_t keyLen);
int HmacSha1Func(unsigned char* out, const unsigned char* data, size_t len, const unsigned char* key,
                 size_t keyLen);
