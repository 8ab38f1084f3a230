#pragma once
// Lines of the local proxy service in the program log: why a connection
// ended early, why one was refused. Rate-limited, so that a storm of failing
// connections cannot flood the log: lines past the budget are counted and
// the next line that passes says how many were left out.

#include <cstdint>
#include <string>
#include <string_view>

// Writes the line unless the budget is spent. True when it was written (or
// would have been, with no log prepared).
bool LogProxyEvent(std::string_view line);

// Lines given to LogProxyEvent since the start, whether written or not;
// tests read it, and the budget is refilled.
uint64_t ProxyEventCount();
void ResetProxyLogBudget();

// "host:port", the node's configured host.
std::string DescribeEndpoint(const std::string& host, uint16_t port);
