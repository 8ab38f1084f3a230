#pragma once
// What the two node-test classes share.

#include <netinet/in.h>

#include <string>

#include "nodes/node_info.h"
#include "proxy/node_connect.h"
#include "proxy/socket_base.h"

namespace nodetest {

// The request of the TCP test for `path` on `host`.
std::string BuildTestRequest(const std::string& path, const std::string& host);

// The path ("/" when empty), host and port of a test URL, which may lack
// its scheme; false when it does not parse.
bool ParseTestUrl(const char* url, std::string* path, std::string* host, int* port);

// One connect to the node's configured host (not its resolved address),
// waiting at most `waitSeconds`: counts an attempt and, on failure, a
// failure at the node. The socket, or -1 with *resolved telling whether the
// name resolved.
int ConnectOnce(const NodeFields& fields, CNodeInfo* node, bool udp, bool nonBlocking, int waitSeconds,
                sockaddr_in* out, int* elapsedMs, bool* resolved);

}  // namespace nodetest
