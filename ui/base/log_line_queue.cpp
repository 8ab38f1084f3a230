#include "ui/base/log_line_queue.h"

bool LogLineQueue::Push(LogLine line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::move(line));
    return lines_.size() == 1;
}

std::vector<LogLine> LogLineQueue::Take(size_t max) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LogLine> out;
    if (lines_.size() <= max) {
        out.swap(lines_);
        return out;
    }
    out.assign(std::make_move_iterator(lines_.begin()), std::make_move_iterator(lines_.begin() + max));
    lines_.erase(lines_.begin(), lines_.begin() + max);
    return out;
}

void LogLineQueue::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}
