#pragma once
// Where the cipher layer takes its randomness and its time from. Both default
// to the operating system; tests swap in deterministic sources so that IVs,
// salts and time stamps can be predicted.

#include <cstddef>
#include <cstdint>

// Fills `len` bytes of `buf`.
using RandomFillFn = void (*)(unsigned char* buf, size_t len);
// Seconds since 1970.
using ClockFn = int64_t (*)();

// Installs `fn` as the random source (null restores the system's) and
// returns the one it replaces.
RandomFillFn SetRandomSource(RandomFillFn fn);
// Installs `fn` as the clock (null restores the system's) and returns the one
// it replaces.
ClockFn SetCipherClock(ClockFn fn);

// Fills from the current random source.
void FillRandom(unsigned char* buf, size_t len);
// The current clock's reading.
int64_t CipherClockNow();

// Installs a source for the life of a scope and puts the previous one back.
class ScopedRandomSource {
public:
    explicit ScopedRandomSource(RandomFillFn fn) : prev_(SetRandomSource(fn)) {}
    ~ScopedRandomSource() { SetRandomSource(prev_); }
    ScopedRandomSource(const ScopedRandomSource&) = delete;
    ScopedRandomSource& operator=(const ScopedRandomSource&) = delete;

private:
    RandomFillFn prev_;
};

class ScopedCipherClock {
public:
    explicit ScopedCipherClock(ClockFn fn) : prev_(SetCipherClock(fn)) {}
    ~ScopedCipherClock() { SetCipherClock(prev_); }
    ScopedCipherClock(const ScopedCipherClock&) = delete;
    ScopedCipherClock& operator=(const ScopedCipherClock&) = delete;

private:
    ClockFn prev_;
};
