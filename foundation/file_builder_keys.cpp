#include "foundation/file_builder_keys.h"

#include <cstring>
#include <string_view>

#include "foundation/hex_digest.h"

namespace {

// The fixed material. Its form (lengths, the GUID text layout) is part of the
// file format; its values were chosen once and must never change.
constexpr std::string_view kPassPhrase = "G?B-2%#&5B-5AUpUvwdBapWl<lL3YfdmqbCzjUfS-UA7e8>02BV;KcGfrEu6";
constexpr std::string_view kDigits = "087685228668689178506566644365518733507177316620215620684017206";
constexpr std::string_view kGuidText1 =
    "<Guid(1E5A358E-036A-4169-B7D9-DE3206B239E0)>{FB82DFB4-1B54-48DE-B516-B6A04A2F31AD}";
constexpr std::string_view kGuidText2 =
    "<Guid(1E626BB9-19EE-4DFE-9644-E11D2F5188BB)>{0CFAC757-981B-4D5E-9172-C32CB854CA60}";
constexpr unsigned char kBinary[32] = {0x46, 0xf0, 0x24, 0x76, 0x0a, 0x3c, 0x6a, 0xda, 0x8a, 0x6c, 0x6b,
                                       0x41, 0xfe, 0x1f, 0x8c, 0xcf, 0xc7, 0x81, 0x18, 0x6e, 0x82, 0x55,
                                       0x25, 0x26, 0x97, 0x32, 0x26, 0x27, 0x1c, 0x91, 0x58, 0x5e};

static_assert(kPassPhrase.size() == 60);
static_assert(kDigits.size() == 63);
static_assert(kGuidText1.size() == 82 && kGuidText2.size() == 82);

// The first 16 characters of the lower-case hexadecimal MD5 of `data`.
std::string Md5Hex16(std::string_view data) {
    return Md5Hex(data.data(), data.size()).substr(0, 16);
}

void CopyTo(std::array<unsigned char, 16>& out, std::string_view text) {
    std::memcpy(out.data(), text.data(), out.size());
}

}  // namespace

std::string DeriveFileKey() {
    std::string material(kPassPhrase);
    material.append(8, '\0');  // the phrase's terminator and seven zero bytes
    material.append(kGuidText1.substr(0, 14));
    material.append(reinterpret_cast<const char*>(kBinary), sizeof kBinary);
    return Md5Hex16(material);
}

std::string DeriveFileIv() {
    std::string material(reinterpret_cast<const char*>(kBinary), 16);
    material.append(kGuidText1);
    return Md5Hex16(material);
}

FileBuilderKey FileBuilderKeyForVersion(unsigned char v0) {
    FileBuilderKey k{};
    if (v0 == 1) {
        CopyTo(k.key, kPassPhrase);
        CopyTo(k.iv, kDigits);
    } else if (v0 == 2) {
        CopyTo(k.key, Md5Hex16(kGuidText1));
        CopyTo(k.iv, Md5Hex16(kGuidText2));
    } else {
        CopyTo(k.key, DeriveFileKey());
        CopyTo(k.iv, DeriveFileIv());
    }
    return k;
}
