#pragma once
// Helpers the plug-ins share for the buffer hand-over of the CObfs interface
// and for the byte orders of their wire formats.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plugin {

// Gives `bytes` to the caller in place of its buffer. Non-empty bytes go into
// a new private-heap block that replaces *data (the old block is freed); empty
// bytes leave *data alone. Sets *outLength; 0 when the block could not be
// allocated (the caller's buffer is then untouched).
int HandOver(unsigned char** data, std::string_view bytes, int* outLength);

inline std::string_view View(const unsigned char* data, int length) {
    return {reinterpret_cast<const char*>(data), length > 0 ? static_cast<size_t>(length) : 0};
}

inline const unsigned char* Bytes(std::string_view s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

inline void AppendLe16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
inline void AppendBe16(std::string& s, uint32_t v) {
    s += static_cast<char>((v >> 8) & 0xFF);
    s += static_cast<char>(v & 0xFF);
}
inline void AppendLe32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void AppendBytes(std::string& s, const unsigned char* p, size_t n) {
    s.append(reinterpret_cast<const char*>(p), n);
}

inline uint32_t Le16(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
}
inline uint32_t Be16(const unsigned char* p) {
    return (static_cast<uint32_t>(p[0]) << 8) | static_cast<uint32_t>(p[1]);
}
inline uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
// `count` random bytes from RandomBytes.
std::string RandomString(size_t count);

}  // namespace plugin
