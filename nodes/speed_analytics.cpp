#include "nodes/speed_analytics.h"

#include <ctime>

#include "foundation/text_format.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

}  // namespace

uint32_t CSpeedAnalytics::CurrentSecond() {
    return static_cast<uint32_t>(std::time(nullptr));
}

void CSpeedAnalytics::AddBytes(uint32_t count) {
    AddBytesAt(count, CurrentSecond());
}

uint32_t CSpeedAnalytics::GetRate() {
    return GetRateAt(CurrentSecond());
}

void CSpeedAnalytics::AddBytesAt(uint32_t count, uint32_t now) {
    uint32_t current = currentSecond_.load(kRelaxed);
    if (now - current > 2) {
        // A long pause, or a clock that went back: start over.
        buckets_[0].store(0, kRelaxed);
        buckets_[1].store(0, kRelaxed);
        currentSecond_.store(now, kRelaxed);
        startSecond_.store(now, kRelaxed);
    } else {
        // Every second that passed without traffic empties its bucket before use.
        while (current != now) {
            ++current;
            buckets_[current % 2].store(0, kRelaxed);
            currentSecond_.store(current, kRelaxed);
        }
    }
    if (startSecond_.load(kRelaxed) == 0) startSecond_.store(now - 1, kRelaxed);
    buckets_[now % 2].fetch_add(count, kRelaxed);
}

uint32_t CSpeedAnalytics::GetRateAt(uint32_t now) {
    if (now == rateSecond_.load(kRelaxed)) return cachedRate_.load(kRelaxed);
    rateSecond_.store(now, kRelaxed);

    // Only the buckets of this second and the previous one count; a bucket
    // left from an older second is stale and reads as 0, so the rate falls to
    // 0 once traffic stops.
    uint32_t current = currentSecond_.load(kRelaxed);
    uint64_t sum = 0;
    uint32_t seconds = 0;
    auto take = [&](uint32_t second) {
        uint32_t bytes = buckets_[second % 2].load(kRelaxed);
        if (bytes != 0) {
            sum += bytes;
            ++seconds;
        }
    };
    if (now == current) {
        take(current);
        take(current - 1);
    } else if (now - current == 1) {
        take(current);
    }
    uint32_t rate = seconds ? static_cast<uint32_t>(sum / seconds) : 0;
    cachedRate_.store(rate, kRelaxed);
    return rate;
}

void CSpeedAnalytics::GetSpeedText(std::wstring& out) {
    out = FormatByteSize(GetRate()) + L"/s";
}
