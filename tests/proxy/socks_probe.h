#pragma once
// A SOCKS server side with every upstream step replaced by a note of what
// was asked: it shows what the server side parsed and replied, byte for
// byte, without a node behind it.

#include <arpa/inet.h>

#include <string>

#include "proxy/socks_client.h"

namespace proxytest {

class CSocksProbe : public CSocksClient {
public:
    CSocksProbe(int s, const char* user, const char* password, bool realBindAndUdp = false)
        : CSocksClient(s, user, password), real_(realBindAndUdp) {}

    bool RunTest(CNodeInfo*, int) override { return true; }
    bool TestTcp() override { return true; }
    bool TestUdp() override { return true; }
    bool FetchExitAddress(CNodeInfo*, const std::wstring&, std::string*) override { return true; }
    int SendVia(int s, const void* data, int len, int timeout) override {
        int sent = SendAll(s, data, len, timeout);
        return sent == len ? sent : -1;
    }
    int SendToVia(int, const void*, int, int, bool) override { return -1; }
    int RecvVia(int s, void* buf, int len, int timeout, int*, int*) override {
        return Recv(s, buf, len, timeout);
    }
    int RecvFromVia(int, void*, int, int, int*, int*, int) override { return -1; }

    bool ConnectUpstreamAndReply() override {
        Note("connect " + destHost_ + ":" + std::to_string(destPort_) + " atyp" +
             std::to_string(addressType_) + " v" + std::to_string(socksVersion_));
        return ReplyResult(true, htonl(0x0a000001), 1234);
    }
    bool ReplyLocalBound() override {
        Note("udpgw");
        return ReplyResult(true, htonl(0x7f000001), 7300);
    }
    bool OnUdpAssociate() override {
        Note("udp");
        if (real_) return CSocksClient::OnUdpAssociate();
        SendSocks5Reply(0, htonl(0x7f000001), 4321);
        return OnUdpAssociated() != 0;
    }
    bool Socks5Bind() override {
        Note("bind5");
        if (real_) return CSocksClient::Socks5Bind();
        return SendSocks5Reply(0, 0, 999);
    }
    bool Socks4Bind() override {
        Note("bind4");
        if (real_) return CSocksClient::Socks4Bind();
        return SendSocks4Reply(90, 0, 999);
    }
    int RelayUdpAssociate() override {
        Note("udp-relay");
        return 1;
    }
    int RelayTcp() override {
        Note("relay");
        if (real_) return RelayTcpStreams(65507, 65507, 5);
        return 1;
    }
    int RunUdpGwLoop() override {
        Note("udpgw-loop");
        return 1;
    }

    std::string notes;
    int Remote() const { return remoteSocket_; }

private:
    void Note(const std::string& what) { notes += (notes.empty() ? "" : "|") + what; }
    bool real_;
};

}  // namespace proxytest
