#include "engine/system/bconnection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/flow/packet_to_stream_sender.h"
#include "tests/support/flow_harness.h"
#include "tests/support/loopback_peer.h"
#include "tests/support/net.h"

using enginetest::LoopbackPeer;

namespace {

struct Transfer {
    BReactor reactor;
    BConnector connector;
    BConnection con;
    PacketToStreamSender sender;
    std::string payload;
    uint8_t recv_buf[64];
    int events = 0;
    bool sent = false;
};

}  // namespace

// A payload far larger than the socket buffers: sends come back partial or
// would block, and the sender carries on from where each one stopped.
TEST(BConnection, LargeSendArrivesWholeThroughPartialWrites) {
    LoopbackPeer peer({enginetest::ReadAll()});
    Transfer t;
    BTime_Start();
    ASSERT_EQ(BReactor_Init(&t.reactor), 1);
    t.payload.resize(8 << 20);
    for (size_t i = 0; i < t.payload.size(); ++i) t.payload[i] = static_cast<char>(i * 31 + (i >> 12));

    ASSERT_EQ(BConnector_Init(&t.connector, peer.addr(), &t.reactor, &t,
                              [](void* u, int is_error) {
                                  auto* t = static_cast<Transfer*>(u);
                                  ASSERT_EQ(is_error, 0);
                                  ASSERT_EQ(BConnection_Init(
                                                &t->con, &t->connector, &t->reactor, t,
                                                [](void* u, int) { static_cast<Transfer*>(u)->events++; }),
                                            1);
                                  BConnection_SendStream_Init(&t->con);
                                  BConnection_RecvStream_Init(&t->con);
                                  PacketToStreamSender_Init(&t->sender, BConnection_SendStream_GetIf(&t->con),
                                                            1 << 30, BReactor_JobStack(&t->reactor));
                                  PacketSink_Sender_Init(
                                      PacketToStreamSender_GetInput(&t->sender),
                                      [](void* u) {
                                          auto* t = static_cast<Transfer*>(u);
                                          t->sent = true;
                                          BReactor_RequestExit(&t->reactor, 0);
                                      },
                                      t);
                                  PacketSink_Sender_Send(PacketToStreamSender_GetInput(&t->sender),
                                                         reinterpret_cast<uint8_t*>(t->payload.data()),
                                                         static_cast<int>(t->payload.size()));
                                  // A receive that is still pending when the connection is freed below.
                                  StreamSource_Receiver_Init(
                                      BConnection_RecvStream_GetIf(&t->con), [](void*, int) {}, nullptr);
                                  StreamSource_Receiver_Recv(BConnection_RecvStream_GetIf(&t->con),
                                                             t->recv_buf, sizeof t->recv_buf);
                              }),
              1);
    BReactor_Run(&t.reactor);
    ASSERT_TRUE(t.sent);
    EXPECT_EQ(t.events, 0);
    PacketToStreamSender_Free(&t.sender);
    BConnection_SendStream_Free(&t.con);
    BConnection_RecvStream_Free(&t.con);
    BConnection_Free(&t.con);
    BReactor_Free(&t.reactor);
    peer.Join();
    EXPECT_TRUE(peer.received == t.payload) << "received " << peer.received.size() << " bytes";
}

namespace {

struct ResetRun {
    BReactor reactor;
    BConnector connector;
    BConnection con;
    int listen_fd = -1;
    int peer_fd = -1;
    std::string payload = std::string(8 << 20, 'p');
    int sent = 0;
    uint8_t buf[64];
    std::vector<int> events;
    BReactorTimer poll;
    BReactorTimer guard;

    void SendRest() {
        StreamSink_Sender_Send(BConnection_SendStream_GetIf(&con),
                               reinterpret_cast<uint8_t*>(payload.data()) + sent,
                               static_cast<int>(payload.size()) - sent);
    }
};

}  // namespace

// The peer resets while a send and a receive both wait: the receive takes the
// reset and the send then meets a shut socket, which raises SIGPIPE (and ends
// the process) unless the send asks not to.
TEST(BConnection, PeerResetIsOneErrorEventAndNoSigpipe) {
    struct sigaction dfl {
    }, old{};
    dfl.sa_handler = SIG_DFL;
    ASSERT_EQ(sigaction(SIGPIPE, &dfl, &old), 0);
    ResetRun t;
    int port = 0;
    t.listen_fd = testsupport::ListenLoopback(&port);
    ASSERT_GE(t.listen_fd, 0);
    BTime_Start();
    ASSERT_EQ(BReactor_Init(&t.reactor), 1);
    flowtest::StartGuard(&t.reactor, &t.guard);
    BAddr addr;
    BAddr_InitIPv4(&addr, htonl(INADDR_LOOPBACK), htons(static_cast<uint16_t>(port)));

    ASSERT_EQ(BConnector_Init(&t.connector, addr, &t.reactor, &t,
                              [](void* u, int is_error) {
                                  auto* t = static_cast<ResetRun*>(u);
                                  ASSERT_EQ(is_error, 0);
                                  t->peer_fd = accept(t->listen_fd, nullptr,
                                                      nullptr);  // already queued: does not block
                                  ASSERT_EQ(BConnection_Init(&t->con, &t->connector, &t->reactor, t,
                                                             [](void* u, int event) {
                                                                 auto* t = static_cast<ResetRun*>(u);
                                                                 t->events.push_back(event);
                                                                 BReactor_RequestExit(&t->reactor, 0);
                                                             }),
                                            1);
                                  BConnection_SendStream_Init(&t->con);
                                  BConnection_RecvStream_Init(&t->con);
                                  StreamSink_Sender_Init(
                                      BConnection_SendStream_GetIf(&t->con),
                                      [](void* u, int len) {
                                          auto* t = static_cast<ResetRun*>(u);
                                          t->sent += len;
                                          if (t->sent < static_cast<int>(t->payload.size())) t->SendRest();
                                      },
                                      t);
                                  t->SendRest();
                                  StreamSource_Receiver_Init(
                                      BConnection_RecvStream_GetIf(&t->con), [](void*, int) {}, nullptr);
                                  StreamSource_Receiver_Recv(BConnection_RecvStream_GetIf(&t->con), t->buf,
                                                             sizeof t->buf);
                                  // Reset the peer once both operations wait for the socket.
                                  BReactorTimer_Init(
                                      &t->poll, 1,
                                      [](void* u) {
                                          auto* t = static_cast<ResetRun*>(u);
                                          if (t->con.send_op.state == BREACTOROP_STATE_WAITING &&
                                              t->con.recv_op.state == BREACTOROP_STATE_WAITING) {
                                              linger lg{1, 0};
                                              setsockopt(t->peer_fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
                                              close(t->peer_fd);
                                              t->peer_fd = -1;
                                              return;
                                          }
                                          BReactor_RestartTimer(&t->reactor, &t->poll);
                                      },
                                      t);
                                  BReactor_RestartTimer(&t->reactor, &t->poll);
                              }),
              1);
    EXPECT_EQ(BReactor_Run(&t.reactor), 0);
    EXPECT_EQ(t.events, (std::vector<int>{BCONNECTION_EVENT_ERROR}));
    BReactor_StopTimer(&t.reactor, &t.poll);
    BReactor_StopTimer(&t.reactor, &t.guard);
    BConnection_SendStream_Free(&t.con);
    BConnection_RecvStream_Free(&t.con);
    BConnection_Free(&t.con);
    BReactor_Free(&t.reactor);
    if (t.peer_fd >= 0) close(t.peer_fd);
    close(t.listen_fd);
    sigaction(SIGPIPE, &old, nullptr);
}
