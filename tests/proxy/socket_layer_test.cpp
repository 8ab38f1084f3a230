// The timed socket primitives, the small client socket and the engine
// address helpers, on loopback connections the test makes.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "proxy/baddr_helpers.h"
#include "proxy/service_stop.h"
#include "proxy/socket_base.h"
#include "proxy/socket_client.h"
#include "tests/proxy/proxy_test_util.h"

namespace {

using proxytest::MakeTcpPair;
using proxytest::TcpPair;
using Clock = std::chrono::steady_clock;

class SocketLayer : public ::testing::Test {
protected:
    void SetUp() override {
        pair_ = MakeTcpPair();
        ASSERT_GE(pair_.client, 0);
        ASSERT_GE(pair_.server, 0);
    }
    void TearDown() override {
        CloseSocket(pair_.client);
        CloseSocket(pair_.server);
        ClearServiceStop();
    }
    TcpPair pair_;
};

TEST_F(SocketLayer, RecvReportsDataTimeOutAndCloseApart) {
    char buf[16];
    bool closed = true;
    EXPECT_EQ(TimedRecv(pair_.server, buf, sizeof buf, 1, &closed), 0);  // nothing within 1 s
    EXPECT_FALSE(closed);

    ASSERT_TRUE(proxytest::SendText(pair_.client, "abc"));
    EXPECT_EQ(TimedRecv(pair_.server, buf, sizeof buf, 5, &closed), 3);
    EXPECT_EQ(std::string(buf, 3), "abc");

    shutdown(pair_.client, SHUT_WR);
    EXPECT_EQ(TimedRecv(pair_.server, buf, sizeof buf, 5, &closed), -1);
    EXPECT_TRUE(closed);

    // A reset is an error, not a close.
    TcpPair other = MakeTcpPair();
    linger hard{1, 0};
    setsockopt(other.client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    CloseSocket(other.client);
    EXPECT_EQ(TimedRecv(other.server, buf, sizeof buf, 5, &closed), -1);
    EXPECT_FALSE(closed);
    CloseSocket(other.server);
}

// A field read whole even when its bytes come in pieces; a close or the
// deadline in the middle of it fails the read.
TEST_F(SocketLayer, ExactReadsGatherPiecesUntilTheDeadline) {
    std::thread writer([&] {
        for (const char* piece : {"12", "345", "6789"}) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            proxytest::SendText(pair_.client, piece);
        }
    });
    char buf[16] = {};
    EXPECT_EQ(TimedRecvExact(pair_.server, buf, 9, 5), 9);
    EXPECT_EQ(std::string(buf, 9), "123456789");
    writer.join();

    ASSERT_TRUE(proxytest::SendText(pair_.client, "ab"));
    EXPECT_EQ(TimedRecvExact(pair_.server, buf, 4, 1), 0);  // two bytes, then silence

    ASSERT_TRUE(proxytest::SendText(pair_.client, "cd"));
    shutdown(pair_.client, SHUT_WR);
    bool closed = false;
    EXPECT_EQ(TimedRecvExact(pair_.server, buf, 4, 5, &closed), -1);
    EXPECT_TRUE(closed);
}

// A reader that stops reading cannot hold a sender for longer than its
// time-out; one that goes on reading gets everything.
TEST_F(SocketLayer, SendAllWaitsForRoomOnlyAsLongAsItsTimeOut) {
    std::string big(32 << 20, 'x');  // more than the socket buffers of both ends hold

    auto start = Clock::now();
    int sent = TimedSendAll(pair_.server, big.data(), static_cast<int>(big.size()), 1);
    auto took = Clock::now() - start;
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, static_cast<int>(big.size()));
    EXPECT_LT(took, std::chrono::seconds(10));

    // Drain what is queued, then send while the reader keeps reading.
    proxytest::ReadBytes(pair_.client, static_cast<size_t>(sent), 5000);
    std::string got;
    std::thread reader([&] { got = proxytest::ReadBytes(pair_.client, big.size(), 60000); });
    EXPECT_EQ(TimedSendAll(pair_.server, big.data(), static_cast<int>(big.size()), 60),
              static_cast<int>(big.size()));
    reader.join();
    EXPECT_EQ(got.size(), big.size());
}

TEST_F(SocketLayer, SendToAClosedPeerFailsWithoutASignal) {
    CloseSocket(pair_.client);
    std::string data(100000, 'y');
    int result = 0;
    for (int i = 0; i < 20 && result >= 0; ++i) {
        result = TimedSendAll(pair_.server, data.data(), static_cast<int>(data.size()), 2);
    }
    EXPECT_EQ(result, -1);
}

TEST_F(SocketLayer, ReadByteYieldsUnsignedValues) {
    CSocketBase base;
    ASSERT_TRUE(proxytest::SendText(pair_.client, proxytest::Bytes({0xff, 0x00})));
    int value = -1;
    EXPECT_EQ(base.ReadByte(pair_.server, &value, 5), 1);
    EXPECT_EQ(value, 255);
    EXPECT_EQ(base.ReadByte(pair_.server, &value, 5), 1);
    EXPECT_EQ(value, 0);
    shutdown(pair_.client, SHUT_WR);
    EXPECT_EQ(base.ReadByte(pair_.server, &value, 5), 0);
    EXPECT_TRUE(base.LastRecvClosed());
}

TEST_F(SocketLayer, SetTimeoutsSetsWhatItIsAskedFor) {
    CSocketBase base;
    auto get = [&](int option) {
        timeval tv{};
        socklen_t len = sizeof tv;
        getsockopt(pair_.server, SOL_SOCKET, option, &tv, &len);
        return tv.tv_sec * 1000 + tv.tv_usec / 1000;
    };
    struct Case {
        int seconds, which;
        long rcv, snd;
    } cases[] = {{3, 3, 0, 0}, {-1, 7, 0, 0}, {2, 1, 2000, 0}, {4, 2, 2000, 4000}, {5, 0, 5000, 5000}};
    for (const auto& c : cases) {
        base.SetTimeouts(pair_.server, c.seconds, c.which);
        EXPECT_EQ(get(SO_RCVTIMEO), c.rcv) << c.which;
        EXPECT_EQ(get(SO_SNDTIMEO), c.snd) << c.which;
    }
}

TEST_F(SocketLayer, WaitSocketReadyTellsAConnectedSocketFromARefusedOne) {
    int port = testsupport::FreeLoopbackPort();  // nobody listens there
    int listenPort = 0;
    int listener = testsupport::ListenLoopback(&listenPort);
    for (int target : {listenPort, port}) {
        int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(SetSocketBlocking(s, false), 1);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(target));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int r = connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to);
        if (r != 0) {
            ASSERT_EQ(errno, EINPROGRESS);
            r = WaitSocketReady(s, 5);
        }
        EXPECT_EQ(r, target == listenPort ? 0 : -1) << target;
        CloseSocket(s);
    }
    CloseSocket(listener);
}

// The service's stop ends the waits of its connection threads that would
// otherwise last for ever; other threads keep their own time-outs.
TEST_F(SocketLayer, TheServiceStopEndsTheWaitsOfConnectionThreads) {
    int result = 0;
    std::thread waiter([&] {
        WatchServiceStop();
        char c;
        result = TimedRecv(pair_.server, &c, 1, -1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    SignalServiceStop();
    waiter.join();
    EXPECT_EQ(result, -1);
    char c;
    EXPECT_EQ(TimedRecv(pair_.server, &c, 1, 1), 0);  // this thread waits its time-out
    std::thread other([&] {
        WatchServiceStop();
        result = WaitSocketReady(pair_.server, -1);
    });
    other.join();
    EXPECT_EQ(result, -1);
    ClearServiceStop();
    std::thread cleared([&] {
        WatchServiceStop();
        result = WaitSocketReady(pair_.server, 1);
    });
    cleared.join();
    EXPECT_EQ(result, 0);  // writable again once cleared
}

TEST(SocketClient, ConnectsAndReadsTwoByteValuesWhole) {
    int port = 0;
    int listener = testsupport::ListenLoopback(&port);
    ASSERT_GE(listener, 0);
    std::thread server([&] {
        int s = accept(listener, nullptr, nullptr);
        proxytest::SendText(s, "\x12");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        proxytest::SendText(s, "\x34");
        proxytest::SendText(s, "z");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        close(s);
    });
    CSocketClient client;
    ASSERT_GE(client.GetSocket(), 0);
    ASSERT_EQ(client.Connect(L"127.0.0.1", static_cast<uint16_t>(port)), 1);
    EXPECT_EQ(ntohs(client.GetRemoteAddress().sin_port), port);
    uint16_t value = 0;
    EXPECT_EQ(client.RecvUInt16(&value), 1);
    EXPECT_EQ(value, 0x1234);
    EXPECT_EQ(client.RecvUInt16(&value), 0);  // one byte, then the close
    server.join();
    close(listener);

    // A refused connect closes the socket for good.
    CSocketClient refused;
    EXPECT_EQ(refused.Connect(L"127.0.0.1", static_cast<uint16_t>(testsupport::FreeLoopbackPort())), 0);
    EXPECT_EQ(refused.GetSocket(), -1);
    EXPECT_EQ(refused.GetLastError(), ECONNREFUSED);
}

TEST(EngineAddresses, EqualityAndTheDnsPort) {
    BAddr v4a, v4b, v4c, v6a, v6b, none1, none2;
    BAddr_InitIPv4(&v4a, htonl(0x0a000001), htons(53));
    BAddr_InitIPv4(&v4b, htonl(0x0a000001), htons(53));
    BAddr_InitIPv4(&v4c, htonl(0x0a000001), htons(54));
    uint8_t ip6[16] = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    BAddr_InitIPv6(&v6a, ip6, htons(53));
    ip6[15] = 2;
    BAddr_InitIPv6(&v6b, ip6, htons(53));
    BAddr_InitNone(&none1);
    BAddr_InitNone(&none2);
    EXPECT_TRUE(BAddr_Equals(&v4a, &v4b));
    EXPECT_FALSE(BAddr_Equals(&v4a, &v4c));
    EXPECT_FALSE(BAddr_Equals(&v6a, &v6b));
    EXPECT_TRUE(BAddr_Equals(&v6a, &v6a));
    EXPECT_FALSE(BAddr_Equals(&v4a, &v6a));
    EXPECT_FALSE(BAddr_Equals(&none1, &none2));
    EXPECT_TRUE(BAddr_IsDnsPort(&v4a));
    EXPECT_FALSE(BAddr_IsDnsPort(&v4c));
    EXPECT_TRUE(BAddr_IsDnsPort(&v6b));
    EXPECT_FALSE(BAddr_IsDnsPort(&none1));
}

}  // namespace
