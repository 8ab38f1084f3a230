// The HTTP, SOCKS 4 and SOCKS 5 upstream client against scripted nodes:
// what reaches the node, how each answer is taken, and what the local
// client sees.
#include "proxy/s45_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "foundation/base64.h"
#include "proxy/local_proxy_settings.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/proxy/scripted_node.h"

namespace {

using proxytest::Bytes;
using proxytest::ScriptedNode;

const std::string kGreeting = Bytes({5, 1, 0});

std::string ConnectV4(int a, int b, int c, int d, int port) {
    return Bytes({5, 1, 0, 1, a, b, c, d, port >> 8, port & 0xff});
}
std::string ConnectName(const std::string& name, int port) {
    return Bytes({5, 1, 0, 3, static_cast<int>(name.size())}) + name + Bytes({port >> 8, port & 0xff});
}

// One local connection served by a CS45CLient through `node`.
class Session {
public:
    Session(CNodeInfo* node, const std::string& request, const char* user = "", const char* password = "") {
        pair_ = proxytest::MakeTcpPair();
        client_ = std::make_unique<CS45CLient>(pair_.server, user, password);
        client_->AttachNode(node);
        proxytest::SendText(pair_.client, request);
        thread_ = std::thread([this] { result_ = client_->Run(); });
    }
    ~Session() {
        if (thread_.joinable()) {
            shutdown(pair_.client, SHUT_RDWR);
            thread_.join();
        }
        close(pair_.client);
    }
    int local() const { return pair_.client; }
    // Ends the local side's sending and waits for the client to finish.
    int Finish() {
        shutdown(pair_.client, SHUT_WR);
        thread_.join();
        return result_;
    }
    const std::string& text() const { return client_->GetUpstreamText(); }

private:
    proxytest::TcpPair pair_;
    std::unique_ptr<CS45CLient> client_;
    std::thread thread_;
    int result_ = -1;
};

// The local client's view: the greeting's answer, then success with data
// relayed both ways, or failure and the end of the connection.
void ExpectOutcome(Session& s, bool ok) {
    EXPECT_EQ(proxytest::ReadBytes(s.local(), 2), Bytes({5, 0}));
    std::string reply = proxytest::ReadBytes(s.local(), 10);
    ASSERT_EQ(reply.size(), 10u);
    EXPECT_EQ(reply[1], ok ? 0 : 1);
    if (ok) {
        ASSERT_TRUE(proxytest::SendText(s.local(), "x"));
        EXPECT_EQ(proxytest::ReadBytes(s.local(), 1), "x");
    }
    EXPECT_EQ(s.Finish(), ok ? 1 : 0);
}

class S45Client : public ::testing::Test {
protected:
    void SetUp() override {
        SetRelayRunningFlag(true);
        GetLocalProxySettings().nodeConnectAttempts = 3;
    }
    static void Aim(CNodeInfo* node, int type, int port) {
        node->type = type;
        node->host = "127.0.0.1";
        node->port = static_cast<uint16_t>(port);
    }
};

// ---- HTTP nodes ------------------------------------------------------------------------

TEST_F(S45Client, HttpConnectLineAndCredentials) {
    struct Case {
        const char* user;
        const char* password;
        std::string authorization;
    } cases[] = {
        {"", "", ""},
        {"alice", "s3cret:x", "Proxy-Authorization: Basic " + Base64Encode("alice:s3cret:x", 14) + "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user);
        ScriptedNode node([](int fd, ScriptedNode& n) {
            n.ReadUntil(fd, "\r\n\r\n");
            // Header and the first payload bytes in one segment.
            ScriptedNode::Write(fd, "HTTP/1.0 200 Connection established\r\nVia: test\r\n\r\nEARLY");
            ScriptedNode::Echo(fd);
        });
        CNodeInfo info;
        Aim(&info, NodeTypeHttp, node.port());
        info.user = c.user;
        info.password = c.password;
        Session s(&info, kGreeting + ConnectName("web.test", 443));
        EXPECT_EQ(proxytest::ReadBytes(s.local(), 2), Bytes({5, 0}));
        std::string reply = proxytest::ReadBytes(s.local(), 10);
        ASSERT_EQ(reply.size(), 10u);
        EXPECT_EQ(reply.substr(0, 8), Bytes({5, 0, 0, 1, 127, 0, 0, 1}));
        EXPECT_EQ(proxytest::ReadBytes(s.local(), 5), "EARLY");
        ASSERT_TRUE(proxytest::SendText(s.local(), "ping"));
        EXPECT_EQ(proxytest::ReadBytes(s.local(), 4), "ping");
        EXPECT_EQ(s.Finish(), 1);
        EXPECT_EQ(
            node.received().substr(0, node.received().find("ping")),
            "CONNECT web.test:443 HTTP/1.1\r\nHost: web.test:443\r\nUser-Agent: Mozilla/5.0 (Windows NT 6.1; "
            "WOW64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/43.0.2357.130 Safari/537.36\r\n"
            "Proxy-Connection: Keep-Alive\r\n" +
                c.authorization + "\r\n");
    }
}

TEST_F(S45Client, HttpAnswers) {
    struct Case {
        const char* name;
        std::string answer;
        size_t piece;
        bool ok;
        const char* text;
    } cases[] = {
        {"200 in single bytes", "HTTP/1.1 200 OK\r\nA: b\r\n\r\n", 1, true, ""},
        {"200 with no reason", "HTTP/1.1 200\r\n\r\n", 0, true, ""},
        {"407", "HTTP/1.1 407 Proxy Authentication Required\r\n\r\n", 0, false,
         "Authentication error: wrong username or password."},
        {"502", "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n", 3, false,
         "Authentication error: wrong username or password."},
        {"one word", "garbage\r\n\r\n", 0, false, "Connection through the proxy server was failed."},
        {"closed at once", "", 0, false, "Failed to send connection"},
        {"no line end", "HTTP/1.1 200 OK", 0, false, "Failed to send connection"},
        {"200 then the header never ends", "HTTP/1.1 200 OK\r\nA: b\r\n", 0, false,
         "Connection through the proxy server was failed."},
        {"header over 8 KiB", "HTTP/1.1 200 OK\r\nX: " + std::string(9000, 'x') + "\r\n\r\n", 0, false,
         "Connection through the proxy server was failed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedNode node([&](int fd, ScriptedNode& n) {
            n.ReadUntil(fd, "\r\n\r\n");
            ScriptedNode::Write(fd, c.answer, c.piece);
            if (c.ok) ScriptedNode::Echo(fd);
        });
        CNodeInfo info;
        Aim(&info, NodeTypeHttp, node.port());
        Session s(&info, kGreeting + ConnectV4(10, 1, 2, 3, 80));
        ExpectOutcome(s, c.ok);
        EXPECT_EQ(s.text(), c.text);
    }
}

// ---- SOCKS 4 nodes --------------------------------------------------------------------

TEST_F(S45Client, Socks4Node) {
    struct Case {
        const char* name;
        const char* user;
        std::string reply;
        size_t piece;
        bool ok;
    } cases[] = {
        {"granted", "", Bytes({0, 90, 0, 0, 0, 0, 0, 0}), 0, true},
        {"granted in pieces, with a user id", "bob", Bytes({0, 90, 1, 2, 3, 4, 5, 6}), 3, true},
        {"rejected", "", Bytes({0, 91, 0, 0, 0, 0, 0, 0}), 0, false},
        {"short answer", "", Bytes({0, 90, 0}), 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedNode node([&](int fd, ScriptedNode& n) {
            n.Read(fd, 8);
            n.ReadUntil(fd, std::string(1, '\0'));
            ScriptedNode::Write(fd, c.reply, c.piece);
            if (c.ok) ScriptedNode::Echo(fd);
        });
        CNodeInfo info;
        Aim(&info, NodeTypeSocks4, node.port());
        info.user = c.user;
        // A name is resolved here: SOCKS 4 carries addresses only.
        Session s(&info, kGreeting + ConnectName("localhost", 8080));
        ExpectOutcome(s, c.ok);
        EXPECT_EQ(s.text(), c.ok ? "" : "Connection through the proxy server was failed.");
        std::string sent = node.received();
        EXPECT_EQ(sent.substr(0, 8), Bytes({4, 1, 0x1f, 0x90, 127, 0, 0, 1}));
        EXPECT_EQ(sent.substr(8, strlen(c.user) + 1), std::string(c.user) + std::string(1, '\0'));
    }
}

// ---- SOCKS 5 nodes --------------------------------------------------------------------

struct Socks5Script {
    std::string choice = Bytes({5, 0});
    std::string authStatus = Bytes({1, 0});
    std::string reply = Bytes({5, 0, 0, 1, 0, 0, 0, 0, 0, 0});
    size_t piece = 0;
    bool echo = true;  // after a granting reply
};

// Reads the greeting, the credentials when it asked for them and the
// request, answers as told and echoes when the reply granted the request.
ScriptedNode::Script Socks5Node(const Socks5Script& script) {
    return [script](int fd, ScriptedNode& n) {
        std::string hello = n.Read(fd, 3);
        if (hello.size() < 3) return;
        ScriptedNode::Write(fd, script.choice, script.piece);
        if (script.choice == Bytes({5, 2})) {
            std::string head = n.Read(fd, 2);
            if (head.size() < 2) return;
            n.Read(fd, static_cast<unsigned char>(head[1]));
            std::string plen = n.Read(fd, 1);
            if (plen.empty()) return;
            n.Read(fd, static_cast<unsigned char>(plen[0]));
            ScriptedNode::Write(fd, script.authStatus, script.piece);
            if (script.authStatus != Bytes({1, 0})) return;
        }
        std::string head = n.Read(fd, 4);
        if (head.size() < 4) return;
        if (head[3] == 1) n.Read(fd, 6);
        if (head[3] == 3) n.Read(fd, static_cast<unsigned char>(n.Read(fd, 1)[0]) + 2u);
        ScriptedNode::Write(fd, script.reply, script.piece);
        if (script.echo) ScriptedNode::Echo(fd);
    };
}

TEST_F(S45Client, Socks5NodeReplies) {
    struct Case {
        const char* name;
        std::string reply;
        bool ok;
        std::string text;
    } cases[] = {
        {"granted, ipv4 bound address", Bytes({5, 0, 0, 1, 1, 2, 3, 4, 0, 80}), true, ""},
        {"granted, name as bound address", Bytes({5, 0, 0, 3, 4, 'h', 'o', 's', 't', 0, 80}), true, ""},
        {"granted, ipv6 bound address", Bytes({5, 0, 0, 4}) + std::string(18, '\0'), false,
         "Connection through the proxy server was failed. IPV6 NOT SUPPORTED."},
        {"rep 1", Bytes({5, 1, 0, 1, 0, 0, 0, 0, 0, 0}), false, "General SOCKS server failure"},
        {"rep 2", Bytes({5, 2, 0, 1, 0, 0, 0, 0, 0, 0}), false, "Connection not allowed by ruleset"},
        {"rep 3", Bytes({5, 3, 0, 1, 0, 0, 0, 0, 0, 0}), false, "Network unreachable"},
        {"rep 4", Bytes({5, 4, 0, 1, 0, 0, 0, 0, 0, 0}), false, "Host unreachable"},
        {"rep 5", Bytes({5, 5, 0, 1, 0, 0, 0, 0, 0, 0}), false, "Connection refused"},
        {"rep 6", Bytes({5, 6, 0, 1, 0, 0, 0, 0, 0, 0}), false, "TTL expired"},
        {"rep 7", Bytes({5, 7, 0, 1, 0, 0, 0, 0, 0, 0}), false, "Command not supported"},
        {"rep 8", Bytes({5, 8, 0, 1, 0, 0, 0, 0, 0, 0}), false, "Address type not supported"},
        {"rep 9", Bytes({5, 9, 0, 1, 0, 0, 0, 0, 0, 0}), false,
         "Connection through the proxy server was failed."},
        {"wrong version", Bytes({4, 0, 0, 1, 0, 0, 0, 0, 0, 0}), false,
         "Connection through the proxy server was failed."},
        {"cut short", Bytes({5, 0, 0, 1, 1, 2}), false, "Connection through the proxy server was failed."},
    };
    for (const auto& c : cases) {
        for (size_t piece : {size_t{0}, size_t{1}}) {
            SCOPED_TRACE(testing::Message() << c.name << ", pieces of " << piece);
            Socks5Script script;
            script.reply = c.reply;
            script.piece = piece;
            script.echo = c.ok;
            ScriptedNode node(Socks5Node(script));
            CNodeInfo info;
            Aim(&info, NodeTypeSocks5, node.port());
            Session s(&info, kGreeting + ConnectName("web.test", 80));
            ExpectOutcome(s, c.ok);
            EXPECT_EQ(s.text(), c.text);
            // The name travels unchanged, as ATYP 3.
            const std::string request = kGreeting + Bytes({5, 1, 0, 3, 8}) + "web.test" + Bytes({0, 80});
            EXPECT_EQ(node.received().substr(0, request.size()), request);
        }
    }
}

TEST_F(S45Client, Socks5NodeCredentials) {
    const std::string auth =
        "Authentication was failed, please confirm you username and password is correct.";
    struct Case {
        const char* name;
        std::string user, password;
        std::string choice, status;
        bool ok;
        std::string sent;  // what the node receives before the request
        std::string text;
    } cases[] = {
        {"user and password", "user", "pw", Bytes({5, 2}), Bytes({1, 0}), true,
         Bytes({5, 1, 2, 1, 4}) + "user" + Bytes({2}) + "pw", ""},
        {"empty password", "user", "", Bytes({5, 2}), Bytes({1, 0}), true,
         Bytes({5, 1, 2, 1, 4}) + "user" + Bytes({0}), ""},
        {"node needs none", "user", "pw", Bytes({5, 0}), "", true, Bytes({5, 1, 2}), ""},
        {"refused", "user", "pw", Bytes({5, 2}), Bytes({1, 1}), false,
         Bytes({5, 1, 2, 1, 4}) + "user" + Bytes({2}) + "pw", auth},
        {"no acceptable method", "user", "pw", Bytes({5, 0xff}), "", false, Bytes({5, 1, 2}), auth},
        {"user over 255 bytes", std::string(256, 'u'), "pw", Bytes({5, 2}), Bytes({1, 0}), false, "", auth},
        {"password over 255 bytes", "user", std::string(300, 'p'), Bytes({5, 2}), Bytes({1, 0}), false, "",
         auth},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Socks5Script script;
        script.choice = c.choice;
        script.authStatus = c.status;
        ScriptedNode node(Socks5Node(script));
        CNodeInfo info;
        Aim(&info, NodeTypeSocks5, node.port());
        info.user = c.user;
        info.password = c.password;
        Session s(&info, kGreeting + ConnectV4(10, 9, 8, 7, 22));
        ExpectOutcome(s, c.ok);
        EXPECT_EQ(s.text(), c.text);
        std::string received = node.received();
        EXPECT_EQ(received.substr(0, c.sent.size()), c.sent);
        if (c.ok) {
            EXPECT_EQ(received.substr(c.sent.size()), Bytes({5, 1, 0, 1, 10, 9, 8, 7, 0, 22}));
        }
        if (c.sent.empty()) {
            EXPECT_EQ(received, "");
        }
    }
}

// An unreachable node is tried four times, each try counted, before the
// local client is told.
TEST_F(S45Client, UnreachableNodeIsTriedFourTimes) {
    CNodeInfo info;
    Aim(&info, NodeTypeSocks5, testsupport::FreeLoopbackPort());
    Session s(&info, kGreeting + ConnectV4(10, 0, 0, 1, 80));
    proxytest::ReadBytes(s.local(), 2);
    EXPECT_EQ(proxytest::ReadBytes(s.local(), 10), Bytes({5, 1, 0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(s.Finish(), 0);
    EXPECT_EQ(info.connectAttempts.load(), 4);
    EXPECT_EQ(info.failedAttempts.load(), 4);
    EXPECT_EQ(info.latency.load(), 0u);
}

TEST_F(S45Client, RelayCountsBytesAndStoresLatency) {
    Socks5Script script;
    ScriptedNode node(Socks5Node(script));
    CNodeInfo info;
    Aim(&info, NodeTypeSocks5, node.port());
    Session s(&info, kGreeting + ConnectV4(10, 0, 0, 1, 80));
    ASSERT_EQ(proxytest::ReadBytes(s.local(), 12).size(), 12u);
    std::string data(300000, 'd');
    std::string back;
    std::thread reader([&] { back = proxytest::ReadBytes(s.local(), data.size(), 20000); });
    ASSERT_TRUE(proxytest::SendText(s.local(), data));
    reader.join();
    EXPECT_EQ(back.size(), data.size());
    EXPECT_EQ(s.Finish(), 1);
    EXPECT_EQ(info.bytesSent.load(), 300000.0);
    EXPECT_EQ(info.bytesReceived.load(), 300000.0);
    EXPECT_GE(info.latency.load(), 1u);
    EXPECT_EQ(info.connectAttempts.load(), 1);
    EXPECT_EQ(info.failedAttempts.load(), 0);
}

// A side that ends its sending half does not end the other direction: the
// rest of the answer still arrives.
TEST_F(S45Client, HalfCloseKeepsTheOtherDirection) {
    Socks5Script script;
    script.reply = Bytes({5, 0, 0, 1, 0, 0, 0, 0, 0, 0});
    ScriptedNode node([&](int fd, ScriptedNode& n) {
        n.Read(fd, 3);
        ScriptedNode::Write(fd, Bytes({5, 0}));
        n.Read(fd, 10);
        ScriptedNode::Write(fd, script.reply);
        std::string request = n.ReadAll(fd);  // until the client's FIN
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ScriptedNode::Write(fd, "answer to " + request + std::string(200000, '.'));
    });
    CNodeInfo info;
    Aim(&info, NodeTypeSocks5, node.port());
    Session s(&info, kGreeting + ConnectV4(10, 0, 0, 1, 80));
    ASSERT_EQ(proxytest::ReadBytes(s.local(), 12).size(), 12u);
    ASSERT_TRUE(proxytest::SendText(s.local(), "question"));
    shutdown(s.local(), SHUT_WR);
    bool closed = false;
    std::string answer = proxytest::ReadToEnd(s.local(), &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(answer, "answer to question" + std::string(200000, '.'));
    EXPECT_EQ(s.Finish(), 1);
}

}  // namespace
