#include "ciphers/crypto_env.h"

#include <sodium.h>

#include <atomic>
#include <ctime>

namespace {

void SystemRandom(unsigned char* buf, size_t len) {
    // libsodium draws from getrandom(2) and never returns short.
    randombytes_buf(buf, len);
}

int64_t SystemClock() {
    return static_cast<int64_t>(std::time(nullptr));
}

std::atomic<RandomFillFn> g_random{&SystemRandom};
std::atomic<ClockFn> g_clock{&SystemClock};

}  // namespace

RandomFillFn SetRandomSource(RandomFillFn fn) {
    RandomFillFn prev = g_random.exchange(fn ? fn : &SystemRandom);
    return prev == &SystemRandom ? nullptr : prev;
}

ClockFn SetCipherClock(ClockFn fn) {
    ClockFn prev = g_clock.exchange(fn ? fn : &SystemClock);
    return prev == &SystemClock ? nullptr : prev;
}

void FillRandom(unsigned char* buf, size_t len) {
    if (len == 0) return;
    g_random.load(std::memory_order_acquire)(buf, len);
}

int64_t CipherClockNow() {
    return g_clock.load(std::memory_order_acquire)();
}
