#include "engine/socksclient/bsocksclient.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "engine/base/blog.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_BSocksClient

namespace {

constexpr uint8_t kVersion = 5;
constexpr uint8_t kCmdConnect = 1;
constexpr uint8_t kAtypIPv4 = 1;
constexpr uint8_t kAtypIPv6 = 4;
constexpr uint8_t kPasswordVersion = 1;

void ReportError(BSocksClient* o) {
    o->handler(o->user, BSOCKSCLIENT_EVENT_ERROR);
}

int ResizeBuffer(BSocksClient* o, size_t size) {
    if (size == 0) size = 1;
    auto* p = static_cast<uint8_t*>(std::realloc(o->buffer, size));
    if (!p) {
        BLog(BLOG_ERROR, "BRealloc failed");
        return 0;
    }
    o->buffer = p;
    o->buffer_size = size;
    return 1;
}

void FreeControl(BSocksClient* o) {
    if (!o->have_control) return;
    PacketToStreamSender_Free(&o->control_sender);
    o->have_control = 0;
}

void SendPacket(BSocksClient* o, int len, int next_state) {
    PacketSink_Sender_Send(PacketToStreamSender_GetInput(&o->control_sender), o->buffer, len);
    o->state = next_state;
}

void ReceiveMore(BSocksClient* o) {
    StreamSource_Receiver_Recv(BConnection_RecvStream_GetIf(&o->con), o->recv_dest + o->recv_total,
                               o->recv_len - o->recv_total);
}

void StartReceive(BSocksClient* o, uint8_t* dest, int len) {
    o->recv_dest = dest;
    o->recv_len = len;
    o->recv_total = 0;
    ReceiveMore(o);
}

void SendRequest(BSocksClient* o) {
    size_t addr_len = o->dest.type == BADDR_TYPE_IPV6 ? 16 : 4;
    if (!ResizeBuffer(o, 4 + addr_len + 2)) {
        ReportError(o);
        return;
    }
    uint8_t* b = o->buffer;
    b[0] = kVersion;
    b[1] = kCmdConnect;
    b[2] = 0;
    if (o->dest.type == BADDR_TYPE_IPV6) {
        b[3] = kAtypIPv6;
        std::memcpy(b + 4, o->dest.ipv6.ip, 16);
        std::memcpy(b + 20, &o->dest.ipv6.port, 2);
    } else {
        b[3] = kAtypIPv4;
        std::memcpy(b + 4, &o->dest.ipv4.ip, 4);
        std::memcpy(b + 8, &o->dest.ipv4.port, 2);
    }
    SendPacket(o, static_cast<int>(4 + addr_len + 2), BSOCKSCLIENT_STATE_SENDING_REQUEST);
}

const BSocksClient_auth_info* FindMethod(BSocksClient* o, int method) {
    for (size_t i = 0; i < o->num_auth_info; ++i) {
        if (o->auth_info[i].auth_type == method) return &o->auth_info[i];
    }
    return nullptr;
}

void Refuse(BSocksClient* o, const char* why) {
    BLog(BLOG_NOTICE, "%s", why);
    ReportError(o);
}

void ProcessReceived(BSocksClient* o) {
    switch (o->state) {
        case BSOCKSCLIENT_STATE_SENT_HELLO: {
            BLog(BLOG_DEBUG, "received hello");
            if (o->buffer[0] != kVersion) return Refuse(o, "wrong version");
            const BSocksClient_auth_info* method = FindMethod(o, o->buffer[1]);
            if (!method) return Refuse(o, "server didn't accept any authentication method");
            if (method->auth_type == SOCKS_METHOD_NO_AUTHENTICATION_REQUIRED) {
                BLog(BLOG_DEBUG, "no authentication");
                SendRequest(o);
                return;
            }
            BLog(BLOG_DEBUG, "password authentication");
            size_t u = method->password.username_len, p = method->password.password_len;
            if (u < 1 || u > 255 || p < 1 || p > 255) return Refuse(o, "invalid username/password length");
            if (!ResizeBuffer(o, 3 + u + p)) return ReportError(o);
            uint8_t* b = o->buffer;
            b[0] = kPasswordVersion;
            b[1] = static_cast<uint8_t>(u);
            std::memcpy(b + 2, method->password.username, u);
            b[2 + u] = static_cast<uint8_t>(p);
            std::memcpy(b + 3 + u, method->password.password, p);
            SendPacket(o, static_cast<int>(3 + u + p), BSOCKSCLIENT_STATE_SENDING_PASSWORD);
            return;
        }
        case BSOCKSCLIENT_STATE_SENT_PASSWORD:
            BLog(BLOG_DEBUG, "received password reply");
            if (o->buffer[0] != kPasswordVersion) return Refuse(o, "password reply has unknown version");
            if (o->buffer[1] != 0) return Refuse(o, "password reply is negative");
            SendRequest(o);
            return;
        case BSOCKSCLIENT_STATE_SENT_REQUEST: {
            BLog(BLOG_DEBUG, "received reply header");
            if (o->buffer[0] != kVersion) return Refuse(o, "wrong version");
            if (o->buffer[1] != 0) return Refuse(o, "reply not successful");
            int rest;
            switch (o->buffer[3]) {
                case kAtypIPv4:
                    rest = 4 + 2;
                    break;
                case kAtypIPv6:
                    rest = 16 + 2;
                    break;
                default:
                    return Refuse(o, "reply has unknown address type");
            }
            o->state = BSOCKSCLIENT_STATE_RECEIVED_REPLY_HEADER;
            StartReceive(o, o->buffer + 4, rest);  // the buffer holds 22 bytes
            return;
        }
        case BSOCKSCLIENT_STATE_RECEIVED_REPLY_HEADER:
            BLog(BLOG_DEBUG, "received reply rest");
            std::free(o->buffer);
            o->buffer = nullptr;
            o->buffer_size = 0;
            FreeControl(o);
            o->state = BSOCKSCLIENT_STATE_UP;
            o->handler(o->user, BSOCKSCLIENT_EVENT_UP);
            return;
        default:
            return;
    }
}

void RecvDone(void* user, int len) {
    auto* o = static_cast<BSocksClient*>(user);
    o->recv_total += len;
    if (o->recv_total < o->recv_len) {
        ReceiveMore(o);
        return;
    }
    ProcessReceived(o);
}

void ControlSent(void* user) {
    auto* o = static_cast<BSocksClient*>(user);
    switch (o->state) {
        case BSOCKSCLIENT_STATE_SENDING_HELLO:
            BLog(BLOG_DEBUG, "sent hello");
            if (!ResizeBuffer(o, 2)) return ReportError(o);
            o->state = BSOCKSCLIENT_STATE_SENT_HELLO;
            StartReceive(o, o->buffer, 2);
            return;
        case BSOCKSCLIENT_STATE_SENDING_REQUEST:
            BLog(BLOG_DEBUG, "sent request");
            if (!ResizeBuffer(o, 22)) return ReportError(o);
            o->state = BSOCKSCLIENT_STATE_SENT_REQUEST;
            StartReceive(o, o->buffer, 4);
            return;
        case BSOCKSCLIENT_STATE_SENDING_PASSWORD:
            BLog(BLOG_DEBUG, "send password");
            if (!ResizeBuffer(o, 2)) return ReportError(o);
            o->state = BSOCKSCLIENT_STATE_SENT_PASSWORD;
            StartReceive(o, o->buffer, 2);
            return;
        default:
            return;
    }
}

void ConnectionEvent(void* user, int event) {
    auto* o = static_cast<BSocksClient*>(user);
    if (event == BCONNECTION_EVENT_RECVCLOSED && o->state == BSOCKSCLIENT_STATE_UP) {
        o->handler(o->user, BSOCKSCLIENT_EVENT_ERROR_CLOSED);
        return;
    }
    BLog(BLOG_ERROR, "%s", event == BCONNECTION_EVENT_RECVCLOSED ? "connection closed" : "connection error");
    ReportError(o);
}

void ConnectorDone(void* user, int is_error) {
    auto* o = static_cast<BSocksClient*>(user);
    if (is_error) {
        BLog(BLOG_ERROR, "connection failed");
        ReportError(o);
        return;
    }
    if (!BConnection_Init(&o->con, &o->connector, o->reactor, o, ConnectionEvent)) {
        BLog(BLOG_ERROR, "BConnection_Init failed");
        ReportError(o);
        return;
    }
    o->have_connector = 0;  // the connection took its socket
    o->have_connection = 1;
    BLog(BLOG_DEBUG, "connected");

    BConnection_SendStream_Init(&o->con);
    BConnection_RecvStream_Init(&o->con);
    PacketToStreamSender_Init(&o->control_sender, BConnection_SendStream_GetIf(&o->con), INT_MAX,
                              BReactor_JobStack(o->reactor));
    PacketSink_Sender_Init(PacketToStreamSender_GetInput(&o->control_sender), ControlSent, o);
    StreamSource_Receiver_Init(BConnection_RecvStream_GetIf(&o->con), RecvDone, o);
    o->have_control = 1;

    if (o->num_auth_info < 1 || o->num_auth_info > 255) {
        BLog(BLOG_ERROR, "invalid number of authentication methods");
        FreeControl(o);
        BConnection_Free(&o->con);
        ReportError(o);
        return;
    }
    if (!ResizeBuffer(o, 2 + o->num_auth_info)) {
        FreeControl(o);
        BConnection_Free(&o->con);
        ReportError(o);
        return;
    }
    o->buffer[0] = kVersion;
    o->buffer[1] = static_cast<uint8_t>(o->num_auth_info);
    for (size_t i = 0; i < o->num_auth_info; ++i)
        o->buffer[2 + i] = static_cast<uint8_t>(o->auth_info[i].auth_type);
    SendPacket(o, static_cast<int>(2 + o->num_auth_info), BSOCKSCLIENT_STATE_SENDING_HELLO);
}

}  // namespace

BSocksClient_auth_info BSocksClient_auth_none(void) {
    BSocksClient_auth_info info{};
    info.auth_type = SOCKS_METHOD_NO_AUTHENTICATION_REQUIRED;
    return info;
}

BSocksClient_auth_info BSocksClient_auth_password(const char* username, size_t username_len,
                                                  const char* password, size_t password_len) {
    BSocksClient_auth_info info{};
    info.auth_type = SOCKS_METHOD_USERNAME_PASSWORD;
    info.password.username = username;
    info.password.username_len = username_len;
    info.password.password = password;
    info.password.password_len = password_len;
    return info;
}

int BSocksClient_Init(BSocksClient* o, BAddr server_addr, const BSocksClient_auth_info* auth_info,
                      size_t num_auth_info, BAddr dest, BSocksClient_handler handler, void* user,
                      BReactor* reactor) {
    o->auth_info = auth_info;
    o->num_auth_info = num_auth_info;
    o->dest = dest;
    o->handler = handler;
    o->user = user;
    o->reactor = reactor;
    o->buffer = nullptr;
    o->buffer_size = 0;
    o->have_connector = 0;
    o->have_connection = 0;
    o->have_control = 0;
    o->state = BSOCKSCLIENT_STATE_CONNECTING;
    if (!BConnector_Init(&o->connector, server_addr, reactor, o, ConnectorDone)) {
        BLog(BLOG_ERROR, "BConnector_Init failed");
        return 0;
    }
    o->have_connector = 1;
    return 1;
}

void BSocksClient_Free(BSocksClient* o) {
    if (o->have_connection) {
        FreeControl(o);
        BConnection_SendStream_Free(&o->con);
        BConnection_RecvStream_Free(&o->con);
        BConnection_Free(&o->con);
        o->have_connection = 0;
    }
    if (o->have_connector) {
        BConnector_Free(&o->connector);
        o->have_connector = 0;
    }
    std::free(o->buffer);
    o->buffer = nullptr;
}

void BSocksClient_Abort(BSocksClient* o) {
    if (o->have_connection) BConnection_ResetOnClose(&o->con);
    BSocksClient_Free(o);
}

StreamSink* BSocksClient_GetSendInterface(BSocksClient* o) {
    return BConnection_SendStream_GetIf(&o->con);
}

StreamSource* BSocksClient_GetRecvInterface(BSocksClient* o) {
    return BConnection_RecvStream_GetIf(&o->con);
}

int BSocksClient_ShutdownSend(BSocksClient* o) {
    if (o->state != BSOCKSCLIENT_STATE_UP || !o->have_connection) return 0;
    return BConnection_SendShutdown(&o->con);
}
