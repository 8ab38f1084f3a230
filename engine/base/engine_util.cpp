#include "engine/base/engine_util.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

char* Engine_StrDup(const char* str) {
    if (!str) return nullptr;
    size_t len = std::strlen(str);
    char* out = static_cast<char*>(std::malloc(len + 1));
    if (!out) return nullptr;
    std::memcpy(out, str, len + 1);
    return out;
}

char* Engine_JoinStrings(size_t count, const char* const* texts) {
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) {
        size_t len = texts[i] ? std::strlen(texts[i]) : 0;
        if (len > SIZE_MAX - 1 - total) return nullptr;
        total += len;
    }
    char* out = static_cast<char*>(std::malloc(total + 1));
    if (!out) return nullptr;
    size_t pos = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!texts[i]) continue;
        size_t len = std::strlen(texts[i]);
        std::memcpy(out + pos, texts[i], len);
        pos += len;
    }
    out[pos] = '\0';
    return out;
}

uint8_t* Engine_ReadPasswordFile(const char* path, size_t* out_len) {
    if (!path) return nullptr;
    FILE* f = std::fopen(path, "r");
    if (!f) return nullptr;
    size_t cap = 128;
    size_t len = 0;
    auto* buf = static_cast<uint8_t*>(std::malloc(cap));
    if (!buf) {
        std::fclose(f);
        return nullptr;
    }
    for (;;) {
        if (len == cap) {
            if (cap > SIZE_MAX / 2) break;
            auto* bigger = static_cast<uint8_t*>(std::realloc(buf, cap * 2));
            if (!bigger) break;
            buf = bigger;
            cap *= 2;
        }
        size_t n = std::fread(buf + len, 1, cap - len, f);
        len += n;
        if (n == 0 || len < cap) {
            if (std::feof(f)) {
                std::fclose(f);
                *out_len = len;
                return buf;
            }
            if (std::ferror(f)) break;
        }
    }
    std::fclose(f);
    std::free(buf);
    return nullptr;
}
