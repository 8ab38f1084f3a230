#pragma once
// The upstream client that serves a connection through a node of a given type.

#include <memory>

#include "proxy/socks_client.h"

// A client owning `localSocket`, or null for a type that no client serves
// (the caller then still owns the socket).
std::unique_ptr<CSocksClient> CreateUpstreamClient(int nodeType, int localSocket, const char* user,
                                                   const char* password);
