#pragma once
// The UDP relay loop of HTTP, SOCKS 4 and SOCKS 5 nodes: every start of a
// session opens its own control connection to the node, asks for a UDP
// association and exchanges SOCKS 5 UDP datagrams with the node's relay
// port. Flows opened with flag 0x10 get no job.

#include "proxy/udp_relay_loop.h"

class CS45TCPUDPMainLoop : public CTUNTAPProtoBase {
public:
    using CTUNTAPProtoBase::CTUNTAPProtoBase;
    int ThreadBody(UdpSession* session, int type, const std::shared_ptr<UdpSessionStart>& start) override;

    int SessionJob(UdpSession* session, const std::shared_ptr<UdpSessionStart>& start);
    // Sends the queued frames as SOCKS 5 UDP requests; the bytes sent, -1 on
    // a failed send or a start that is no longer current.
    int SendQueued(UdpSession* session, UdpSessionStart* start);

private:
    // The control connection and the association; false when either fails.
    bool Associate(UdpSession* session, UdpSessionStart* start);
    void Serve(UdpSession* session, UdpSessionStart* start);
};
