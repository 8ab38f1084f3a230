#include "tests/e2e/private_display.h"

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace testsupport {

namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The display number Xvfb wrote on its own line, or -1.
int DisplayNumberIn(const std::string& log) {
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.size() < 6 &&
            std::all_of(line.begin(), line.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            return std::stoi(line);
    }
    return -1;
}

}  // namespace

PrivateDisplay::PrivateDisplay() : dir_("cendrow-display") {
    if (!HaveProgram("Xvfb")) {
        why_ = "Xvfb is not installed";
        return;
    }
    const std::filesystem::path log = dir_.path() / "xvfb.log";
    // The number goes to standard output, which the log holds.
    server_ = ChildProcess({"Xvfb", "-displayfd", "1", "-br", "-dpi", "96", "-nolisten", "tcp", "-screen", "0",
                            "1280x1024x24"},
                           log.string());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < end) {
        const int number = DisplayNumberIn(ReadAll(log));
        if (number >= 0 && std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) {
            name_ = ":" + std::to_string(number);
            return;
        }
        if (!server_.running()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    why_ = "Xvfb did not come up: " + ReadAll(log);
}

PrivateDisplay::~PrivateDisplay() {
    if (trayer_.pid() > 0) trayer_.Stop();
    if (server_.pid() > 0) server_.Stop();
}

bool PrivateDisplay::StartTrayer() {
    if (name_.empty() || !HaveProgram("trayer")) return false;
    trayer_ = ChildProcess({"env", "DISPLAY=" + name_, "trayer", "--edge", "bottom", "--align", "right",
                            "--widthtype", "request", "--height", "24", "--SetDockType", "false",
                            "--SetPartialStrut", "false", "--transparent", "false"});
    return true;
}

void PrivateDisplay::Kill() {
    if (server_.pid() > 0) {
        kill(server_.pid(), SIGKILL);
        server_.Wait(std::chrono::seconds(10));
    }
}

int PrivateDisplay::Xdo(const std::vector<std::string>& args, std::string* out) const {
    std::vector<std::string> argv = {"env", "DISPLAY=" + name_, "xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, out);
}

std::vector<std::string> PrivateDisplay::VisibleWindows(const std::string& pattern) const {
    std::string out;
    Xdo({"search", "--onlyvisible", "--name", pattern}, &out);
    std::vector<std::string> ids;
    std::istringstream in(out);
    for (std::string id; in >> id;) ids.push_back(id);
    return ids;
}

Rect PrivateDisplay::WindowRect(const std::string& id) const {
    std::string out;
    if (Xdo({"getwindowgeometry", "--shell", id}, &out) != 0) return {};
    Rect r;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        const int value = std::atoi(line.c_str() + eq + 1);
        if (key == "X") r.x = value;
        if (key == "Y") r.y = value;
        if (key == "WIDTH") r.w = value;
        if (key == "HEIGHT") r.h = value;
    }
    return r;
}

bool PrivateDisplay::ClickAt(int x, int y, int button) const {
    return Xdo({"mousemove", "--sync", std::to_string(x), std::to_string(y)}) == 0 &&
           Xdo({"click", std::to_string(button)}) == 0;
}

}  // namespace testsupport
