#pragma once
// SHA-256 digests and reproducible file contents for transfer tests.
// Header-only: only suites that link Crypto++ (through the ciphers) use it.

#include <cryptopp/files.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/sha.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

namespace testsupport {

inline std::string HexSha256(const std::string& data) {
    std::string out;
    CryptoPP::SHA256 sha;
    CryptoPP::StringSource(
        data, true, new CryptoPP::HashFilter(sha, new CryptoPP::HexEncoder(new CryptoPP::StringSink(out), false)));
    return out;
}

inline std::string HexSha256File(const std::string& path) {
    std::string out;
    CryptoPP::SHA256 sha;
    CryptoPP::FileSource(
        path.c_str(), true,
        new CryptoPP::HashFilter(sha, new CryptoPP::HexEncoder(new CryptoPP::StringSink(out), false)));
    return out;
}

// `size` bytes from an xorshift generator, different per seed: nothing can
// compress or guess them.
inline std::string Blob(size_t size, uint64_t seed) {
    std::string s(size, '\0');
    uint64_t x = seed * 0x9E3779B97F4A7C15ULL + 1;
    for (size_t i = 0; i < size; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(&s[i], &x, std::min<size_t>(8, size - i));
    }
    return s;
}

// A file of Blob bytes, written a mebibyte at a time.
inline void WriteBlobFile(const std::string& path, size_t size, uint64_t seed) {
    std::ofstream out(path, std::ios::binary);
    uint64_t x = seed * 0x9E3779B97F4A7C15ULL + 1;
    std::string chunk(1 << 20, '\0');
    for (size_t done = 0; done < size; done += chunk.size()) {
        for (size_t i = 0; i < chunk.size(); i += 8) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            std::memcpy(&chunk[i], &x, 8);
        }
        out.write(chunk.data(), static_cast<std::streamsize>(std::min(chunk.size(), size - done)));
    }
}

}  // namespace testsupport
