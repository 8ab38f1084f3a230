#pragma once
// Helpers for tests that drive cryptors: whole-buffer encryption, and a
// feeder that hands a decryptor its input in random pieces the way a socket
// does. Header-only: only suites that link the ciphers library include it.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "ciphers/cryptor.h"
#include "foundation/private_heap.h"

namespace testsupport {

// Takes a cryptor output buffer and frees it.
inline std::string TakeOutput(unsigned char* out, size_t len) {
    std::string s(reinterpret_cast<const char*>(out), len);
    PrivateHeapFree(out);
    return s;
}

inline std::string MustEncrypt(CCryptor& c, const std::string& plain, bool udp = false) {
    unsigned char* out = nullptr;
    size_t len = 0;
    EXPECT_EQ(c.Encrypt(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), &out, &len, udp),
              1);
    return TakeOutput(out, len);
}

// Encrypts `plain` in pieces of 0 to `maxPiece` bytes, as a relay hands over
// whatever it has read.
inline std::string EncryptInPieces(CCryptor& c, const std::string& plain, uint32_t seed, size_t maxPiece) {
    std::mt19937 rng(seed);
    std::string wire;
    for (size_t at = 0; at < plain.size();) {
        const size_t n = std::min(std::uniform_int_distribution<size_t>(0, maxPiece)(rng), plain.size() - at);
        wire += MustEncrypt(c, plain.substr(at, n));
        at += n;
    }
    return wire;
}

// Decrypts one input; returns false when the cryptor reports failure.
inline bool DecryptPiece(CCryptor& c, const std::string& wire, std::string* plain, bool* needMore = nullptr,
                         bool udp = false) {
    unsigned char* out = nullptr;
    size_t len = 0;
    bool more = false;
    const int ok =
        c.Decrypt(reinterpret_cast<const unsigned char*>(wire.data()), wire.size(), &out, &len, &more, udp);
    if (needMore) *needMore = more;
    if (!ok) {
        PrivateHeapFree(out);
        return false;
    }
    plain->append(TakeOutput(out, len));
    return true;
}

// Feeds wire bytes to a decryptor in pieces of random length; the first piece
// is `firstPiece` bytes, shorter than any IV or salt when the test wants the
// header split.
class SplitFeeder {
public:
    SplitFeeder(CCryptor& c, uint32_t seed, size_t firstPiece, size_t maxPiece = 5000)
        : c_(c), rng_(seed), next_(firstPiece), max_(maxPiece) {}

    // Adds received bytes; false once the decryptor failed.
    bool Feed(const std::string& bytes) {
        pending_ += bytes;
        while (ok_ && pending_.size() >= next_) {
            Push(pending_.substr(0, next_));
            pending_.erase(0, next_);
            next_ = std::uniform_int_distribution<size_t>(1, max_)(rng_);
        }
        return ok_;
    }
    // Hands over what is pending now, as a reader does when the socket goes
    // quiet; the random piece sizes continue afterwards.
    bool Flush() {
        if (ok_ && !pending_.empty()) Push(pending_);
        pending_.clear();
        return ok_;
    }
    // Hands over whatever is left.
    bool Finish() {
        if (ok_ && !pending_.empty()) Push(pending_);
        pending_.clear();
        return ok_;
    }
    const std::string& plain() const { return plain_; }
    bool lastNeedMore() const { return needMore_; }

private:
    void Push(const std::string& piece) { ok_ = DecryptPiece(c_, piece, &plain_, &needMore_); }

    CCryptor& c_;
    std::mt19937 rng_;
    size_t next_;
    size_t max_;
    std::string pending_;
    std::string plain_;
    bool ok_ = true;
    bool needMore_ = false;
};

// Reproducible filler bytes.
inline std::string RandomText(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& ch : s) ch = static_cast<char>(rng());
    return s;
}

// A random source that yields 0, 1, 2, ... so that IVs and salts are known.
inline unsigned char g_sequenceNext = 0;
inline void SequenceRandom(unsigned char* buf, size_t len) {
    for (size_t i = 0; i < len; ++i) buf[i] = g_sequenceNext++;
}

}  // namespace testsupport
