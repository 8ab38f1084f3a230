#pragma once
// The engine's process-wide state, grouped by owner: the options and what is
// derived from them (engine_options.h), the device and the stack's interface
// (core.h), the UDP relay (udp_relay.h) and the TCP relay (tcp_client.h).
// Here the parts the start, the stop and every owner share: the flags, the
// reactor and the console-event hook. Only the atomic flags are touched by
// the caller's thread while the engine thread runs.

#include <atomic>

#include "engine/base/blog.h"
#include "engine/system/breactor.h"
#include "engine/system/bsignal.h"
#include "engine/tun2socks/core.h"
#include "engine/tun2socks/engine_options.h"
#include "engine/tun2socks/tcp_client.h"
#include "engine/tun2socks/udp_relay.h"

struct Tun2SocksEngine {
    // Shared with the caller's thread.
    std::atomic<int> running{0};
    std::atomic<int> started{0};
    BLog_logfunc log_sink = nullptr;  // written only while no engine runs

    // Engine thread (built on the caller's thread before the engine thread exists).
    int quitting;
    int have_reactor;
    BReactor reactor;
    int have_signal;
    BSignal signal;

    EngineOptions options;
    EngineArgs args;
    EngineCore core;
    UdpRelay udp;
    TcpRelay tcp;
};

extern Tun2SocksEngine g_engine;

// The engine ends itself: logs, sets quitting and asks the reactor to exit with code 1.
void terminate(void);
