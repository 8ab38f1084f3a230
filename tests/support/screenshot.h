#pragma once
// Pixels for tests that judge windows by what a user sees: the whole of an
// X display taken with ImageMagick's import, or a picture file read through
// ImageMagick, as 8-bit RGB.

#include <filesystem>
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
std::string ToString(const Rect& r);
// Each component within `tolerance`.
bool Near(const Rgb& a, const Rgb& b, int tolerance = 10);

class Screenshot {
public:
    // The whole display `display` (":N"; empty: this process's DISPLAY);
    // an empty picture, and a failure of the test, when import fails.
    static Screenshot Take(const std::string& display = "");
    // A picture file; an empty picture, and a failure of the test, when it
    // cannot be read. Transparent pixels read as their colour without alpha.
    static Screenshot Read(const std::filesystem::path& file);

    int width() const { return w_; }
    int height() const { return h_; }
    Rgb At(int x, int y) const;
    // Pixels that differ by more than `tolerance` in some component.
    std::vector<std::pair<int, int>> Differences(const Screenshot& other, int tolerance = 0) const;
    // How many pixels of the rectangle are near `c`.
    int Count(const Rect& r, const Rgb& c, int tolerance = 10) const;

private:
    // From ImageMagick's output in PPM ("P6").
    static Screenshot FromPpm(const std::string& ppm, const std::string& what);

    int w_ = 0, h_ = 0;
    std::string rgb_;
};

}  // namespace testsupport
