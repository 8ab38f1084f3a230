// SSH2 connections over Debian's sshd: the test opens an SSH session with
// libssh2 and a key of its own, hands it to the listener, and lets the
// listener's channel step and CSSH2CLient carry connections to an echo
// server behind sshd: 64 MiB each way by SHA-256 across a half-close, ten
// connections at once on the one session (through the listener itself), and
// a channel that sshd's PermitOpen refuses.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <libssh2.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "nodes/node_info.h"
#include "proxy/listener.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/proxy_service.h"
#include "proxy/ssh2_serve.h"
#include "proxy/ssh_session.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/support/e2e_transfer.h"
#include "tests/support/echo_servers.h"
#include "tests/support/net.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::Blob;
using proxytest::Bytes;
using testsupport::NetNamespace;

constexpr int kSshPort = 2222;

// Sends `data` and a FIN on `s` while reading everything that comes back
// until the peer's FIN; returns what came back.
std::string EchoExchange(int s, const std::string& data) {
    std::thread writer([&] {
        proxytest::SendText(s, data);
        shutdown(s, SHUT_WR);
    });
    bool closed = false;
    std::string back = proxytest::ReadToEnd(s, &closed, 240000);
    writer.join();
    EXPECT_TRUE(closed);
    return back;
}

class Ssh2Relay : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::CanUseNetns() || !testsupport::HaveProgram("ssh-keygen") ||
            !std::filesystem::exists("/usr/sbin/sshd")) {
            return;
        }
        try {
            Build();
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            TearDownTestSuite();
        }
    }

    static void Build() {
        dir_ = std::make_unique<testsupport::TempDir>("cendrow-ssh2");
        const std::string d = dir_->path().string();
        ns_ = std::make_unique<NetNamespace>("cdr-ssh");
        for (const char* key : {"host_key", "client_key"}) {
            if (testsupport::RunCommand({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", d + "/" + key}) != 0) {
                throw std::runtime_error("ssh-keygen failed");
            }
        }
        std::filesystem::copy_file(d + "/client_key.pub", d + "/authorized_keys");
        {
            NetNamespace::Scope scope(*ns_);
            echo_ = std::make_unique<testsupport::TcpEchoServer>();
        }
        testsupport::WriteFile(d + "/sshd_config",
                               "Port " + std::to_string(kSshPort) +
                                   "\nListenAddress 127.0.0.1\nHostKey " + d +
                                   "/host_key\nAuthorizedKeysFile " + d +
                                   "/authorized_keys\nStrictModes no\nPubkeyAuthentication yes\n"
                                   "PasswordAuthentication no\nKbdInteractiveAuthentication no\nUsePAM no\n"
                                   "PermitRootLogin yes\nAllowTcpForwarding yes\nPermitOpen 127.0.0.1:" +
                                   std::to_string(echo_->port()) + "\nMaxSessions 100\nPidFile " + d +
                                   "/sshd.pid\nLogLevel ERROR\n");
        std::filesystem::create_directories("/run/sshd");
        sshd_ = std::make_unique<testsupport::ChildProcess>(
            ns_->Spawn({"/usr/sbin/sshd", "-D", "-e", "-f", d + "/sshd_config"}, d + "/sshd.log"));

        NetNamespace::Scope scope(*ns_);
        int s = -1;
        bool up = proxytest::WaitUntil(
            [&] {
                s = proxytest::ConnectLoopback(kSshPort);
                return s >= 0;
            },
            std::chrono::seconds(10));
        if (!up) throw std::runtime_error("sshd does not listen\n" + testsupport::ReadFile(d + "/sshd.log"));
        LIBSSH2_SESSION* session = libssh2_session_init();
        if (session == nullptr || libssh2_session_handshake(session, s) != 0 ||
            libssh2_userauth_publickey_fromfile(session, "root", (d + "/client_key.pub").c_str(),
                                                (d + "/client_key").c_str(), nullptr) != 0) {
            char* message = nullptr;
            if (session) libssh2_session_last_error(session, &message, nullptr, 0);
            std::string why = message ? message : "no session";
            if (session) libssh2_session_free(session);
            close(s);
            throw std::runtime_error("no SSH session: " + why + "\n" + testsupport::ReadFile(d + "/sshd.log"));
        }
        GetLocalListener().SetSshSession(session, s);
    }

    static void TearDownTestSuite() {
        StopLocalProxy();
        StoreCurrentProxyNode(nullptr);
        GetLocalListener().SetSshSession(nullptr, -1);
        if (sshd_) sshd_->Stop();
        sshd_.reset();
        echo_.reset();
        ns_.reset();
        dir_.reset();
    }

    void SetUp() override {
        if (!ns_) GTEST_SKIP() << "needs root, iproute2, sshd, ssh-keygen";
        SetRelayRunning();
        node_.type = NodeTypeSSH2;
        node_.host = "127.0.0.1";
        node_.port = static_cast<uint16_t>(echo_->port());
    }

    // One local connection served through the listener's channel step.
    struct Served {
        proxytest::TcpPair pair;
        std::thread thread;
        bool built = false;
    };
    std::unique_ptr<Served> Serve(CNodeInfo* node) {
        auto served = std::make_unique<Served>();
        served->pair = proxytest::MakeTcpPair();
        Served* raw = served.get();
        raw->thread = std::thread([raw, node] {
            raw->built = ServeSsh2Connection(GetLocalListener().GetSshSession(), raw->pair.server, node,
                                             "127.0.0.1", 40000, "", "");
            if (!raw->built) close(raw->pair.server);
        });
        return served;
    }

    static std::unique_ptr<testsupport::TempDir> dir_;
    static std::unique_ptr<NetNamespace> ns_;
    static std::unique_ptr<testsupport::TcpEchoServer> echo_;
    static std::unique_ptr<testsupport::ChildProcess> sshd_;
    CNodeInfo node_;
};

std::unique_ptr<testsupport::TempDir> Ssh2Relay::dir_;
std::unique_ptr<NetNamespace> Ssh2Relay::ns_;
std::unique_ptr<testsupport::TcpEchoServer> Ssh2Relay::echo_;
std::unique_ptr<testsupport::ChildProcess> Ssh2Relay::sshd_;

// 64 MiB each way: everything sent comes back, and the local FIN travels as
// the channel's EOF while the other direction still flows.
TEST_F(Ssh2Relay, SixtyFourMebibytesEachWayAcrossAHalfClose) {
    auto served = Serve(&node_);
    int local = served->pair.client;
    ASSERT_TRUE(proxytest::SendText(local, Bytes({5, 1, 0, 5, 1, 0, 1, 127, 0, 0, 1, 0, 7})));
    ASSERT_EQ(proxytest::ReadBytes(local, 12).substr(0, 4), Bytes({5, 0, 5, 0}));
    const std::string data = Blob(64u << 20, 3);
    std::string back = EchoExchange(local, data);
    EXPECT_EQ(back.size(), data.size());
    EXPECT_EQ(testsupport::HexSha256(back), testsupport::HexSha256(data));
    served->thread.join();
    EXPECT_TRUE(served->built);
    close(local);
    EXPECT_GE(node_.bytesSent.load(), static_cast<double>(data.size()));
    EXPECT_GE(node_.bytesReceived.load(), static_cast<double>(data.size()));
}

// Ten connections at once on the one session, through the listener: each
// channel open after the first finds the session non-blocking and waits its
// turn instead of failing.
TEST_F(Ssh2Relay, TenConnectionsAtOnceThroughTheListener) {
    {
        NetNamespace::Scope scope(*ns_);
        ASSERT_EQ(StartLocalProxy("", "", 0), 1);
    }
    // The program refuses SSH2 nodes as the current node; the test sets it directly.
    StoreCurrentProxyNode(&node_);
    std::vector<std::thread> clients;
    std::vector<int> ok(10, 0);
    for (int i = 0; i < 10; ++i) {
        clients.emplace_back([&, i] {
            int s;
            {
                NetNamespace::Scope scope(*ns_);
                s = proxytest::ConnectLoopback(GetLocalProxyPort());
            }
            if (s < 0) return;
            proxytest::SendText(s, Bytes({5, 1, 0, 5, 1, 0, 1, 127, 0, 0, 1, 0, 7}));
            if (proxytest::ReadBytes(s, 12, 20000).substr(0, 4) != Bytes({5, 0, 5, 0})) {
                close(s);
                return;
            }
            const std::string data = Blob(4u << 20, 100 + static_cast<uint64_t>(i));
            std::string back = EchoExchange(s, data);
            ok[static_cast<size_t>(i)] = back == data;
            close(s);
        });
    }
    for (auto& t : clients) t.join();
    for (int i = 0; i < 10; ++i) EXPECT_EQ(ok[static_cast<size_t>(i)], 1) << "connection " << i;
    EXPECT_TRUE(proxytest::WaitUntil([] { return GetActiveConnectionCount() == 0; }, std::chrono::seconds(10)));
    StoreCurrentProxyNode(nullptr);
    StopLocalProxy();
}

// sshd refuses a channel to a destination that PermitOpen does not list:
// no client is built and the local connection ends without a reply.
TEST_F(Ssh2Relay, AChannelThatSshdRefusesFails) {
    node_.port = static_cast<uint16_t>(echo_->port() == 65535 ? 1 : echo_->port() + 1);
    auto served = Serve(&node_);
    served->thread.join();
    EXPECT_FALSE(served->built);
    bool closed = false;
    EXPECT_EQ(proxytest::ReadToEnd(served->pair.client, &closed, 5000), "");
    EXPECT_TRUE(closed);
    close(served->pair.client);
    // The session still serves the allowed destination.
    node_.port = static_cast<uint16_t>(echo_->port());
    auto again = Serve(&node_);
    ASSERT_TRUE(proxytest::SendText(again->pair.client, Bytes({5, 1, 0, 5, 1, 0, 1, 127, 0, 0, 1, 0, 7})));
    EXPECT_EQ(proxytest::ReadBytes(again->pair.client, 12).substr(0, 4), Bytes({5, 0, 5, 0}));
    EXPECT_EQ(EchoExchange(again->pair.client, "still open"), "still open");
    again->thread.join();
    close(again->pair.client);
}

}  // namespace
