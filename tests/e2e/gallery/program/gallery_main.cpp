// The gallery program: loads the default skin of a program folder, builds
// the scenes and answers the test's commands (see gallery.h).
#include <poll.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/cmdline.h>
#include <wx/eventfilter.h>
#include <wx/timer.h>

#include <cstdio>
#include <iostream>

#include "foundation/app_paths.h"
#include "foundation/translate.h"
#include "tests/e2e/gallery/program/gallery.h"
#include "ui/base/skin_settings.h"
#include "ui/message_box_sink.h"

namespace gallery {

void Registry::Add(const std::string& name, wxWindow* window, std::function<std::string()> state) {
    entries_.push_back({name, window, nullptr, std::move(state)});
}

void Registry::AddState(const std::string& name, std::function<std::string()> state) {
    entries_.push_back({name, nullptr, nullptr, std::move(state)});
}

void Registry::AddRect(const std::string& name, std::function<wxRect()> rect) {
    entries_.push_back({name, nullptr, std::move(rect), nullptr});
}

void Registry::PrintRects() const {
    for (const Entry& e : entries_) {
        if (!e.window && !e.rect) continue;
        const wxRect r = e.window ? e.window->GetScreenRect() : e.rect();
        std::printf("RECT %s %d %d %d %d\n", e.name.c_str(), r.x, r.y, r.width, r.height);
    }
}

void Registry::PrintPaints(const std::map<const wxObject*, int>& paints) const {
    for (const Entry& e : entries_) {
        if (!e.window) continue;
        const auto it = paints.find(e.window);
        std::printf("PAINTS %s %d\n", e.name.c_str(), it == paints.end() ? 0 : it->second);
    }
}

void Registry::PrintState(const std::string& name) const {
    // A name may have its rectangle and its state words in separate entries.
    const Entry* found = nullptr;
    for (const Entry& e : entries_) {
        if (e.name != name) continue;
        if (!found || (!found->state && e.state)) found = &e;
    }
    if (!found) {
        std::printf("STATE %s unknown\n", name.c_str());
        return;
    }
    std::printf("STATE %s %s\n", name.c_str(), found->state ? found->state().c_str() : "");
}

void Registry::AddAction(const std::string& name, std::function<void()> action) {
    actions_[name] = std::move(action);
}

bool Registry::Act(const std::string& name) const {
    const auto it = actions_.find(name);
    if (it == actions_.end()) return false;
    // After the reply, so that an action that waits (a menu) does not hold
    // the test's command.
    std::function<void()> action = it->second;
    wxTheApp->CallAfter([action] { action(); });
    return true;
}

std::map<std::string, SceneFn>& SceneTable() {
    static std::map<std::string, SceneFn> scenes;
    return scenes;
}

bool RegisterScene(const char* name, SceneFn build) {
    SceneTable()[name] = build;
    return true;
}

const std::map<std::string, SceneFn>& Scenes() {
    return SceneTable();
}

// Counts paint events per window, for the repaint figures.
class PaintCounter : public wxEventFilter {
public:
    int FilterEvent(wxEvent& event) override {
        if (event.GetEventType() == wxEVT_PAINT) ++counts[event.GetEventObject()];
        return Event_Skip;
    }
    std::map<const wxObject*, int> counts;
};

class GalleryApp : public wxApp {
public:
    bool OnInit() override {
        wxCmdLineParser cmd(argc, argv);
        cmd.AddOption("", "program", "program folder with skins/ and res/", wxCMD_LINE_VAL_STRING,
                      wxCMD_LINE_OPTION_MANDATORY);
        cmd.AddOption("", "scene", "build only this scene", wxCMD_LINE_VAL_STRING, wxCMD_LINE_PARAM_MULTIPLE);
        if (cmd.Parse() != 0) return false;
        wxString program;
        cmd.Found("program", &program);
        InitAppPaths(std::filesystem::path(program.ToStdString()) / "gallery");
        // The program's language setting (config/language.ini), so that every
        // scene can be shown in each language.
        InitTranslations(GetAppDir(), kTextDomain);
        SetSkinDirectory((GetAppDir() / "skins").wstring().c_str());
        LoadSkin(L"default");
        InstallWxMessageBoxSink();

        AddFilter(&counter_);
        std::vector<std::string> only;
        for (size_t i = 0; i < cmd.GetParamCount(); ++i) only.push_back(cmd.GetParam(i).ToStdString());
        // Every --scene given, not only the last.
        for (const wxCmdLineArg& arg : cmd.GetArguments()) {
            if (arg.GetKind() == wxCMD_LINE_OPTION && arg.GetLongName() == "scene")
                only.push_back(arg.GetStrVal().ToStdString());
        }
        for (const auto& [name, build] : Scenes()) {
            if (only.empty() || std::find(only.begin(), only.end(), name) != only.end()) build(registry_);
        }
        // Let the windows map and lay out before their places are reported.
        CallAfter([this] {
            wxYield();
            registry_.PrintRects();
            std::printf("READY\n");
            std::fflush(stdout);
            poll_.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { PollCommands(); });
            poll_.Start(20);
        });
        return true;
    }

    int OnExit() override {
        RemoveFilter(&counter_);
        UninstallWxMessageBoxSink();
        return 0;
    }

private:
    void PollCommands() {
        // A command that waits in a nested loop (a script run in a web page)
        // must not see the timer read the next command under it.
        if (polling_) return;
        polling_ = true;
        PollOnce();
        polling_ = false;
    }

    void PollOnce() {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        while (poll(&p, 1, 0) > 0) {
            char buf[512];
            const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) {
                Quit();
                return;
            }
            input_.append(buf, static_cast<size_t>(n));
        }
        for (size_t nl; (nl = input_.find('\n')) != std::string::npos;) {
            const std::string line = input_.substr(0, nl);
            input_.erase(0, nl + 1);
            if (line == "rects") {
                registry_.PrintRects();
            } else if (line == "paints") {
                registry_.PrintPaints(counter_.counts);
            } else if (line.rfind("state ", 0) == 0) {
                registry_.PrintState(line.substr(6));
            } else if (line.rfind("act ", 0) == 0) {
                if (!registry_.Act(line.substr(4))) std::printf("NOACTION\n");
            } else if (line == "quit") {
                Quit();
                return;
            }
            std::printf("END\n");
            std::fflush(stdout);
        }
    }

    void Quit() {
        poll_.Stop();
        for (wxWindow* w : wxTopLevelWindows) w->Destroy();
        ExitMainLoop();
    }

    Registry registry_;
    PaintCounter counter_;
    wxTimer poll_;
    std::string input_;
    bool polling_ = false;
};

}  // namespace gallery

wxIMPLEMENT_APP(gallery::GalleryApp);
