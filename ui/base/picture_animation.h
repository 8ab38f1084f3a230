#pragma once
// The off-screen picture of an animated GIF and the thread that plays it.
// Frames are composed into the picture under the animation's own lock; the
// window copies the picture under the same lock when it paints. The thread
// asks for a repaint through a callback that must not block (the window
// queues a request to its own thread), and each animation has its own stop
// signal, so stopping one never disturbs another. Stop always joins the
// thread before it returns.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "ui/base/pixmap.h"

struct AnimationFrame {
    Pixmap image;  // the frame's own pixels; alpha below 128 is transparent
    int left = 0, top = 0, width = 0, height = 0;
    int delay = -1;
    int disposal = 0;
};

class PictureAnimation {
public:
    PictureAnimation() = default;
    ~PictureAnimation() { Stop(); }
    PictureAnimation(const PictureAnimation&) = delete;
    PictureAnimation& operator=(const PictureAnimation&) = delete;

    // Sets up the off-screen picture (filled with `fill`) and the frames;
    // stops a running animation first.
    void Reset(int width, int height, uint32_t fill, std::vector<AnimationFrame> frames);
    // Drops everything (stops first).
    void Clear();

    // Starts the thread when there is more than one frame; false otherwise
    // (or when it already runs).
    bool Start(std::function<void()> requestRepaint);
    // Ends the thread within one wait and joins it.
    void Stop();
    bool IsPlaying() const { return playing_.load(); }

    // Makes `argb` the background that disposal 2 and the end of each round
    // restore; with `fill` the whole picture is filled with it now.
    void SetBackground(uint32_t argb, bool fill = true);

    // The lock that guards the picture; hold it while reading `screen()`.
    std::mutex& mutex() { return mutex_; }
    const Pixmap& screen() const { return screen_; }
    Pixmap& screen() { return screen_; }
    size_t frameCount() const { return frames_.size(); }
    size_t currentFrame() const { return current_; }

    // One step of the loop, each under the lock; exposed so that the
    // composition can be checked without a thread.
    void PrepareFirst() { Restore(false); }   // before the first frame of a run
    void RenderCurrent();                     // saves the area for disposal 3, then draws
    void DisposeCurrent() { Restore(true); }  // disposal 2 or 3 of the current frame
    void Advance();                           // next frame; after the last, back to 0 and cleared

private:
    // Disposal 2 fills the current frame's place with the background;
    // disposal 3 puts back the area saved under it.
    void Restore(bool dropSaved);
    void Run(std::function<void()> requestRepaint);
    // Waits up to `ms`; true when asked to stop.
    bool WaitOrStop(int ms);

    std::mutex mutex_;
    Pixmap screen_;
    Pixmap saved_;
    PixRect saved_rect_;
    uint32_t background_ = 0xFFFFFFFFu;
    std::vector<AnimationFrame> frames_;
    size_t current_ = 0;

    std::thread thread_;
    std::mutex stop_mutex_;
    std::condition_variable stop_cv_;
    bool stop_ = false;
    std::atomic<bool> playing_{false};
};
