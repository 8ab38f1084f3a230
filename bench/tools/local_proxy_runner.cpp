// Runs the local proxy service as a process of its own, for whole-process
// figures (CPU time, threads, descriptors and memory from /proc):
//   local_proxy_runner PORT TYPE HOST NODE_PORT [USER PASSWORD]
//   local_proxy_runner PORT ss HOST NODE_PORT METHOD PASSWORD [PROTOCOL OBFS]
// TYPE is http, socks4, socks5 or ss (Shadowsocks; protocol "origin" and
// obfuscation "plain" unless given). It starts the listener on 127.0.0.1:PORT
// with that node as the current node and prints "running PORT". SIGUSR1
// prints one line of figures ("stats threads=.. fds=.. rss_kib=..
// connections=.. active=.."); SIGINT or SIGTERM stops the service, prints
// "stopped in <ms> ms" and the figures after the stop, and ends.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "ciphers/cryptor.h"
#include "ciphers/plugins/auth_data.h"
#include "nodes/node_info.h"
#include "proxy/listener.h"
#include "proxy/proxy_service.h"

namespace {

long RssKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

long Entries(const char* folder) {
    long n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        (void)entry;
        ++n;
    }
    return n;
}

void PrintStats() {
    std::printf("stats threads=%ld fds=%ld rss_kib=%ld connections=%zu active=%llu\n",
                Entries("/proc/self/task"), Entries("/proc/self/fd"), RssKib(),
                GetLocalListener().GetConnectionThreadCount(),
                static_cast<unsigned long long>(GetActiveConnectionCount()));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::string type = argc > 2 ? argv[2] : "";
    if (!(argc == 5 || argc == 7 || (type == "ss" && (argc == 7 || argc == 9)))) {
        std::fprintf(stderr,
                     "usage: %s PORT http|socks4|socks5 HOST NODE_PORT [USER PASSWORD]\n"
                     "       %s PORT ss HOST NODE_PORT METHOD PASSWORD [PROTOCOL OBFS]\n",
                     argv[0], argv[0]);
        return 2;
    }
    static CNodeInfo node;  // outlives every connection thread
    node.type = type == "http"     ? NodeTypeHttp
                : type == "socks4" ? NodeTypeSocks4
                : type == "ss"     ? NodeTypeSSR
                                   : NodeTypeSocks5;
    node.host = argv[3];
    node.port = static_cast<uint16_t>(std::atoi(argv[4]));
    if (type == "ss") {
        node.method = argv[5];
        node.password = argv[6];
        node.protocol = argc == 9 ? argv[7] : "origin";
        node.obfs = argc == 9 ? argv[8] : "plain";
    } else if (argc == 7) {
        node.user = argv[5];
        node.password = argv[6];
    }
    InitCipherLibrary();
    CAuthData::GetInstance();  // the ShadowsocksR protocols' shared connection data

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    // Blocked before any thread exists, so only sigwait sees them.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    if (SetCurrentNode(&node) != 1 ||
        StartLocalProxy(nullptr, nullptr, static_cast<uint16_t>(std::atoi(argv[1]))) != 1) {
        std::fprintf(stderr, "the local proxy did not start\n");
        return 1;
    }
    std::printf("running %u\n", GetLocalProxyPort());
    std::fflush(stdout);
    for (;;) {
        int sig = 0;
        if (sigwait(&signals, &sig) != 0) continue;
        if (sig == SIGUSR1) {
            PrintStats();
            continue;
        }
        auto start = std::chrono::steady_clock::now();
        StopLocalProxy();
        auto took = std::chrono::steady_clock::now() - start;
        std::printf("stopped in %.1f ms\n", std::chrono::duration<double, std::milli>(took).count());
        PrintStats();
        return 0;
    }
}
