#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/socksclient/socks_udpgw_client.h"
#include "tests/support/blog_capture.h"
#include "tests/support/flow_harness.h"
#include "tests/support/net.h"
#include "tests/support/udpgw_peer.h"

using testsupport::UdpGwPeer;

namespace {

constexpr int kUdpMtu = 1472;

BAddr V4(const char* ip, int port) {
    BAddr a;
    BAddr_InitIPv4(&a, inet_addr(ip), htons(static_cast<uint16_t>(port)));
    return a;
}

std::string Text(const BAddr& a) {
    char buf[BADDR_MAX_PRINT_LEN];
    BAddr_ToText(&a, buf);
    return buf;
}

struct Received {
    std::string local, remote, payload;
};

// One SocksUdpGwClient on its own reactor, talking to `socks_port`.
class UdpGwRun {
public:
    UdpGwRun(int socks_port, btime_t keepalive = 10000, int max_connections = 500, btime_t reconnect = 100) {
        BTime_Start();
        EXPECT_EQ(BReactor_Init(&reactor), 1);
        auth = BSocksClient_auth_none();
        BAddr server = V4("127.0.0.1", socks_port);
        BAddr udpgw = V4("127.0.0.1", 7300);
        EXPECT_EQ(SocksUdpGwClient_Init(&client, kUdpMtu, max_connections, 8, keepalive, server, &auth, 1,
                                        udpgw, reconnect, &reactor, this, &UdpGwRun::OnReceived),
                  1);
        flowtest::StartGuard(&reactor, &guard);
    }
    ~UdpGwRun() {
        BReactor_StopTimer(&reactor, &guard);
        SocksUdpGwClient_Free(&client);
        BReactor_Free(&reactor);
    }

    // As the device hands over datagrams: the buffer stays readable until
    // the loop has run the jobs that follow each one.
    void Send(const char* lip, int lport, const char* rip, int rport, const std::string& payload,
              int dns = 0) {
        const std::string& kept = payloads.emplace_back(payload);
        SocksUdpGwClient_SendDatagram(&client, V4(lip, lport), V4(rip, rport), dns,
                                      reinterpret_cast<const uint8_t*>(kept.data()),
                                      static_cast<int>(kept.size()));
        if (!in_loop) flowtest::DrainJobs(&reactor);
    }
    // Runs until on_received returns true (0) or the guard fires (99).
    int Run() {
        in_loop = true;
        return BReactor_Run(&reactor);
    }

    static void OnReceived(void* user, BAddr local, BAddr remote, const uint8_t* data, int len) {
        auto* r = static_cast<UdpGwRun*>(user);
        r->received.push_back({Text(local), Text(remote),
                               std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(len))});
        if (r->on_received(r->received.back())) BReactor_RequestExit(&r->reactor, 0);
    }

    BReactor reactor;
    SocksUdpGwClient client;
    BSocksClient_auth_info auth;
    BReactorTimer guard;
    std::vector<Received> received;
    std::deque<std::string> payloads;
    bool in_loop = false;
    std::function<bool(const Received&)> on_received = [](const Received&) { return true; };
};

std::map<int, std::vector<UdpGwPeer::Frame>> ByConId(const std::vector<UdpGwPeer::Frame>& frames) {
    std::map<int, std::vector<UdpGwPeer::Frame>> m;
    for (const auto& f : frames) m[f.conid].push_back(f);
    return m;
}

}  // namespace

TEST(UdpGwClient, FramesBothWaysAndBadRepliesAreDroppedOneByOne) {
    testsupport::BLogCapture log;
    UdpGwPeer peer([](const UdpGwPeer::Frame& f) {
        UdpGwPeer::Reply r;
        if (f.payload != "query") return r;
        r.packets = {
            std::string("\x00\x00", 2),                                      // missing header
            std::string("\x00\x00\x00\x08\x08\x08", 6),                      // missing ipv4 address
            std::string("\x08\x00\x00", 3) + std::string(10, '\x01'),        // missing ipv6 address
            UdpGwPeer::Packet(0, 0, "8.8.8.8", 53, std::string(3000, 'L')),  // a large answer: too much data
            UdpGwPeer::Packet(0, 77, "8.8.8.8", 53, "x"),                    // unknown conid
            UdpGwPeer::Packet(0, 0, "1.1.1.1", 53, "spoofed"),               // not the flow's remote: silent
            UdpGwPeer::Packet(0, 0, "8.8.8.8", 53, "answer"),
        };
        return r;
    });
    UdpGwRun run(peer.port());
    run.Send("10.198.75.60", 5000, "8.8.8.8", 53, "query");  // queued until the stream is up
    ASSERT_EQ(run.Run(), 0);

    ASSERT_EQ(run.received.size(), 1u);
    EXPECT_EQ(run.received[0].local, "10.198.75.60:5000");
    EXPECT_EQ(run.received[0].remote, "8.8.8.8:53");
    EXPECT_EQ(run.received[0].payload, "answer");
    for (const char* m : {"missing header", "missing ipv4 address", "missing ipv6 address", "too much data",
                          "unknown conid"}) {
        EXPECT_TRUE(log.Contains(m, BLOG_CHANNEL_UdpGwClient)) << m;
    }
    EXPECT_FALSE(log.Contains("decoder error"));
    EXPECT_EQ(peer.connects(), (std::vector<std::string>{"127.0.0.1:7300"})) << "one stream, never dropped";

    auto frames = peer.frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].flags, 0x02) << "rebind on a new id; no DNS flag unless asked";
    EXPECT_EQ(frames[0].conid, 0);
    EXPECT_EQ(frames[0].addr, std::string("\x08\x08\x08\x08", 4));
    EXPECT_EQ(frames[0].port, 53);
    EXPECT_EQ(frames[0].payload, "query");
}

TEST(UdpGwClient, DnsFlagOnlyWhenAsked) {
    UdpGwPeer peer([](const UdpGwPeer::Frame& f) {
        UdpGwPeer::Reply r;
        if (f.payload == "b") r.packets = {UdpGwPeer::Packet(0, f.conid, "9.9.9.9", 53, "done")};
        return r;
    });
    UdpGwRun run(peer.port());
    run.Send("10.198.75.60", 5000, "9.9.9.9", 53, "a", 1);
    run.Send("10.198.75.60", 5000, "9.9.9.9", 53, "b", 1);
    ASSERT_EQ(run.Run(), 0);
    auto frames = peer.frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].flags, 0x02 | 0x04);
    EXPECT_EQ(frames[1].flags, 0x04);
}

TEST(UdpGwClient, KeepaliveAfterEachIntervalOfSilence) {
    UdpGwPeer peer([](const UdpGwPeer::Frame& f) {
        UdpGwPeer::Reply r;
        static int keepalives;
        if (f.payload == "hi") keepalives = 0;
        if (f.raw == std::string("\x01\x00\x00", 3) && ++keepalives == 2) {
            r.packets = {UdpGwPeer::Packet(0, 0, "8.8.4.4", 123, "stop")};
        }
        return r;
    });
    testsupport::BLogCapture log(BLOG_INFO);
    UdpGwRun run(peer.port(), 80);
    run.Send("10.198.75.60", 6000, "8.8.4.4", 123, "hi");
    ASSERT_EQ(run.Run(), 0);
    auto frames = peer.frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].payload, "hi");
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(frames[i].raw, std::string("\x01\x00\x00", 3)) << "keepalive is 03 00 01 00 00 on the wire";
    }
    // Timed where they are sent, on the engine's thread: "hi" leaves as soon
    // as the SOCKS connection is up, then each keepalive.
    std::vector<std::chrono::steady_clock::time_point> sent;
    for (const auto& l : log.lines()) {
        if ((l.channel == BLOG_CHANNEL_SocksUdpGwClient && l.text.find("SOCKS up") != std::string::npos) ||
            (l.channel == BLOG_CHANNEL_UdpGwClient && l.text.find("keepalive") != std::string::npos)) {
            sent.push_back(l.at);
        }
    }
    ASSERT_EQ(sent.size(), 3u);
    for (int i = 1; i < 3; ++i) {
        auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(sent[i] - sent[i - 1]).count();
        EXPECT_GE(gap, 79) << "a keepalive only after a whole interval of silence";
    }
}

TEST(UdpGwClient, ReconnectsAndKeepsFlowsAndIds) {
    testsupport::BLogCapture log;
    int seen_after_reconnect = 0;
    UdpGwPeer peer([&seen_after_reconnect](const UdpGwPeer::Frame& f) {
        UdpGwPeer::Reply r;
        if (f.payload == "first") r.close = true;  // the stream ends under the client
        if ((f.payload == "second" || f.payload == "third") && ++seen_after_reconnect == 2) {
            r.packets = {UdpGwPeer::Packet(0, 1, "5.6.7.8", 99, "back")};
        }
        return r;
    });
    UdpGwRun run(peer.port(), 10000, 500, 100);
    run.Send("10.198.75.60", 7000, "1.2.3.4", 80, "first");

    // Once the client has lost its stream (waiting to reconnect), send more.
    struct Poll {
        UdpGwRun* run;
        BReactorTimer timer;
        bool sent = false;
    } poll{&run, {}};
    BReactorTimer_Init(
        &poll.timer, 5,
        [](void* u) {
            auto* p = static_cast<Poll*>(u);
            if (!p->run->client.have_socks && !p->sent) {
                p->sent = true;
                p->run->Send("10.198.75.60", 7000, "1.2.3.4", 80, "second");
                p->run->Send("10.198.75.60", 7001, "5.6.7.8", 99, "third");
                return;
            }
            BReactor_RestartTimer(&p->run->reactor, &p->timer);
        },
        &poll);
    BReactor_RestartTimer(&run.reactor, &poll.timer);
    ASSERT_EQ(run.Run(), 0);
    BReactor_StopTimer(&run.reactor, &poll.timer);

    EXPECT_TRUE(log.Contains("SOCKS error", BLOG_CHANNEL_SocksUdpGwClient));
    EXPECT_EQ(peer.connects().size(), 2u);
    auto by = ByConId(peer.frames());
    ASSERT_EQ(by[0].size(), 2u);
    EXPECT_EQ(by[0][0].connection, 0);
    EXPECT_EQ(by[0][1].connection, 1);
    EXPECT_EQ(by[0][1].payload, "second") << "the flow keeps its id across the new stream";
    ASSERT_EQ(by[1].size(), 1u);
    EXPECT_EQ(by[1][0].flags, 0x02);
    ASSERT_EQ(run.received.size(), 1u);
    EXPECT_EQ(run.received[0].local, "10.198.75.60:7001");
}

TEST(UdpGwClient, FullTableReusesLeastRecentlyUsedId) {
    UdpGwPeer peer([](const UdpGwPeer::Frame& f) {
        UdpGwPeer::Reply r;
        if (f.payload == "f4") {
            r.packets = {UdpGwPeer::Packet(0, f.conid, "2.2.2.2", 2, "late reply of f2"),
                         UdpGwPeer::Packet(0, f.conid, "4.4.4.4", 4, "for f4")};
        }
        return r;
    });
    UdpGwRun run(peer.port(), 10000, 3);
    run.Send("10.0.0.1", 1001, "1.1.1.1", 1, "f1");
    run.Send("10.0.0.1", 1002, "2.2.2.2", 2, "f2");
    run.Send("10.0.0.1", 1003, "3.3.3.3", 3, "f3");
    run.Send("10.0.0.1", 1001, "1.1.1.1", 1, "f1 again");  // f1 is now the most recently used
    run.Send("10.0.0.1", 1004, "4.4.4.4", 4, "f4");        // takes f2's id
    ASSERT_EQ(run.Run(), 0);

    auto by = ByConId(peer.frames());
    ASSERT_EQ(by.size(), 3u);
    ASSERT_EQ(by[0].size(), 2u);
    EXPECT_EQ(by[0][0].payload, "f1");
    EXPECT_EQ(by[0][0].flags, 0x02);
    EXPECT_EQ(by[0][1].flags, 0x00);
    ASSERT_EQ(by[1].size(), 2u);
    EXPECT_EQ(by[1][0].payload, "f2");
    EXPECT_EQ(by[1][1].payload, "f4");
    EXPECT_EQ(by[1][1].flags, 0x02) << "a reused id starts with the rebind flag";
    ASSERT_EQ(by[2].size(), 1u);
    EXPECT_EQ(by[2][0].payload, "f3");
    ASSERT_EQ(run.received.size(), 1u) << "the late reply of the old flow is dropped";
    EXPECT_EQ(run.received[0].local, "10.0.0.1:1004");
    EXPECT_EQ(run.received[0].payload, "for f4");
}

TEST(UdpGwClient, FullBufferDropsDatagramsWhileNoStream) {
    testsupport::BLogCapture log;
    int closed_port = testsupport::FreeLoopbackPort();
    UdpGwRun run(closed_port, 10000, 500, 60000);
    std::string big(kUdpMtu, 'D');
    for (int i = 0; i < 20; ++i) run.Send("10.198.75.60", 9000, "7.7.7.7", 7, big);
    // Let the first-packet job and the flows settle, then look.
    struct Stop {
        BReactor* r;
        BReactorTimer t;
    } stop{&run.reactor, {}};
    BReactorTimer_Init(
        &stop.t, 50, [](void* u) { BReactor_RequestExit(static_cast<Stop*>(u)->r, 0); }, &stop);
    BReactor_RestartTimer(&run.reactor, &stop.t);
    ASSERT_EQ(run.Run(), 0);
    int dropped = log.Count("out of buffer");
    EXPECT_GE(20 - dropped, 8) << "room for 8 frames of the largest size";
    EXPECT_GT(dropped, 0);
}
