#pragma once
// Starting the real peers of an end-to-end suite (Debian's servers and our
// small Python ones) inside a namespace the suite made, and waiting until
// they answer.

#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/net.h"

namespace testsupport {

// The start of a suite that needs namespaces and these programs: without
// them `build` is not called (the suite's tests then skip, seeing nothing
// built); an exception from `build` fails the suite and `tearDown` removes
// whatever was made.
void BuildSuitePeers(std::initializer_list<const char*> programs, const std::function<void()>& build,
                     const std::function<void()>& tearDown);

// Whether something inside `ns` accepts TCP connections on address:port
// within `limit`.
bool WaitTcpListening(const NetNamespace& ns, int port, std::chrono::seconds limit,
                      const std::string& address = "127.0.0.1");

// Whether the UDP echo inside `ns` on 127.0.0.1:port answers within `limit`.
bool WaitUdpEcho(const NetNamespace& ns, int port, std::chrono::seconds limit);

// Writes `dir`/danted-<port>.conf for a danted on 127.0.0.1:port with
// socksmethod `method` ("none" or "username"), logging to
// `dir`/danted-<port>.log, and returns the command that runs it.
std::vector<std::string> DantedCommand(const std::string& dir, int port, const std::string& method = "none");

// The Python peers of the tests (tests/support/server_peers.py).
std::string ServerPeersScript();

}  // namespace testsupport
