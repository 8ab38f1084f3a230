#include "engine/system/bconnection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/flow/packet_to_stream_sender.h"
#include "tests/support/loopback_peer.h"

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

    ASSERT_EQ(BConnector_Init(&t.connector, peer.addr(), &t.reactor, &t, [](void* u, int is_error) {
        auto* t = static_cast<Transfer*>(u);
        ASSERT_EQ(is_error, 0);
        ASSERT_EQ(BConnection_Init(&t->con, &t->connector, &t->reactor, t, [](void* u, int) {
            static_cast<Transfer*>(u)->events++;
        }), 1);
        BConnection_SendStream_Init(&t->con);
        BConnection_RecvStream_Init(&t->con);
        PacketToStreamSender_Init(&t->sender, BConnection_SendStream_GetIf(&t->con), 1 << 30,
                                  BReactor_JobStack(&t->reactor));
        PacketSink_Sender_Init(PacketToStreamSender_GetInput(&t->sender), [](void* u) {
            auto* t = static_cast<Transfer*>(u);
            t->sent = true;
            BReactor_RequestExit(&t->reactor, 0);
        }, t);
        PacketSink_Sender_Send(PacketToStreamSender_GetInput(&t->sender),
                               reinterpret_cast<uint8_t*>(t->payload.data()), static_cast<int>(t->payload.size()));
        // A receive that is still pending when the connection is freed below.
        StreamSource_Receiver_Init(BConnection_RecvStream_GetIf(&t->con), [](void*, int) {}, nullptr);
        StreamSource_Receiver_Recv(BConnection_RecvStream_GetIf(&t->con), t->recv_buf, sizeof t->recv_buf);
    }), 1);
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
