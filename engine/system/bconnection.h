#pragma once
// Outgoing TCP connections for the engine. BConnector makes one non-blocking
// connection; BConnection takes over its socket and carries bytes through a
// StreamSink (send) and a StreamSource (receive). Every result arrives through
// the reactor; sends use MSG_NOSIGNAL, so a peer that closes never raises
// SIGPIPE.

#include "engine/base/baddr.h"
#include "engine/flow/flow_interfaces.h"
#include "engine/system/breactor.h"

// is_error: 0 connected, 1 failed.
typedef void (*BConnector_handler)(void* user, int is_error);

struct BConnector {
    BReactor* reactor;
    void* user;
    BConnector_handler handler;
    int fd;  // -1 once handed over or closed
    BReactorFd rfd;
    BReactorOp op;
    int connect_called;
    int connecting;
    int connected;
    unsigned char dest[28];  // sockaddr_in or sockaddr_in6
    unsigned dest_len;
};

int BConnector_Init(BConnector* o, BAddr addr, BReactor* reactor, void* user, BConnector_handler handler);
void BConnector_Free(BConnector* o);

enum {
    BCONNECTION_EVENT_ERROR = 1,
    BCONNECTION_EVENT_RECVCLOSED = 2,
};

typedef void (*BConnection_handler)(void* user, int event);

struct BConnection {
    BReactor* reactor;
    void* user;
    BConnection_handler handler;
    int fd;
    BReactorFd rfd;
    int closed;
    // send side
    BReactorOp send_op;
    int send_active;
    int send_busy;
    uint8_t* send_data;
    int send_len;
    StreamSink send_iface;
    // receive side
    BReactorOp recv_op;
    int recv_active;
    int recv_busy;
    uint8_t* recv_buf;
    int recv_avail;
    int recv_closed;
    StreamSource recv_iface;
};

// Takes the connected socket of `connector` and releases the connector.
int BConnection_Init(BConnection* o, BConnector* connector, BReactor* reactor, void* user,
                     BConnection_handler handler);
void BConnection_Free(BConnection* o);

// Makes the close that BConnection_Free does a reset (SO_LINGER 0), so that
// the peer learns the stream was cut, not ended. 1 or 0.
int BConnection_ResetOnClose(BConnection* o);

void BConnection_SendStream_Init(BConnection* o);
void BConnection_SendStream_Free(BConnection* o);
StreamSink* BConnection_SendStream_GetIf(BConnection* o);
// Ends the sending direction (the peer reads end of stream) while receiving
// goes on; no send may be in progress or follow. 1 or 0.
int BConnection_SendShutdown(BConnection* o);

void BConnection_RecvStream_Init(BConnection* o);
void BConnection_RecvStream_Free(BConnection* o);
StreamSource* BConnection_RecvStream_GetIf(BConnection* o);
