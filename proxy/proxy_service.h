#pragma once
// How the rest of the program drives the local proxy service: preparing it
// at start-up, starting and stopping the listener, choosing the node that
// new connections use, switching the relays on and off, and the host routes
// that let busy UDP destinations bypass the tunnel.

#include <cstdint>
#include <string>

class CNodeInfo;
class CProxyRouteManager;

// Once at start-up: keeps the program folder, starts the cipher library,
// writes the local host information, loads the subscription store and
// creates the shared ShadowsocksR connection data.
void InitProxyService(const std::wstring& programFolder);
// The program folder InitProxyService kept.
std::wstring GetProxyServiceFolder();
// The port that, with 127.0.0.1, marks a CONNECT as the engine's UDP stream.
void SetUdpRelayPort(uint16_t port);

// Starts the listener on 127.0.0.1 at `port` (0: the first free port from
// 16666 up). A user name or password given replaces the stored one; null
// leaves it. On success the relays run (1); 0 when no port is free or the
// listener failed (its last error tells why).
int StartLocalProxy(const char* user, const char* password, uint16_t port);
// Ends the relays and the listener, waits (at most 15 s) for the connection
// threads, then saves the subscription store.
void StopLocalProxy();
bool IsLocalProxyRunning();
// The port actually bound once the listener runs.
uint16_t GetLocalProxyPort();
// The listener's last start failure: 1 bind, 2 socket, 3 listen, 4 thread.
int GetLocalProxyLastError();

// Makes `node` the node of every new connection; 1 when accepted. Refused
// (0, the previous node stays): null, an HTTP or SOCKS node without host or
// port, a Shadowsocks node without host, port, password or cipher, and
// every other type.
int SetCurrentNode(CNodeInfo* node);
void SetRelayRunning();
// Ends every relay loop: clears the flag and waits 500 ms for them to see it.
void StopRelaysAndWait();

void SetRouteManager(CProxyRouteManager* manager);
void ClearBypassRouteSet();
// True when no route manager is registered or the address already has its
// bypass route.
bool IsBypassRouted(const std::string& address);
// Adds a host route through the local gateway for the address (once; with
// `checkExisting`, one the route manager already holds is only recorded).
// From then on all traffic to the address goes around the tunnel, so each
// new one is logged as a warning with `why` and reported to the manager.
void AddBypassRoute(const std::string& address, bool checkExisting, const std::string& why = "");

// Open proxied connections plus open UDP sessions.
uint64_t GetActiveConnectionCount();
// Gives the shared ShadowsocksR connection data a fresh client id.
void ResetAuthData();
