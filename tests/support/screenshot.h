#pragma once
// Pixels of an X display as a user sees them: the whole screen through
// ImageMagick's import, and what tests ask of it (a colour at a point, how
// many pixels of a rectangle are near a colour, where two shots differ).

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    int cx() const { return x + w / 2; }
    int cy() const { return y + h / 2; }
    bool Contains(int px, int py) const { return px >= x && py >= y && px < x + w && py < y + h; }
};

struct Rgb {
    int r = 0, g = 0, b = 0;
};
std::string ToString(const Rgb& c);
// Each component within `tolerance`.
bool Near(const Rgb& a, const Rgb& b, int tolerance = 10);

class Screenshot {
public:
    // The whole of `display` (":N"; empty: this process's DISPLAY). An
    // empty shot, with the reason in `why`, when import did not answer.
    static Screenshot Take(const std::string& display = "", std::string* why = nullptr);

    bool empty() const { return rgb_.empty(); }
    int width() const { return w_; }
    int height() const { return h_; }
    // {-1,-1,-1} outside the shot.
    Rgb At(int x, int y) const;
    // Pixels that differ by more than `tolerance` in some component.
    std::vector<std::pair<int, int>> Differences(const Screenshot& other, int tolerance = 0) const;
    // How many pixels of the rectangle are near `c`.
    int Count(const Rect& r, const Rgb& c, int tolerance = 10) const;

private:
    int w_ = 0, h_ = 0;
    std::string rgb_;
};

}  // namespace testsupport
