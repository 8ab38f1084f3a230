#pragma once
// The state of a xorshift128+ generator: the process-wide one of the crypto
// helpers, and the per-direction ones of the auth_chain protocols.

#include <cstdint>


struct XorShift128PlusState {
    uint64_t first = 0;
    uint64_t second = 0;

    uint64_t Next() {
        uint64_t t = first;
        const uint64_t s = second;
        first = s;
        t ^= t << 23;
        second = t ^ s ^ (t >> 17) ^ (s >> 26);
        return second + s;
    }

    // Both words from 16 bytes, little-endian.
    void Load(const unsigned char bytes[16]) {
        first = 0;
        second = 0;
        for (int i = 7; i >= 0; --i) {
            first = (first << 8) | bytes[i];
            second = (second << 8) | bytes[8 + i];
        }
    }

    // As Load, with bytes 0-1 replaced by `length` and four steps discarded.
    void LoadWithLength(const unsigned char bytes[16], uint32_t length) {
        unsigned char b[16];
        for (int i = 0; i < 16; ++i) b[i] = bytes[i];
        b[0] = static_cast<unsigned char>(length & 0xFF);
        b[1] = static_cast<unsigned char>((length >> 8) & 0xFF);
        Load(b);
        for (int i = 0; i < 4; ++i) Next();
    }
};
