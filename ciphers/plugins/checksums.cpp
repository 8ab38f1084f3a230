#include "ciphers/plugins/checksums.h"

#include <atomic>

#include "foundation/named_lock.h"

namespace {

uint32_t g_crcTable[256];
std::atomic<bool> g_crcTableBuilt{false};

CNamedLock& CrcTableLock() {
    static CNamedLock lock(L"Unspecific", 0);
    return lock;
}

}  // namespace

void InitCrc32Table() {
    if (g_crcTableBuilt.load(std::memory_order_acquire)) return;
    CNamedLockGuard guard(&CrcTableLock());
    if (g_crcTableBuilt.load(std::memory_order_relaxed)) return;
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        g_crcTable[i] = c;
    }
    g_crcTableBuilt.store(true, std::memory_order_release);
}

uint32_t Crc32(const unsigned char* data, size_t length) {
    InitCrc32Table();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) crc = g_crcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void Crc32Store(unsigned char out[4], const unsigned char* data, size_t length) {
    const uint32_t crc = Crc32(data, length);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(crc >> (8 * i));
}

uint32_t Adler32(const unsigned char* data, size_t length) {
    constexpr uint32_t kModulus = 65521;
    constexpr size_t kBlock = 5552;  // the most bytes before the sums can overflow 32 bits
    uint32_t a = 1;
    uint32_t b = 0;
    while (length > 0) {
        const size_t n = length < kBlock ? length : kBlock;
        for (size_t i = 0; i < n; ++i) {
            a += data[i];
            b += a;
        }
        a %= kModulus;
        b %= kModulus;
        data += n;
        length -= n;
    }
    return (b << 16) | a;
}
