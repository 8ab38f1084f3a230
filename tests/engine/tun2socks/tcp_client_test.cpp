// The TCP relay between the stack and a SOCKS connection, driven packet by
// packet: the application's side is crafted segments into the stack, the
// SOCKS server a scripted peer on loopback, and the engine's reactor runs
// only while a test waits for the SOCKS side. No stack timer ever runs, so
// whatever the engine sends, it sends at once.
#include "engine/tun2socks/tcp_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/engine/stack/stack_harness.h"
#include "tests/support/blog_capture.h"
#include "tests/support/flow_harness.h"
#include "tests/support/loopback_peer.h"

using enginetest::Close;
using enginetest::kSocksHelloReply;
using enginetest::kSocksReplyV4;
using enginetest::LoopbackPeer;
using enginetest::Read;
using enginetest::Write;

namespace {

// The engine's relay on a stack without a device, its SOCKS server `socks`.
class Relay {
public:
    explicit Relay(BAddr socks) {
        BTime_Start();
        EXPECT_EQ(BReactor_Init(&reactor), 1);
        auth_ = BSocksClient_auth_none();
        TcpRelay_Init(&relay, &reactor, socks, &auth_, 1);
        const char* failure = nullptr;
        EXPECT_EQ(TcpRelay_Listen(&relay, &h.nif, 0, &failure), 1) << failure;
    }
    ~Relay() {
        TcpRelay_Free(&relay);
        BReactor_Free(&reactor);
    }
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Runs the engine's reactor until `done` holds; false when it never did.
    bool RunUntil(std::function<bool()> done) {
        until_ = std::move(done);
        if (until_()) return true;
        BReactorTimer_Init(
            &check_, 1,
            [](void* user) {
                auto* r = static_cast<Relay*>(user);
                if (r->until_()) {
                    BReactor_RequestExit(&r->reactor, 0);
                } else {
                    BReactor_RestartTimer(&r->reactor, &r->check_);
                }
            },
            this);
        BReactor_RestartTimer(&reactor, &check_);
        flowtest::StartGuard(&reactor, &guard_);
        int code = BReactor_Run(&reactor);
        BReactor_StopTimer(&reactor, &check_);
        BReactor_StopTimer(&reactor, &guard_);
        // Stack callbacks outside the loop run their jobs too.
        reactor.exit_requested.store(0);
        return code == 0;
    }

    tcp_client* OnlyClient() {
        if (relay.clients.first == nullptr || relay.clients.first != relay.clients.last) return nullptr;
        return LINKED_LIST_ENTRY(relay.clients.first, tcp_client, list_node);
    }

    testsupport::BLogCapture log{BLOG_INFO};
    StackHarness h{false};
    BReactor reactor;
    TcpRelay relay;

private:
    BSocksClient_auth_info auth_;
    std::function<bool()> until_;
    BReactorTimer check_;
    BReactorTimer guard_;
};

// The application's handshake with the relay's listener.
void Handshake(Relay& r, Peer& app) {
    r.h.Take();
    r.h.Input(app.Seg(craft::kSyn, "", 65535, MssOption(1460)));
    auto out = r.h.Take();
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0].flags, craft::kSyn | craft::kAck);
    app.rcv_nxt = out[0].seq + 1;
    r.h.Input(app.Seg(craft::kAck));
    ASSERT_NE(r.OnlyClient(), nullptr);
}

bool HasFin(const std::vector<craft::Packet>& packets) {
    for (const auto& p : packets) {
        if (p.flags & craft::kFin) return true;
    }
    return false;
}

}  // namespace

// The server answers and closes while the answer is still unacknowledged:
// the application's acknowledgement of the last byte ends the relay, and the
// FIN leaves with it, not at some later timer.
TEST(TcpRelay, FinFollowsTheAcknowledgementOfTheLastByte) {
    struct Case {
        const char* name;
        bool app_sent_fin;  // the application had ended its sending side first
    } cases[] = {{"application still sending", false}, {"application half-closed", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string answer(3000, 'a');
        LoopbackPeer socks(
            {Read(3), Write(kSocksHelloReply), Read(10), Write(kSocksReplyV4), Write(answer), Close()});
        {
            Relay r(socks.addr());
            Peer app;
            ASSERT_NO_FATAL_FAILURE(Handshake(r, app));
            if (c.app_sent_fin) r.h.Input(app.Seg(craft::kAck | craft::kFin));

            ASSERT_TRUE(
                r.RunUntil([&r] { return r.OnlyClient() != nullptr && r.OnlyClient()->socks_closed; }));
            // The answer, acknowledged as it comes; the last acknowledgement ends the relay.
            std::string got;
            std::vector<craft::Packet> out;
            while (got.size() < answer.size()) {
                out = r.h.Take();
                ASSERT_FALSE(out.empty()) << "stalled after " << got.size() << " bytes";
                for (const auto& p : out) {
                    got.append(p.payload.begin(), p.payload.end());
                    if (!p.payload.empty()) app.rcv_nxt = p.seq + uint32_t(p.payload.size());
                }
                EXPECT_FALSE(HasFin(out));
                r.h.Input(app.Seg(craft::kAck));
            }
            EXPECT_TRUE(got == answer);
            EXPECT_EQ(r.relay.num_clients.load(), 0);
            EXPECT_TRUE(HasFin(r.h.Take())) << "the FIN waits for a timer";

            ++app.rcv_nxt;
            r.h.Input(app.Seg(c.app_sent_fin ? craft::kAck : craft::kAck | craft::kFin));
        }
        ExpectNothingAllocated();
    }
}
