#pragma once
// The packet engine's public face: one engine per process, started from the
// connect routine with a TunEngineConfig and stopped by the disconnect
// routine. Start and stop run on the caller's thread and must not be called
// concurrently from two threads; everything else runs on the engine thread.

#include <string>

#include "engine/base/blog.h"

struct TunEngineConfig {
    std::wstring bin_folder;    // not read by the engine
    std::wstring adapter_name;  // the TUN device's interface name
    int output_handle = -1;     // not read by the engine
    std::wstring socks_host;    // the local SOCKS 5 server
    int socks_port = 0;
    int relay_udp = 0;               // non-zero: UDP travels through udpgw
    std::wstring tun_address;        // "10.198.75.60"
    std::wstring interface_address;  // the engine stack's own address, "10.198.75.61"
    std::wstring tun_network;        // "10.198.75.0"
    std::wstring tun_netmask;        // "255.255.255.0", also the interface's netmask
    std::wstring udpgw_host;         // the udpgw endpoint, reached through the SOCKS server
    int udpgw_port = 0;
};

// 1 when the engine runs afterwards (also at once when it already ran), else 0.
int StartTunEngine(TunEngineConfig config);
// Asks the engine to stop and returns once its thread has torn everything down.
void StopTunEngine();
bool IsTunEngineRunning();

// 1 when the engine thread was started or the engine already ran; 0 when the
// arguments were rejected or a start-up step failed. `username`, `password`
// and `udpgw_server` may be null.
int tun2socks_start(const char* device, const char* netif_ipaddr, const char* netif_netmask,
                    const char* socks_server, const char* username, const char* password,
                    const char* udpgw_server, int transparent_dns);
// Requests the end of the engine; with `wait`, returns once it has ended.
void tun2socks_stop(int wait);
int tun2socks_is_running();

// Where the engine's messages go from the next start on; null (the default)
// discards them. For diagnostics; the program itself keeps the default.
void tun2socks_set_log_sink(BLog_logfunc sink);
// The number of relayed TCP connections; readable from any thread.
int tun2socks_num_clients();
