#pragma once
// The stack in-process with no device: crafted packets go into the interface's
// input, everything the stack sends is captured, and a small application
// accepts connections and records what it is told.

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "engine/stack/netif.h"
#include "engine/stack/tcp.h"
#include "tests/support/packet_craft.h"

class StackHarness {
public:
    // The engine's interface: 10.198.75.61/24, up, accept-any-TCP, default; a
    // listener bound to it when `listen` is set (IPv6 too when `ipv6` is set).
    explicit StackHarness(bool listen = true, bool ipv6 = false);
    ~StackHarness();

    // With `checksum_trusted` the packet is marked as the device marks one
    // the kernel made itself (its TCP checksum is not checked).
    void Input(const craft::Bytes& packet, bool checksum_trusted = false);
    // Captured output since the last call.
    std::vector<craft::Packet> Take();
    // The engine's 250 ms timer, n times; the stack's clock moves with it.
    void Tick(int n = 1);
    // Moves the stack's clock on by `ms`, running the retransmission timer
    // every TCP_REXMIT_INTERVAL ms as the engine does.
    void Advance(uint32_t ms);
    // The stack's clock (starts at 1000 ms).
    static uint32_t Now();

    netif nif{};
    tcp_pcb_listen* listener = nullptr;
    tcp_pcb_listen* listener6 = nullptr;
    std::deque<craft::Bytes> out;

    // What the application saw.
    std::vector<tcp_pcb*> accepted;
    std::string received;
    int closes = 0;
    std::vector<err_t> errors;
    uint32_t sent_bytes = 0;
    int sent_calls = 0;
    bool refuse = false;          // the receive callback refuses data
    bool consume = true;          // received data is reported consumed at once
    bool close_on_fin = false;    // the close notification closes the block, as the engine may
    err_t close_result = ERR_OK;  // what the close notification returns after closing
};

// One end of a scripted TCP conversation with the stack.
struct Peer {
    bool v6 = false;
    uint32_t ip = craft::Ip4(10, 198, 75, 60);
    uint32_t dst = craft::Ip4(203, 0, 113, 9);
    craft::Ip6 ip6, dst6;
    uint16_t sport = 40000, dport = 8080;
    uint32_t snd_nxt = 1000;  // our next sequence number
    uint32_t rcv_nxt = 0;     // what we acknowledge

    // A segment from the current sequence; the sequence advances past it.
    craft::Bytes Seg(uint8_t flags, const std::string& data = "", uint16_t wnd = 65535,
                     const craft::Bytes& options = {});
    // The same without advancing (for retransmissions and crafted numbers).
    craft::Bytes SegAt(uint32_t seq, uint8_t flags, const std::string& data = "", uint16_t wnd = 65535,
                       const craft::Bytes& options = {}) const;
};

// Completes a handshake, the SYN carrying the MSS option and `options`;
// returns the accepted block (nullptr on failure).
tcp_pcb* Connect(StackHarness& h, Peer& peer, uint16_t mss = 1460, const craft::Bytes& options = {});
craft::Bytes MssOption(uint16_t mss);
craft::Bytes WindowScaleOption(uint8_t shift);  // with a NOP in front
craft::Bytes SackPermittedOption();             // with two NOPs in front
// The option of `kind` among a segment's options, its kind and length
// included; empty when there is none.
craft::Bytes FindOption(const craft::Bytes& options, uint8_t kind);

// A test with a fresh stack that checks, after teardown, that nothing is left allocated.
class StackTest : public ::testing::Test {
protected:
    void SetUp() override { h = std::make_unique<StackHarness>(); }
    void TearDown() override;
    std::unique_ptr<StackHarness> h;
};

void ExpectNothingAllocated();
