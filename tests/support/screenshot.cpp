#include "tests/support/screenshot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "tests/support/process.h"

namespace testsupport {

std::string ToString(const Rgb& c) {
    return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

std::string ToString(const Rect& r) {
    return std::to_string(r.w) + "x" + std::to_string(r.h) + "+" + std::to_string(r.x) + "+" + std::to_string(r.y);
}

bool Near(const Rgb& a, const Rgb& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
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

Screenshot Screenshot::Take(const std::string& display) {
    std::vector<std::string> argv = {"import"};
    if (!display.empty()) argv.insert(argv.end(), {"-display", display});
    argv.insert(argv.end(), {"-window", "root", "-depth", "8", "ppm:-"});
    std::string ppm;
    const int rc = RunCommand(argv, &ppm);
    EXPECT_EQ(rc, 0) << "import failed";
    return FromPpm(ppm, "screenshot");
}

Screenshot Screenshot::Read(const std::filesystem::path& file) {
    std::string ppm;
    const int rc = RunCommand({"convert", file.string(), "-alpha", "off", "-depth", "8", "ppm:-"}, &ppm);
    EXPECT_EQ(rc, 0) << "convert failed on " << file;
    return FromPpm(ppm, file.string());
}

Screenshot Screenshot::FromPpm(const std::string& ppm, const std::string& what) {
    Screenshot s;
    // P6\n<w> <h>\n255\n<rgb>
    std::istringstream head(ppm);
    std::string magic;
    int maxval = 0;
    head >> magic >> s.w_ >> s.h_ >> maxval;
    if (magic != "P6" || maxval != 255 || s.w_ <= 0 || s.h_ <= 0) {
        ADD_FAILURE() << what << ": not a PPM picture";
        return Screenshot{};
    }
    const size_t start = static_cast<size_t>(head.tellg()) + 1;
    const size_t bytes = static_cast<size_t>(s.w_) * s.h_ * 3;
    if (ppm.size() < start + bytes) {
        ADD_FAILURE() << what << ": short picture";
        return Screenshot{};
    }
    s.rgb_ = ppm.substr(start, bytes);
    return s;
}

}  // namespace testsupport
