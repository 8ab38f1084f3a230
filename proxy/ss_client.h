#pragma once
// The upstream clients for Shadowsocks and ShadowsocksR nodes.
//
// CSSCLient holds what both share: the connection to the node's server, the
// hand-over of the engine's UDP stream and the UDP association's set-up.
// Only CSSRCLient is ever built: a plain Shadowsocks node is the protocol
// "origin" with the obfuscation "plain", which put exactly the cryptor's
// output on the wire. The cryptor-only data path of CSSCLient therefore
// does not exist; its slots fail.

#include <memory>
#include <string>

#include "ciphers/plugins/obfs.h"
#include "proxy/socks_client.h"

// The Shadowsocks address header that opens every TCP stream and every UDP
// datagram: 01 ADDR(4) PORT(2) for an IPv4 destination, 03 LEN NAME PORT(2)
// for a name. Empty when the destination cannot be written (a name of more
// than 255 bytes, an address type 1 that is no dotted address).
std::string BuildAddressHeader(int addressType, const std::string& host, uint16_t port);

class CSSCLient : public CSocksClient {
public:
    CSSCLient(int localSocket, const char* user, const char* password);
    ~CSSCLient() override;

    // The cryptor-only path: never built, fails.
    int Run() override { return 0; }
    int SendVia(int, const void*, int, int) override { return -1; }
    int SendToVia(int, const void*, int, int, bool) override { return -1; }
    int RecvVia(int, void*, int, int, int* sendBack, int* cryptorFlag) override;
    int RecvFromVia(int, void*, int, int, int* sendBack, int* cryptorFlag, int) override;
    bool ConnectUpstreamAndReply() override { return false; }
    int RelayUdpAssociate() override { return 0; }
    int RelayTcp() override { return 0; }

    // A UDP socket on 127.0.0.1 for the local client and a UDP socket
    // towards the node; the reply names the former.
    bool OnUdpAssociate() override;
    // The engine's UDP stream: the node's server is resolved for the relay
    // loop; success is replied only when that worked.
    bool ReplyLocalBound() override;
    int RunUdpGwLoop() override;

    // Connects to the node's server (TCP or UDP); the socket becomes the
    // remote socket. 1 connected, 0 failed.
    virtual int ConnectServer(bool udp, bool nonBlocking, sockaddr_in* out);

protected:
    // Whether data on the remote socket passes through the pipeline.
    int pipelineOnRemote_ = 1;
    // The local client's host, the only source accepted on the UDP socket.
    uint32_t clientAddress_ = 0;
};

class CSSRCLient : public CSSCLient {
public:
    CSSRCLient(int localSocket, const char* user, const char* password);
    ~CSSRCLient() override;

    // Builds the pipeline for the node (the one attached before, else the
    // current node), then serves the connection. 0 when there is no node or
    // a name of the node is unknown to the factories (before any SOCKS byte).
    int Run() override;
    // Through protocol, cryptor and obfuscation on the remote socket,
    // unchanged elsewhere: the bytes put on the wire (0 when the pipeline
    // holds them back), -1 when a stage failed or not all of them could be
    // sent in time.
    int SendVia(int s, const void* data, int len, int timeout) override;
    // One receive (at most kMaxRead bytes) back through the pipeline: the
    // plain bytes delivered, 0 while a stage is still collecting, -1 when the
    // socket closed or failed, a stage failed, or the plain bytes would not
    // fit into `len`.
    int RecvVia(int s, void* buf, int len, int timeout, int* sendBack, int* cryptorFlag) override;
    bool ConnectUpstreamAndReply() override;
    int RelayUdpAssociate() override;
    int RelayTcp() override;
    // Obfuscations with a handshake keep the first upload until the node's
    // answer asks for it to be sent.
    bool UploadHeldBack() const override;

    // One datagram of the association: towards the node (the remote socket)
    // the SOCKS 5 UDP datagram becomes a Shadowsocks one with a fresh IV;
    // towards the local client it goes out unchanged. Bytes sent, 0 when the
    // datagram was dropped, -1 on failure.
    virtual int UdpSendTo(int s, const void* data, int len, int timeout);
    // One datagram: from the node it comes back as a SOCKS 5 UDP datagram;
    // from the local client unchanged (another host's is dropped: 0).
    virtual int UdpRecv(int s, void* buf, int len, int timeout, int* sendBack, int* cryptorFlag);

    // Largest single receive of the relay.
    static constexpr int kMaxRead = 60507;
    // The relay buffer: room for a read and what the stages release with it.
    static constexpr int kRelayBuffer = 131014;

protected:
    // Cryptor and plug-ins for the attached node; 0 with the factory's
    // unknown name in *unknownKind ("encryption", "protocol", "obfs") when
    // one is refused.
    int BuildPipeline(const char** unknownKind = nullptr);
    // A fresh IV for the cryptor and the plug-ins re-keyed with it.
    void ResetPipeline();
    // Gives both plug-ins the length of the first upload's address header.
    void SetHeadLength(uint32_t length);

    std::unique_ptr<CObfs> protocol_;
    std::unique_ptr<CObfs> obfs_;

private:
    // Marks the stage that refused the bytes; -1.
    int Refused(const char* stage);

    // Buffer for received wire bytes, kept between receives while no
    // plug-in replaces it.
    unsigned char* wire_ = nullptr;
    // Block for the bytes of an upload, kept likewise.
    unsigned char* upload_ = nullptr;
    // The cryptor's output of an upload and of a download, kept likewise.
    unsigned char* sealed_ = nullptr;
    unsigned char* plain_ = nullptr;
    // The obfuscation has asked for its held bytes to be sent.
    bool obfsAnswered_ = false;
};
