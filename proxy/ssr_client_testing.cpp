#include <chrono>
#include <vector>

#include "nodes/node_mgr.h"
#include "proxy/node_testing.h"
#include "proxy/node_testing_detail.h"
#include "proxy/dns_client.h"
#include "proxy/node_test_udp.h"
#include "proxy/socket_base.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConnectWaitSeconds = 10;
constexpr int kSendTimeout = 5;
constexpr int kRecvTryTimeout = 5;
constexpr auto kAnswerLimit = std::chrono::seconds(10);
constexpr const char* kSeparator = "//////////////////////////////////////////////";

}  // namespace

CSSRClientTesting::CSSRClientTesting(TestLogCallback callback, void* userData, int option)
    : CSSRCLient(-1, nullptr, nullptr), CTestingBase(callback, userData, option) {}

CSSRClientTesting::~CSSRClientTesting() = default;

bool CSSRClientTesting::RunTest(CNodeInfo* node, int udp) {
    Log(kTestLogInfo, "Testing started.");
    NodeFields fields;
    if (node) fields = CNodeMgr::GetInstance()->CopyNodeFields(*node);
    if (node == nullptr || fields.host.empty() || fields.password.empty() || fields.method.empty() ||
        fields.port == 0) {
        Log(kTestLogError, "Shadowsocks server node invalid.");
        return false;
    }
    CNodeMgr::GetInstance()->TrimNodeHost(*node);
    AttachNode(node);
    const char* unknown = nullptr;
    if (!BuildPipeline(&unknown)) {
        std::string kind = unknown ? unknown : "encryption";
        if (kind == "protocol") {
            LogFormat(kTestLogError, "Unsupported protocol: %s.", nodeFields_.protocol.c_str());
        } else if (kind == "obfs") {
            LogFormat(kTestLogError, "Unsupported obfs: %s.", nodeFields_.obfs.c_str());
        } else {
            LogFormat(kTestLogError, "Unsupported encryption: %s.", nodeFields_.method.c_str());
        }
        return false;
    }
    if (option_ == 0) WriteHeader(node);
    bool result = udp ? TestUdp() : TestTcp();
    node->lastTestResult.store(result ? 1 : 0);
    if (result && !udp) LogFormat(kTestLogPassed, "Latency : %d ms", connectTimeMs_);
    Log(kTestLogInfo, "Testing is done!");
    Log(kTestLogInfo, kSeparator);
    return result;
}

bool CSSRClientTesting::TestTcp() {
    Log(kTestLogInfo, "Testing TCP transmission...");
    return LogOutcome(TestTcpTransfer(), "TCP transmission...Passed!", "TCP transmission...UnPassed!");
}

bool CSSRClientTesting::TestUdp() {
    Log(kTestLogInfo, "Testing UDP relay...");
    return LogOutcome(TestUdpTransfer(), "UDP relay...Passed!", "UDP relay...Unpassed!");
}

bool CSSRClientTesting::TestUdpTransfer() {
    sockaddr_in server{};
    if (!ResolveSockAddrCached(nodeFields_.port, &server, nodeFields_.host.c_str())) {
        Log(kTestLogError, "Can not resolve SS server address.");
        return false;
    }
    char address[16];
    FormatIPv4(server.sin_addr.s_addr, address);
    for (const auto& pair : kUdpTestPairs) {
        if (TestStopRequested()) return false;
        SetTestTargets(pair.name, pair.server);
        ResetPipeline();
        CSSRDnsClient dns;
        dns.SetProxy(address, nodeFields_.port);
        dns.SetCipher(cryptor_.get(), protocol_.get(), obfs_.get());
        std::wstring text;
        std::vector<std::wstring> addresses;
        int tries = 2;
        dns.ResolveA(&text, testDnsServer_.c_str(), testHost_, &addresses, &tries);
        if (!addresses.empty()) return true;
    }
    return false;
}

bool CSSRClientTesting::TestTcpTransfer() {
    return AnyTestUrlPasses([this](const char* url) { return TestOneUrl(url); });
}

int CSSRClientTesting::ConnectServer(bool udp, bool nonBlocking, sockaddr_in* out) {
    int elapsed = 0;
    bool resolved = false;
    int s = nodetest::ConnectOnce(nodeFields_, node_, udp, nonBlocking, kConnectWaitSeconds, out, &elapsed,
                                  &resolved);
    if (s < 0) {
        Log(kTestLogError, resolved ? "Connecting to SS node error." : "Can not resolve SS server address.");
        return 0;
    }
    connectTimeMs_ = elapsed > 0 ? elapsed : 1;
    if (node_) node_->latency.store(static_cast<uint32_t>(connectTimeMs_));
    CloseSocket(remoteSocket_);
    remoteSocket_ = s;
    return 1;
}

bool CSSRClientTesting::TestOneUrl(const char* url) {
    CloseSocket(remoteSocket_);
    ResetPipeline();
    if (!ConnectServer(false, true, nullptr)) {
        Log(kTestLogError, "Connect to proxy server failed.");
        return false;
    }
    if (url == nullptr || *url == '\0') return false;
    std::string path, host;
    int port = 0;
    if (!nodetest::ParseTestUrl(url, &path, &host, &port)) {
        Log(kTestLogError, "Parse url error.");
        return false;
    }
    addressType_ = 3;
    destHost_ = host;
    destPort_ = static_cast<uint16_t>(port);
    std::string header = BuildAddressHeader(addressType_, destHost_, destPort_);
    SetHeadLength(static_cast<uint32_t>(header.size()));
    if (header.empty() ||
        SendVia(remoteSocket_, header.data(), static_cast<int>(header.size()), kSendTimeout) <= 0) {
        Log(kTestLogError, "Failed to send connection request.");
        return false;
    }
    std::string request = nodetest::BuildTestRequest(path, host);
    if (SendVia(remoteSocket_, request.data(), static_cast<int>(request.size()), kSendTimeout) < 0) {
        Log(kTestLogError, "Failed to send testing packet.");
        return false;
    }
    std::vector<unsigned char> buffer(kRelayBuffer);
    const auto until = Clock::now() + kAnswerLimit;
    while (Clock::now() < until) {
        int sendBack = 0, flag = 0;
        int n = RecvVia(remoteSocket_, buffer.data(), kRelayBuffer, kRecvTryTimeout, &sendBack, &flag);
        if (n > 0) return true;
        if (n < 0) {
            Log(kTestLogError, "The connection was aborted by server.");
            return false;
        }
        if (sendBack && SendVia(remoteSocket_, nullptr, 0, kSendTimeout) < 0) {
            Log(kTestLogError, "The connection was aborted by server.");
            return false;
        }
    }
    return false;
}
