// ICMP echo against the kernel on loopback and, inside two namespaces the
// test links and deletes, against a responder of the test's own that can
// answer whole, corrupted, short or not at all.
#include "foundation/icmp_ping.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "tests/support/net.h"

using testsupport::NetNamespace;

namespace {

bool CanPing() {
    int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0) return false;
    close(fd);
    return true;
}

// Answers echo requests in place of the kernel (whose own answers the test
// switches off), changing the reply as `mode` says.
class EchoResponder {
public:
    enum Mode { kIntact, kOneByteChanged, kShort, kWrongSequence, kBadChecksum, kSilent };

    // Starts on a thread that enters `ns`.
    explicit EchoResponder(const NetNamespace& ns) {
        if (pipe2(stop_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        NetNamespace::Scope inside(ns);
        thread_ = std::thread(&EchoResponder::Loop, this);
        while (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~EchoResponder() {
        (void)!write(stop_[1], "x", 1);
        thread_.join();
        close(stop_[0]);
        close(stop_[1]);
    }
    void SetMode(Mode m) { mode_ = m; }
    int requests() const { return requests_; }

private:
    void Loop() {
        int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        ready_ = true;
        if (fd < 0) return;
        uint8_t buf[2048];
        while (true) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) continue;
            if (fds[1].revents) break;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 28) continue;
            size_t ihl = (buf[0] & 0x0F) * 4u;
            uint8_t* icmp = buf + ihl;
            size_t icmpLen = static_cast<size_t>(n) - ihl;
            if (icmp[0] != 8) continue;  // only requests
            ++requests_;
            Mode mode = mode_;
            if (mode == kSilent) continue;
            icmp[0] = 0;
            if (mode == kOneByteChanged && icmpLen > 8) icmp[icmpLen - 1] = 'F';
            if (mode == kShort && icmpLen > 8) --icmpLen;
            if (mode == kWrongSequence) icmp[7] ^= 0x55;
            icmp[2] = icmp[3] = 0;
            uint16_t sum = IcmpChecksum(icmp, icmpLen);
            if (mode == kBadChecksum) sum ^= 0x0101;
            icmp[2] = static_cast<uint8_t>(sum >> 8);
            icmp[3] = static_cast<uint8_t>(sum);
            sendto(fd, icmp, icmpLen, 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
        }
        close(fd);
    }

    int stop_[2] = {-1, -1};
    std::atomic<Mode> mode_{kIntact};
    std::atomic<int> requests_{0};
    std::atomic<bool> ready_{false};
    std::thread thread_;
};

}  // namespace

TEST(IcmpPing, LoopbackAnswers) {
    if (!CanPing()) GTEST_SKIP() << "needs the right to open raw ICMP sockets";
    EXPECT_TRUE(IcmpLoad());
    for (uint8_t size : {0, 32, 255}) {
        PingResult result;
        errno = 0;
        ASSERT_TRUE(IcmpPing(&result, 64, 5000, size, "127.0.0.1"))
            << int(size) << " " << std::strerror(errno);
        EXPECT_EQ(result.address, inet_addr("127.0.0.1"));
        EXPECT_LT(result.roundTripMs, 1000u);
    }
    PingResult byName;
    ASSERT_TRUE(IcmpPing(&byName, 64, 5000, 32, "localhost"));
    EXPECT_EQ(byName.address, inet_addr("127.0.0.1"));

    PingResult untouched{7, 9};
    EXPECT_FALSE(IcmpPing(nullptr, 64, 5000, 32, "127.0.0.1"));
    EXPECT_FALSE(IcmpPing(&untouched, 64, 5000, 32, nullptr));
}

TEST(IcmpPing, ManyAtOnceEachGetsItsOwnReply) {
    if (!CanPing()) GTEST_SKIP() << "needs the right to open raw ICMP sockets";
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                PingResult r;
                if (IcmpPing(&r, 64, 5000, 32, "127.0.0.1")) ++good;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(good.load(), 160);
}

TEST(IcmpPing, RepliesAreCheckedAndSilenceTimesOut) {
    if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
    NetNamespace here("czt-pa");
    NetNamespace peer("czt-pb");
    testsupport::LinkNamespaces(here, "pa0", "10.77.0.1/24", peer, "pb0", "10.77.0.2/24");
    peer.MustExec({"sysctl", "-q", "-w", "net.ipv4.icmp_echo_ignore_all=1"});
    EchoResponder responder(peer);
    NetNamespace::Scope inside(here);
    // The new link may take a moment to carry traffic.
    PingResult warmUp;
    for (int i = 0; i < 20 && !IcmpPing(&warmUp, 64, 250, 32, "10.77.0.2"); ++i) {
    }

    struct Case {
        EchoResponder::Mode mode;
        bool ok;
        int error;
    };
    const Case cases[] = {
        {EchoResponder::kIntact, true, 0},
        {EchoResponder::kOneByteChanged, false, EBADMSG},
        {EchoResponder::kShort, false, EBADMSG},
        {EchoResponder::kWrongSequence, false, ETIMEDOUT},  // someone else's reply
        {EchoResponder::kBadChecksum, false, ETIMEDOUT},    // damaged: no reply at all
        {EchoResponder::kSilent, false, ETIMEDOUT},
    };
    for (const auto& c : cases) {
        responder.SetMode(c.mode);
        int before = responder.requests();
        PingResult result{1, 2};
        errno = 0;
        bool ok = IcmpPing(&result, 64, 500, 32, "10.77.0.2");
        int error = errno;
        EXPECT_EQ(ok, c.ok) << c.mode;
        EXPECT_EQ(responder.requests(), before + 1) << c.mode;
        if (c.ok) {
            EXPECT_EQ(result.address, inet_addr("10.77.0.2"));
        } else {
            EXPECT_EQ(error, c.error) << c.mode << ": " << std::strerror(error);
            EXPECT_EQ(result.address, 1u);
            EXPECT_EQ(result.roundTripMs, 2u);
        }
    }

    // Names that do not resolve fail and leave the result alone (looked up
    // here, where no name server can be reached).
    PingResult untouched{7, 9};
    EXPECT_FALSE(IcmpPing(&untouched, 64, 5000, 32, "name.invalid"));
    EXPECT_EQ(untouched.address, 7u);
    EXPECT_EQ(untouched.roundTripMs, 9u);
    EXPECT_EQ(ResolveHostToIp("name.invalid"), "");

    // No route at all: the send fails at once.
    PingResult result;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(IcmpPing(&result, 64, 3000, 32, "192.0.2.1"));
    EXPECT_EQ(errno, ENETUNREACH);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(IcmpPing, ResolveHostToIp) {
    EXPECT_EQ(ResolveHostToIp("localhost"), "127.0.0.1");
    EXPECT_EQ(ResolveHostToIp("10.1.2.3"), "10.1.2.3");
    EXPECT_EQ(ResolveHostToIp(""), "");
    EXPECT_EQ(ResolveHostToIp(nullptr), "");
}
