#pragma once
// The UDP relay loop of Shadowsocks and ShadowsocksR nodes: every start of a
// session has its own cryptor and plug-ins and a UDP socket connected to the
// node's server, so that nothing but the server can send into the flow.
// Every datagram carries its own IV.

#include "proxy/udp_relay_loop.h"

class CSSRTCPUDPMainLoop : public CTUNTAPProtoBase {
public:
    explicit CSSRTCPUDPMainLoop(CSocksClient* client);
    int ThreadBody(UdpSession* session, int type, const std::shared_ptr<UdpSessionStart>& start) override;

    int SessionJob(UdpSession* session, const std::shared_ptr<UdpSessionStart>& start);
    // The bytes sent (encrypted), -1 on a failed send or a start that is no
    // longer current. Without a cryptor frames are dropped (0).
    int SendQueued(UdpSession* session, UdpSessionStart* start);
    const sockaddr_in& GetServerAddress() const { return server_; }

protected:
    bool PrepareStart(UdpSessionStart* start) override;
    bool GrowableReader() const override { return true; }

private:
    sockaddr_in server_{};
};
