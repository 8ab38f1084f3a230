#include <string>

#include "engine/tun2socks/tun2socks.h"
#include "platform/utf8.h"

namespace {

// "host:port" as the engine parses endpoints.
std::string Endpoint(const std::wstring& host, int port) {
    return WideToUtf8(host) + ":" + std::to_string(port);
}

}  // namespace

int StartTunEngine(TunEngineConfig config) {
    if (IsTunEngineRunning()) return 1;
    std::string device = std::string("tap0901:") + WideToUtf8(config.adapter_name) + ":" +
                         WideToUtf8(config.tun_address) + ":" + WideToUtf8(config.tun_network) + ":" +
                         WideToUtf8(config.tun_netmask);
    std::string address = WideToUtf8(config.interface_address);
    std::string netmask = WideToUtf8(config.tun_netmask);
    std::string socks = Endpoint(config.socks_host, config.socks_port);
    std::string udpgw = Endpoint(config.udpgw_host, config.udpgw_port);
    tun2socks_start(device.c_str(), address.c_str(), netmask.c_str(), socks.c_str(), nullptr, nullptr,
                    config.relay_udp ? udpgw.c_str() : nullptr, 0);
    return IsTunEngineRunning() ? 1 : 0;
}

void StopTunEngine() {
    tun2socks_stop(1);
}

bool IsTunEngineRunning() {
    return tun2socks_is_running() != 0;
}
