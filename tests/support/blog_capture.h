#pragma once
// Captures the engine log for the duration of a test: installs a sink that
// keeps every message, raises every channel to debug, and releases the log
// afterwards. Header-only, for suites that link the engine.

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "engine/base/blog.h"

namespace testsupport {

struct LogLine {
    int channel;
    int level;
    std::string text;
    std::chrono::steady_clock::time_point at;  // when the engine produced it
};

class BLogCapture {
public:
    explicit BLogCapture(int level = BLOG_DEBUG) {
        Lines().clear();
        BLog_Init(&BLogCapture::Sink, nullptr);
        for (int i = 0; i < BLOG_NUM_CHANNELS; ++i) BLog_SetChannelLevel(i, level);
    }
    ~BLogCapture() { BLog_Free(); }
    BLogCapture(const BLogCapture&) = delete;
    BLogCapture& operator=(const BLogCapture&) = delete;

    std::vector<LogLine> lines() const {
        std::lock_guard<std::mutex> lock(Mutex());
        return Lines();
    }
    // Whether some message contains `needle` (on `channel` when it is 0 or more).
    bool Contains(const std::string& needle, int channel = -1) const {
        for (const auto& l : lines()) {
            if ((channel < 0 || l.channel == channel) && l.text.find(needle) != std::string::npos)
                return true;
        }
        return false;
    }
    int Count(const std::string& needle) const {
        int n = 0;
        for (const auto& l : lines()) n += l.text.find(needle) != std::string::npos;
        return n;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(Mutex());
        Lines().clear();
    }

private:
    static std::vector<LogLine>& Lines() {
        static std::vector<LogLine> lines;
        return lines;
    }
    static std::mutex& Mutex() {
        static std::mutex m;
        return m;
    }
    static void Sink(int channel, int level, const char* msg) {
        std::lock_guard<std::mutex> lock(Mutex());
        Lines().push_back({channel, level, msg, std::chrono::steady_clock::now()});
    }
};

}  // namespace testsupport
