#pragma once
// The local proxy service's settings record and the process-wide values
// that its listener, connections and relay loops share.

#include <atomic>
#include <cstdint>
#include <string>

class CNodeInfo;

struct LocalProxySettings {
    // The listener's port on 127.0.0.1; rewritten when it had to move on.
    std::atomic<uint16_t> localSocksPort{16666};
    // With 127.0.0.1 it marks a CONNECT as the engine's UDP stream.
    std::atomic<uint16_t> udpRelayPort{7300};
    // How often a failed connect to the node is tried again.
    std::atomic<int32_t> nodeConnectAttempts{3};
    // Non-zero: the cryptor-only Shadowsocks UDP send draws a new IV per datagram.
    std::atomic<int32_t> regenerateUdpIv{0};
};

LocalProxySettings& GetLocalProxySettings();

// The credentials local SOCKS 5 clients must give; both empty = none. Kept
// under a lock: connections copy them while the service may be restarted.
void SetLocalSocksCredentials(const char* user, const char* password);
void GetLocalSocksCredentials(std::string* user, std::string* password);

// Every relay loop runs while this is set.
bool IsRelayRunning();
void SetRelayRunningFlag(bool running);

// The node every newly accepted connection relays through; null until the
// first connect. Node records outlive every connection that reads one.
CNodeInfo* GetCurrentProxyNode();
void StoreCurrentProxyNode(CNodeInfo* node);

// Open proxied connections plus open UDP sessions.
void IncrementActiveConnections();
void DecrementActiveConnections();
int32_t ActiveConnections();
