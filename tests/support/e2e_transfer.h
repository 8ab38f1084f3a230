#pragma once
// What the end-to-end transfer tests share: SHA-256 of data and files,
// incompressible test data, TCP connections made inside a namespace, and
// waiting for a condition.

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "tests/support/net.h"

namespace testsupport {

std::string HexSha256(const std::string& data);
std::string HexSha256File(const std::string& path);

// Bytes no compressor or cache could shortcut; different per seed.
std::string Blob(size_t size, uint64_t seed);
// A file of `size` such bytes, written a mebibyte at a time.
void WriteBlobFile(const std::string& path, size_t size, uint64_t seed);

// The calling process's open descriptors.
int CountOpenFds();

// Polls `condition` until it holds (true) or the deadline passes (false).
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline);

sockaddr_in Endpoint(const char* ip, int port);

// A TCP connection made inside a namespace, with send and receive deadlines
// of `timeout_s`, bound to `local_port` first when that is not 0; -1 with
// errno set on failure.
int ConnectIn(const NetNamespace& ns, const char* ip, int port, int local_port = 0, int timeout_s = 10);

// Sends all of `data`; false on an error.
bool SendAll(int fd, const std::string& data);

}  // namespace testsupport
