#pragma once
// The upstream client for HTTP (CONNECT), SOCKS 4 and SOCKS 5 nodes: after
// the local request it connects to the node, performs the node's handshake,
// replies to the local client and relays the bytes unchanged. UDP ASSOCIATE
// goes through SOCKS 5 nodes, with a UDP association opened at the node.

#include <string>

#include "proxy/socks_client.h"

// The text of a SOCKS 5 reply code 0..9 ("Succeeded", ..., "Unassigned");
// null for any other code.
const char* GetSocksReplyText(int rep);

class CS45CLient : public CSocksClient {
public:
    CS45CLient(int localSocket, const char* user, const char* password);
    ~CS45CLient() override;

    // Relays through the node attached before, else through the current node.
    int Run() override;
    int SendVia(int s, const void* data, int len, int timeout) override;
    int SendToVia(int s, const void* data, int len, int unused, bool towardsNode) override;
    int RecvVia(int s, void* buf, int len, int timeout, int* sendBack, int* cryptorFlag) override;
    int RecvFromVia(int s, void* buf, int len, int timeout, int* sendBack, int* cryptorFlag,
                    int udpgw) override;
    bool OnUdpAssociate() override;
    bool ConnectUpstreamAndReply() override;
    bool ReplyLocalBound() override;
    int RelayUdpAssociate() override;
    int RelayTcp() override;
    int RunUdpGwLoop() override;

    // Connects to the node's server (TCP or UDP); the socket becomes the
    // remote socket. 1 connected, 0 failed.
    virtual int ConnectServer(bool udp, bool nonBlocking, sockaddr_in* out);

protected:
    // The node handshakes on `s`; false with the upstream text set on failure.
    bool HttpConnectHandshake(int s);
    bool Socks4Handshake(int s);
    // Command 1 (CONNECT) or 3 (UDP ASSOCIATE); the node's bound endpoint in
    // the out values (address in network order, port in host order).
    bool Socks5Handshake(int s, int command, uint32_t* boundAddress, uint16_t* boundPort);

public:
    // The same exchange for any caller, on any thread: the node's greeting,
    // credentials and request; on failure the text for the user goes to
    // *failText (left empty where the request never got that far for a UDP
    // association).
    static bool Socks5Exchange(int s, const NodeFields& node, int command, int addressType,
                               const std::string& destHost, uint16_t destPort, uint32_t* boundAddress,
                               uint16_t* boundPort, std::string* failText);

protected:

    int controlSocket_ = -1;
    // Bytes of the node's answer that followed its HTTP header: the start of
    // the relayed data, handed to the local client after the reply.
    std::string earlyData_;
    // The local client's host, the only source accepted on the UDP socket.
    uint32_t clientAddress_ = 0;
};
