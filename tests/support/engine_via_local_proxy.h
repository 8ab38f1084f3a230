#pragma once
// The whole data path on the engine topology: the local proxy service in the
// app namespace relays through the topology's danted, and the packet engine
// on the app namespace's TUN device hands it every captured connection (and,
// with `relayUdp`, every datagram as a udpgw stream); the app namespace's
// traffic then goes through the engine. For suites that link the whole
// program.

#include <cstring>
#include <string>

#include "engine/tun2socks/tun2socks.h"
#include "nodes/node_info.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/proxy_service.h"
#include "tests/support/engine_topology.h"

namespace testsupport {

// Makes `node` the topology's SOCKS 5 node and starts both; false when one
// of them does not start. `node` must outlive every relayed connection.
inline bool StartEngineThroughLocalProxy(const EngineTopology& topology, CNodeInfo& node, bool relayUdp) {
    auto wide = [](const char* text) { return std::wstring(text, text + std::strlen(text)); };
    node.type = NodeTypeSocks5;
    node.host = EngineTopology::kSocksHost;
    node.port = EngineTopology::kSocksPort;
    NetNamespace::Scope scope(topology.app());
    if (StartLocalProxy(nullptr, nullptr, 0) != 1 || SetCurrentNode(&node) != 1) return false;
    TunEngineConfig config;
    config.adapter_name = wide(EngineTopology::kTunName);
    config.socks_host = L"127.0.0.1";
    config.socks_port = GetLocalProxyPort();
    config.relay_udp = relayUdp ? 1 : 0;
    if (relayUdp) {
        config.udpgw_host = L"127.0.0.1";
        config.udpgw_port = GetLocalProxySettings().udpRelayPort.load();
    }
    config.tun_address = wide(EngineTopology::kTunAddress);
    config.interface_address = wide(EngineTopology::kEngineAddress);
    config.tun_network = wide(EngineTopology::kTunNetwork);
    config.tun_netmask = wide(EngineTopology::kNetmask);
    if (StartTunEngine(config) != 1) return false;
    topology.RouteThroughEngine();
    return true;
}

// Makes `node` a plain Shadowsocks node (protocol "origin", obfuscation
// "plain") at the topology's node address.
inline void AimAtShadowsocks(CNodeInfo& node, int port, const char* password, const char* method) {
    node.type = NodeTypeSSR;
    node.host = EngineTopology::kSocksHost;
    node.port = static_cast<uint16_t>(port);
    node.password = password;
    node.method = method;
    node.protocol = "origin";
    node.obfs = "plain";
}

// Ends what StartEngineThroughLocalProxy started (also after a failed start).
inline void StopEngineThroughLocalProxy() {
    StopTunEngine();
    StopLocalProxy();
    StoreCurrentProxyNode(nullptr);
}

}  // namespace testsupport
