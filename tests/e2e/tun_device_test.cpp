// The engine's TUN device inside a network namespace made by the test: open
// by device specification, the refusals, the MTU, packets both ways between
// the engine and the kernel, offloads left on by an earlier opener, and a
// device that disappears while open.
#include "platform/tun_device.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include "engine/base/packet_headers.h"
#include "engine/flow/single_packet_buffer.h"
#include "engine/tuntap/btap.h"
#include "tests/support/blog_capture.h"
#include "tests/support/flow_harness.h"
#include "tests/support/net.h"

using testsupport::NetNamespace;

namespace {

const char* kSpec = "tap0901:ztun0:10.198.75.60:10.198.75.0:255.255.255.0";

class TunDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
        ns_ = std::make_unique<NetNamespace>("czt-tun");
        ns_->MustExec({"ip", "tuntap", "add", "dev", "ztun0", "mode", "tun"});
        ns_->MustExec({"ip", "link", "set", "ztun0", "mtu", "1400"});
        ns_->MustExec({"ip", "addr", "add", "10.198.75.60/24", "dev", "ztun0"});
        ns_->MustExec({"ip", "tuntap", "add", "dev", "ztap0", "mode", "tap"});
        ns_->MustExec({"ip", "link", "add", "zveth0", "type", "veth", "peer", "name", "zveth1"});
        BTime_Start();
    }

    std::unique_ptr<NetNamespace> ns_;
};

// Reads packets from the device until `want` accepts one or the guard fires.
struct PacketWatch {
    BReactor reactor;
    BTap tap;
    PacketSink sink;
    SinglePacketBuffer spb;
    BReactorTimer guard;
    std::function<bool(const uint8_t*, int)> want;
    bool matched = false;
    bool device_error = false;

    static void Send(void* user, uint8_t* data, int len) {
        auto* w = static_cast<PacketWatch*>(user);
        if (!w->matched && w->want && w->want(data, len)) {
            w->matched = true;
            BReactor_RequestExit(&w->reactor, 0);
        }
        PacketSink_Done(&w->sink);
    }
};

// An IPv4/UDP packet from 10.198.75.99:4000 to 10.198.75.60:`port`.
std::string UdpPacket(uint16_t port, const std::string& payload) {
    std::string p(28 + payload.size(), '\0');
    IPv4Header ip{};
    ip.version4_ihl4 = 0x45;
    ip.total_length = htons(static_cast<uint16_t>(p.size()));
    ip.ttl = 64;
    ip.protocol = IPV4_PROTOCOL_UDP;
    ip.source_address = inet_addr("10.198.75.99");
    ip.destination_address = inet_addr("10.198.75.60");
    ip.checksum = IPv4Header_Checksum(&ip, nullptr, 0);
    UdpHeader udp{htons(4000), htons(port), htons(static_cast<uint16_t>(8 + payload.size())), 0};
    udp.checksum =
        UdpChecksum_IPv4(&udp, reinterpret_cast<const uint8_t*>(payload.data()),
                         static_cast<int>(payload.size()), ip.source_address, ip.destination_address);
    std::memcpy(p.data(), &ip, 20);
    std::memcpy(p.data() + 20, &udp, 8);
    std::memcpy(p.data() + 28, payload.data(), payload.size());
    return p;
}

}  // namespace

TEST_F(TunDeviceTest, OpensBySpecificationWithDeviceMtu) {
    NetNamespace::Scope in(*ns_);
    testsupport::BLogCapture log;
    BReactor reactor;
    ASSERT_EQ(BReactor_Init(&reactor), 1);
    BTap tap;
    ASSERT_EQ(BTap_Init(
                  &tap, &reactor, kSpec, [](void*) {}, nullptr),
              1);
    EXPECT_EQ(BTap_GetFrameMtu(&tap), 1400);
    uint8_t want_local[4] = {10, 198, 75, 60};
    EXPECT_EQ(std::memcmp(tap.tun_config.local, want_local, 4), 0);
    EXPECT_TRUE(log.Contains("Device opened", BLOG_CHANNEL_BTap));
    std::string link;
    testsupport::RunCommand({"ip", "-o", "link", "show", "ztun0"}, &link);
    EXPECT_NE(link.find(",UP"), std::string::npos) << link;
    BTap_Free(&tap);
    BReactor_Free(&reactor);
}

TEST_F(TunDeviceTest, RefusesWrongTagMissingAndNonTunDevices) {
    NetNamespace::Scope in(*ns_);
    struct {
        const char* spec;
        const char* message;
    } cases[] = {
        {"tap0902:ztun0:10.198.75.60:10.198.75.0:255.255.255.0", "Could not find device"},
        {"tap0901:znothere:10.198.75.60:10.198.75.0:255.255.255.0", "Could not find device"},
        {"tap0901:zveth0:10.198.75.60:10.198.75.0:255.255.255.0", "is not a TUN device"},
        {"tap0901:ztap0:10.198.75.60:10.198.75.0:255.255.255.0", "is not a TUN device"},
    };
    for (const auto& c : cases) {
        testsupport::BLogCapture log;
        BReactor reactor;
        ASSERT_EQ(BReactor_Init(&reactor), 1);
        BTap tap;
        EXPECT_EQ(BTap_Init(
                      &tap, &reactor, c.spec, [](void*) {}, nullptr),
                  0)
            << c.spec;
        EXPECT_TRUE(log.Contains(c.message, BLOG_CHANNEL_BTap)) << c.spec;
        BReactor_Free(&reactor);
    }
    // Looking for a missing device never creates one.
    EXPECT_NE(testsupport::RunCommand({"ip", "link", "show", "znothere"}), 0);
}

// Attaching by name must not make a device: without this check the kernel
// quietly creates a fresh one when the name vanished after the lookup.
TEST_F(TunDeviceTest, OpenAttachesOnlyToAnExistingDevice) {
    NetNamespace::Scope in(*ns_);
    int fd = TunDevice_Open("znothere");
    bool made = testsupport::RunCommand({"ip", "link", "show", "znothere"}) == 0;
    if (fd >= 0) close(fd);
    EXPECT_EQ(fd, -1);
    EXPECT_FALSE(made);

    fd = TunDevice_Open("ztun0");
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
    EXPECT_EQ(testsupport::RunCommand({"ip", "link", "show", "ztun0"}), 0) << "the persistent device stays";
}

TEST_F(TunDeviceTest, PacketsFlowBothWaysWithTheKernel) {
    NetNamespace::Scope in(*ns_);
    PacketWatch w;
    ASSERT_EQ(BReactor_Init(&w.reactor), 1);
    ASSERT_EQ(BTap_Init(
                  &w.tap, &w.reactor, kSpec, [](void*) {}, nullptr),
              1);
    PacketSink_Init(&w.sink, BTap_GetFrameMtu(&w.tap), PacketWatch::Send, &w, BReactor_JobStack(&w.reactor));
    ASSERT_EQ(SinglePacketBuffer_Init(&w.spb, BTap_GetOutput(&w.tap), &w.sink, BReactor_JobStack(&w.reactor)),
              1);
    flowtest::StartGuard(&w.reactor, &w.guard);

    // A socket of the namespace sends into the device's network: the kernel
    // writes the packet to the device, where the engine reads it.
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(s, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr("10.198.75.60");
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    socklen_t len = sizeof local;
    getsockname(s, reinterpret_cast<sockaddr*>(&local), &len);
    sockaddr_in far{};
    far.sin_family = AF_INET;
    far.sin_port = htons(9999);
    far.sin_addr.s_addr = inet_addr("10.198.75.99");
    ASSERT_EQ(sendto(s, "from-kernel", 11, 0, reinterpret_cast<sockaddr*>(&far), sizeof far), 11);
    w.want = [](const uint8_t* data, int n) {
        IPv4Header ip;
        const uint8_t* payload;
        int plen;
        if (!IPv4Header_Check(data, n, &ip, &payload, &plen) || ip.protocol != IPV4_PROTOCOL_UDP)
            return false;
        UdpHeader udp;
        const uint8_t* body;
        int blen;
        return UdpHeader_Check(payload, plen, &udp, &body, &blen) && ntohs(udp.dest_port) == 9999 &&
               ip.destination_address == inet_addr("10.198.75.99") &&
               std::string(reinterpret_cast<const char*>(body), static_cast<size_t>(blen)) == "from-kernel";
    };
    ASSERT_EQ(BReactor_Run(&w.reactor), 0) << "the datagram never came out of the device";
    EXPECT_TRUE(w.matched);

    // A packet the engine writes reaches the namespace's socket.
    std::string pkt = UdpPacket(ntohs(local.sin_port), "from-engine");
    BTap_WritePacket(&w.tap, reinterpret_cast<const uint8_t*>(pkt.data()), static_cast<int>(pkt.size()));
    timeval tv{5, 0};  // a deadline, not a pause
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buf[64];
    sockaddr_in from{};
    socklen_t flen = sizeof from;
    ssize_t n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &flen);
    ASSERT_EQ(n, 11);
    EXPECT_EQ(std::string(buf, 11), "from-engine");
    EXPECT_EQ(from.sin_addr.s_addr, inet_addr("10.198.75.99"));
    close(s);

    BReactor_StopTimer(&w.reactor, &w.guard);
    SinglePacketBuffer_Free(&w.spb);
    PacketSink_Free(&w.sink);
    BTap_Free(&w.tap);
    BReactor_Free(&w.reactor);
}

TEST_F(TunDeviceTest, DeviceRemovedWhileOpenIsAReadFailure) {
    NetNamespace::Scope in(*ns_);
    testsupport::BLogCapture log;
    PacketWatch w;
    ASSERT_EQ(BReactor_Init(&w.reactor), 1);
    ASSERT_EQ(BTap_Init(
                  &w.tap, &w.reactor, kSpec,
                  [](void* u) {
                      auto* w = static_cast<PacketWatch*>(u);
                      w->device_error = true;
                      BReactor_RequestExit(&w->reactor, 0);
                  },
                  &w),
              1);
    PacketSink_Init(&w.sink, BTap_GetFrameMtu(&w.tap), PacketWatch::Send, &w, BReactor_JobStack(&w.reactor));
    ASSERT_EQ(SinglePacketBuffer_Init(&w.spb, BTap_GetOutput(&w.tap), &w.sink, BReactor_JobStack(&w.reactor)),
              1);
    flowtest::StartGuard(&w.reactor, &w.guard);
    // Remove the device once the loop waits for packets.
    BReactorTimer remove;
    BReactorTimer_Init(
        &remove, 50,
        [](void*) {
            EXPECT_EQ(testsupport::RunCommand({"ip", "link", "del", "ztun0"}), 0);
        },
        nullptr);
    BReactor_RestartTimer(&w.reactor, &remove);
    EXPECT_EQ(BReactor_Run(&w.reactor), 0);
    EXPECT_TRUE(w.device_error);
    EXPECT_TRUE(log.Contains("read operation failed", BLOG_CHANNEL_BTap));
    BReactor_StopTimer(&w.reactor, &w.guard);
    SinglePacketBuffer_Free(&w.spb);
    PacketSink_Free(&w.sink);
    BTap_Free(&w.tap);
    BReactor_Free(&w.reactor);
}

// A persistent device keeps the offloads an earlier opener switched on. Our
// open must switch them off, or the kernel hands over packets whose checksums
// are left for us to finish (or whole TCP bursts), which the engine takes as
// finished packets.
TEST_F(TunDeviceTest, OpenSwitchesOffOffloadsLeftOnTheDevice) {
    NetNamespace::Scope in(*ns_);
    {
        int fd0 = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd0, 0);
        ifreq ifr{};
        std::strncpy(ifr.ifr_name, "ztun0", IFNAMSIZ - 1);
        ifr.ifr_flags = IFF_TUN | IFF_NO_PI | IFF_VNET_HDR;
        ASSERT_EQ(ioctl(fd0, TUNSETIFF, &ifr), 0);
        ASSERT_EQ(ioctl(fd0, TUNSETOFFLOAD, TUN_F_CSUM | TUN_F_TSO4), 0);
        close(fd0);
    }
    int fd = TunDevice_Open("ztun0");
    ASSERT_GE(fd, 0);
    ns_->MustExec({"ip", "link", "set", "ztun0", "up"});

    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(s, 0);
    sockaddr_in far{};
    far.sin_family = AF_INET;
    far.sin_port = htons(9999);
    far.sin_addr.s_addr = inet_addr("10.198.75.99");
    ASSERT_EQ(sendto(s, "offload-check", 13, 0, reinterpret_cast<sockaddr*>(&far), sizeof far), 13);

    bool seen = false;
    uint8_t buf[2048];
    for (int tries = 0; tries < 50 && !seen; ++tries) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) break;  // a deadline, not a pause
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= kTunPacketHeaderSize) continue;
        const uint8_t* pkt = buf + kTunPacketHeaderSize;
        int plen = static_cast<int>(n) - kTunPacketHeaderSize;
        IPv4Header ip;
        const uint8_t* payload;
        int udplen;
        if (!IPv4Header_Check(pkt, plen, &ip, &payload, &udplen) || ip.protocol != IPV4_PROTOCOL_UDP)
            continue;
        UdpHeader udp;
        const uint8_t* body;
        int blen;
        if (!UdpHeader_Check(payload, udplen, &udp, &body, &blen) || ntohs(udp.dest_port) != 9999) continue;
        seen = true;
        EXPECT_EQ(buf[0], 0) << "the kernel left the checksum to us";
        uint16_t got = udp.checksum;
        udp.checksum = 0;
        EXPECT_EQ(got, UdpChecksum_IPv4(&udp, body, blen, ip.source_address, ip.destination_address));
    }
    EXPECT_TRUE(seen) << "the datagram never came out of the device";
    close(s);
    close(fd);
}
