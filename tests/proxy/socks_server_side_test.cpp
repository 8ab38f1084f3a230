// The SOCKS 4, 4a and 5 server side, byte for byte: each request is fed in
// random pieces, and the replies, the steps taken and whether the
// connection went on to the relay are compared with the table.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "proxy/local_proxy_settings.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/proxy/socks_probe.h"

namespace {

using proxytest::Bytes;

std::string Port(int port) {
    return Bytes({port >> 8, port & 0xff});
}
std::string V4(int a, int b, int c, int d) {
    return Bytes({a, b, c, d});
}
std::string Request5(int cmd, const std::string& address, int port) {
    return Bytes({5, cmd, 0}) + address + Port(port);
}
std::string Name(const std::string& name) {
    return Bytes({3, static_cast<int>(name.size())}) + name;
}
std::string Ipv4(int a, int b, int c, int d) {
    return Bytes({1}) + V4(a, b, c, d);
}
std::string Fail5(int rep) {
    return Bytes({5, rep, 0, 1, 0, 0, 0, 0, 0, 0});
}
std::string Request4(int cd, int port, const std::string& ip, const std::string& user) {
    return Bytes({4, cd}) + Port(port) + ip + user + std::string(1, '\0');
}

const std::string kNoAuth = Bytes({5, 1, 0});
const std::string kHello = Bytes({5, 0});
const std::string kNoMethod = Bytes({5, 0xff});
const std::string kAskAuth = Bytes({5, 2});
const std::string kOk5 = Bytes({5, 0, 0, 1, 10, 0, 0, 1, 0x04, 0xd2});
const std::string kOk4 = Bytes({0, 90, 0x04, 0xd2, 10, 0, 0, 1});
const std::string kFail4 = Bytes({0, 91, 0, 0, 0, 0, 0, 0});
const std::string kUdpgwReply = Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x1c, 0x84});
const std::string kUdpReply = Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x10, 0xe1});

std::string Auth(const std::string& user, const std::string& password) {
    return Bytes({1, static_cast<int>(user.size())}) + user + Bytes({static_cast<int>(password.size())}) +
           password;
}

struct Case {
    const char* name;
    const char* user;
    const char* password;
    std::string input;
    std::string replies;
    std::string notes;
    int result;
};

std::vector<Case> Cases() {
    const std::string name255(255, 'n');
    const std::string user254(254, 'u');
    return {
        // SOCKS 5 greeting and credentials
        {"connect ipv4", "", "", kNoAuth + Request5(1, Ipv4(1, 2, 3, 4), 80), kHello + kOk5,
         "connect 1.2.3.4:80 atyp1 v5|relay", 1},
        {"only user/password offered", "", "", Bytes({5, 1, 2}), kNoMethod, "", 0},
        {"no methods", "", "", Bytes({5, 0}), kNoMethod, "", 0},
        {"methods cut short", "", "", Bytes({5, 3, 0}), "", "", 0},
        {"both offered, none wanted", "", "", Bytes({5, 2, 2, 0}) + Request5(1, Ipv4(1, 2, 3, 4), 80),
         kHello + kOk5, "connect 1.2.3.4:80 atyp1 v5|relay", 1},
        {"credentials wanted, none offered", "u", "p", kNoAuth, kNoMethod, "", 0},
        {"right credentials", "u", "p",
         Bytes({5, 1, 2}) + Auth("u", "p") + Request5(1, Ipv4(9, 8, 7, 6), 443),
         kAskAuth + Bytes({1, 0}) + kOk5, "connect 9.8.7.6:443 atyp1 v5|relay", 1},
        {"wrong password", "u", "p", Bytes({5, 1, 2}) + Auth("u", "x") + Request5(1, Ipv4(9, 8, 7, 6), 443),
         kAskAuth + Bytes({1, 1}), "", 0},
        {"user differs in case", "u", "p", Bytes({5, 1, 2}) + Auth("U", "p"), kAskAuth + Bytes({1, 1}), "",
         0},
        {"only a user configured", "u", "", Bytes({5, 1, 2}) + Auth("u", "x"), kAskAuth + Bytes({1, 1}), "",
         0},
        {"sub-negotiation version 5", "u", "p", Bytes({5, 1, 2}) + Bytes({5, 1}) + "u" + Bytes({1}) + "p",
         kAskAuth, "", 0},
        {"empty user name", "u", "p", Bytes({5, 1, 2, 1, 0}), kAskAuth, "", 0},
        // SOCKS 5 requests
        {"connect name", "", "", kNoAuth + Request5(1, Name("example.com"), 443), kHello + kOk5,
         "connect example.com:443 atyp3 v5|relay", 1},
        {"name of 255 bytes", "", "", kNoAuth + Request5(1, Name(name255), 80), kHello + kOk5,
         "connect " + name255 + ":80 atyp3 v5|relay", 1},
        {"name of length 0", "", "", kNoAuth + Request5(1, Bytes({3, 0}), 80), kHello, "", 0},
        {"name with CR LF", "", "", kNoAuth + Request5(1, Name("a.test\r\nX: y"), 80), kHello + Fail5(1), "",
         0},
        {"name with a space", "", "", kNoAuth + Request5(1, Name("a b"), 80), kHello + Fail5(1), "", 0},
        {"name with NUL", "", "", kNoAuth + Request5(1, Name(std::string("a\0b", 3)), 80), kHello + Fail5(1),
         "", 0},
        {"engine's udp stream", "", "", kNoAuth + Request5(1, Ipv4(127, 0, 0, 1), 7300), kHello + kUdpgwReply,
         "udpgw|udpgw-loop", 1},
        {"localhost at the udp port is a connection", "", "", kNoAuth + Request5(1, Name("localhost"), 7300),
         kHello + kOk5, "connect localhost:7300 atyp3 v5|relay", 1},
        {"ipv6 address", "", "", kNoAuth + Request5(1, Bytes({4}) + std::string(16, '\1'), 80),
         kHello + Fail5(8), "", 0},
        {"command 4", "", "", kNoAuth + Request5(4, Ipv4(1, 2, 3, 4), 80), kHello, "", 0},
        {"connect to 0.0.0.0", "", "", kNoAuth + Request5(1, Ipv4(0, 0, 0, 0), 80), kHello, "", 0},
        {"connect to port 0", "", "", kNoAuth + Request5(1, Ipv4(1, 2, 3, 4), 0), kHello, "", 0},
        {"connect to a name at port 0", "", "", kNoAuth + Request5(1, Name("web.test"), 0), kHello, "", 0},
        {"udp associate from 0.0.0.0:0", "", "", kNoAuth + Request5(3, Ipv4(0, 0, 0, 0), 0),
         kHello + kUdpReply, "udp|udp-relay", 1},
        {"bind", "", "", kNoAuth + Request5(2, Ipv4(5, 6, 7, 8), 21),
         kHello + Bytes({5, 0, 0, 1, 0, 0, 0, 0, 3, 0xe7}), "bind5|relay", 1},
        {"command missing", "", "", kNoAuth + Bytes({5}), kHello + Fail5(7), "", 0},
        {"reserved byte missing", "", "", kNoAuth + Bytes({5, 1}), kHello + Fail5(1), "", 0},
        {"address type missing", "", "", kNoAuth + Bytes({5, 1, 0}), kHello + Fail5(8), "", 0},
        {"address cut short", "", "", kNoAuth + Bytes({5, 1, 0, 1, 1, 2, 3}), kHello, "", 0},
        {"name cut short", "", "", kNoAuth + Bytes({5, 1, 0, 3, 10}) + "abc", kHello, "", 0},
        {"request version 4 answers in SOCKS 4", "", "",
         kNoAuth + Bytes({4, 1, 0}) + Ipv4(1, 2, 3, 4) + Port(80), kHello + kOk4,
         "connect 1.2.3.4:80 atyp1 v4|relay", 1},
        {"request version 6", "", "", kNoAuth + Bytes({6, 1, 0}) + Ipv4(1, 2, 3, 4) + Port(80), kHello, "",
         0},
        // SOCKS 4 and 4a
        {"socks4 connect", "", "", Request4(1, 80, V4(1, 2, 3, 4), "user"), kOk4,
         "connect 1.2.3.4:80 atyp1 v4|relay", 1},
        {"socks4 ignores local credentials", "u", "p", Request4(1, 80, V4(1, 2, 3, 4), ""), kOk4,
         "connect 1.2.3.4:80 atyp1 v4|relay", 1},
        {"socks4a", "", "", Request4(1, 8080, V4(0, 0, 0, 1), "id") + "web.test" + std::string(1, '\0'), kOk4,
         "connect web.test:8080 atyp3 v4|relay", 1},
        {"socks4 user id of 254 bytes", "", "", Request4(1, 80, V4(1, 2, 3, 4), user254), kOk4,
         "connect 1.2.3.4:80 atyp1 v4|relay", 1},
        {"socks4 user id of 255 bytes", "", "", Request4(1, 80, V4(1, 2, 3, 4), user254 + "u"), kFail4, "",
         0},
        {"socks4 user id without its end", "", "", Bytes({4, 1, 0, 80, 1, 2, 3, 4}) + "abc", kFail4, "", 0},
        {"socks4a name of 255 bytes", "", "",
         Request4(1, 80, V4(0, 0, 0, 9), "") + name255 + std::string(1, '\0'), kFail4, "", 0},
        {"socks4a name with a space", "", "",
         Request4(1, 80, V4(0, 0, 0, 9), "") + "a b" + std::string(1, '\0'), kFail4, "", 0},
        {"socks4a empty name", "", "", Request4(1, 80, V4(0, 0, 0, 9), "") + std::string(1, '\0'), kFail4, "",
         0},
        {"socks4 command 3", "", "", Request4(3, 80, V4(1, 2, 3, 4), ""), "", "", 0},
        {"socks4 command missing", "", "", Bytes({4}), kFail4, "", 0},
        {"socks4 to 0.0.0.0", "", "", Request4(1, 80, V4(0, 0, 0, 0), ""), "", "", 0},
        {"socks4 to port 0", "", "", Request4(1, 0, V4(1, 2, 3, 4), ""), "", "", 0},
        {"socks4 bind", "", "", Request4(2, 21, V4(5, 6, 7, 8), ""), Bytes({0, 90, 3, 0xe7, 0, 0, 0, 0}),
         "bind4|relay", 1},
        // other protocols
        {"TLS client hello", "", "", Bytes({0x16, 3, 1, 0, 5}), "", "", 0},
        {"HTTP request", "", "", "GET / HTTP/1.1\r\n\r\n", "", "", 0},
        {"nothing at all", "", "", "", "", "", 0},
    };
}

// Feeds `input` in pieces of random size with pauses between them, then
// ends the client's sending side; returns the server's result and what the
// client received.
int Serve(const Case& c, std::mt19937* random, std::string* replies, std::string* notes) {
    proxytest::TcpPair pair = proxytest::MakeTcpPair();
    if (pair.client < 0 || pair.server < 0) return -100;
    std::thread writer([&] {
        size_t at = 0;
        while (at < c.input.size()) {
            size_t piece = std::uniform_int_distribution<size_t>(1, c.input.size() - at)(*random);
            proxytest::SendText(pair.client, c.input.substr(at, piece));
            at += piece;
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        shutdown(pair.client, SHUT_WR);
    });
    int result;
    {
        proxytest::CSocksProbe probe(pair.server, c.user, c.password);
        result = probe.Run();
        *notes = probe.notes;
    }  // closes the server's end
    writer.join();
    *replies = proxytest::ReadToEnd(pair.client);
    close(pair.client);
    return result;
}

TEST(SocksServerSide, RepliesAndStepsForEachRequest) {
    GetLocalProxySettings().udpRelayPort = 7300;
    std::mt19937 random(20240611);
    for (const Case& c : Cases()) {
        for (int round = 0; round < 3; ++round) {
            SCOPED_TRACE(testing::Message() << c.name << ", round " << round);
            std::string replies, notes;
            int result = Serve(c, &random, &replies, &notes);
            EXPECT_EQ(result, c.result);
            EXPECT_EQ(replies, c.replies);
            EXPECT_EQ(notes, c.notes);
        }
    }
}

// A client that leaves a field unfinished is given up after 5 s, and nothing
// is replied where the protocol has no reply for it.
TEST(SocksServerSide, AnUnfinishedGreetingEndsAfterItsTimeOut) {
    proxytest::TcpPair pair = proxytest::MakeTcpPair();
    ASSERT_TRUE(proxytest::SendText(pair.client, Bytes({5, 2, 0})));  // one method of two
    auto start = std::chrono::steady_clock::now();
    int result;
    {
        proxytest::CSocksProbe probe(pair.server, "", "");
        result = probe.Run();
    }
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result, 0);
    EXPECT_GE(took, std::chrono::milliseconds(4500));
    bool closed = false;
    EXPECT_EQ(proxytest::ReadToEnd(pair.client, &closed), "");
    EXPECT_TRUE(closed);
    close(pair.client);
}

// BIND is served on this machine: the first reply names the port to connect
// to, the second the peer that came, and the two are then relayed.
TEST(SocksServerSide, BindAcceptsOnePeerAndRelaysToIt) {
    SetRelayRunningFlag(true);
    for (int version : {5, 4}) {
        SCOPED_TRACE(version);
        proxytest::TcpPair pair = proxytest::MakeTcpPair();
        std::string request = version == 5 ? kNoAuth + Request5(2, Ipv4(127, 0, 0, 1), 1)
                                           : Request4(2, 1, V4(127, 0, 0, 1), "");
        ASSERT_TRUE(proxytest::SendText(pair.client, request));
        int result = -1;
        std::thread server([&] {
            proxytest::CSocksProbe probe(pair.server, "", "", true);
            result = probe.Run();
        });
        if (version == 5) {
            ASSERT_EQ(proxytest::ReadBytes(pair.client, 2), kHello);
        }
        std::string first = proxytest::ReadBytes(pair.client, version == 5 ? 10 : 8);
        ASSERT_EQ(first.size(), version == 5 ? 10u : 8u);
        ASSERT_EQ(first[1], version == 5 ? 0 : 90);
        int port = static_cast<unsigned char>(first[version == 5 ? 8 : 2]) << 8 |
                   static_cast<unsigned char>(first[version == 5 ? 9 : 3]);
        int peer = proxytest::ConnectLoopback(port);
        ASSERT_GE(peer, 0);
        sockaddr_in own{};
        socklen_t len = sizeof own;
        getsockname(peer, reinterpret_cast<sockaddr*>(&own), &len);
        std::string second = proxytest::ReadBytes(pair.client, version == 5 ? 10 : 8);
        ASSERT_EQ(second.size(), version == 5 ? 10u : 8u);
        int peerPort = static_cast<unsigned char>(second[version == 5 ? 8 : 2]) << 8 |
                       static_cast<unsigned char>(second[version == 5 ? 9 : 3]);
        EXPECT_EQ(peerPort, ntohs(own.sin_port));

        ASSERT_TRUE(proxytest::SendText(peer, "from the peer"));
        EXPECT_EQ(proxytest::ReadBytes(pair.client, 13), "from the peer");
        ASSERT_TRUE(proxytest::SendText(pair.client, "from the client"));
        EXPECT_EQ(proxytest::ReadBytes(peer, 15), "from the client");
        close(peer);
        close(pair.client);
        server.join();
        EXPECT_EQ(result, 1);
    }
}

// A BIND whose client goes away does not wait its two minutes for a peer.
TEST(SocksServerSide, BindEndsWhenItsClientLeaves) {
    proxytest::TcpPair pair = proxytest::MakeTcpPair();
    ASSERT_TRUE(proxytest::SendText(pair.client, kNoAuth + Request5(2, Ipv4(127, 0, 0, 1), 1)));
    int result = -1;
    std::thread server([&] {
        proxytest::CSocksProbe probe(pair.server, "", "", true);
        result = probe.Run();
    });
    ASSERT_EQ(proxytest::ReadBytes(pair.client, 12).size(), 12u);
    close(pair.client);
    server.join();
    EXPECT_EQ(result, 0);
}

}  // namespace
