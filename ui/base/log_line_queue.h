#pragma once
// Lines on their way to a log view from any thread. Each line is kept whole
// (its coloured pieces together), and lines leave in the order they came;
// the first line that finds the queue empty asks for one delivery on the
// window's thread, which then takes everything that arrived meanwhile.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ui/base/colors.h"

struct LogPiece {
    std::wstring text;
    COLORREF colour = 0;
};
using LogLine = std::vector<LogPiece>;

class LogLineQueue {
public:
    // True when the caller must ask for a delivery (the queue was empty).
    bool Push(LogLine line);
    // Up to `max` lines, oldest first; when that empties the queue the next
    // Push asks again, otherwise the caller must ask for another delivery.
    std::vector<LogLine> Take(size_t max = SIZE_MAX);
    // Drops what is queued.
    void Clear();

private:
    std::mutex mutex_;
    std::vector<LogLine> lines_;
};
