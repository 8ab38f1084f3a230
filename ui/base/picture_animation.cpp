#include "ui/base/picture_animation.h"

#include <chrono>

#include "ui/base/gif_parser.h"

void PictureAnimation::Reset(int width, int height, uint32_t fill, std::vector<AnimationFrame> frames) {
    Stop();
    std::lock_guard lock(mutex_);
    screen_ = Pixmap(width, height, fill);
    saved_ = {};
    saved_rect_ = {};
    frames_ = std::move(frames);
    current_ = 0;
}

void PictureAnimation::Clear() {
    Stop();
    std::lock_guard lock(mutex_);
    screen_ = {};
    saved_ = {};
    saved_rect_ = {};
    frames_.clear();
    current_ = 0;
    background_ = 0xFFFFFFFFu;
}

void PictureAnimation::SetBackground(uint32_t argb, bool fill) {
    std::lock_guard lock(mutex_);
    background_ = argb;
    if (fill) screen_.Fill(argb);
}

bool PictureAnimation::Start(std::function<void()> requestRepaint) {
    if (frames_.size() < 2 || thread_.joinable()) return false;
    {
        std::lock_guard lock(stop_mutex_);
        stop_ = false;
    }
    playing_ = true;
    thread_ = std::thread([this, cb = std::move(requestRepaint)]() mutable { Run(std::move(cb)); });
    return true;
}

void PictureAnimation::Stop() {
    {
        std::lock_guard lock(stop_mutex_);
        stop_ = true;
    }
    stop_cv_.notify_all();
    if (thread_.joinable()) thread_.join();
    playing_ = false;
    std::lock_guard lock(stop_mutex_);
    stop_ = false;
}

bool PictureAnimation::WaitOrStop(int ms) {
    std::unique_lock lock(stop_mutex_);
    return stop_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_; });
}

void PictureAnimation::Restore(bool dropSaved) {
    std::lock_guard lock(mutex_);
    if (current_ >= frames_.size()) return;
    const AnimationFrame& f = frames_[current_];
    if (f.disposal == 2) {
        screen_.FillRect({f.left, f.top, f.width, f.height}, background_);
    } else if (f.disposal == 3 && saved_.IsOk()) {
        CopyPixels(screen_, saved_rect_.x, saved_rect_.y, saved_, 0, 0, saved_.width(), saved_.height());
        if (dropSaved) saved_ = {};
    }
}

void PictureAnimation::RenderCurrent() {
    std::lock_guard lock(mutex_);
    if (current_ >= frames_.size()) return;
    const AnimationFrame& f = frames_[current_];
    if (f.disposal == 3) {
        saved_rect_ = {f.left, f.top, f.width, f.height};
        saved_ = Pixmap(f.width, f.height);
        CopyPixels(saved_, 0, 0, screen_, f.left, f.top, f.width, f.height);
    }
    CopyPixelsMasked(screen_, f.left, f.top, f.image, 0, 0, f.width, f.height);
}

void PictureAnimation::Advance() {
    std::lock_guard lock(mutex_);
    if (frames_.empty()) return;
    if (++current_ >= frames_.size()) {
        current_ = 0;
        screen_.Fill(background_);
    }
}

void PictureAnimation::Run(std::function<void()> requestRepaint) {
    PrepareFirst();
    for (;;) {
        RenderCurrent();
        if (requestRepaint) requestRepaint();
        int delay = -1;
        {
            std::lock_guard lock(mutex_);
            if (current_ < frames_.size()) delay = frames_[current_].delay;
        }
        if (WaitOrStop(GifFrameWaitMs(delay))) break;
        DisposeCurrent();
        Advance();
    }
    playing_ = false;
}
