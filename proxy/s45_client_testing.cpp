#include <arpa/inet.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cctype>
#include <cstring>

#include "foundation/crack_url.h"
#include "foundation/icmp_ping.h"
#include "foundation/text_convert.h"
#include "netconfig/local_host.h"
#include "nodes/node_mgr.h"
#include "proxy/node_testing.h"
#include "proxy/node_testing_detail.h"
#include "proxy/dns_client.h"
#include "proxy/node_test_udp.h"
#include "proxy/socket_base.h"
#include "proxy/socks5_association.h"

namespace {

constexpr int kConnectWaitSeconds = 5;
constexpr int kSendTimeout = 5;
constexpr int kRecvTimeout = 5;
constexpr int kTestAnswerBytes = 100;
constexpr int kExitAnswerBytes = 2047;
constexpr const char* kSeparator = "//////////////////////////////////////////////";

// A dotted IPv4 address of exactly four decimal parts, each 0..255.
bool IsDottedQuad(const std::string& text) {
    int parts = 0;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('.', at);
        if (end == std::string::npos) end = text.size();
        std::string part = text.substr(at, end - at);
        if (part.empty() || part.size() > 3 ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            std::stoi(part) > 255) {
            return false;
        }
        ++parts;
        at = end + 1;
        if (end == text.size()) break;
    }
    return parts == 4;
}

// The answer to the exit-address request, at most kExitAnswerBytes, within
// kRecvTimeout: a server may send its head and its body apart, so reading
// goes on until the body has come (Content-Length when given, else any
// byte of it), the server closes, or the time is up.
std::string ReadShortAnswer(int s, std::string answer) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(kRecvTimeout);
    for (;;) {
        size_t head = answer.find("\r\n\r\n");
        if (head != std::string::npos) {
            size_t body = answer.size() - head - 4;
            std::string lower = answer.substr(0, head);
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            size_t field = lower.find("\r\ncontent-length:");
            if (field == std::string::npos ? body > 0
                                           : body >= std::strtoul(lower.c_str() + field + 17, nullptr, 10)) {
                return answer;
            }
        }
        if (answer.size() >= static_cast<size_t>(kExitAnswerBytes)) return answer.substr(0, kExitAnswerBytes);
        char buf[kExitAnswerBytes];
        int n = TimedRecvUntil(s, buf, kExitAnswerBytes - static_cast<int>(answer.size()), until);
        if (n <= 0) return answer;
        answer.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace

CS45ClientTesting::CS45ClientTesting(TestLogCallback callback, void* userData, int option)
    : CS45CLient(-1, nullptr, nullptr), CTestingBase(callback, userData, option) {}

CS45ClientTesting::~CS45ClientTesting() {
    CloseSocket(controlSocket_);
}

bool CS45ClientTesting::RunTest(CNodeInfo* node, int udp) {
    Log(kTestLogInfo, udp ? "UDP Testing started." : "TCP Testing started.");
    NodeFields fields;
    if (node) fields = CNodeMgr::GetInstance()->CopyNodeFields(*node);
    if (node == nullptr || fields.host.empty() || fields.port == 0) {
        Log(kTestLogError, "Proxy server node invalid.");
        return false;
    }
    CNodeMgr::GetInstance()->TrimNodeHost(*node);
    AttachNode(node);
    if (option_ == 0) WriteHeader(node);
    bool result = udp ? TestUdp() : TestTcp();
    node->lastTestResult.store(result ? 1 : 0);
    if (result && !udp && !TestStopRequested()) {
        PingResult ping;
        if (IcmpPing(&ping, 64, 5000, 32, nodeFields_.GetConnectAddress().c_str())) {
            node->latency.store(ping.roundTripMs > 0 ? ping.roundTripMs : 1);
        }
        LogFormat(kTestLogPassed, "Latency : %d ms", static_cast<int>(node->latency.load()));
    }
    Log(kTestLogInfo, "Testing is done!");
    Log(kTestLogInfo, kSeparator);
    return result;
}

bool CS45ClientTesting::TestTcp() {
    Log(kTestLogInfo, "Now testing TCP transmission...");
    return LogOutcome(TestTcpTransfer(), "TCP transmission...Passed!", "TCP transmission...UnPassed!");
}

bool CS45ClientTesting::TestUdp() {
    return LogOutcome(TestUdpTransfer(), "UDP relay...Passed!", "UDP relay...Unpassed!");
}

bool CS45ClientTesting::TestUdpTransfer() {
    Log(kTestLogInfo, "Testing UDP relay...");
    Log(kTestLogInfo, "Requesting UDP relay from proxy server...");
    for (size_t i = 0; i < sizeof kUdpTestPairs / sizeof kUdpTestPairs[0]; ++i) {
        if (TestStopRequested()) break;
        // A fresh association for every pair.
        sockaddr_in relay{};
        uint32_t bound = 0;
        CloseSocket(controlSocket_);
        controlSocket_ = OpenSocks5Association(nodeFields_, node_, &relay, &bound);
        if (controlSocket_ < 0) {
            Log(kTestLogError, "Can not connect to proxy.");
            return false;
        }
        char address[16];
        FormatIPv4(relay.sin_addr.s_addr, address);
        if (i == 0) {
            LogFormat(kTestLogPassed, "Server bound on %s:%d.", address, ntohs(relay.sin_port));
            Log(kTestLogPassed, "Udp tunnel has been built");
            Log(kTestLogInfo, "Testing data transmission...");
        }
        SetTestTargets(kUdpTestPairs[i].name, kUdpTestPairs[i].server);
        CProxyDNSClient dns;
        dns.SetProxy(address, ntohs(relay.sin_port));
        std::wstring text;
        std::vector<std::wstring> addresses;
        int tries = 2;
        dns.ResolveA(&text, testDnsServer_.c_str(), testHost_, &addresses, &tries);
        if (!addresses.empty()) {
            CloseSocket(controlSocket_);
            return true;
        }
    }
    CloseSocket(controlSocket_);
    return false;
}

bool CS45ClientTesting::TestTcpTransfer() {
    return AnyTestUrlPasses([this](const char* url) { return TestOneUrl(url); });
}

int CS45ClientTesting::ConnectServer(bool udp, bool nonBlocking, sockaddr_in* out) {
    Log(kTestLogInfo, "Connecting to SS node...");
    int elapsed = 0;
    bool resolved = false;
    int s = nodetest::ConnectOnce(nodeFields_, node_, udp, nonBlocking, kConnectWaitSeconds, out, &elapsed,
                                  &resolved);
    if (s < 0) {
        Log(kTestLogError, resolved ? "Connecting to SS node error." : "Can not resolve SS server address.");
        return 0;
    }
    CloseSocket(remoteSocket_);
    remoteSocket_ = s;
    Log(kTestLogPassed, "Connected to SS node.");
    return 1;
}

bool CS45ClientTesting::Handshake() {
    uint32_t boundAddress = 0;
    uint16_t boundPort = 0;
    switch (nodeFields_.type) {
        case NodeTypeHttp:
            return HttpConnectHandshake(remoteSocket_);
        case NodeTypeSocks4:
            return Socks4Handshake(remoteSocket_);
        case NodeTypeSocks5:
            return Socks5Handshake(remoteSocket_, 1, &boundAddress, &boundPort);
        default:
            return false;
    }
}

bool CS45ClientTesting::TestOneUrl(const char* url) {
    CloseSocket(remoteSocket_);
    if (!ConnectServer(false, true, nullptr)) {
        Log(kTestLogError, "Connect to proxy server failed.");
        return false;
    }
    if (url == nullptr || *url == '\0') {
        Log(kTestLogError, "Test url is empty.");
        return false;
    }
    std::string path, host;
    int port = 0;
    if (!nodetest::ParseTestUrl(url, &path, &host, &port)) {
        Log(kTestLogError, "Parse url error.");
        return false;
    }
    addressType_ = 3;
    destHost_ = host;
    destPort_ = static_cast<uint16_t>(port);
    upstreamText_.clear();
    earlyData_.clear();
    if (!Handshake()) {
        if (upstreamText_.empty()) {
            Log(kTestLogError, "Failed to send protocol packet to proxy server.");
        } else {
            LogRaw(kTestLogError, upstreamText_);
        }
        return false;
    }
    std::string request = nodetest::BuildTestRequest(path, host);
    if (SendVia(remoteSocket_, request.data(), static_cast<int>(request.size()), kSendTimeout) <= 0) {
        Log(kTestLogError, "Failed to send testing packet.");
        return false;
    }
    // The answer may have come with the node's own HTTP answer already.
    if (!earlyData_.empty()) return true;
    char answer[kTestAnswerBytes];
    if (Recv(remoteSocket_, answer, kTestAnswerBytes, kRecvTimeout) > 0) return true;
    Log(kTestLogError, "Failed to recv testing packet.");
    return false;
}

bool CS45ClientTesting::FetchExitAddress(CNodeInfo* node, const std::wstring& url, std::string* address) {
    if (url.empty() || node == nullptr) return false;
    NodeFields fields = CNodeMgr::GetInstance()->CopyNodeFields(*node);
    if (!IsLocalAddress(fields.GetConnectAddress().c_str())) return false;
    AttachNode(node);
    if (!ConnectServer(false, true, nullptr)) return false;
    std::string text = WideToUtf8String(url);
    LogFormat(kTestLogInfo, "Testing url: %s", text.c_str());
    std::string path, host;
    int port = 0;
    if (!nodetest::ParseTestUrl(text.c_str(), &path, &host, &port)) {
        Log(kTestLogError, "Parse url error.");
        return false;
    }
    addressType_ = 3;
    destHost_ = host;
    destPort_ = static_cast<uint16_t>(port);
    earlyData_.clear();
    Log(kTestLogInfo, "Sending protocol packet...");
    if (!Handshake()) {
        Log(kTestLogError, "Protocol packet Sent failed.");
        return false;
    }
    Log(kTestLogPassed, "Protocol packet sent.");
    std::string request = nodetest::BuildTestRequest(path, host);
    LogFormat(kTestLogInfo, "Sending request packet...(length: %d bytes)", static_cast<int>(request.size()));
    if (SendVia(remoteSocket_, request.data(), static_cast<int>(request.size()), kSendTimeout) <= 0) {
        Log(kTestLogError, "Request packet sent failed.");
        return false;
    }
    Log(kTestLogPassed, "Request packet sent.");
    Log(kTestLogInfo, "Waiting response...");
    std::string response = ReadShortAnswer(remoteSocket_, earlyData_);
    if (response.empty()) {
        Log(kTestLogError,
            "Response received failed! connection reset by peer or timeout, maybe your password or encryption is "
            "wrong.");
        return false;
    }
    if (response.size() < 5 || strncasecmp(response.c_str(), "http/", 5) != 0) {
        LogFormat(kTestLogError, "Got %d bytes unrecognized packet, maybe encryption is wrong.",
                  static_cast<int>(response.size()));
        return false;
    }
    size_t body = response.find("\r\n\r\n");
    if (body == std::string::npos) return false;
    std::string ip = response.substr(body + 4);
    if (!IsDottedQuad(ip)) return false;
    LogFormat(kTestLogPassed, "Got IP address: %s.", ip.c_str());
    *address = ip;
    return true;
}
