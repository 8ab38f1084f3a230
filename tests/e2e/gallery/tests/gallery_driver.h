#pragma once
// Drives the control gallery on the virtual display: starts it in a
// temporary program folder holding the build's skin and pictures, reads the
// rectangles it reports, moves and clicks the pointer with xdotool, and
// takes screenshots of the whole display with ImageMagick's import.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/screenshot.h"
#include "tests/support/temp_dir.h"

// Every test process draws on a virtual display of its own (Xvfb, which
// picks a free display number and reports it through -displayfd), with
// trayer (an XEmbed notification area) along its bottom edge; so the tests
// can run side by side and never touch the user's display. The display
// exists from before the first test to after the last.
#define REQUIRE_DISPLAY() \
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no virtual display (is Xvfb installed?)"

namespace gallerytest {

using testsupport::Near;
using testsupport::Rect;
using testsupport::Rgb;
using testsupport::Screenshot;
using testsupport::ToString;

// Starts trayer at that end ("left" or "right") of the bottom edge, after
// stopping one that runs; StopTrayer ends it.
bool StartTrayer(const std::string& align);
void StopTrayer();

// The whole display; fails the test when import does not answer.
Screenshot TakeScreenshot();

// xdotool with the given arguments; false when it fails.
bool Xdo(const std::vector<std::string>& args);
bool MoveTo(int x, int y);
// Moves in small steps, as a hand does, so that every window sees the motion.
bool DragTo(int fromX, int fromY, int toX, int toY);

// Waits (up to `limit`) until `ready` holds; returns whether it did.
bool WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit = std::chrono::seconds(5));

class Gallery {
public:
    // Starts the gallery with only these scenes (all when empty) and waits
    // for READY. `files` are written into the program folder first (their
    // folders made); `exe` is the gallery program (the toolkit's by default).
    explicit Gallery(const std::vector<std::string>& scenes = {},
                     const std::map<std::string, std::string>& files = {},
                     const std::string& exe = GALLERY_EXE);
    ~Gallery();
    Gallery(const Gallery&) = delete;
    Gallery& operator=(const Gallery&) = delete;

    // Sends a command and returns the lines before "END".
    std::vector<std::string> Command(const std::string& command);
    // Rectangles as reported at start (Refresh() asks again).
    const Rect& rect(const std::string& name) const;
    void RefreshRects();
    // The scene's state words for a control, e.g. "hover=1 pushed=0".
    std::string State(const std::string& name);
    bool StateHas(const std::string& name, const std::string& word);
    std::map<std::string, int> Paints();
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const std::filesystem::path& folder() const { return program_.path(); }

private:
    std::string ReadLine();
    void ParseRect(const std::string& line);

    testsupport::TempDir program_{"cendrow-gallery"};
    pid_t pid_ = -1;
    int in_ = -1;   // to the gallery's standard input
    int out_ = -1;  // from its standard output
    std::string buffered_;
    std::map<std::string, Rect> rects_;
};

}  // namespace gallerytest
