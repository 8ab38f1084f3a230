#pragma once
// SOCKS 5 client (RFC 1928, with the user-name/password method of RFC 1929):
// connects to the server, negotiates a method, sends one CONNECT for an IPv4
// or IPv6 destination, and then hands the raw connection to its user as a
// StreamSink and a StreamSource.

#include <cstddef>

#include "engine/base/baddr.h"
#include "engine/flow/packet_to_stream_sender.h"
#include "engine/system/bconnection.h"

enum {
    SOCKS_METHOD_NO_AUTHENTICATION_REQUIRED = 0,
    SOCKS_METHOD_USERNAME_PASSWORD = 2,
};

struct BSocksClient_auth_info {
    int auth_type;
    struct {
        const char* username;
        size_t username_len;
        const char* password;
        size_t password_len;
    } password;
};

BSocksClient_auth_info BSocksClient_auth_none(void);
BSocksClient_auth_info BSocksClient_auth_password(const char* username, size_t username_len,
                                                  const char* password, size_t password_len);

enum {
    BSOCKSCLIENT_EVENT_ERROR = 1,
    BSOCKSCLIENT_EVENT_UP = 2,
    BSOCKSCLIENT_EVENT_ERROR_CLOSED = 3,  // the server closed after up
};

typedef void (*BSocksClient_handler)(void* user, int event);

enum {
    BSOCKSCLIENT_STATE_CONNECTING = 1,
    BSOCKSCLIENT_STATE_SENDING_HELLO = 2,
    BSOCKSCLIENT_STATE_SENT_HELLO = 3,
    BSOCKSCLIENT_STATE_SENDING_REQUEST = 4,
    BSOCKSCLIENT_STATE_SENT_REQUEST = 5,
    BSOCKSCLIENT_STATE_RECEIVED_REPLY_HEADER = 6,
    BSOCKSCLIENT_STATE_UP = 7,
    BSOCKSCLIENT_STATE_SENDING_PASSWORD = 10,
    BSOCKSCLIENT_STATE_SENT_PASSWORD = 11,
};

struct BSocksClient {
    const BSocksClient_auth_info* auth_info;
    size_t num_auth_info;
    BAddr dest;
    BSocksClient_handler handler;
    void* user;
    BReactor* reactor;
    int state;
    uint8_t* buffer;
    size_t buffer_size;
    BConnector connector;
    int have_connector;
    BConnection con;
    int have_connection;
    // negotiation I/O
    int have_control;
    PacketToStreamSender control_sender;
    uint8_t* recv_dest;
    int recv_len;
    int recv_total;
};

int BSocksClient_Init(BSocksClient* o, BAddr server_addr, const BSocksClient_auth_info* auth_info,
                      size_t num_auth_info, BAddr dest, BSocksClient_handler handler, void* user,
                      BReactor* reactor);
// Allowed in any state, also from the handler's error event.
void BSocksClient_Free(BSocksClient* o);
// The same, but the server's connection is reset rather than ended: for a
// stream that was cut short.
void BSocksClient_Abort(BSocksClient* o);
// In state up: the connection's streams, driven by the user directly.
StreamSink* BSocksClient_GetSendInterface(BSocksClient* o);
StreamSource* BSocksClient_GetRecvInterface(BSocksClient* o);
// In state up, with no send in progress: the server reads end of stream;
// receiving goes on. 1 or 0.
int BSocksClient_ShutdownSend(BSocksClient* o);
