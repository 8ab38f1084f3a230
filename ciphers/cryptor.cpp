#include "ciphers/cryptor.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>
#include <sodium.h>

#include <cstring>
#include <map>

#include "ciphers/crypto_helpers.h"
#include "foundation/named_lock.h"
#include "foundation/private_heap.h"

std::atomic<bool> SodiumInitFailed{false};

namespace {

std::atomic<int> g_instanceCounter{0};

// Built on first use, so that a cryptor made during another file's static
// initialisation still finds them.
struct KeyCacheState {
    CNamedLock KeyCacheLock{L"Unspecific", 0};
    std::map<std::string, std::string> KeyCache;
};

KeyCacheState& Cache() {
    static KeyCacheState state;
    return state;
}

}  // namespace

void InitCipherLibrary() {
    if (sodium_init() == -1) SodiumInitFailed.store(true);
}

void PasswordToKeyUncached(const std::string& password, unsigned char out[32]) {
    const auto* pw = reinterpret_cast<const unsigned char*>(password.data());
    Md5Digest(pw, password.size(), out);
    CryptoPP::Weak::MD5 md5;
    md5.Update(out, 16);
    md5.Update(pw, password.size());
    md5.Final(out + 16);
}

void PasswordToKey(const std::string& method, const std::string& password, unsigned char out[32]) {
    std::string cacheText = method + ":" + password;
    KeyCacheState& cache = Cache();
    {
        CNamedLockGuard guard(&cache.KeyCacheLock);
        auto it = cache.KeyCache.find(cacheText);
        if (it != cache.KeyCache.end()) {
            std::memcpy(out, it->second.data(), 32);
            return;
        }
    }
    // The MD5 work runs outside the lock; a racing thread computes the same bytes.
    PasswordToKeyUncached(password, out);
    CNamedLockGuard guard(&cache.KeyCacheLock);
    if (cache.KeyCache.size() >= kKeyCacheCapacity && !cache.KeyCache.count(cacheText)) {
        // Deriving again is cheap; an unbounded map is not.
        cache.KeyCache.clear();
    }
    cache.KeyCache.emplace(std::move(cacheText), std::string(reinterpret_cast<char*>(out), 32));
}

size_t KeyCacheSize() {
    KeyCacheState& cache = Cache();
    CNamedLockGuard guard(&cache.KeyCacheLock);
    return cache.KeyCache.size();
}

CCryptor::CCryptor(std::string method, std::string password, int keyLength, int ivLength)
    : method_(std::move(method)),
      password_(std::move(password)),
      key_{},
      ivSent_(false),
      encryptIv_{},
      ivReceived_(false),
      decryptIv_{},
      keyLength_(keyLength),
      ivLength_(ivLength),
      instance_(g_instanceCounter.fetch_add(1) + 1) {
    CCryptor::GenerateRandomBytes(encryptIv_, static_cast<size_t>(ivLength_));
    PasswordToKey(method_, password_, key_);
}

namespace {

// Hands the output of a kept-block call over as a block of its own, exactly
// as long as the output; an empty output is null.
int HandOverBlock(int ok, unsigned char* block, size_t length, unsigned char** out, size_t* outLen) {
    *out = nullptr;
    *outLen = 0;
    if (!ok || length == 0) {
        PrivateHeapFree(block);
        return ok;
    }
    if (PrivateHeapSize(block) > length) {
        if (void* exact = PrivateHeapRealloc(length, block)) block = static_cast<unsigned char*>(exact);
    }
    *out = block;
    *outLen = length;
    return 1;
}

}  // namespace

int CCryptor::Encrypt(const unsigned char* in, size_t len, unsigned char** out, size_t* outLen, bool udp) {
    unsigned char* block = nullptr;
    size_t length = 0;
    int ok = EncryptInto(in, len, &block, &length, udp);
    return HandOverBlock(ok, block, length, out, outLen);
}

int CCryptor::Decrypt(const unsigned char* in, size_t len, unsigned char** out, size_t* outLen,
                      bool* needMore, bool udp) {
    unsigned char* block = nullptr;
    size_t length = 0;
    int ok = DecryptInto(in, len, &block, &length, needMore, udp);
    return HandOverBlock(ok, block, length, out, outLen);
}

int CCryptor::EncryptInto(const unsigned char*, size_t, unsigned char**, size_t* outLen, bool) {
    *outLen = 0;
    return 1;
}

int CCryptor::DecryptInto(const unsigned char*, size_t, unsigned char**, size_t* outLen, bool* needMore,
                          bool) {
    *outLen = 0;
    *needMore = false;
    return 1;
}

void CCryptor::Reset() {
    ivSent_ = false;
    ivReceived_ = false;
    GenerateRandomBytes(encryptIv_, static_cast<size_t>(ivLength_));
}

void CCryptor::GenerateRandomBytes(unsigned char* buf, size_t len) {
    RandomBytes(buf, len);
}

void CCryptor::PasswordDigest(unsigned char out[16]) {
    Md5Digest(reinterpret_cast<const unsigned char*>(password_.data()), password_.size(), out);
}
