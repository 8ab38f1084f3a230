#include "ui/base/log_line_queue.h"

bool LogLineQueue::Push(LogLine line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::move(line));
    return lines_.size() == 1;
}

std::vector<LogLine> LogLineQueue::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LogLine> out;
    out.swap(lines_);
    return out;
}

void LogLineQueue::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}
