#pragma once
// The engine's millisecond clock: monotonic, counted from the first
// BTime_Start of the process, so values keep increasing across engine runs.

#include <cstdint>

typedef int64_t btime_t;

#define BTIME_MAX INT64_MAX

// Takes the start value once per process; later calls do nothing.
void BTime_Start(void);
// Milliseconds since the start value (the clock's own origin before any start).
btime_t BTime_NowMs(void);

// a + b, saturating at BTIME_MAX (b is never negative in the engine).
btime_t BTime_AddSaturating(btime_t a, btime_t b);
