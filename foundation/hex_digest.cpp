#include "foundation/hex_digest.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

#include <cstring>

namespace {

std::string ToHex(const unsigned char* p, size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(n * 2, '0');
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = kDigits[p[i] >> 4];
        out[2 * i + 1] = kDigits[p[i] & 15];
    }
    return out;
}

}  // namespace

std::string Md5Hex(const void* data, size_t length) {
    if (!data)
        length = 0;
    else if (length == 0)
        length = std::strlen(static_cast<const char*>(data));
    unsigned char digest[CryptoPP::Weak::MD5::DIGESTSIZE];
    CryptoPP::Weak::MD5 md5;
    md5.CalculateDigest(digest, static_cast<const CryptoPP::byte*>(data), length);
    return ToHex(digest, sizeof digest);
}

std::string BytesToHex16(const unsigned char* bytes16) {
    return ToHex(bytes16, 16);
}
