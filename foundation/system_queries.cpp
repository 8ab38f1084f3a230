// System queries, the free-port search and random integers.
#include <sys/utsname.h>

#include <atomic>
#include <cstdlib>
#include <random>
#include <set>
#include <string>

#include "foundation/system_helpers.h"
#include "foundation/thread_locale.h"
#include "platform/atomic_file.h"

namespace {

std::atomic<ScreenSizeSource> g_screenSource{nullptr};

int ScreenDimension(bool width) {
    ScreenSizeSource source = g_screenSource.load(std::memory_order_acquire);
    int w = 0, h = 0;
    if (!source || !source(&w, &h)) return 0;
    return width ? w : h;
}

constexpr int kFirstLocalPort = 16666;
constexpr int kLocalPortTries = 100;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int IsVistaOrLater() {
    return 1;
}

int IsVista() {
    return 0;
}

int IsWin7OrLater() {
    return 1;
}

int Is64BitWindows() {
    utsname u{};
    if (uname(&u) != 0) return 0;
    return std::string(u.machine).find("64") != std::string::npos ? 1 : 0;
}

int GetScreenWidth() {
    return ScreenDimension(true);
}

int GetScreenHeight() {
    return ScreenDimension(false);
}

void SetScreenSizeSource(ScreenSizeSource source) {
    g_screenSource.store(source, std::memory_order_release);
}

int IsChineseUiLocale() {
    return GetThreadLocale() == kLocaleChineseSimplified ? 1 : 0;
}

double AbsTimeDiff(int64_t a, int64_t b) {
    // In unsigned arithmetic the difference of any two 64-bit values is exact.
    uint64_t d = a > b ? static_cast<uint64_t>(a) - static_cast<uint64_t>(b)
                       : static_cast<uint64_t>(b) - static_cast<uint64_t>(a);
    return static_cast<double>(d);
}

std::vector<int> ParseTcpTableLocalPorts(std::string_view text) {
    // Each row after the heading: "  sl: LOCAL_ADDRESS:PORT REMOTE:PORT st ...",
    // the port in hexadecimal.
    std::vector<int> ports;
    size_t lineStart = text.find('\n');
    while (lineStart != std::string_view::npos && lineStart < text.size()) {
        size_t lineEnd = text.find('\n', lineStart + 1);
        std::string_view line =
            text.substr(lineStart + 1,
                        lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - lineStart - 1);
        lineStart = lineEnd;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        size_t local = line.find_first_not_of(' ', colon + 1);
        if (local == std::string_view::npos) continue;
        size_t localEnd = line.find(' ', local);
        std::string_view address = line.substr(
            local, localEnd == std::string_view::npos ? std::string_view::npos : localEnd - local);
        size_t portColon = address.rfind(':');
        if (portColon == std::string_view::npos) continue;
        std::string_view hex = address.substr(portColon + 1);
        if (hex.empty() || hex.size() > 4) continue;
        int port = 0;
        for (char c : hex) {
            int v = HexValue(c);
            if (v < 0) {
                port = -1;
                break;
            }
            port = port * 16 + v;
        }
        if (port >= 0) ports.push_back(port);
    }
    return ports;
}

int FindFreeLocalPortIn(const std::vector<std::filesystem::path>& tables) {
    std::set<int> used;
    bool anyRead = false;
    for (const auto& table : tables) {
        std::string text;
        if (!ReadWholeFile(table, &text)) continue;
        anyRead = true;
        for (int port : ParseTcpTableLocalPorts(text)) used.insert(port);
    }
    if (!anyRead || used.empty()) return kFirstLocalPort;
    for (int port = kFirstLocalPort; port < kFirstLocalPort + kLocalPortTries; ++port) {
        if (!used.count(port)) return port;
    }
    return 0;
}

int FindFreeLocalPort() {
    // thread-self: the tables of the calling thread's network namespace.
    return FindFreeLocalPortIn({"/proc/thread-self/net/tcp", "/proc/thread-self/net/tcp6"});
}

int RandomInt(int n) {
    if (n <= 0) return 0;
    std::random_device device;
    std::mt19937 generator(device());
    return std::uniform_int_distribution<int>(0, n)(generator);
}
