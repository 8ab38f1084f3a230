#pragma once
// The listener's step for a connection whose node is an SSH2 node.

#include <cstdint>

class CNodeInfo;
class CSshSession;

// Opens a direct TCP/IP channel to the node's host and port through the
// session, with the local peer as originator, and lets a CSSH2CLient serve
// the connection over it; the channel is freed afterwards. True when a
// client was built (it closed `socket`); false, with the socket left to the
// caller, when there is no session or the channel did not open.
bool ServeSsh2Connection(CSshSession* session, int socket, CNodeInfo* node, const char* peerAddress,
                         uint16_t peerPort, const char* user, const char* password);
