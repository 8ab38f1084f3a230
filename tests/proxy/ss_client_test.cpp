// The Shadowsocks client against a node played by the test with our own
// cryptors: what goes on the wire, both directions in random pieces, the
// half-close, a corrupt stream, unknown names, the UDP association and the
// engine's UDP stream.
#include "proxy/ss_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <vector>
#include <random>
#include <string>
#include <thread>

#include "ciphers/cryptor_factory.h"
#include "foundation/program_log.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/proxy_log.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/proxy/scripted_node.h"
#include "tests/support/cipher_streams.h"
#include "tests/support/net.h"
#include "tests/support/temp_dir.h"

namespace {

using proxytest::Bytes;
using proxytest::ScriptedNode;

const bool kLibraryReady = (InitCipherLibrary(), true);
constexpr const char* kPassword = "ss unit p4ss";

std::string ConnectV4(int port) {
    return Bytes({5, 1, 0, 5, 1, 0, 1, 127, 0, 0, 1, port >> 8, port & 0xff});
}
std::string ConnectName(const std::string& name, int port) {
    return Bytes({5, 1, 0, 5, 1, 0, 3, static_cast<int>(name.size())}) + name + Bytes({port >> 8, port & 0xff});
}

// Exposes what the tests look into.
class ProbeClient : public CSSRCLient {
public:
    using CSSRCLient::CSSRCLient;
    uint32_t ProtocolHeadLength() const { return protocol_ ? protocol_->GetServerInfo().headLength : 0; }
    uint32_t ObfsHeadLength() const { return obfs_ ? obfs_->GetServerInfo().headLength : 0; }
    // For driving RecvVia directly on a socket of the test's.
    int Adopt(int remote) {
        remoteSocket_ = remote;
        return BuildPipeline();
    }
};

// Reads from `fd` and decrypts until `n` plain bytes arrived, the peer
// closed, or the cryptor failed.
std::string ReadPlain(int fd, CCryptor& c, size_t n, bool* failed = nullptr) {
    std::string plain;
    if (failed) *failed = false;
    std::mt19937 rng(static_cast<uint32_t>(n));
    while (plain.size() < n) {
        // One receive of a random size, so that pieces split IVs and chunks.
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) != 1) break;
        char buf[8192];
        ssize_t got = recv(fd, buf, std::uniform_int_distribution<size_t>(1, sizeof buf)(rng), 0);
        if (got <= 0) break;
        std::string wire(buf, static_cast<size_t>(got));
        if (!testsupport::DecryptPiece(c, wire, &plain)) {
            if (failed) *failed = true;
            break;
        }
    }
    return plain;
}

// Everything until the peer's end of stream, decrypted.
std::string ReadPlainToEnd(int fd, CCryptor& c) {
    std::string plain;
    char buf[65536];
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        if (!testsupport::DecryptPiece(c, std::string(buf, static_cast<size_t>(n)), &plain)) break;
    }
    return plain;
}

// One local connection served by a CSSRCLient through `node`.
class Session {
public:
    Session(CNodeInfo* node, const std::string& request) {
        pair_ = proxytest::MakeTcpPair();
        client_ = std::make_unique<ProbeClient>(pair_.server, "", "");
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
    int Join() {
        thread_.join();
        return result_;
    }
    // What the listener does after Run: the client goes, closing its sockets.
    void EndClient() { client_.reset(); }
    ProbeClient& client() { return *client_; }

private:
    proxytest::TcpPair pair_;
    std::unique_ptr<ProbeClient> client_;
    std::thread thread_;
    int result_ = -1;
};

class SsClient : public ::testing::Test {
protected:
    void SetUp() override {
        SetRelayRunningFlag(true);
        GetLocalProxySettings().nodeConnectAttempts = 3;
    }
    static void Aim(CNodeInfo* node, const std::string& method, int port) {
        node->type = NodeTypeSSR;
        node->host = "127.0.0.1";
        node->port = static_cast<uint16_t>(port);
        node->password = kPassword;
        node->method = method;
        node->protocol = "origin";
        node->obfs = "plain";
    }
};

// The first upload is the address header, and with "origin" and "plain" the
// wire holds the cryptor's output and nothing else.
TEST_F(SsClient, FirstUploadIsTheAddressHeaderThroughTheCryptor) {
    const std::string name200(200, 'n');
    struct Case {
        const char* method;
        std::string request;
        std::string header;
    } cases[] = {
        {"aes-256-cfb", ConnectV4(8080), Bytes({1, 127, 0, 0, 1, 0x1f, 0x90})},
        {"aes-256-gcm", ConnectName("web.test", 443), Bytes({3, 8}) + "web.test" + Bytes({1, 0xbb})},
        {"chacha20-ietf-poly1305", ConnectName(name200, 80), Bytes({3, 200}) + name200 + Bytes({0, 80})},
        {"rc4-md5", ConnectV4(53), Bytes({1, 127, 0, 0, 1, 0, 53})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        const std::string payload = testsupport::RandomText(3000, 7);
        ScriptedNode node([&](int fd, ScriptedNode&) {
            auto server = CreateCryptor(c.method, kPassword);
            std::string plain = ReadPlain(fd, *server, c.header.size() + payload.size());
            EXPECT_EQ(plain, c.header + payload);
            proxytest::SendText(fd, testsupport::MustEncrypt(*server, "answer"));
            ReadPlainToEnd(fd, *server);
        });
        CNodeInfo info;
        Aim(&info, c.method, node.port());
        Session s(&info, c.request);
        std::string reply = proxytest::ReadBytes(s.local(), 12);
        ASSERT_EQ(reply.size(), 12u);
        EXPECT_EQ(reply.substr(0, 4), Bytes({5, 0, 5, 0}));
        ASSERT_TRUE(proxytest::SendText(s.local(), payload));
        EXPECT_EQ(proxytest::ReadBytes(s.local(), 6), "answer");
        shutdown(s.local(), SHUT_WR);
        EXPECT_EQ(s.Join(), 1);
        EXPECT_EQ(s.client().ProtocolHeadLength(), c.header.size());
        EXPECT_EQ(s.client().ObfsHeadLength(), c.header.size());
        EXPECT_GE(info.bytesSent.load(), static_cast<double>(payload.size()));
        EXPECT_EQ(info.bytesReceived.load(), 6.0);
    }
}

// A megabyte each way, the node's answer cut into random pieces that split
// IVs, salts and chunks; the answer comes after the local client's FIN.
TEST_F(SsClient, BothDirectionsInRandomPiecesAcrossAHalfClose) {
    for (const char* method : {"aes-256-gcm", "chacha20-ietf-poly1305", "aes-256-cfb"}) {
        SCOPED_TRACE(method);
        const std::string up = testsupport::RandomText(1 << 20, 1);
        const std::string down = testsupport::RandomText(1 << 20, 2);
        std::string seenUp;
        ScriptedNode node([&](int fd, ScriptedNode&) {
            auto server = CreateCryptor(method, kPassword);
            seenUp = ReadPlainToEnd(fd, *server);  // until the client's FIN arrives
            std::string wire = testsupport::EncryptInPieces(*server, down, 3, 40000);
            std::mt19937 rng(4);
            for (size_t at = 0; at < wire.size();) {
                size_t n = std::min<size_t>(std::uniform_int_distribution<size_t>(1, 30000)(rng), wire.size() - at);
                if (!proxytest::SendText(fd, wire.substr(at, n))) break;
                at += n;
            }
        });
        CNodeInfo info;
        Aim(&info, method, node.port());
        Session s(&info, ConnectV4(9));
        ASSERT_EQ(proxytest::ReadBytes(s.local(), 12).substr(2, 2), Bytes({5, 0}));
        ASSERT_TRUE(proxytest::SendText(s.local(), up));
        shutdown(s.local(), SHUT_WR);
        bool closed = false;
        std::string got = proxytest::ReadToEnd(s.local(), &closed, 60000);
        EXPECT_TRUE(closed);
        EXPECT_TRUE(got == down) << got.size();
        EXPECT_EQ(s.Join(), 1);
        EXPECT_TRUE(seenUp == Bytes({1, 127, 0, 0, 1, 0, 9}) + up) << seenUp.size();
    }
}

// A chunk that fails its tag ends the connection: the local client gets what
// came before it and then the end, never bytes of a broken stream.
TEST_F(SsClient, ACorruptChunkFromTheNodeEndsTheConnection) {
    const std::string first = testsupport::RandomText(2000, 5);
    const std::string second = testsupport::RandomText(2000, 6);
    ScriptedNode node([&](int fd, ScriptedNode&) {
        auto server = CreateCryptor("aes-256-gcm", kPassword);
        ReadPlain(fd, *server, 7);
        proxytest::SendText(fd, testsupport::MustEncrypt(*server, first));
        std::string bad = testsupport::MustEncrypt(*server, second);
        bad[bad.size() / 2] ^= 0x40;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        proxytest::SendText(fd, bad);
        proxytest::ReadToEnd(fd, nullptr, 20000);
    });
    CNodeInfo info;
    Aim(&info, "aes-256-gcm", node.port());
    Session s(&info, ConnectV4(80));
    ASSERT_EQ(proxytest::ReadBytes(s.local(), 12).substr(2, 2), Bytes({5, 0}));
    EXPECT_EQ(proxytest::ReadBytes(s.local(), first.size()), first);
    // The relay ends by itself, well before the node gives up.
    EXPECT_EQ(s.Join(), 1);
    s.EndClient();
    bool closed = false;
    EXPECT_EQ(proxytest::ReadToEnd(s.local(), &closed, 5000), "");
    EXPECT_TRUE(closed);
}

// Names the factories do not know end the connection before any SOCKS byte.
TEST_F(SsClient, UnknownNamesEndTheConnectionBeforeAnyReply) {
    struct Case {
        const char* method;
        const char* protocol;
        const char* obfs;
    } cases[] = {
        {"no-such-cipher", "origin", "plain"},
        {"aes-256-cfb", "no_such_protocol", "plain"},
        {"aes-256-cfb", "origin", "no_such_obfs"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + "/" + c.protocol + "/" + c.obfs);
        ScriptedNode node([](int fd, ScriptedNode& n) { n.ReadAll(fd); });
        CNodeInfo info;
        Aim(&info, c.method, node.port());
        info.protocol = c.protocol;
        info.obfs = c.obfs;
        Session s(&info, ConnectV4(80));
        EXPECT_EQ(s.Join(), 0);
        s.EndClient();
        bool closed = false;
        EXPECT_EQ(proxytest::ReadToEnd(s.local(), &closed, 5000), "");
        EXPECT_EQ(node.accepted(), 0);
    }
}

// A receive delivers what the stages release, 0 while a chunk is
// incomplete, and never more than the caller's buffer holds.
TEST_F(SsClient, ReceiveDeliversWholeChunksWithinTheCallersBuffer) {
    CNodeInfo info;
    Aim(&info, "aes-128-gcm", 1);
    auto server = CreateCryptor("aes-128-gcm", kPassword);
    const std::string text = testsupport::RandomText(1000, 9);
    std::string wire = testsupport::MustEncrypt(*server, text);  // with the salt
    const size_t firstEnd = wire.size();
    wire += testsupport::MustEncrypt(*server, text);

    proxytest::TcpPair pair = proxytest::MakeTcpPair();
    int local[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, local), 0);
    ProbeClient client(local[0], "", "");
    client.AttachNode(&info);
    ASSERT_EQ(client.Adopt(pair.server), 1);
    std::vector<char> buf(4096);
    int sendBack = -1, flag = -1;

    // Salt and half the first chunk: nothing to deliver yet.
    const size_t half = firstEnd / 2;
    ASSERT_TRUE(proxytest::SendText(pair.client, wire.substr(0, half)));
    EXPECT_EQ(client.RecvVia(pair.server, buf.data(), 4096, 5, &sendBack, &flag), 0);
    EXPECT_EQ(sendBack, 0);
    EXPECT_EQ(flag, 1);
    // The rest of it: the whole first chunk.
    ASSERT_TRUE(proxytest::SendText(pair.client, wire.substr(half, firstEnd - half)));
    ASSERT_EQ(client.RecvVia(pair.server, buf.data(), 4096, 5, &sendBack, &flag), 1000);
    EXPECT_EQ(std::string(buf.data(), 1000), text);
    // The second chunk does not fit a 999-byte buffer: the stream ends.
    ASSERT_TRUE(proxytest::SendText(pair.client, wire.substr(firstEnd)));
    EXPECT_EQ(client.RecvVia(pair.server, buf.data(), 999, 5, &sendBack, &flag), -1);
    close(pair.client);
    close(local[1]);
}

// A UDP association: each datagram reaches the node with an IV of its own
// and without the SOCKS prefix; answers come back with it; another host's
// datagrams are ignored; the relay ends with its TCP connection.
TEST_F(SsClient, UdpAssociationThroughTheNode) {
    for (const char* method : {"aes-256-gcm", "aes-256-cfb"}) {
        SCOPED_TRACE(method);
        int nodeUdp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in nodeAddr{};
        nodeAddr.sin_family = AF_INET;
        nodeAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof nodeAddr;
        ASSERT_EQ(bind(nodeUdp, reinterpret_cast<sockaddr*>(&nodeAddr), sizeof nodeAddr), 0);
        getsockname(nodeUdp, reinterpret_cast<sockaddr*>(&nodeAddr), &len);
        CNodeInfo info;
        Aim(&info, method, ntohs(nodeAddr.sin_port));
        Session s(&info, Bytes({5, 1, 0, 5, 3, 0, 1, 0, 0, 0, 0, 0, 0}));
        std::string reply = proxytest::ReadBytes(s.local(), 12);
        ASSERT_EQ(reply.size(), 12u);
        ASSERT_EQ(reply.substr(2, 8).substr(0, 4), Bytes({5, 0, 0, 1}));
        EXPECT_EQ(reply.substr(6, 4), Bytes({127, 0, 0, 1}));
        sockaddr_in relay{};
        relay.sin_family = AF_INET;
        std::memcpy(&relay.sin_addr, reply.data() + 6, 4);
        std::memcpy(&relay.sin_port, reply.data() + 10, 2);

        int app = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const std::string header = Bytes({1, 10, 1, 2, 3, 0, 53});
        const std::string datagram = Bytes({0, 0, 0}) + header + "question";
        std::string ivs[2];
        sockaddr_in from{};
        for (auto& iv : ivs) {
            sendto(app, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&relay), sizeof relay);
            pollfd p{nodeUdp, POLLIN, 0};
            ASSERT_EQ(poll(&p, 1, 5000), 1);
            std::string got(65536, '\0');
            socklen_t fl = sizeof from;
            ssize_t n = recvfrom(nodeUdp, got.data(), got.size(), 0, reinterpret_cast<sockaddr*>(&from), &fl);
            ASSERT_GT(n, 0);
            got.resize(static_cast<size_t>(n));
            auto server = CreateCryptor(method, kPassword);
            std::string plain;
            ASSERT_TRUE(testsupport::DecryptPiece(*server, got, &plain, nullptr, true));
            EXPECT_EQ(plain, header + "question");
            iv = got.substr(0, 16);
        }
        EXPECT_NE(ivs[0], ivs[1]);

        auto server = CreateCryptor(method, kPassword);
        std::string answer = testsupport::MustEncrypt(*server, header + "answer", true);
        sendto(nodeUdp, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
        pollfd p{app, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 5000), 1);
        char buf[2048];
        ssize_t n = recv(app, buf, sizeof buf, 0);
        EXPECT_EQ(std::string(buf, static_cast<size_t>(std::max<ssize_t>(n, 0))),
                  Bytes({0, 0, 0}) + header + "answer");

        // Another host (127.0.0.2) is not served.
        int stranger = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in other{};
        other.sin_family = AF_INET;
        other.sin_addr.s_addr = htonl(0x7f000002);
        ASSERT_EQ(bind(stranger, reinterpret_cast<sockaddr*>(&other), sizeof other), 0);
        sendto(stranger, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&relay), sizeof relay);
        pollfd q{nodeUdp, POLLIN, 0};
        EXPECT_EQ(poll(&q, 1, 500), 0);

        shutdown(s.local(), SHUT_WR);
        EXPECT_EQ(s.Join(), 1);
        close(stranger);
        close(app);
        close(nodeUdp);
    }
}

// The engine's UDP stream: success is replied only when the node's server
// resolves, and then the relay loop serves the stream until it ends; no TCP
// connection is made to the node.
TEST_F(SsClient, EngineUdpStreamIsServedWhenTheNodeResolves) {
    struct Case {
        const char* host;
        int rep;
        int result;
    } cases[] = {{"127.0.0.1", 0, 1}, {"", 1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        ScriptedNode node([](int fd, ScriptedNode& n) { n.ReadAll(fd); });
        CNodeInfo info;
        Aim(&info, "aes-256-cfb", node.port());
        info.host = c.host;
        Session s(&info, ConnectV4(GetLocalProxySettings().udpRelayPort.load()));
        std::string reply = proxytest::ReadBytes(s.local(), 12);
        ASSERT_EQ(reply.size(), 12u);
        EXPECT_EQ(reply[3], c.rep);
        shutdown(s.local(), SHUT_WR);
        EXPECT_EQ(s.Join(), c.result);
        EXPECT_EQ(node.accepted(), 0);
    }
}

TEST(SsAddressHeader, Forms) {
    EXPECT_EQ(BuildAddressHeader(1, "10.0.0.1", 0x1234), Bytes({1, 10, 0, 0, 1, 0x12, 0x34}));
    EXPECT_EQ(BuildAddressHeader(3, "a.b", 80), Bytes({3, 3}) + "a.b" + Bytes({0, 80}));
    EXPECT_EQ(BuildAddressHeader(3, std::string(255, 'x'), 1).size(), 259u);
    EXPECT_EQ(BuildAddressHeader(3, std::string(256, 'x'), 1), "");
    EXPECT_EQ(BuildAddressHeader(1, "not.an.address", 1), "");
    EXPECT_EQ(BuildAddressHeader(4, "::1", 1), "");
}

}  // namespace

namespace {

// The program log in a folder of the test's own, read back line by line.
class LogCapture {
public:
    LogCapture() {
        std::filesystem::create_directory(dir_ / "log");
        InitLogging(dir_.path(), "log", "proxy.log", 0, 1);
        ResetProxyLogBudget();
    }
    std::vector<std::string> Lines(const std::string& containing) const {
        std::vector<std::string> found;
        std::istringstream in(testsupport::ReadFile(dir_ / "log" / "proxy.log"));
        for (std::string line; std::getline(in, line);) {
            if (line.find(containing) != std::string::npos) found.push_back(line);
        }
        return found;
    }

private:
    testsupport::TempDir dir_;
};

// Sends `bytes` and resets the connection.
void SendAndReset(int fd, const std::string& bytes) {
    proxytest::SendText(fd, bytes);
    linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

}  // namespace

// Every way a relayed connection ends early leaves exactly one line naming
// the stage, the node and the bytes relayed so far.
TEST_F(SsClient, EachEarlyEndLeavesOneLogLine) {
    const std::string answer = testsupport::RandomText(1000, 8);
    struct Case {
        const char* name;
        const char* method;
        const char* protocol;
        const char* obfs;
        // What the node does after reading the address header.
        std::function<void(int fd, CCryptor& server)> node;
        const char* stage;
        bool answered;  // the node's first answer reached the client
    } cases[] = {
        {"corrupt chunk", "aes-256-gcm", "origin", "plain",
         [&](int fd, CCryptor& server) {
             proxytest::SendText(fd, testsupport::MustEncrypt(server, answer));
             std::string bad = testsupport::MustEncrypt(server, answer);
             bad[bad.size() / 2] ^= 0x40;
             std::this_thread::sleep_for(std::chrono::milliseconds(50));
             proxytest::SendText(fd, bad);
             proxytest::ReadToEnd(fd, nullptr, 5000);
         },
         "ended early at the cryptor (decrypt)", true},
        {"refused protocol frame", "aes-256-cfb", "auth_aes128_md5", "plain",
         [&](int fd, CCryptor& server) {
             proxytest::SendText(fd, testsupport::MustEncrypt(server, testsupport::RandomText(300, 9)));
             proxytest::ReadToEnd(fd, nullptr, 5000);
         },
         "ended early at the protocol plug-in (download)", false},
        {"refused obfuscation", "aes-256-cfb", "origin", "tls1.2_ticket_auth",
         [&](int fd, CCryptor&) {
             proxytest::SendText(fd, testsupport::RandomText(300, 10));
             proxytest::ReadToEnd(fd, nullptr, 5000);
         },
         "ended early at the obfuscation plug-in (download)", false},
        {"peer reset", "aes-256-gcm", "origin", "plain",
         [&](int fd, CCryptor& server) { SendAndReset(fd, testsupport::MustEncrypt(server, answer)); },
         "ended early at receive from the node (Connection reset by peer)", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        ScriptedNode node([&](int fd, ScriptedNode&) {
            auto server = CreateCryptor(c.method, kPassword);
            // The header of a plain node is read whole; a plug-in's is just waited for.
            if (std::string(c.protocol) == "origin" && std::string(c.obfs) == "plain") {
                ReadPlain(fd, *server, 7);
            } else {
                pollfd p{fd, POLLIN, 0};
                poll(&p, 1, 5000);
                char sink[4096];
                recv(fd, sink, sizeof sink, 0);
            }
            c.node(fd, *server);
        });
        CNodeInfo info;
        Aim(&info, c.method, node.port());
        info.protocol = c.protocol;
        info.obfs = c.obfs;
        Session s(&info, ConnectV4(80));
        ASSERT_EQ(proxytest::ReadBytes(s.local(), 12).substr(2, 2), Bytes({5, 0}));
        if (c.answered) {
            EXPECT_EQ(proxytest::ReadBytes(s.local(), answer.size()), answer);
        }
        EXPECT_EQ(s.Join(), 1);
        s.EndClient();
        std::vector<std::string> lines = log.Lines("ended early");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(c.stage), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find("connection to 127.0.0.1:80 through node 127.0.0.1:" + std::to_string(node.port())),
                  std::string::npos)
            << lines[0];
        std::string down = c.answered ? std::to_string(answer.size()) : "0";
        EXPECT_NE(lines[0].find(" bytes up, " + down + " bytes down"), std::string::npos) << lines[0];
    }
}

// A node that cannot be reached: one line for the connect step.
TEST_F(SsClient, AnUnreachableNodeLeavesOneLogLine) {
    LogCapture log;
    CNodeInfo info;
    Aim(&info, "aes-256-gcm", testsupport::FreeLoopbackPort());
    GetLocalProxySettings().nodeConnectAttempts = 1;
    Session s(&info, ConnectV4(80));
    EXPECT_EQ(s.Join(), 0);
    std::vector<std::string> lines = log.Lines("ended early");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("ended early at connect through the node"), std::string::npos) << lines[0];
}

// A storm of early ends cannot flood the log: lines past the budget are
// left out and counted in the next line that is written.
TEST(ProxyLog, AStormIsCutAndCounted) {
    LogCapture log;
    for (int i = 0; i < 1000; ++i) LogProxyEvent("storm line");
    EXPECT_LE(log.Lines("storm line").size(), 40u);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    LogProxyEvent("after the storm");
    std::vector<std::string> after = log.Lines("after the storm");
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after[0].find("similar lines left out"), std::string::npos) << after[0];
}
