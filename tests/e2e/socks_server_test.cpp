// The engine's SOCKS 5 and udpgw clients against a real SOCKS 5 server from
// Debian (microsocks), started on 127.0.0.1 by the test.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <string>
#include <thread>

#include "engine/socksclient/bsocksclient.h"
#include "engine/socksclient/socks_udpgw_client.h"
#include "tests/support/blog_capture.h"
#include "tests/support/echo_servers.h"
#include "tests/support/flow_harness.h"
#include "tests/support/net.h"
#include "tests/support/udpgw_peer.h"

namespace {

BAddr Loopback(int port) {
    BAddr a;
    BAddr_InitIPv4(&a, htonl(INADDR_LOOPBACK), htons(static_cast<uint16_t>(port)));
    return a;
}

bool WaitForListener(int port, std::chrono::milliseconds deadline) {
    auto until = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < until) {
        int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        close(s);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

class RealSocksServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::HaveProgram("microsocks")) GTEST_SKIP() << "microsocks is not installed";
        port_ = testsupport::FreeLoopbackPort();
        server_ = testsupport::ChildProcess({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port_)});
        ASSERT_TRUE(WaitForListener(port_, std::chrono::seconds(5))) << "microsocks did not start";
        BTime_Start();
        ASSERT_EQ(BReactor_Init(&reactor_), 1);
        flowtest::StartGuard(&reactor_, &guard_);
    }
    void TearDown() override {
        if (IsSkipped()) return;
        BReactor_StopTimer(&reactor_, &guard_);
        BReactor_Free(&reactor_);
    }

    int port_ = 0;
    testsupport::ChildProcess server_;
    BReactor reactor_;
    BReactorTimer guard_;
};

}  // namespace

TEST_F(RealSocksServer, ConnectThroughItToAnEchoServer) {
    testsupport::BLogCapture log;
    testsupport::TcpEchoServer echo;
    struct Ctx {
        BReactor* reactor;
        BSocksClient client;
        std::string message;
        std::string got;
        uint8_t buf[8192];
        int sent = 0;
        int up = 0;
        int error = 0;
    } ctx{&reactor_, {}, std::string(100000, 'e'), {}, {}};
    for (size_t i = 0; i < ctx.message.size(); ++i) ctx.message[i] = static_cast<char>('a' + i % 26);

    BSocksClient_auth_info none = BSocksClient_auth_none();
    ASSERT_EQ(BSocksClient_Init(
                  &ctx.client, Loopback(port_), &none, 1, Loopback(echo.port()),
                  [](void* u, int event) {
                      auto* c = static_cast<Ctx*>(u);
                      if (event != BSOCKSCLIENT_EVENT_UP) {
                          c->error = event;
                          BReactor_RequestExit(c->reactor, 1);
                          return;
                      }
                      c->up = 1;
                      StreamSink* send = BSocksClient_GetSendInterface(&c->client);
                      StreamSource* recv = BSocksClient_GetRecvInterface(&c->client);
                      StreamSink_Sender_Init(
                          send,
                          [](void* u, int len) {
                              auto* c = static_cast<Ctx*>(u);
                              c->sent += len;
                              if (c->sent < static_cast<int>(c->message.size())) {
                                  StreamSink_Sender_Send(
                                      BSocksClient_GetSendInterface(&c->client),
                                      reinterpret_cast<uint8_t*>(c->message.data()) + c->sent,
                                      static_cast<int>(c->message.size()) - c->sent);
                              }
                          },
                          c);
                      StreamSink_Sender_Send(send, reinterpret_cast<uint8_t*>(c->message.data()),
                                             static_cast<int>(c->message.size()));
                      StreamSource_Receiver_Init(
                          recv,
                          [](void* u, int len) {
                              auto* c = static_cast<Ctx*>(u);
                              c->got.append(reinterpret_cast<char*>(c->buf), static_cast<size_t>(len));
                              if (c->got.size() == c->message.size()) {
                                  BReactor_RequestExit(c->reactor, 0);
                                  return;
                              }
                              StreamSource_Receiver_Recv(BSocksClient_GetRecvInterface(&c->client), c->buf,
                                                         sizeof c->buf);
                          },
                          c);
                      StreamSource_Receiver_Recv(recv, c->buf, sizeof c->buf);
                  },
                  &ctx, &reactor_),
              1);
    EXPECT_EQ(BReactor_Run(&reactor_), 0);
    EXPECT_EQ(ctx.up, 1);
    EXPECT_EQ(ctx.error, 0);
    EXPECT_TRUE(ctx.got == ctx.message)
        << "echoed " << ctx.got.size() << " of " << ctx.message.size() << " bytes";
    BSocksClient_Free(&ctx.client);
}

TEST_F(RealSocksServer, UdpgwFramesTravelThroughIt) {
    testsupport::UdpGwPeer peer(
        [](const testsupport::UdpGwPeer::Frame& f) {
            testsupport::UdpGwPeer::Reply r;
            r.packets = {
                testsupport::UdpGwPeer::Packet(0, f.conid, "192.0.2.53", 53, "reply to " + f.payload)};
            return r;
        },
        false);
    struct Ctx {
        BReactor* reactor;
        std::string got;
    } ctx{&reactor_, {}};
    SocksUdpGwClient client;
    BSocksClient_auth_info none = BSocksClient_auth_none();
    ASSERT_EQ(SocksUdpGwClient_Init(&client, 1472, 500, 8, 10000, Loopback(port_), &none, 1,
                                    Loopback(peer.port()), 5000, &reactor_, &ctx,
                                    [](void* u, BAddr, BAddr, const uint8_t* data, int len) {
                                        auto* c = static_cast<Ctx*>(u);
                                        c->got.assign(reinterpret_cast<const char*>(data),
                                                      static_cast<size_t>(len));
                                        BReactor_RequestExit(c->reactor, 0);
                                    }),
              1);
    static const std::string query = "query";
    BAddr local, remote;
    BAddr_InitIPv4(&local, inet_addr("10.198.75.60"), htons(40000));
    BAddr_InitIPv4(&remote, inet_addr("192.0.2.53"), htons(53));
    SocksUdpGwClient_SendDatagram(&client, local, remote, 0, reinterpret_cast<const uint8_t*>(query.data()),
                                  static_cast<int>(query.size()));
    EXPECT_EQ(BReactor_Run(&reactor_), 0);
    EXPECT_EQ(ctx.got, "reply to query");
    SocksUdpGwClient_Free(&client);
}
