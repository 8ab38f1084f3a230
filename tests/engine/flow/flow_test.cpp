#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/flow/packet_fair_queue.h"
#include "engine/flow/packet_idle_monitor.h"
#include "engine/flow/packet_proto.h"
#include "engine/flow/packet_proto_flow.h"
#include "engine/flow/packet_sink_connector.h"
#include "engine/flow/packet_to_stream_sender.h"
#include "engine/flow/single_packet_buffer.h"
#include "tests/support/blog_capture.h"
#include "tests/support/flow_harness.h"

using namespace flowtest;

namespace {

class FlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        BTime_Start();
        ASSERT_EQ(BReactor_Init(&reactor), 1);
    }
    void TearDown() override { BReactor_Free(&reactor); }
    BJobStack* jobs() { return BReactor_JobStack(&reactor); }
    BReactor reactor;
};

void CountError(void* user) {
    ++*static_cast<int*>(user);
}

}  // namespace

TEST_F(FlowTest, DecoderDeliversFramesWhateverTheChunking) {
    // A small MTU makes partial frames reach the end of the buffer and move.
    const std::vector<std::string> payloads = {"hello", "", std::string(10, 'z'), "a", std::string(9, 'q'),
                                               "xyz"};
    std::string stream;
    for (const auto& p : payloads) stream += Frame(p);
    for (int chunk : {1, 2, 3, 5, 7, 1000}) {
        FeedSource src(&reactor);
        src.chunk = chunk;
        RecordSink sink(&reactor, 10);
        PacketProtoDecoder dec;
        int errors = 0;
        ASSERT_EQ(PacketProtoDecoder_Init(&dec, &src.iface, &sink.iface, jobs(), &errors, CountError), 1);
        for (char c : stream) {
            src.Push(std::string(1, c));  // the stream arrives one byte at a time
            DrainJobs(&reactor);
        }
        EXPECT_EQ(sink.packets, payloads) << "chunk " << chunk;
        EXPECT_EQ(errors, 0);
        PacketProtoDecoder_Free(&dec);
    }
}

TEST_F(FlowTest, DecoderRefusesFrameAboveMtu) {
    testsupport::BLogCapture log;
    FeedSource src(&reactor);
    src.chunk = 100;
    RecordSink sink(&reactor, 4);
    PacketProtoDecoder dec;
    int errors = 0;
    ASSERT_EQ(PacketProtoDecoder_Init(&dec, &src.iface, &sink.iface, jobs(), &errors, CountError), 1);
    src.Push(Frame("abcd"));
    DrainJobs(&reactor);
    src.Push(Frame("abcde").substr(0, 2));  // the length alone is enough to refuse it
    DrainJobs(&reactor);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(sink.packets, (std::vector<std::string>{"abcd"}));
    EXPECT_TRUE(log.Contains("error: packet too large", BLOG_CHANNEL_PacketProtoDecoder));
    // Reading goes on from a clean buffer.
    src.Push(Frame("ok"));
    DrainJobs(&reactor);
    EXPECT_EQ(sink.packets.back(), "ok");
    PacketProtoDecoder_Free(&dec);
}

TEST_F(FlowTest, PacketToStreamSenderWritesWholePacketInPieces) {
    RecordStream stream(&reactor);
    stream.chunk = 3;
    PacketToStreamSender sender;
    PacketToStreamSender_Init(&sender, &stream.iface, 100, jobs());
    FeedPackets src(&reactor, 100);
    SinglePacketBuffer spb;
    ASSERT_EQ(SinglePacketBuffer_Init(&spb, &src.iface, PacketToStreamSender_GetInput(&sender), jobs()), 1);
    src.Push("0123456789");
    src.Push("");
    src.Push("ab");
    DrainJobs(&reactor);
    EXPECT_EQ(stream.bytes, "0123456789ab");
    EXPECT_EQ(stream.sends, 5);  // 3+3+3+1, then 2; the empty packet sends nothing
    SinglePacketBuffer_Free(&spb);
    PacketToStreamSender_Free(&sender);
}

TEST_F(FlowTest, ProtoFlowFramesAndBuffersUpToItsCount) {
    RecordSink sink(&reactor, 2 + 50);
    sink.hold = true;
    PacketProtoFlow flow;
    ASSERT_EQ(PacketProtoFlow_Init(&flow, 50, 3, &sink.iface, jobs()), 1);
    DrainJobs(&reactor);
    PacketWriter* w = PacketProtoFlow_GetInput(&flow);

    // Full-size packets: one goes to the (held) output, three wait in the ring.
    int accepted = 0;
    for (int i = 0; i < 10; ++i) {
        uint8_t* buf = PacketWriter_StartPacket(w);
        if (!buf) break;
        std::memset(buf, 'a' + i, 50);
        PacketWriter_EndPacket(w, 50);
        DrainJobs(&reactor);
        ++accepted;
    }
    EXPECT_EQ(accepted, 4);
    ASSERT_EQ(sink.packets.size(), 1u);
    EXPECT_EQ(sink.packets[0], Frame(std::string(50, 'a')));

    // Draining makes room again; packets leave in order.
    sink.Release();
    DrainJobs(&reactor);
    EXPECT_NE(PacketWriter_StartPacket(w), nullptr);
    while (sink.busy) {
        sink.Release();
        DrainJobs(&reactor);
    }
    ASSERT_EQ(sink.packets.size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(sink.packets[static_cast<size_t>(i)], Frame(std::string(50, 'a' + i)));
    PacketProtoFlow_Free(&flow);
}

TEST_F(FlowTest, RingKeepsOrderAcrossWrapAround) {
    RecordSink sink(&reactor, 2 + 37);
    sink.hold = true;
    PacketProtoFlow flow;
    ASSERT_EQ(PacketProtoFlow_Init(&flow, 37, 4, &sink.iface, jobs()), 1);
    DrainJobs(&reactor);
    PacketWriter* w = PacketProtoFlow_GetInput(&flow);
    std::vector<std::string> sent;
    unsigned seed = 7;
    // Alternate between filling and draining with packets of varying size.
    for (int round = 0; round < 300; ++round) {
        seed = seed * 1103515245 + 12345;
        if (seed % 3 != 0) {
            uint8_t* buf = PacketWriter_StartPacket(w);
            if (buf) {
                int len = static_cast<int>((seed >> 8) % 38);
                std::string p;
                for (int i = 0; i < len; ++i) p += static_cast<char>('A' + (round + i) % 26);
                std::memcpy(buf, p.data(), p.size());
                PacketWriter_EndPacket(w, len);
                sent.push_back(Frame(p));
            }
        } else if (sink.busy) {
            sink.Release();
        }
        DrainJobs(&reactor);
    }
    while (sink.busy) {
        sink.Release();
        DrainJobs(&reactor);
    }
    EXPECT_EQ(sink.packets, sent);
    PacketProtoFlow_Free(&flow);
}

TEST_F(FlowTest, ConnectorHoldsPacketAndResendsAfterReconnect) {
    PacketSinkConnector conn;
    PacketSinkConnector_Init(&conn, 20, jobs());
    FeedPackets src(&reactor, 20);
    SinglePacketBuffer spb;
    ASSERT_EQ(SinglePacketBuffer_Init(&spb, &src.iface, PacketSinkConnector_GetInput(&conn), jobs()), 1);
    src.Push("first");
    src.Push("second");
    DrainJobs(&reactor);

    {
        RecordSink a(&reactor, 20);
        a.hold = true;
        PacketSinkConnector_ConnectOutput(&conn, &a.iface);
        DrainJobs(&reactor);
        EXPECT_EQ(a.packets, (std::vector<std::string>{"first"})) << "the held packet is delivered once";
        PacketSinkConnector_DisconnectOutput(&conn);  // while "first" is in transit
    }
    RecordSink b(&reactor, 20);
    PacketSinkConnector_ConnectOutput(&conn, &b.iface);
    DrainJobs(&reactor);
    EXPECT_EQ(b.packets, (std::vector<std::string>{"first", "second"}));
    SinglePacketBuffer_Free(&spb);
    PacketSinkConnector_Free(&conn);
}

TEST_F(FlowTest, FairQueueBalancesBytesWithoutCatchUpBursts) {
    RecordSink out(&reactor, 1000);
    PacketFairQueue fq;
    ASSERT_EQ(PacketFairQueue_Init(&fq, &out.iface, jobs(), 1), 1);
    PacketFairQueueFlow big, small, late;
    PacketFairQueueFlow_Init(&big, &fq);
    PacketFairQueueFlow_Init(&small, &fq);
    PacketFairQueueFlow_Init(&late, &fq);
    FeedPackets big_src(&reactor, 1000), small_src(&reactor, 1000), late_src(&reactor, 1000);
    SinglePacketBuffer b1, b2, b3;
    ASSERT_EQ(SinglePacketBuffer_Init(&b1, &big_src.iface, PacketFairQueueFlow_GetInput(&big), jobs()), 1);
    ASSERT_EQ(SinglePacketBuffer_Init(&b2, &small_src.iface, PacketFairQueueFlow_GetInput(&small), jobs()),
              1);
    ASSERT_EQ(SinglePacketBuffer_Init(&b3, &late_src.iface, PacketFairQueueFlow_GetInput(&late), jobs()), 1);
    for (int i = 0; i < 40; ++i) big_src.pending.push_back(std::string(1000, 'B'));
    for (int i = 0; i < 400; ++i) small_src.pending.push_back(std::string(100, 's'));
    big_src.Feed();
    small_src.Feed();

    // Send one packet at a time and check the totals after each.
    out.hold = true;
    DrainJobs(&reactor);
    long long bytes_big = 0, bytes_small = 0, max_gap = 0;
    auto account = [&](const std::string& p) {
        if (p[0] == 'B') bytes_big += static_cast<long long>(p.size());
        if (p[0] == 's') bytes_small += static_cast<long long>(p.size());
    };
    size_t seen = 0;
    for (int step = 0; step < 200 && out.busy; ++step) {
        for (; seen < out.packets.size(); ++seen) account(out.packets[seen]);
        max_gap = std::max(max_gap, std::llabs(bytes_big - bytes_small));
        out.Release();
        DrainJobs(&reactor);
    }
    EXPECT_LE(max_gap, 1000 + 100 + 2) << "byte totals drift apart by more than a packet of each";
    EXPECT_GT(bytes_big, 5000);
    EXPECT_GT(bytes_small, 5000);

    // A flow that was silent until now gets its fair share, not a burst.
    late_src.pending.assign(30, std::string(100, 'L'));
    late_src.Feed();
    DrainJobs(&reactor);
    size_t mark = out.packets.size();
    for (int step = 0; step < 30 && out.busy; ++step) {
        out.Release();
        DrainJobs(&reactor);
    }
    int late_turns = 0, longest_run = 0, run = 0;
    for (size_t i = mark; i < out.packets.size(); ++i) {
        bool is_late = out.packets[i][0] == 'L';
        late_turns += is_late;
        run = is_late ? run + 1 : 0;
        longest_run = std::max(longest_run, run);
    }
    EXPECT_GT(late_turns, 0);
    EXPECT_LE(longest_run, 2) << "the newcomer must not catch up on its silence";

    PacketFairQueue_PrepareFree(&fq);
    SinglePacketBuffer_Free(&b1);
    SinglePacketBuffer_Free(&b2);
    SinglePacketBuffer_Free(&b3);
    PacketFairQueueFlow_Free(&big);
    PacketFairQueueFlow_Free(&small);
    PacketFairQueueFlow_Free(&late);
    PacketFairQueue_Free(&fq);
}

TEST_F(FlowTest, IdleMonitorFiresOncePerSilentInterval) {
    struct Ctx {
        BReactor* reactor;
        RecordSink* out;
        PacketIdleMonitor mon;
        FeedPackets* src;
        int idle = 0;
        std::vector<int> idle_when_released;
    };
    RecordSink out(&reactor, 10);
    out.hold = true;
    FeedPackets src(&reactor, 10);
    Ctx ctx{&reactor, &out, {}, &src, 0, {}};
    PacketIdleMonitor_Init(
        &ctx.mon, &out.iface, &reactor, 30,
        [](void* u) {
            auto* c = static_cast<Ctx*>(u);
            c->idle++;
            if (c->idle == 1) {
                c->src->Push("p");  // a packet in transit for the next 90 ms
            } else if (c->idle == 3) {
                BReactor_RequestExit(c->reactor, 0);
            }
        },
        &ctx);
    SinglePacketBuffer spb;
    ASSERT_EQ(SinglePacketBuffer_Init(&spb, &src.iface, PacketIdleMonitor_GetInput(&ctx.mon), jobs()), 1);
    BReactorTimer release;
    BReactorTimer_Init(
        &release, 0,
        [](void* u) {
            auto* c = static_cast<Ctx*>(u);
            c->idle_when_released.push_back(c->idle);
            c->out->Release();
        },
        &ctx);
    // The release comes 90 ms after the first idle call: no idle call in between.
    struct Starter {
        BReactor* r;
        BReactorTimer* t;
    } starter{&reactor, &release};
    BReactorTimer kick;
    BReactorTimer_Init(
        &kick, 35,
        [](void* u) {
            auto* s = static_cast<Starter*>(u);
            BReactor_StartTimer(s->r, s->t, 90);
        },
        &starter);
    BReactor_RestartTimer(&reactor, &kick);
    btime_t start = BTime_NowMs();
    BReactor_Run(&reactor);
    btime_t took = BTime_NowMs() - start;
    EXPECT_EQ(ctx.idle_when_released, (std::vector<int>{1})) << "no idle call while a packet is in transit";
    EXPECT_EQ(ctx.idle, 3);
    EXPECT_GE(took, 30 + 90 + 2 * 30) << "the interval restarts after the packet";
    BReactor_StopTimer(&reactor, &release);
    SinglePacketBuffer_Free(&spb);
    PacketIdleMonitor_Free(&ctx.mon);
}
