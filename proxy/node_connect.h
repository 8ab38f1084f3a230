#pragma once
// Connecting to a node's server, shared by the upstream clients.

#include <netinet/in.h>

#include "nodes/node_info.h"

// A new socket bound to 0.0.0.0 port 0 and connected to `to`: UDP, or TCP,
// whose connect waits at most 10 s when `nonBlocking` is set. On success the
// socket is blocking again (TCP without Nagle) and *elapsedMs holds the time
// the connect took; -1 on failure.
int ConnectSocketTo(const sockaddr_in& to, bool udp, bool nonBlocking, int* elapsedMs,
                    int waitSeconds = 10);

// Connects to the node's server (its resolved address when known, else its
// host), trying again as often as the service's node connect attempts say
// (4 tries in all by default). Every try counts an attempt at the node and
// every failed one a failure; a success stores the connect time as the
// node's latency (at least 1 ms) and the server's endpoint in `out` when
// given. Returns the socket, or -1.
int ConnectNodeServer(const NodeFields& fields, CNodeInfo* node, bool udp, bool nonBlocking,
                      sockaddr_in* out);
