#pragma once
// Per-second transfer rate of one node. The relay threads count every chunk
// they move and the traffic panel reads the rate once a second; the figures
// are for display only, so the counters are relaxed atomics and no lock is
// taken on the relay path.

#include <atomic>
#include <cstdint>
#include <string>

class CSpeedAnalytics {
public:
    CSpeedAnalytics() = default;
    virtual ~CSpeedAnalytics() = default;
    CSpeedAnalytics(const CSpeedAnalytics&) = delete;
    CSpeedAnalytics& operator=(const CSpeedAnalytics&) = delete;

    // Adds `count` bytes to the bucket of the current second.
    void AddBytes(uint32_t count);
    // Bytes per second over the current and the previous second, counting
    // only seconds that saw traffic; recomputed at most once per second.
    uint32_t GetRate();
    // The rate as FormatByteSize text followed by "/s", e.g. "1.50 K/s".
    void GetSpeedText(std::wstring& out);

    // The same with the clock given (whole seconds since 1970, low 32 bits).
    void AddBytesAt(uint32_t count, uint32_t now);
    uint32_t GetRateAt(uint32_t now);

    // Current calendar second as the counters keep it.
    static uint32_t CurrentSecond();

private:
    std::atomic<uint32_t> rateSecond_{0};
    std::atomic<uint32_t> cachedRate_{0};
    std::atomic<uint32_t> startSecond_{0};  // kept for the record; nothing reads it
    std::atomic<uint32_t> currentSecond_{0};
    std::atomic<uint32_t> buckets_[2]{};  // bytes of even and odd seconds
};
