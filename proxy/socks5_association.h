#pragma once
// A UDP association at a SOCKS 5 node, as the UDP relay loop and the node
// test open it.

#include <netinet/in.h>

#include <cstdint>

#include "nodes/node_info.h"

// Connects to the node (its resolved address when known, else its host),
// counting an attempt at `node` and a failure when the connection cannot be
// made, then greets it with its credentials and asks for UDP ASSOCIATE. The
// control connection, which holds the association while it stays open, or -1.
// *relay is where datagrams go: the node's own address with the port of its
// answer (the address in the answer may be 0.0.0.0 or one this machine
// cannot reach); *boundAddress is the answer's address (network order).
int OpenSocks5Association(const NodeFields& fields, CNodeInfo* node, sockaddr_in* relay, uint32_t* boundAddress);
