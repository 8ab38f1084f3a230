#pragma once
// A virtual display of a test's own: Xvfb on the first free display number
// (-displayfd), reached through its socket file (abstract sockets are per
// network namespace), with trayer as the notification area and xdotool to
// look at and drive it. Stopped by its pid whatever the outcome.

#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/screenshot.h"
#include "tests/support/temp_dir.h"

namespace testsupport {

class PrivateDisplay {
public:
    PrivateDisplay();
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    // Empty when the server did not come up (Why says why).
    const std::string& name() const { return name_; }
    const std::string& Why() const { return why_; }
    bool StartTrayer();
    // The server ends at once, as a crashed or unplugged display does.
    void Kill();
    // xdotool on this display; its exit code, its output in `out`.
    int Xdo(const std::vector<std::string>& args, std::string* out = nullptr) const;
    // Visible windows whose title matches `pattern`.
    std::vector<std::string> VisibleWindows(const std::string& pattern) const;
    // Where a window is on the screen; empty when xdotool cannot say.
    Rect WindowRect(const std::string& id) const;
    // Moves the pointer to (x, y) and clicks `button` there.
    bool ClickAt(int x, int y, int button = 1) const;
    // The whole screen as it is now.
    Screenshot Shot() const { return Screenshot::Take(name_); }

private:
    TempDir dir_;
    ChildProcess server_;
    ChildProcess trayer_;
    std::string name_;
    std::string why_;
};

}  // namespace testsupport
