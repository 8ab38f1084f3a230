// Applying and removing a proxy mode's routes, beside iproute2 doing the same
// from ready batch files, in one run. The process moves into a network
// namespace of its own (root needed) with an uplink and the TUN device, so
// nothing of the machine's routing changes; the namespace goes with the
// process.
//
// For 1,000 and 10,000 prefixes:
//   AddModeRoutes / RemoveAllRoutes   the route manager, rules already parsed
//   LoadAndAdd                        reading and parsing the rules file, then AddModeRoutes
//   IpBatchAdd / IpBatchDelete        `ip -batch` with the same routes (gateway, metric, tag)
//   IpFlushProto                      `ip route flush proto <tag>` (reference)

#include <benchmark/benchmark.h>
#include <net/if.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "foundation/system_helpers.h"
#include "netconfig/proxy_mode.h"
#include "netconfig/route_table.h"
#include "netconfig/router_mgr.h"
#include "platform/rtnetlink.h"
#include "platform/tun_device.h"

namespace fs = std::filesystem;

namespace {

struct Lab {
    bool ready = false;
    uint32_t up0 = 0, tun = 0;
    int tunFd = -1;
    fs::path dir;
    ~Lab() {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
        if (tunFd >= 0) close(tunFd);
    }
};

bool Run(const std::vector<std::string>& argv) {
    int code = -1;
    return RunCommandHidden(argv, -1, &code) && code == 0;
}

// Moves the process into a new network namespace and builds the lab there.
Lab& TheLab() {
    static Lab lab;
    static bool built = [] {
        Lab& l = lab;
        if (unshare(CLONE_NEWNET) != 0) {
            std::perror("unshare(CLONE_NEWNET) (run as root)");
            return false;
        }
        bool ok = Run({"ip", "link", "set", "lo", "up"}) && // Where the kernel has no dummy module, an ifb link behaves alike.
                  (Run({"ip", "link", "add", "up0", "type", "dummy"}) ||
                   Run({"ip", "link", "add", "up0", "type", "ifb"})) &&
                  Run({"ip", "addr", "add", "192.0.2.2/24", "dev", "up0"}) &&
                  Run({"ip", "link", "set", "up0", "up"}) &&
                  Run({"ip", "route", "add", "default", "via", "192.0.2.1", "dev", "up0", "metric", "100"}) &&
                  Run({"ip", "tuntap", "add", "dev", "ztun0", "mode", "tun"}) &&
                  Run({"ip", "addr", "add", "10.198.75.60/24", "dev", "ztun0"}) &&
                  Run({"ip", "link", "set", "ztun0", "up"});
        if (!ok) {
            std::fprintf(stderr, "cannot build the lab (dummy links and TUN devices needed)\n");
            return false;
        }
        l.tunFd = TunDevice_Open("ztun0");
        l.up0 = if_nametoindex("up0");
        l.tun = if_nametoindex("ztun0");
        SetInterfaceMetricValue(l.up0, 100);
        SetInterfaceMetricValue(l.tun, 1);
        char templ[] = "/tmp/cendrow-route-bench-XXXXXX";
        if (!mkdtemp(templ)) return false;
        l.dir = templ;
        fs::create_directory(l.dir / "rules");
        l.ready = true;
        return true;
    }();
    (void)built;
    return lab;
}

// n distinct /24 networks, spread like a country's list.
std::vector<std::string> Prefixes(int n) {
    std::vector<std::string> out;
    for (int i = 0; static_cast<int>(out.size()) < n; ++i) {
        int a = 1 + (i / 65536) % 223, b = (i / 256) % 256, c = i % 256;
        if (a == 10 || a == 127 || a == 192) continue;
        out.push_back(std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + ".0/24");
    }
    return out;
}

struct Files {
    fs::path rules, ipAdd, ipDel;
    std::map<uint32_t, CProxyModeRule> parsed;
};

const Files& FilesFor(int n) {
    static std::map<int, Files> cache;
    auto it = cache.find(n);
    if (it != cache.end()) return it->second;
    Lab& lab = TheLab();
    Files f;
    f.rules = lab.dir / "rules" / ("bench" + std::to_string(n) + ".rules");
    f.ipAdd = lab.dir / ("add" + std::to_string(n) + ".batch");
    f.ipDel = lab.dir / ("del" + std::to_string(n) + ".batch");
    std::ofstream rules(f.rules), add(f.ipAdd), del(f.ipDel);
    rules << "#Bench,Bench,0,0,1,0,0,0,generated\n";
    std::string text;
    for (const std::string& p : Prefixes(n)) {
        rules << p << "\n";
        text += p + "\n";
        // What the manager creates: via the tunnel gateway, metric 1 + 1, our tag.
        std::string route = p + " via 10.198.75.61 dev ztun0 metric 2 proto " + std::to_string(kOwnRouteProtocol);
        add << "route add " << route << "\n";
        del << "route del " << route << "\n";
    }
    CProxyMode mode;
    mode.ParseRules(text.c_str());
    f.parsed = mode.rules;
    return cache.emplace(n, std::move(f)).first->second;
}

bool InitManager(COstrelRouteMgr& mgr) {
    const Lab& lab = TheLab();
    return mgr.Init(RouteGateway{"192.0.2.1", lab.up0, 0}, RouteGateway{"10.198.75.61", lab.tun, 0}) == 1;
}

void IpBatch(benchmark::State& state, const fs::path& file) {
    if (!Run({"ip", "-batch", file.string()})) state.SkipWithError("ip -batch failed");
}

void FlushOurs() {
    Run({"ip", "route", "flush", "proto", std::to_string(kOwnRouteProtocol)});
}

#define NEED_LAB(state)                                    \
    if (!TheLab().ready) {                                 \
        state.SkipWithError("no namespace of our own");    \
        return;                                            \
    }

void BM_AddModeRoutes(benchmark::State& state) {
    NEED_LAB(state);
    const Files& f = FilesFor(static_cast<int>(state.range(0)));
    COstrelRouteMgr mgr;
    for (auto _ : state) {
        state.PauseTiming();
        InitManager(mgr);
        state.ResumeTiming();
        if (mgr.AddModeRoutes(f.parsed, 1) != static_cast<int>(f.parsed.size())) state.SkipWithError("apply failed");
        state.PauseTiming();
        mgr.RemoveAllRoutes();
        state.ResumeTiming();
    }
}

void BM_RemoveAllRoutes(benchmark::State& state) {
    NEED_LAB(state);
    const Files& f = FilesFor(static_cast<int>(state.range(0)));
    COstrelRouteMgr mgr;
    for (auto _ : state) {
        state.PauseTiming();
        InitManager(mgr);
        mgr.AddModeRoutes(f.parsed, 1);
        state.ResumeTiming();
        if (mgr.RemoveAllRoutes() != 1 || mgr.GetRouteCount() != 0) state.SkipWithError("removal failed");
    }
}

void BM_LoadAndAdd(benchmark::State& state) {
    NEED_LAB(state);
    const Files& f = FilesFor(static_cast<int>(state.range(0)));
    COstrelRouteMgr mgr;
    for (auto _ : state) {
        state.PauseTiming();
        InitManager(mgr);
        CProxyModeMgr::ReleaseInstance();
        state.ResumeTiming();
        CProxyMode* mode = CProxyModeMgr::GetInstance()->ReadModeFile(f.rules);
        if (!mode || mode->LoadRules() != static_cast<int>(f.parsed.size()) ||
            mgr.AddModeRoutes(mode->rules, 1) != static_cast<int>(f.parsed.size()))
            state.SkipWithError("read or apply failed");
        state.PauseTiming();
        mgr.RemoveAllRoutes();
        state.ResumeTiming();
    }
    CProxyModeMgr::ReleaseInstance();
}

void BM_IpBatchAdd(benchmark::State& state) {
    NEED_LAB(state);
    const Files& f = FilesFor(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        IpBatch(state, f.ipAdd);
        state.PauseTiming();
        FlushOurs();
        state.ResumeTiming();
    }
}

void BM_IpBatchDelete(benchmark::State& state) {
    NEED_LAB(state);
    const Files& f = FilesFor(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        IpBatch(state, f.ipAdd);
        state.ResumeTiming();
        IpBatch(state, f.ipDel);
    }
}

void BM_IpFlushProto(benchmark::State& state) {
    NEED_LAB(state);
    const Files& f = FilesFor(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        IpBatch(state, f.ipAdd);
        state.ResumeTiming();
        FlushOurs();
    }
}

#define ROUTE_BENCH(fn) BENCHMARK(fn)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(0.5)
ROUTE_BENCH(BM_AddModeRoutes);
ROUTE_BENCH(BM_IpBatchAdd);
ROUTE_BENCH(BM_LoadAndAdd);
ROUTE_BENCH(BM_RemoveAllRoutes);
ROUTE_BENCH(BM_IpBatchDelete);
ROUTE_BENCH(BM_IpFlushProto);

}  // namespace
