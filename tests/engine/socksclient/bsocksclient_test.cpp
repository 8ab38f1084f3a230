#include "engine/socksclient/bsocksclient.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/blog_capture.h"
#include "tests/support/flow_harness.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/net.h"

using enginetest::Close;
using enginetest::kSocksHelloReply;
using enginetest::kSocksReplyV4;
using enginetest::LoopbackPeer;
using enginetest::Read;
using enginetest::ReadAll;
using enginetest::Write;

namespace {

// Drives one SOCKS client on a fresh reactor until it reports an event.
struct SocksRun {
    BReactor reactor;
    BSocksClient client;
    std::vector<int> events;
    // Returns true to end the run; by default every event ends it.
    std::function<bool(int)> on_event = [](int) { return true; };
    BReactorTimer guard;
    testsupport::BLogCapture log;

    SocksRun() {
        BTime_Start();
        EXPECT_EQ(BReactor_Init(&reactor), 1);
        // Ends a test that would otherwise hang; never reached when it passes.
        flowtest::StartGuard(&reactor, &guard);
    }
    ~SocksRun() {
        BReactor_StopTimer(&reactor, &guard);
        BReactor_Free(&reactor);
    }

    static void Handler(void* user, int event) {
        auto* r = static_cast<SocksRun*>(user);
        r->events.push_back(event);
        if (r->on_event(event)) BReactor_RequestExit(&r->reactor, 0);
    }

    int Run(BAddr server, BAddr dest, const BSocksClient_auth_info* auth, size_t n_auth) {
        EXPECT_EQ(BSocksClient_Init(&client, server, auth, n_auth, dest, Handler, this, &reactor), 1);
        return BReactor_Run(&reactor);
    }
};

BAddr Dest(const char* ip, int port) {
    BAddr d;
    BAddr_InitIPv4(&d, inet_addr(ip), htons(static_cast<uint16_t>(port)));
    return d;
}

}  // namespace

TEST(BSocksClient, NegotiatesWithRepliesSplitIntoSingleBytes) {
    LoopbackPeer peer({Read(3), Write(kSocksHelloReply, 1), Read(10), Write(kSocksReplyV4, 1), ReadAll()});
    SocksRun run;
    BSocksClient_auth_info none = BSocksClient_auth_none();
    ASSERT_EQ(run.Run(peer.addr(), Dest("10.1.2.3", 443), &none, 1), 0);
    ASSERT_EQ(run.events, (std::vector<int>{BSOCKSCLIENT_EVENT_UP}));
    EXPECT_EQ(run.client.state, BSOCKSCLIENT_STATE_UP);
    BSocksClient_Free(&run.client);
    peer.Join();
    EXPECT_EQ(peer.received, std::string("\x05\x01\x00"
                                         "\x05\x01\x00\x01\x0a\x01\x02\x03\x01\xbb",
                                         13));
}

TEST(BSocksClient, RefusalsAndEarlyCloseAreErrors) {
    struct Case {
        const char* what;
        std::vector<enginetest::Step> script;
        const char* message;  // expected in the log, or null
    } cases[] = {
        {"method 255",
         {Read(3), Write("\x05\xff"), ReadAll()},
         "server didn't accept any authentication method"},
        {"hello version", {Read(3), Write(std::string("\x04\x00", 2)), ReadAll()}, "wrong version"},
        {"reply failure",
         {Read(3), Write(kSocksHelloReply), Read(10), Write(std::string("\x05\x05\x00\x01", 4)), ReadAll()},
         "reply not successful"},
        {"address type 3",
         {Read(3), Write(kSocksHelloReply), Read(10),
          Write(std::string("\x05\x00\x00\x03\x09localhost\x00\x50", 16)), ReadAll()},
         "reply has unknown address type"},
        {"close before reply", {Read(3), Write(kSocksHelloReply), Read(10), Close()}, nullptr},
        {"close before hello reply", {Read(3), Close()}, nullptr},
        {"close in reply rest",
         {Read(3), Write(kSocksHelloReply), Read(10), Write(kSocksReplyV4.substr(0, 6)), Close()},
         nullptr},
    };
    for (const auto& c : cases) {
        LoopbackPeer peer(c.script);
        SocksRun run;
        BSocksClient_auth_info none = BSocksClient_auth_none();
        run.Run(peer.addr(), Dest("10.1.2.3", 80), &none, 1);
        EXPECT_EQ(run.events, (std::vector<int>{BSOCKSCLIENT_EVENT_ERROR})) << c.what;
        if (c.message) {
            EXPECT_TRUE(run.log.Contains(c.message, BLOG_CHANNEL_BSocksClient)) << c.what;
        }
        BSocksClient_Free(&run.client);
    }
}

TEST(BSocksClient, ReservedByteIgnoredAndIPv6Request) {
    // Reply with a non-zero reserved byte and an IPv6 bound address.
    std::string reply6 =
        std::string("\x05\x00\x7f\x04", 4) + std::string(16, '\x01') + std::string("\x00\x35", 2);
    LoopbackPeer peer({Read(3), Write(kSocksHelloReply), Read(22), Write(reply6), ReadAll()});
    SocksRun run;
    BSocksClient_auth_info none = BSocksClient_auth_none();
    uint8_t ip6[16];
    inet_pton(AF_INET6, "2001:db8::1", ip6);
    BAddr dest;
    BAddr_InitIPv6(&dest, ip6, htons(53));
    run.Run(peer.addr(), dest, &none, 1);
    ASSERT_EQ(run.events, (std::vector<int>{BSOCKSCLIENT_EVENT_UP}));
    BSocksClient_Free(&run.client);
    peer.Join();
    ASSERT_EQ(peer.received.size(), 3u + 22u);
    std::string req = peer.received.substr(3);
    EXPECT_EQ(req.substr(0, 4), std::string("\x05\x01\x00\x04", 4));
    EXPECT_EQ(req.substr(4, 16), std::string(reinterpret_cast<char*>(ip6), 16));
    EXPECT_EQ(req.substr(20), std::string("\x00\x35", 2));
}

TEST(BSocksClient, PasswordMethodWhenServerChoosesIt) {
    LoopbackPeer peer({Read(4), Write("\x05\x02"), Read(3 + 4 + 6), Write(std::string("\x01\x00", 2)),
                       Read(10), Write(kSocksReplyV4), ReadAll()});
    SocksRun run;
    BSocksClient_auth_info auth[2] = {BSocksClient_auth_none(),
                                      BSocksClient_auth_password("user", 4, "secret", 6)};
    run.Run(peer.addr(), Dest("1.2.3.4", 80), auth, 2);
    ASSERT_EQ(run.events, (std::vector<int>{BSOCKSCLIENT_EVENT_UP}));
    BSocksClient_Free(&run.client);
    peer.Join();
    EXPECT_EQ(peer.received.substr(0, 4), std::string("\x05\x02\x00\x02", 4));
    EXPECT_EQ(peer.received.substr(4, 13), std::string("\x01\x04user\x06secret", 13));
}

TEST(BSocksClient, DataFlowsAfterUpAndServerCloseIsEvent3) {
    LoopbackPeer peer(
        {Read(3), Write(kSocksHelloReply), Read(10), Write(kSocksReplyV4), Read(5), Write("world"), Close()});
    SocksRun run;
    struct Ctx {
        BSocksClient* client;
        std::string got;
        uint8_t buf[16];
        uint8_t hello[5] = {'h', 'e', 'l', 'l', 'o'};
    } ctx{&run.client, {}, {}};
    run.on_event = [&ctx](int event) {
        if (event != BSOCKSCLIENT_EVENT_UP) return true;
        // The user drives the connection's streams directly once it is up.
        StreamSink* send = BSocksClient_GetSendInterface(ctx.client);
        StreamSource* recv = BSocksClient_GetRecvInterface(ctx.client);
        StreamSink_Sender_Init(
            send, [](void*, int) {}, nullptr);
        StreamSink_Sender_Send(send, ctx.hello, 5);
        StreamSource_Receiver_Init(
            recv,
            [](void* u, int len) {
                auto* c = static_cast<Ctx*>(u);
                c->got.append(reinterpret_cast<char*>(c->buf), static_cast<size_t>(len));
                StreamSource_Receiver_Recv(BSocksClient_GetRecvInterface(c->client), c->buf, sizeof c->buf);
            },
            &ctx);
        StreamSource_Receiver_Recv(recv, ctx.buf, sizeof ctx.buf);
        return false;
    };
    BSocksClient_auth_info none = BSocksClient_auth_none();
    run.Run(peer.addr(), Dest("10.0.0.9", 7), &none, 1);
    EXPECT_EQ(run.events, (std::vector<int>{BSOCKSCLIENT_EVENT_UP, BSOCKSCLIENT_EVENT_ERROR_CLOSED}));
    EXPECT_EQ(ctx.got, "world") << "all data before the close is delivered";
    BSocksClient_Free(&run.client);
    peer.Join();
    EXPECT_EQ(peer.received.substr(13), "hello");
}

TEST(BSocksClient, ConnectionRefused) {
    SocksRun run;
    BAddr closed;
    BAddr_InitIPv4(&closed, htonl(INADDR_LOOPBACK),
                   htons(static_cast<uint16_t>(testsupport::FreeLoopbackPort())));
    BSocksClient_auth_info none = BSocksClient_auth_none();
    run.Run(closed, Dest("10.0.0.9", 7), &none, 1);
    EXPECT_EQ(run.events, (std::vector<int>{BSOCKSCLIENT_EVENT_ERROR}));
    EXPECT_TRUE(run.log.Contains("connection failed", BLOG_CHANNEL_BConnection));
    BSocksClient_Free(&run.client);
}
