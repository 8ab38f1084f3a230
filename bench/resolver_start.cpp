// Starting the local resolver: CUnboundController::Start writing its
// configuration from a large forward-zone template and waiting for the first
// answer, beside unbound started by hand on the same generated files and
// waited for the same way, in one run. 10,000 and 60,000 zones show that
// generation stays linear. The process moves into a network namespace of its
// own (root needed), so the resolver's 127.0.0.1:53 is its own.

#include <benchmark/benchmark.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "netconfig/unbound_controller.h"

namespace fs = std::filesystem;

namespace {

constexpr int kStartTimeoutMs = 20000;

struct Folder {
    bool ready = false;
    fs::path prog;
    ~Folder() {
        CUnboundController::ReleaseInstance();
        std::error_code ec;
        if (!prog.empty()) fs::remove_all(prog, ec);
    }
};

Folder& TheFolder() {
    static Folder f;
    static bool built = [] {
        if (unshare(CLONE_NEWNET) != 0) {
            std::perror("unshare(CLONE_NEWNET) (run as root)");
            return false;
        }
        int code = -1;
        if (!RunCommandHidden({"ip", "link", "set", "lo", "up"}, -1, &code) || code != 0) return false;
        fs::path built = fs::path(CENDROW_BUILT_PROGRAM_DIR) / "unbound";
        if (!fs::exists(built / kResolverExeName)) {
            std::fprintf(stderr, "no resolver in %s\n", built.c_str());
            return false;
        }
        char templ[] = "/tmp/cendrow-resolver-bench-XXXXXX";
        if (!mkdtemp(templ)) return false;
        f.prog = templ;
        std::error_code ec;
        fs::copy(built, f.prog / "unbound", fs::copy_options::recursive, ec);
        if (ec) return false;
        for (int zones : {10000, 60000}) {
            std::ofstream out(f.prog / "unbound/forward-zone" / ("template.bench" + std::to_string(zones) + ".conf"));
            for (int i = 0; i < zones; ++i) {
                out << "forward-zone:\n    name: \"zone" << i << ".example.\"\n"
                    << "    forward-addr: <@-forward-addr1-@>\n    forward-addr: <@-forward-addr2-@>\n\n";
            }
        }
        CUnboundController* c = CUnboundController::GetInstance();
        f.ready = c->SetBaseDirectory(PathToWide(f.prog)) == 1;
        return f.ready;
    }();
    (void)built;
    return f;
}

std::wstring TemplateFor(int zones) {
    return L"template.bench" + std::to_wstring(zones) + L".conf";
}

void BM_StartGenerating(benchmark::State& state) {
    if (!TheFolder().ready) return state.SkipWithError("no namespace or resolver");
    CUnboundController* c = CUnboundController::GetInstance();
    c->SetForwardZoneTemplate(TemplateFor(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        state.PauseTiming();
        c->DeleteServiceConf();
        c->DeleteForwardZoneConf();
        state.ResumeTiming();
        if (c->Start() != 1) {
            // No timing calls after an error: the library stops the run on them.
            state.SkipWithError("Start failed");
            break;
        }
        state.PauseTiming();
        c->KillAll();
        state.ResumeTiming();
    }
}

// The same files, unbound started directly and asked until it answers.
void BM_UnboundByHand(benchmark::State& state) {
    if (!TheFolder().ready) return state.SkipWithError("no namespace or resolver");
    CUnboundController* c = CUnboundController::GetInstance();
    c->SetForwardZoneTemplate(TemplateFor(static_cast<int>(state.range(0))));
    c->DeleteServiceConf();
    c->DeleteForwardZoneConf();
    if (c->GenerateConfigFiles() != 1) return state.SkipWithError("no configuration");
    for (auto _ : state) {
        pid_t pid = StartProcessHidden({c->ResolverPath().string(), "-c", c->ServiceConfPath().string()}, -1,
                                       c->GetUnboundFolder());
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
        bool answered = false;
        while (pid > 0 && !answered && std::chrono::steady_clock::now() < deadline) {
            answered = ResolverAnswersLocalhost(200);
            if (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!answered) state.SkipWithError("unbound did not answer");
        if (answered) state.PauseTiming();
        if (pid > 0) {
            kill(pid, SIGTERM);
            if (!WaitProcess(pid, 5000, nullptr)) {
                kill(pid, SIGKILL);
                WaitProcess(pid, -1, nullptr);
            }
        }
        if (!answered) break;
        state.ResumeTiming();
    }
}

BENCHMARK(BM_StartGenerating)->Arg(10000)->Arg(60000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_UnboundByHand)->Arg(10000)->Arg(60000)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
