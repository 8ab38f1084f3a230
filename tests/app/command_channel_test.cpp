// The command channel: the reply frame against a known answer computed with
// Python, the commands' replies, the socket transport with bad frames, and a
// peer of another user refused.
//
// Known answer (Python 3):
//   key = hashlib.md5(b"test-password" + b"qvmex4827").hexdigest()[:16]  # "ebc2907862fb7507"
//   rc4(key, b"0\r\n").hex() == "b47a4d"
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "app/command_channel.h"
#include "foundation/text_convert.h"
#include "netconfig/additional_route.h"
#include "netconfig/dns_manager.h"
#include "netconfig/unbound_controller.h"
#include "nodes/subscriptions.h"
#include "tests/app/app_fixture.h"

namespace apptest {
namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string ReadAll(int fd) {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
}

TEST(CommandChannel, ReplyFrameMatchesTheKnownAnswer) {
    CNSTAP ns(nullptr, nullptr);
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    // Without a password nothing is sent.
    EXPECT_EQ(ns.ParseRecvCommand(sv[0], NSCMD_NOP, nullptr, 0), 0);
    ns.SetPassword("test-password");
    EXPECT_EQ(ns.DeriveKey(), "ebc2907862fb7507");
    EXPECT_EQ(ns.ParseRecvCommand(sv[0], NSCMD_NOP, nullptr, 0), 1);
    EXPECT_EQ(ns.ParseRecvCommand(sv[0], 22, nullptr, 0), 0);  // not a command: nothing
    EXPECT_EQ(ns.ParseRecvCommand(sv[0], NSCMD_GETSTATE, nullptr, 0), 1);
    close(sv[0]);
    EXPECT_EQ(Hex(ReadAll(sv[1])), "0d03000000b47a4d"
                                   "0b0f000000b47a4d2ecd96e234193611479910de");
    close(sv[1]);
}

struct CommandCase {
    const char* name;
    int command;
    std::string data;
    int status;
    std::string text;
};

TEST_F(AppCoreTest, CommandsAnswerAsTheTableSays) {
    CNSTAP ns(core_.get(), &system_);
    CNodeInfo* node = AddNode();
    const std::string wrong = "received wrong packet.";
    const CommandCase cases[] = {
        {"state", NSCMD_GETSTATE, "", 0, "disconnected"},
        {"modes", NSCMD_GETPROXYMODES, "", 0,
         "0,Global wide|1,Web Browser only(Global)|2,Web Browser only(Skip Chinese sites)|"},
        {"set proxy, two fields", NSCMD_SETPROXY, "1\r\n2", 1, wrong},
        {"set proxy, no data", NSCMD_SETPROXY, "", 1, wrong},
        {"set mode", NSCMD_SETCURRENTPROXYMODE, "0", 0, ""},
        {"show on", CMD_SHOW_HIDE_WINDOW, "ON", 0, ""},
        {"show maybe", CMD_SHOW_HIDE_WINDOW, "maybe", 1, wrong},
        {"route, capital action", NSCMD_ADDADDITIONALROUTE, "203.0.113.9\r\nx\r\nPROXIFY", 0, ""},
        {"route, empty field", NSCMD_ADDADDITIONALROUTE, "203.0.113.9\r\n\r\nproxify", 1, wrong},
        {"subscription, capital frequency", NSCMD_ADDSSRSUBSCRIPTION, "1 Day\r\nhttp://sub.test/a\r\n", 0, ""},
        {"subscription, no URL", NSCMD_ADDSSRSUBSCRIPTION, "1 day\r\n\r\n", 1, "Parameters error."},
        {"add node, empty user", CMD_SET_CURRENT_PROXY, "n.test\r\n1080\r\n\r\n\r\n5\r\n\r\n\r\n\r\n\r\n", 0, "1"},
        {"add node, port 65536", CMD_SET_CURRENT_PROXY, "n.test\r\n65536\r\n\r\n\r\n5\r\n\r\n\r\n\r\n\r\n", 1,
         "Parameters error."},
        {"add node, type 261", CMD_SET_CURRENT_PROXY, "n.test\r\n1080\r\n\r\n\r\n261\r\n\r\n\r\n\r\n\r\n", 1,
         "Parameters error."},
        {"add ss node without method", CMD_SET_CURRENT_PROXY, "s.test\r\n8388\r\n\r\npw\r\n6\r\n\r\n\r\n\r\n\r\n", 1,
         "Parameters error."},
        {"add node, nine fields", CMD_SET_CURRENT_PROXY, "n.test\r\n1080\r\n\r\n\r\n5\r\n\r\n\r\n\r\n", 1, wrong},
        {"dns, three addresses", NSCMD_SETCURDNS, "0\r\n1.1.1.1/2.2.2.2/3.3.3.3", 1, wrong},
        {"dns, own pair", NSCMD_SETCURDNS, "1\r\n9.9.9.9/149.112.112.112", 0, ""},
        {"proxify dns", NSCMD_SETPROXYDNS, "0", 0, ""},
        {"tap address", NSCMD_GETTAPADDRESS, "", 0, ","},
        {"bad mode file", NSCMD_LOADPROXYMODE, "/nonexistent.rules", 1, "can not load proxy mode file"},
        {"nop", NSCMD_NOP, "", 0, ""},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        NSReply r = ns.RunCommand(c.command, c.data);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.text, c.text);
    }
    EXPECT_EQ(view_.modeRow, 0);
    EXPECT_EQ(CAdditionalRouteMgr::GetInstance()->GetRoutes().at(L"203.0.113.9"), 1);
    ASSERT_EQ(GetSubscriptionGroups().size(), 1u);
    EXPECT_EQ(GetSubscriptionGroups().front()->frequency, 0);
    CDNSManager* dns = CDNSManager::GetInstance();
    EXPECT_EQ(dns->GetCurrentDnsId(), kOwnDnsPresetId);
    EXPECT_EQ(dns->GetCurrentPreset()->primary, L"9.9.9.9");
    EXPECT_EQ(dns->GetProxifyCurrentDNS(), 0);
    CNodeInfo* added = CNodeMgr::GetInstance()->FindNode(1);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->host, "n.test");
    EXPECT_EQ(added->port, 1080);

    // Node list and selection.
    node->remarks = "home";
    node->latency = 12;
    NSReply list = ns.RunCommand(NSCMD_GETPROXIES, "");
    EXPECT_EQ(list.text, "0,proxy.test,12,aG9tZQ==|1,n.test,0,|");
    EXPECT_EQ(ns.RunCommand(NSCMD_SETPROXY, "1").status, 0);
    EXPECT_EQ(CNodeMgr::GetInstance()->GetCurrentNodeId(), 1);
    EXPECT_EQ(ns.RunCommand(NSCMD_CLEARPROXIES, "").status, 0);
    EXPECT_EQ(CNodeMgr::GetInstance()->GetNodeCount(), 0u);

    // Without a main window the window commands fail.
    CNSTAP orphan(nullptr, &system_);
    for (int command : {NSCMD_QUIT, NSCMD_CONNECT, NSCMD_DISCONNECT}) {
        NSReply r = orphan.RunCommand(command, "");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.text, "Internal error.");
    }
}

// What a refused request could have changed: the node list and choice, the
// mode, the DNS choice, the additional routes and the subscriptions.
std::string ChannelVisibleState(CNSTAP& ns, RecordingView& view) {
    CDNSManager* dns = CDNSManager::GetInstance();
    std::string routes;
    for (const auto& [address, action] : CAdditionalRouteMgr::GetInstance()->GetRoutes())
        routes += WideToUtf8String(address) + ":" + std::to_string(action) + " ";
    return ns.RunCommand(NSCMD_GETPROXIES, "").text + " current " +
           std::to_string(CNodeMgr::GetInstance()->GetCurrentNodeId()) + " row " +
           std::to_string(view.GetSelectedNodeRow().nodeId) + " mode " + std::to_string(view.modeRow) +
           " dns " + std::to_string(dns->GetCurrentDnsId()) + " " +
           WideToUtf8String(dns->GetCurrentPreset() ? dns->GetCurrentPreset()->primary : L"-") + " routes " + routes + " subscriptions " +
           std::to_string(GetSubscriptionGroups().size());
}

// Requests the program refuses or cannot carry out answer status 1 with a
// reason, and change nothing.
TEST_F(AppCoreTest, RefusedRequestsAnswerFailureAndChangeNothing) {
    CNSTAP ns(core_.get(), &system_);
    CNodeInfo* first = AddNode();
    CNodeInfo* second = AddNode(NodeTypeSocks5, "other.test");
    ASSERT_EQ(ns.RunCommand(NSCMD_SETPROXY, std::to_string(first->id)).status, 0);
    const std::string node = "\r\n1080\r\n\r\n\r\n5\r\n\r\n\r\n\r\n\r\n";
    const std::string ssNode = "ss.test\r\n8388\r\n\r\npw\r\n6\r\n";
    const CommandCase cases[] = {
        {"node -5", NSCMD_SETPROXY, "-5", 1, "No such proxy."},
        {"node 999", NSCMD_SETPROXY, "999", 1, "No such proxy."},
        {"node id of letters", NSCMD_SETPROXY, "one", 1, "No such proxy."},
        {"node id with a tail", NSCMD_SETPROXY, std::to_string(second->id) + "x", 1, "No such proxy."},
        {"mode 999", NSCMD_SETCURRENTPROXYMODE, "999", 1, "No such proxy mode."},
        {"mode -1", NSCMD_SETCURRENTPROXYMODE, "-1", 1, "No such proxy mode."},
        {"host with a NUL", CMD_SET_CURRENT_PROXY, std::string("10.198.\0\x01.2", 11) + node, 1,
         "Parameters error: a field holds a control character."},
        {"user with a line feed", CMD_SET_CURRENT_PROXY, "n.test\r\n1080\r\nu\nx\r\n\r\n5\r\n\r\n\r\n\r\n\r\n", 1,
         "Parameters error: a field holds a control character."},
        {"Shadowsocks node, mistyped cipher", CMD_SET_CURRENT_PROXY, ssNode + "aes-256-gmc\r\n\r\n\r\n\r\n", 1,
         "Unknown cipher method: the node would send its traffic unencrypted."},
        {"dns x/y", NSCMD_SETCURDNS, "1\r\nx/y", 1, "DNS server address \"x\" refused: not a dotted IPv4 address."},
        {"dns, smart with a name", NSCMD_SETCURDNS, "0\r\n8.8.8.8/8.8.4.4/dns.test/1.2.4.8", 1,
         "DNS server address \"dns.test\" refused: not a dotted IPv4 address."},
        {"dns kind 7", NSCMD_SETCURDNS, "7\r\n9.9.9.9/1.1.1.1", 1, "Unknown DNS kind."},
        {"route to a name", NSCMD_ADDADDITIONALROUTE, "host.test\r\nx\r\ndirect", 1,
         "Parameters error: not an IPv4 address outside the loopback network."},
        {"route to loopback", NSCMD_ADDADDITIONALROUTE, "127.0.0.2\r\nx\r\ndirect", 1,
         "Parameters error: not an IPv4 address outside the loopback network."},
        {"subscription URL with a tab", NSCMD_ADDSSRSUBSCRIPTION, "1 day\r\nhttp://s.test/\ta\r\n", 1,
         "Parameters error: a field holds a control character."},
        {"mode file path with a control character", NSCMD_LOADPROXYMODE, "/tmp/a\x1b.rules", 1,
         "Parameters error: a field holds a control character."},
    };
    const std::string before = ChannelVisibleState(ns, view_);
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        NSReply r = ns.RunCommand(c.command, c.data);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.text, c.text);
        EXPECT_EQ(ChannelVisibleState(ns, view_), before);
    }

    // While connected the node stays; choosing the node in use is no change.
    Choose(first, kGlobalMode);
    ConnectAndWait();
    ASSERT_EQ(GetApp().GetConnectState(), ConnectStateConnected);
    const std::string connected = ChannelVisibleState(ns, view_);
    NSReply other = ns.RunCommand(NSCMD_SETPROXY, std::to_string(second->id));
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.text, "The proxy can not be changed while connected; disconnect first.");
    EXPECT_EQ(ChannelVisibleState(ns, view_), connected);
    EXPECT_EQ(ns.RunCommand(NSCMD_SETPROXY, std::to_string(first->id)).status, 0);
    EXPECT_EQ(ChannelVisibleState(ns, view_), connected);
    core_->Disconnect();
    WaitIdle();
    EXPECT_EQ(ns.RunCommand(NSCMD_SETPROXY, std::to_string(second->id)).status, 0);
    EXPECT_EQ(CNodeMgr::GetInstance()->GetCurrentNodeId(), second->id);
}

TEST_F(AppCoreTest, ConnectAndDisconnectCommandsDoWhatTheySay) {
    CNSTAP ns(core_.get(), &system_);
    Choose(AddNode(), kGlobalMode);
    // Disconnect while disconnected does not connect.
    EXPECT_EQ(ns.RunCommand(NSCMD_DISCONNECT, "").status, 0);
    WaitIdle();
    EXPECT_EQ(GetApp().GetConnectState(), ConnectStateDisconnected);
    EXPECT_EQ(ns.RunCommand(NSCMD_CONNECT, "").status, 0);
    WaitIdle();
    EXPECT_EQ(GetApp().GetConnectState(), ConnectStateConnected);
    EXPECT_EQ(ns.RunCommand(NSCMD_GETSTATE, "").text, "connected");
    // Connect while connected does not disconnect.
    EXPECT_EQ(ns.RunCommand(NSCMD_CONNECT, "").status, 0);
    WaitIdle();
    EXPECT_EQ(GetApp().GetConnectState(), ConnectStateConnected);
    EXPECT_EQ(ns.RunCommand(NSCMD_DISCONNECT, "").status, 0);
    WaitIdle();
    EXPECT_EQ(GetApp().GetConnectState(), ConnectStateDisconnected);
}

// A raw request on the socket; the reply's bytes, empty when the channel
// closed without one.
std::string RawRequest(const std::filesystem::path& folder, const std::string& frame) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::string path = (folder / "channel.sock").string();
    std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return "connect failed";
    }
    send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    std::string reply = ReadAll(fd);
    close(fd);
    return reply;
}

std::string Frame(int command, uint32_t length, const std::string& data) {
    std::string f(1, static_cast<char>(command));
    for (int i = 0; i < 4; ++i) f += static_cast<char>((length >> (8 * i)) & 0xFF);
    return f + data;
}

class ChannelTransportTest : public AppCoreTest {
protected:
    void SetUp() override {
        AppCoreTest::SetUp();
        folder_ = dir_.path() / "run";
        ns_ = std::make_unique<CNSTAP>(core_.get(), &system_);
        ASSERT_EQ(ns_->Start(&loop_, folder_), 1);
        // The loop runs beside the test, which plays the client.
        loopThread_ = std::thread([this] {
            loop_.Run();
        });
    }
    void TearDown() override {
        loop_.Quit();
        loopThread_.join();
        ns_->Stop();
        AppCoreTest::TearDown();
    }
    std::filesystem::path folder_;
    std::unique_ptr<CNSTAP> ns_;
    std::thread loopThread_;
};

TEST_F(ChannelTransportTest, ServesOurUserAndDropsBadFrames) {
    struct stat st {};
    ASSERT_EQ(lstat(folder_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(lstat((folder_ / "channel.sock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(lstat((folder_ / "channel.key").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    NSReply reply;
    ASSERT_EQ(SendChannelRequest(folder_, NSCMD_GETSTATE, "", &reply), 1);
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(reply.text, "disconnected");
    ASSERT_EQ(SendChannelRequest(folder_, CMD_SHOW_HIDE_WINDOW, "on", &reply), 1);
    auto calls = view_.log.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "show"), calls.end());

    // Bad frames get no reply, and the channel goes on serving.
    EXPECT_EQ(RawRequest(folder_, Frame(0, 0, "")), "");
    EXPECT_EQ(RawRequest(folder_, Frame(22, 0, "")), "");
    EXPECT_EQ(RawRequest(folder_, Frame(NSCMD_SETPROXY, 64 * 1024 + 1, "1")), "");
    EXPECT_EQ(RawRequest(folder_, Frame(NSCMD_SETPROXY, 10, "1")), "");  // shorter than it says
    EXPECT_EQ(RawRequest(folder_, "\x0b\x00"), "");
    ASSERT_EQ(SendChannelRequest(folder_, NSCMD_NOP, "", &reply), 1);
    EXPECT_EQ(reply.status, 0);
}

TEST_F(ChannelTransportTest, RefusesAPeerOfAnotherUser) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to play another user";
    // Open the way for the other user, so that only the peer check stands.
    chmod(dir_.path().c_str(), 0755);
    chmod(folder_.c_str(), 0755);
    chmod((folder_ / "channel.sock").c_str(), 0666);
    int sv[2];
    ASSERT_EQ(pipe(sv), 0);
    pid_t child = fork();
    if (child == 0) {
        close(sv[0]);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        std::string reply = RawRequest(folder_, Frame(NSCMD_GETSTATE, 0, ""));
        ssize_t ignored = write(sv[1], reply.data(), reply.size());
        (void)ignored;
        _exit(0);
    }
    close(sv[1]);
    std::string got = ReadAll(sv[0]);
    close(sv[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(got, "");
    chmod(folder_.c_str(), 0700);
    NSReply reply;
    EXPECT_EQ(SendChannelRequest(folder_, NSCMD_NOP, "", &reply), 1);
}

TEST(CommandChannel, RefusesAnUnsafeFolder) {
    testsupport::TempDir dir;
    std::filesystem::create_directory(dir / "open");
    chmod((dir / "open").c_str(), 0755);
    EXPECT_EQ(CNS::PrepareFolder(dir / "open"), 0);
    std::filesystem::create_directory(dir / "real");
    std::filesystem::create_directory_symlink(dir / "real", dir / "link");
    chmod((dir / "real").c_str(), 0700);
    EXPECT_EQ(CNS::PrepareFolder(dir / "link"), 0);
    EXPECT_EQ(CNS::PrepareFolder(dir / "real"), 1);
    EXPECT_EQ(CNS::PrepareFolder(dir / "new"), 1);
}

}  // namespace
}  // namespace apptest
