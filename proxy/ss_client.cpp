#include "proxy/ss_client.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include "proxy/node_connect.h"
#include "proxy/udp_relay_ssr.h"

std::string BuildAddressHeader(int addressType, const std::string& host, uint16_t port) {
    std::string header;
    if (addressType == 1) {
        in_addr address{};
        if (inet_pton(AF_INET, host.c_str(), &address) != 1) return {};
        header.push_back(0x01);
        header.append(reinterpret_cast<const char*>(&address.s_addr), 4);
    } else if (addressType == 3) {
        if (host.empty() || host.size() > 255) return {};
        header.push_back(0x03);
        header.push_back(static_cast<char>(host.size()));
        header += host;
    } else {
        return {};
    }
    header.push_back(static_cast<char>(port >> 8));
    header.push_back(static_cast<char>(port & 0xff));
    return header;
}

CSSCLient::CSSCLient(int localSocket, const char* user, const char* password)
    : CSocksClient(localSocket, user, password) {}

CSSCLient::~CSSCLient() = default;

int CSSCLient::RecvVia(int, void*, int, int, int* sendBack, int* cryptorFlag) {
    if (sendBack) *sendBack = 0;
    if (cryptorFlag) *cryptorFlag = 0;
    return -1;
}

int CSSCLient::RecvFromVia(int, void*, int, int, int* sendBack, int* cryptorFlag, int) {
    if (sendBack) *sendBack = 0;
    if (cryptorFlag) *cryptorFlag = 0;
    return -1;
}

int CSSCLient::ConnectServer(bool udp, bool nonBlocking, sockaddr_in* out) {
    int s = ConnectNodeServer(nodeFields_, node_, udp, nonBlocking, out);
    if (s < 0) return 0;
    CloseSocket(remoteSocket_);
    remoteSocket_ = s;
    return 1;
}

bool CSSCLient::ReplyLocalBound() {
    sockaddr_in server{};
    if (!ResolveSockAddrCached(nodeFields_.port, &server, nodeFields_.GetConnectAddress().c_str())) {
        ReplyResult(false, 0, 0);
        return false;
    }
    nodeServerAddr_ = server;
    uint32_t ownAddress = 0;
    uint16_t ownPort = 0;
    LocalSocketName(&ownAddress, &ownPort);
    return ReplyResult(true, ownAddress, ownPort);
}

int CSSCLient::RunUdpGwLoop() {
    // Every type 6 node gets the ShadowsocksR loop: a flow's own cipher
    // objects, and its socket connected to the server resolved above.
    if (node_ == nullptr) return 0;
    CSSRTCPUDPMainLoop loop(this);
    return loop.Run();
}

bool CSSCLient::OnUdpAssociate() {
    sockaddr_in peer{};
    socklen_t peerLen = sizeof peer;
    if (getpeername(localSocket_, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0 ||
        peer.sin_family != AF_INET) {
        SendSocks5Reply(0x01, 0, 0);
        return false;
    }
    clientAddress_ = peer.sin_addr.s_addr;

    // The local client's socket, on loopback only: no other host may use the node.
    sockaddr_in bound{};
    int local = OpenLoopbackUdp(&bound);
    if (local < 0) {
        SendSocks5Reply(0x01, 0, 0);
        return false;
    }
    if (!ConnectServer(true, false, &nodeServerAddr_)) {
        CloseSocket(local);
        return false;
    }
    if (!SendSocks5Reply(0x00, bound.sin_addr.s_addr, ntohs(bound.sin_port))) {
        CloseSocket(local);
        return false;
    }
    udpSocket_ = local;
    return OnUdpAssociated() != 0;
}
