#include "proxy/s45_client.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "foundation/base64.h"
#include "foundation/private_heap.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/node_connect.h"
#include "proxy/service_stop.h"

namespace {

constexpr int kNodeTimeout = 5;
constexpr int kRelayBuffer = 65507;
constexpr int kUdpRelayBuffer = 131014;
constexpr size_t kHttpHeaderCap = 8192;

constexpr const char* kTextFailedToSend = "Failed to send connection";
constexpr const char* kTextProxyFailed = "Connection through the proxy server was failed.";
constexpr const char* kTextProxyIpv6 = "Connection through the proxy server was failed. IPV6 NOT SUPPORTED.";
constexpr const char* kTextAuthFailed =
    "Authentication was failed, please confirm you username and password is correct.";
constexpr const char* kTextWrongCredentials = "Authentication error: wrong username or password.";
constexpr const char* kTextUnresolved = "Unable to resolve destination domain name";

constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/43.0.2357.130 "
    "Safari/537.36";

const char* const kSocksReplyTexts[10] = {
    "Succeeded",
    "General SOCKS server failure",
    "Connection not allowed by ruleset",
    "Network unreachable",
    "Host unreachable",
    "Connection refused",
    "TTL expired",
    "Command not supported",
    "Address type not supported",
    "Unassigned",
};

// The status code of an HTTP status line ("HTTP/1.1 200 Connection
// established"): the second blank-separated word as a number; -1 when the
// line has fewer than two words, -2 when the word is no number.
int HttpStatusCode(const std::string& line) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        size_t end = line.find(' ', at);
        if (end == std::string::npos) end = line.size();
        if (end > at) words.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    if (words.size() < 2) return -1;
    const std::string& code = words[1];
    if (code.empty() || code.size() > 3) return -2;
    int value = 0;
    for (char c : code) {
        if (c < '0' || c > '9') return -2;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

const char* GetSocksReplyText(int rep) {
    return rep >= 0 && rep < 10 ? kSocksReplyTexts[rep] : nullptr;
}

CS45CLient::CS45CLient(int localSocket, const char* user, const char* password)
    : CSocksClient(localSocket, user, password) {}

CS45CLient::~CS45CLient() {
    CloseSocket(controlSocket_);
}

int CS45CLient::Run() {
    if (node_ == nullptr) {
        CNodeInfo* node = GetCurrentProxyNode();
        if (node == nullptr) return 0;
        AttachNode(node);
    }
    return CSocksClient::Run();
}

int CS45CLient::ConnectServer(bool udp, bool nonBlocking, sockaddr_in* out) {
    int s = ConnectNodeServer(nodeFields_, node_, udp, nonBlocking, out);
    if (s < 0) return 0;
    CloseSocket(remoteSocket_);
    remoteSocket_ = s;
    return 1;
}

// ---- data through this client: unchanged -----------------------------------------------

int CS45CLient::SendVia(int s, const void* data, int len, int timeout) {
    if (data == nullptr || len <= 0) return 0;
    int sent = SendAll(s, data, len, timeout);
    return sent == len ? sent : -1;
}

int CS45CLient::RecvVia(int s, void* buf, int len, int timeout, int* sendBack, int* cryptorFlag) {
    if (sendBack) *sendBack = 0;
    if (cryptorFlag) *cryptorFlag = 0;
    if (buf == nullptr || len <= 0) return 0;
    return Recv(s, buf, len, timeout);
}

int CS45CLient::SendToVia(int s, const void* data, int len, int, bool towardsNode) {
    if (s == udpSocket_ && !towardsNode) {
        // Nothing is sent before the client's first datagram told its port.
        if (udpPeerAddr_.sin_family != AF_INET) return 0;
        return SendTo(s, data, len, reinterpret_cast<const sockaddr*>(&udpPeerAddr_), sizeof udpPeerAddr_,
                      kNodeTimeout);
    }
    if (s == remoteSocket_ || towardsNode) {
        return SendTo(s, data, len, reinterpret_cast<const sockaddr*>(&nodeServerAddr_),
                      sizeof nodeServerAddr_, kNodeTimeout);
    }
    return -1;
}

int CS45CLient::RecvFromVia(int s, void* buf, int len, int timeout, int* sendBack, int* cryptorFlag, int) {
    if (sendBack) *sendBack = 0;
    if (cryptorFlag) *cryptorFlag = 0;
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    int n = RecvFrom(s, buf, len, reinterpret_cast<sockaddr*>(&from), &fromLen, timeout);
    if (n <= 0 || s != udpSocket_) return n;
    // Only the local client's own host may use the association.
    if (from.sin_family != AF_INET || from.sin_addr.s_addr != clientAddress_) return 0;
    udpPeerAddr_ = from;
    return n;
}

// ---- the node's handshakes ----------------------------------------------------------------

bool CS45CLient::HttpConnectHandshake(int s) {
    std::string authorization;
    if (!nodeFields_.user.empty()) {
        std::string pair = nodeFields_.user + ":" + nodeFields_.password;
        authorization = "Proxy-Authorization: Basic " + Base64Encode(pair.data(), pair.size()) + "\r\n";
    }
    std::string target = destHost_ + ":" + std::to_string(destPort_);
    std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target +
                          "\r\nUser-Agent: " + kUserAgent + "\r\nProxy-Connection: Keep-Alive\r\n" +
                          authorization + "\r\n";
    if (SendVia(s, request.data(), static_cast<int>(request.size()), kNodeTimeout) !=
        static_cast<int>(request.size())) {
        SetUpstreamText(kTextFailedToSend);
        return false;
    }

    // The answer's header, read to its blank line: what follows it in the
    // same segments is the start of the relayed data.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kNodeTimeout);
    std::string answer;
    char chunk[4096];
    bool statusSeen = false;
    for (;;) {
        size_t end = answer.find("\r\n\r\n");
        if (!statusSeen) {
            size_t lineEnd = answer.find("\r\n");
            if (lineEnd != std::string::npos) {
                statusSeen = true;
                int code = HttpStatusCode(answer.substr(0, lineEnd));
                if (code == -1) {
                    SetUpstreamText(kTextProxyFailed);
                    return false;
                }
                if (code != 200) {
                    SetUpstreamText(kTextWrongCredentials);
                    return false;
                }
            }
        }
        if (statusSeen && end != std::string::npos) {
            earlyData_ = answer.substr(end + 4);
            return true;
        }
        if (answer.size() >= kHttpHeaderCap) break;
        size_t room = std::min(sizeof chunk, kHttpHeaderCap - answer.size());
        int n = TimedRecvUntil(s, chunk, static_cast<int>(room), deadline);
        if (n <= 0) break;
        answer.append(chunk, static_cast<size_t>(n));
    }
    SetUpstreamText(statusSeen ? kTextProxyFailed : kTextFailedToSend);
    return false;
}

bool CS45CLient::Socks4Handshake(int s) {
    sockaddr_in dest{};
    if (!ResolveSockAddrCached(destPort_, &dest, destHost_.c_str())) {
        SetUpstreamText(kTextUnresolved);
        return false;
    }
    std::string request;
    request.push_back(0x04);
    request.push_back(0x01);
    request.append(reinterpret_cast<const char*>(&dest.sin_port), 2);
    request.append(reinterpret_cast<const char*>(&dest.sin_addr.s_addr), 4);
    request += nodeFields_.user;
    request.push_back('\0');
    unsigned char reply[8];
    if (SendVia(s, request.data(), static_cast<int>(request.size()), kNodeTimeout) !=
            static_cast<int>(request.size()) ||
        TimedRecvExact(s, reply, 8, kNodeTimeout) != 8 || reply[1] != 90) {
        SetUpstreamText(kTextProxyFailed);
        return false;
    }
    return true;
}

bool CS45CLient::Socks5Handshake(int s, int command, uint32_t* boundAddress, uint16_t* boundPort) {
    *boundAddress = 0;
    *boundPort = 0;
    const std::string& user = nodeFields_.user;
    const std::string& password = nodeFields_.password;
    // Lengths travel in one byte each: longer credentials cannot be sent.
    if (user.size() > 255 || password.size() > 255) {
        SetUpstreamText(kTextAuthFailed);
        return false;
    }
    auto authFailed = [&] {
        if (command == 1) SetUpstreamText(kTextAuthFailed);
        return false;
    };
    bool hasUser = !user.empty();
    unsigned char hello[3] = {0x05, 0x01, static_cast<unsigned char>(hasUser ? 0x02 : 0x00)};
    unsigned char choice[2];
    if (SendVia(s, hello, 3, kNodeTimeout) != 3 || TimedRecvExact(s, choice, 2, kNodeTimeout) != 2 ||
        choice[0] != 0x05 || choice[1] == 0xff) {
        return authFailed();
    }
    if (hasUser && choice[1] == 0x02) {
        std::string auth;
        auth.push_back(0x01);
        auth.push_back(static_cast<char>(user.size()));
        auth += user;
        auth.push_back(static_cast<char>(password.size()));
        auth += password;
        unsigned char status[2];
        if (SendVia(s, auth.data(), static_cast<int>(auth.size()), kNodeTimeout) !=
                static_cast<int>(auth.size()) ||
            TimedRecvExact(s, status, 2, kNodeTimeout) != 2 || status[0] != 0x01 || status[1] != 0x00) {
            return authFailed();
        }
    }

    std::string request;
    request.push_back(0x05);
    request.push_back(static_cast<char>(command));
    request.push_back(0x00);
    if (command == 1 && addressType_ == 3) {
        request.push_back(0x03);
        request.push_back(static_cast<char>(destHost_.size()));
        request += destHost_;
        request.push_back(static_cast<char>(destPort_ >> 8));
        request.push_back(static_cast<char>(destPort_ & 0xff));
    } else if (command == 1) {
        in_addr address{};
        inet_pton(AF_INET, destHost_.c_str(), &address);
        request.push_back(0x01);
        request.append(reinterpret_cast<const char*>(&address.s_addr), 4);
        request.push_back(static_cast<char>(destPort_ >> 8));
        request.push_back(static_cast<char>(destPort_ & 0xff));
    } else {
        request.append("\x01\x00\x00\x00\x00\x00\x00", 7);
    }
    if (SendVia(s, request.data(), static_cast<int>(request.size()), kNodeTimeout) !=
        static_cast<int>(request.size())) {
        SetUpstreamText(kTextProxyFailed);
        return false;
    }

    unsigned char head[4];
    if (TimedRecvExact(s, head, 4, kNodeTimeout) != 4) {
        SetUpstreamText(kTextProxyFailed);
        return false;
    }
    if (head[0] != 0x05 || head[1] != 0x00) {
        // The reply table's rows are kept as they are; the other texts are translated.
        const char* text = head[0] == 0x05 && head[1] <= 8 ? GetSocksReplyText(head[1]) : nullptr;
        if (text) {
            upstreamText_ = text;
        } else {
            SetUpstreamText(kTextProxyFailed);
        }
        return false;
    }
    unsigned char rest[258];
    switch (head[3]) {
        case 0x01:
            if (TimedRecvExact(s, rest, 6, kNodeTimeout) != 6) break;
            std::memcpy(boundAddress, rest, 4);
            *boundPort = static_cast<uint16_t>(rest[4] << 8 | rest[5]);
            return true;
        case 0x03: {
            if (TimedRecvExact(s, rest, 1, kNodeTimeout) != 1) break;
            int length = rest[0] + 2;
            if (TimedRecvExact(s, rest, length, kNodeTimeout) != length) break;
            *boundPort = static_cast<uint16_t>(rest[length - 2] << 8 | rest[length - 1]);
            return true;
        }
        case 0x04:
            TimedRecvExact(s, rest, 18, kNodeTimeout);
            SetUpstreamText(kTextProxyIpv6);
            return false;
        default:
            return true;
    }
    SetUpstreamText(kTextProxyFailed);
    return false;
}

// ---- CONNECT --------------------------------------------------------------------------------

bool CS45CLient::ConnectUpstreamAndReply() {
    bool ok = ConnectServer(false, true, nullptr) != 0;
    uint32_t ownAddress = 0;
    uint16_t ownPort = 0;
    LocalSocketName(&ownAddress, &ownPort);
    if (ok) {
        uint32_t boundAddress;
        uint16_t boundPort;
        switch (nodeFields_.type) {
            case NodeTypeHttp:
                ok = HttpConnectHandshake(remoteSocket_);
                break;
            case NodeTypeSocks4:
                ok = Socks4Handshake(remoteSocket_);
                break;
            case NodeTypeSocks5:
                ok = Socks5Handshake(remoteSocket_, 1, &boundAddress, &boundPort);
                break;
            default:
                ok = false;
        }
    }
    bool replied = ReplyResult(ok, ownAddress, ownPort);
    if (ok && replied && !earlyData_.empty()) {
        replied = WriteLocal(earlyData_.data(), static_cast<int>(earlyData_.size())) ==
                  static_cast<int>(earlyData_.size());
        if (replied) CountReceived(static_cast<int>(earlyData_.size()));
        earlyData_.clear();
    }
    return ok && replied;
}

bool CS45CLient::ReplyLocalBound() {
    uint32_t ownAddress = 0;
    uint16_t ownPort = 0;
    LocalSocketName(&ownAddress, &ownPort);
    ReplyResult(true, ownAddress, ownPort);
    return true;
}

int CS45CLient::RelayTcp() {
    return RelayTcpStreams(kRelayBuffer, kRelayBuffer, kNodeTimeout);
}

int CS45CLient::RunUdpGwLoop() {
    // The engine's UDP stream is not relayed by this client: it ends after the reply.
    return 0;
}

// ---- UDP ASSOCIATE --------------------------------------------------------------------------

bool CS45CLient::OnUdpAssociate() {
    sockaddr_in peer{};
    socklen_t peerLen = sizeof peer;
    if (getpeername(localSocket_, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0 ||
        nodeFields_.type != NodeTypeSocks5) {
        // Only SOCKS 5 nodes carry UDP; others are never sent a request they cannot read.
        SendSocks5Reply(0x01, 0, 0);
        return false;
    }
    clientAddress_ = peer.sin_addr.s_addr;

    // The control connection that keeps the node's association alive.
    CloseSocket(controlSocket_);
    uint32_t boundAddress = 0;
    uint16_t boundPort = 0;
    sockaddr_in server{};
    bool ok = false;
    if (node_) node_->CountConnectAttempt();
    if (ResolveSockAddrCached(nodeFields_.port, &server, nodeFields_.GetConnectAddress().c_str())) {
        controlSocket_ = ConnectSocketTo(server, false, true, nullptr);
    }
    if (controlSocket_ < 0) {
        if (node_) node_->CountFailedAttempt();
    } else {
        ok = Socks5Handshake(controlSocket_, 3, &boundAddress, &boundPort);
    }
    if (!ok) {
        CloseSocket(controlSocket_);
        SendSocks5Reply(0x01, 0, 0);
        return false;
    }
    // A node that answers 0.0.0.0 relays on its own address.
    nodeServerAddr_ = server;
    if (boundAddress != 0) nodeServerAddr_.sin_addr.s_addr = boundAddress;
    nodeServerAddr_.sin_port = htons(boundPort);

    // The local client's socket, on loopback only: no other host may use the node.
    sockaddr_in bound{};
    int local = OpenLoopbackUdp(&bound);
    if (local < 0) {
        SendSocks5Reply(0x01, 0, 0);
        return false;
    }

    if (node_) node_->CountConnectAttempt();
    int remote = ConnectSocketTo(nodeServerAddr_, true, false, nullptr);
    if (remote < 0) {
        if (node_) node_->CountFailedAttempt();
        SendSocks5Reply(0x01, 0, 0);
        CloseSocket(local);
        return false;
    }
    CloseSocket(remoteSocket_);
    remoteSocket_ = remote;
    if (!SendSocks5Reply(0x00, bound.sin_addr.s_addr, ntohs(bound.sin_port))) {
        CloseSocket(local);
        return false;
    }
    udpSocket_ = local;
    return OnUdpAssociated() != 0;
}

int CS45CLient::RelayUdpAssociate() {
    auto* buffer = static_cast<unsigned char*>(PrivateHeapAlloc(kUdpRelayBuffer));
    if (buffer == nullptr) return 0;
    int stopFd = ServiceStopFdForThread();
    bool running = true;
    while (running && IsRelayRunning()) {
        pollfd fds[5] = {{localSocket_, POLLIN | POLLPRI, 0},
                         {controlSocket_, POLLIN | POLLPRI, 0},
                         {remoteSocket_, POLLIN | POLLPRI, 0},
                         {udpSocket_, POLLIN | POLLPRI, 0},
                         {stopFd, POLLIN, 0}};
        int n = poll(fds, 5, 200);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[4].revents) break;
        for (int i = 0; i < 4 && running; ++i) {
            short ev = fds[i].revents;
            if (ev == 0) continue;
            if (ev & (POLLPRI | POLLNVAL)) {
                running = false;
                break;
            }
            if (i < 2) {
                // The association lives as long as both TCP connections.
                if (TimedRecv(fds[i].fd, buffer, 100, 1) < 0) running = false;
                continue;
            }
            int flag = 0, cryptor = 0;
            int got = RecvFromVia(fds[i].fd, buffer, 65535, 0, &flag, &cryptor, 0);
            if (got < 0) {
                running = false;
            } else if (got > 0 && i == 2) {
                CountReceived(got);
                if (SendToVia(udpSocket_, buffer, got, 0, false) < 0) running = false;
            } else if (got > 0) {
                int sent = SendToVia(remoteSocket_, buffer, got, 0, true);
                if (sent < 0) running = false;
                CountSent(sent);
            }
        }
    }
    PrivateHeapFree(buffer);
    return 1;
}
