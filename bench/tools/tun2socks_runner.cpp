// Runs the packet engine as a process of its own, for whole-process figures
// (CPU time from /proc) and for trying the engine by hand in the test
// topology:
//   tun2socks_runner DEVICE ADDRESS NETMASK SOCKS_SERVER [UDPGW_SERVER]
// It starts the engine in the calling namespace, prints "running", and stops
// the engine on SIGINT or SIGTERM. Exit code 0 after a clean stop, 1 when the
// engine did not start or ended by itself.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "engine/tun2socks/tun2socks.h"

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: %s DEVICE ADDRESS NETMASK SOCKS_SERVER [UDPGW_SERVER]\n", argv[0]);
        return 2;
    }
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    // Blocked before the engine thread exists, so only sigwait sees them.
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    if (!tun2socks_start(argv[1], argv[2], argv[3], argv[4], nullptr, nullptr, argc == 6 ? argv[5] : nullptr,
                         0) ||
        !tun2socks_is_running()) {
        std::fprintf(stderr, "the engine did not start\n");
        return 1;
    }
    std::printf("running\n");
    std::fflush(stdout);

    timespec tick{0, 200 * 1000 * 1000};
    while (tun2socks_is_running()) {
        if (sigtimedwait(&stop_signals, nullptr, &tick) > 0) {
            tun2socks_stop(1);
            return 0;
        }
    }
    tun2socks_stop(1);  // joins the thread that ended by itself
    return 1;
}
