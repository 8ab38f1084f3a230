#include "tests/e2e/gallery/tests/gallery_driver.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/process.h"

namespace gallerytest {

namespace {

pid_t g_trayer = -1;

// Ends a child of ours (by its pid) and reaps it.
void EndChild(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    pid = -1;
}

pid_t SpawnQuiet(const std::vector<std::string>& args, int keepFd = -1) {
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        // Gone with the test process, even when it crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        if (keepFd >= 0) {
            dup2(keepFd, 3);  // without close-on-exec
        }
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

class VirtualDisplay : public ::testing::Environment {
public:
    void SetUp() override {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        xvfb_ = SpawnQuiet({"Xvfb", "-displayfd", "3", "-br", "-dpi", "96", "-nolisten", "tcp", "-screen", "0",
                            "1280x1024x24"},
                           fds[1]);
        close(fds[1]);
        std::string number;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < until) {
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buf[16];
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            number.append(buf, static_cast<size_t>(n));
        }
        close(fds[0]);
        if (number.find('\n') == std::string::npos) {
            EndChild(xvfb_);
            unsetenv("DISPLAY");
            return;
        }
        setenv("DISPLAY", (":" + number.substr(0, number.find('\n'))).c_str(), 1);
        StartTrayer("right");
    }
    void TearDown() override {
        StopTrayer();
        EndChild(xvfb_);
    }

private:
    pid_t xvfb_ = -1;
};

const bool g_displayRegistered = (::testing::AddGlobalTestEnvironment(new VirtualDisplay), true);

}  // namespace

bool StartTrayer(const std::string& align) {
    StopTrayer();
    g_trayer = SpawnQuiet({"trayer", "--edge", "bottom", "--align", align, "--widthtype", "request", "--height", "24",
                           "--SetDockType", "false", "--SetPartialStrut", "false", "--transparent", "false"});
    return g_trayer > 0;
}

void StopTrayer() {
    EndChild(g_trayer);
}

Screenshot TakeScreenshot() {
    std::string why;
    Screenshot s = Screenshot::Take("", &why);
    if (s.empty()) ADD_FAILURE() << why;
    return s;
}

bool Xdo(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::RunCommand(argv) == 0;
}

bool MoveTo(int x, int y) {
    return Xdo({"mousemove", std::to_string(x), std::to_string(y)});
}

bool DragTo(int fromX, int fromY, int toX, int toY) {
    constexpr int kSteps = 8;
    for (int i = 1; i <= kSteps; ++i) {
        if (!MoveTo(fromX + (toX - fromX) * i / kSteps, fromY + (toY - fromY) * i / kSteps)) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    return true;
}

bool WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    return true;
}

Gallery::Gallery(const std::vector<std::string>& scenes, const std::map<std::string, std::string>& files,
                 const std::string& exe) {
    const char* built = GALLERY_PROGRAM_DIR;
    for (const char* folder : {"skins", "res", "lang"}) {
        if (!std::filesystem::exists(std::filesystem::path(built) / folder)) continue;
        std::filesystem::copy(std::filesystem::path(built) / folder, program_.path() / folder,
                              std::filesystem::copy_options::recursive);
    }
    for (const auto& [name, content] : files) {
        const std::filesystem::path path = program_.path() / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
        // A script stands in for a program.
        if (content.rfind("#!", 0) == 0) std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }
    // The pointer starts away from every window.
    MoveTo(1270, 1010);

    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe";
        return;
    }
    std::vector<std::string> args = {exe, "--program", program_.path().string()};
    for (const auto& s : scenes) {
        args.push_back("--scene");
        args.push_back(s);
    }
    pid_ = fork();
    if (pid_ == 0) {
        // A fixed theme, language and font setting, so that pixels are the
        // same on every machine; no accessibility bus on the virtual display.
        setenv("GTK_THEME", "Adwaita", 1);
        setenv("LANG", "C.UTF-8", 1);
        setenv("NO_AT_BRIDGE", "1", 1);
        setenv("LSAN_OPTIONS", "suppressions=" GALLERY_LSAN_SUPPRESSIONS ":print_suppressions=0", 1);
        const char* ubsan = std::getenv("UBSAN_OPTIONS");
        const std::string ubsanOptions =
            std::string(ubsan ? ubsan : "") + (ubsan && *ubsan ? ":" : "") + "suppressions=" GALLERY_UBSAN_SUPPRESSIONS;
        setenv("UBSAN_OPTIONS", ubsanOptions.c_str(), 1);
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
    if (pid_ < 0) {
        ADD_FAILURE() << "fork";
        return;
    }
    for (;;) {
        const std::string line = ReadLine();
        if (line == "READY") break;
        if (line.empty() && !running()) {
            ADD_FAILURE() << "the gallery ended before it was ready";
            return;
        }
        ParseRect(line);
    }
}

Gallery::~Gallery() {
    if (in_ >= 0) {
        const std::string quit = "quit\n";
        (void)!write(in_, quit.data(), quit.size());
        close(in_);
    }
    if (pid_ > 0) {
        int status = 0;
        bool ended = false;
        // ASan's leak check at exit walks the whole heap: on a busy machine
        // that alone can take several seconds.
        for (int i = 0; i < 600 && !ended; ++i) {
            ended = waitpid(pid_, &status, WNOHANG) == pid_;
            if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        if (!ended) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            ADD_FAILURE() << "the gallery did not quit";
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << "the gallery ended with status " << status << " (a sanitizer report?)";
        }
    }
    if (out_ >= 0) close(out_);
}

std::string Gallery::ReadLine() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        const size_t nl = buffered_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return line;
        }
        if (std::chrono::steady_clock::now() >= until) {
            ADD_FAILURE() << "no answer from the gallery";
            return "";
        }
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[4096];
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;
            return "";
        }
        buffered_.append(buf, static_cast<size_t>(n));
    }
}

void Gallery::ParseRect(const std::string& line) {
    std::istringstream in(line);
    std::string word, name;
    Rect r;
    if (in >> word >> name >> r.x >> r.y >> r.w >> r.h && word == "RECT") rects_[name] = r;
}

std::vector<std::string> Gallery::Command(const std::string& command) {
    std::vector<std::string> lines;
    const std::string text = command + "\n";
    if (write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        ADD_FAILURE() << "cannot write to the gallery";
        return lines;
    }
    for (;;) {
        std::string line = ReadLine();
        if (line == "END") break;
        if (line.empty() && !running()) break;
        lines.push_back(line);
    }
    return lines;
}

const Rect& Gallery::rect(const std::string& name) const {
    static const Rect none;
    const auto it = rects_.find(name);
    if (it == rects_.end()) {
        ADD_FAILURE() << "no rectangle " << name;
        return none;
    }
    return it->second;
}

void Gallery::RefreshRects() {
    for (const auto& line : Command("rects")) ParseRect(line);
}

std::string Gallery::State(const std::string& name) {
    const auto lines = Command("state " + name);
    const std::string prefix = "STATE " + name + " ";
    return lines.empty() || lines[0].rfind(prefix, 0) != 0 ? "" : lines[0].substr(prefix.size());
}

bool Gallery::StateHas(const std::string& name, const std::string& word) {
    const std::string s = " " + State(name) + " ";
    return s.find(" " + word + " ") != std::string::npos;
}

std::map<std::string, int> Gallery::Paints() {
    std::map<std::string, int> out;
    for (const auto& line : Command("paints")) {
        std::istringstream in(line);
        std::string word, name;
        int n = 0;
        if (in >> word >> name >> n && word == "PAINTS") out[name] = n;
    }
    return out;
}

}  // namespace gallerytest
