#include "tests/support/screenshot.h"

#include <cstdlib>
#include <sstream>

#include "tests/support/process.h"

namespace testsupport {

std::string ToString(const Rgb& c) {
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

bool Near(const Rgb& a, const Rgb& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

Screenshot Screenshot::Take(const std::string& display, std::string* why) {
    Screenshot s;
    std::vector<std::string> argv = {"import", "-window", "root", "-depth", "8", "ppm:-"};
    if (!display.empty()) argv.insert(argv.begin(), {"env", "DISPLAY=" + display});
    std::string ppm;
    if (RunCommand(argv, &ppm) != 0) {
        if (why) *why = "import failed";
        return s;
    }
    // P6\n<w> <h>\n255\n<rgb>
    std::istringstream head(ppm);
    std::string magic;
    int maxval = 0, w = 0, h = 0;
    head >> magic >> w >> h >> maxval;
    if (magic != "P6" || maxval != 255 || w <= 0 || h <= 0) {
        if (why) *why = "not a PPM screenshot";
        return s;
    }
    const size_t start = static_cast<size_t>(head.tellg()) + 1;
    const size_t bytes = static_cast<size_t>(w) * h * 3;
    if (ppm.size() < start + bytes) {
        if (why) *why = "short screenshot";
        return s;
    }
    s.w_ = w;
    s.h_ = h;
    s.rgb_ = ppm.substr(start, bytes);
    return s;
}

Rgb Screenshot::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= w_ || y >= h_) return {-1, -1, -1};
    const size_t i = (static_cast<size_t>(y) * w_ + x) * 3;
    return {static_cast<unsigned char>(rgb_[i]), static_cast<unsigned char>(rgb_[i + 1]),
            static_cast<unsigned char>(rgb_[i + 2])};
}

std::vector<std::pair<int, int>> Screenshot::Differences(const Screenshot& other, int tolerance) const {
    std::vector<std::pair<int, int>> out;
    if (other.w_ != w_ || other.h_ != h_) return out;
    for (int y = 0; y < h_; ++y) {
        for (int x = 0; x < w_; ++x) {
            if (!Near(At(x, y), other.At(x, y), tolerance)) out.emplace_back(x, y);
        }
    }
    return out;
}

int Screenshot::Count(const Rect& r, const Rgb& c, int tolerance) const {
    int n = 0;
    for (int y = r.y; y < r.y + r.h; ++y) {
        for (int x = r.x; x < r.x + r.w; ++x) n += Near(At(x, y), c, tolerance);
    }
    return n;
}

}  // namespace testsupport
