// Untrusted text through the decoders: share links, query strings, stored
// Base64 fields and test URLs. Checks the round trips that must hold.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/base64.h"
#include "foundation/crack_url.h"
#include "foundation/key_values.h"
#include "foundation/text_convert.h"
#include "foundation/url_encode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);

    std::wstring wide = Utf8ToWideString(text);
    std::string utf8 = WideToUtf8String(wide);
    // The encoder's output is well-formed, so it decodes to the same characters.
    if (Utf8ToWideString(utf8) != wide) std::abort();

    if (Base64Decode(Base64Encode(text.data(), text.size())) != text) std::abort();
    Base64Decode(text);
    Base64UrlDecode(text);

    if (UrlDecode(UrlEncode(text)) != text) std::abort();
    UrlDecode(text);

    std::vector<CKeyValuesA> pairs;
    ParseKeyValues(text, "=", "&", pairs);

    std::string cstr(text.c_str());  // up to the first NUL, as callers pass it
    std::string path, host;
    int scheme = 0, port = 0;
    CrackUrl(path, cstr.c_str(), scheme, host, port);
    return 0;
}
