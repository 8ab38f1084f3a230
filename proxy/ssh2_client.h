#pragma once
// The upstream client for SSH2 nodes: the listener has opened a direct
// TCP/IP channel through its SSH session; this client answers the local
// request and relays the connection over that channel. A FIN from the local
// client becomes the channel's EOF, the channel's EOF a FIN to the local
// client, and each direction goes on alone after its half-close.
//
// The session and its socket belong to the listener; the channel to the
// caller, which frees it after Run.

#include <libssh2.h>

#include "proxy/socks_client.h"

class CSshSession;

class CSSH2CLient : public CSocksClient {
public:
    CSSH2CLient(int localSocket, const char* user, const char* password, CSshSession* session,
                LIBSSH2_CHANNEL* channel);
    // Leaves the session socket open: it is the listener's.
    ~CSSH2CLient() override;

    int Run() override;
    // Unchanged sends and receives, as the HTTP and SOCKS client.
    int SendVia(int s, const void* data, int len, int timeout) override;
    int SendToVia(int s, const void* data, int len, int unused, bool towardsNode) override;
    int RecvVia(int s, void* buf, int len, int timeout, int* sendBack, int* cryptorFlag) override;
    int RecvFromVia(int s, void* buf, int len, int timeout, int* sendBack, int* cryptorFlag, int udpgw) override;
    // Refused: no UDP travels over the channel.
    bool OnUdpAssociate() override;
    // The channel is open already: success with the local socket's own address.
    bool ConnectUpstreamAndReply() override;
    // The engine's UDP stream cannot go through SSH: failure is replied (0).
    bool ReplyLocalBound() override;
    int RelayUdpAssociate() override { return 1; }
    int RelayTcp() override;
    int RunUdpGwLoop() override { return 0; }

private:
    CSshSession* session_;
    LIBSSH2_CHANNEL* channel_;
    int upstreamSocket_ = -1;
};
