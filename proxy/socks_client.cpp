#include "proxy/socks_client.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "foundation/private_heap.h"
#include "foundation/translate.h"
#include "nodes/node_mgr.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/proxy_log.h"
#include "proxy/service_stop.h"

namespace {

constexpr int kLocalTimeout = 5;
constexpr int kRemoteByteTimeout = 10;
constexpr int kRemoteTimeout = 5;
constexpr int kBindWaitSeconds = 120;
constexpr size_t kMaxCredential = 255;
constexpr size_t kMaxSocks4Field = 254;

std::string CappedCopy(const char* text) {
    if (text == nullptr) return {};
    return std::string(text, strnlen(text, kMaxCredential));
}

}  // namespace

bool IsValidDestinationName(const std::string& name) {
    if (name.empty() || name.size() > 255) return false;
    for (unsigned char c : name) {
        if (c <= 0x20 || c == 0x7f) return false;
    }
    return true;
}

CSocksClient::CSocksClient(int localSocket, const char* user, const char* password)
    : localSocket_(localSocket), user_(CappedCopy(user)), password_(CappedCopy(password)) {}

CSocksClient::~CSocksClient() {
    CloseSocket(localSocket_);
    CloseSocket(remoteSocket_);
    CloseSocket(udpSocket_);
}

void CSocksClient::AttachNode(CNodeInfo* node) {
    node_ = node;
    if (node) nodeFields_ = CNodeMgr::GetInstance()->CopyNodeFields(*node);
}

void CSocksClient::SetTestTargets(const std::wstring& testHost, const std::wstring& testDnsServer) {
    testHost_ = testHost;
    testDnsServer_ = testDnsServer;
}

void CSocksClient::SetUpstreamText(const char* message) {
    upstreamText_ = Translate(message);
}

void CSocksClient::CountReceived(int bytes) {
    if (bytes > 0) bytesDown_ += static_cast<uint64_t>(bytes);
    if (node_ == nullptr || bytes <= 0) return;
    node_->AddReceivedBytes(static_cast<uint32_t>(bytes));
    node_->AddBytes(static_cast<uint32_t>(bytes));
}

void CSocksClient::CountSent(int bytes) {
    if (bytes > 0) bytesUp_ += static_cast<uint64_t>(bytes);
    if (node_ == nullptr || bytes <= 0) return;
    node_->AddSentBytes(static_cast<uint32_t>(bytes));
    node_->AddBytes(static_cast<uint32_t>(bytes));
}

// ---- reads and writes of the handshakes ---------------------------------------------

bool CSocksClient::ReadLocalByte(int* value) {
    return ReadByte(localSocket_, value, kLocalTimeout) == 1;
}

bool CSocksClient::ReadRemoteByte(int* value) {
    return ReadByte(remoteSocket_, value, kRemoteByteTimeout) == 1;
}

int CSocksClient::ReadLocal(void* buf, int len) {
    return TimedRecvExact(localSocket_, buf, len, kLocalTimeout, &lastRecvClosed_);
}

int CSocksClient::ReadRemote(void* buf, int len) {
    return TimedRecvExact(remoteSocket_, buf, len, kRemoteTimeout, &lastRecvClosed_);
}

int CSocksClient::WriteLocal(const void* data, int len) {
    return SendAll(localSocket_, data, len, kLocalTimeout);
}

int CSocksClient::WriteRemote(const void* data, int len) {
    return SendAll(remoteSocket_, data, len, kLocalTimeout);
}

// ---- replies ------------------------------------------------------------------------

bool CSocksClient::SendSocks4Reply(int code, uint32_t address, uint16_t port) {
    unsigned char reply[8] = {0x00, static_cast<unsigned char>(code), static_cast<unsigned char>(port >> 8),
                              static_cast<unsigned char>(port & 0xff)};
    std::memcpy(reply + 4, &address, 4);
    return WriteLocal(reply, 8) == 8;
}

bool CSocksClient::SendSocks5Reply(int rep, uint32_t address, uint16_t port) {
    unsigned char reply[10] = {0x05, static_cast<unsigned char>(rep), 0x00, 0x01};
    std::memcpy(reply + 4, &address, 4);
    reply[8] = static_cast<unsigned char>(port >> 8);
    reply[9] = static_cast<unsigned char>(port & 0xff);
    return WriteLocal(reply, 10) == 10;
}

bool CSocksClient::ReplyResult(bool success, uint32_t address, uint16_t port) {
    if (!success) {
        address = 0;
        port = 0;
    }
    if (socksVersion_ == 4) return SendSocks4Reply(success ? 90 : 92, address, port);
    return SendSocks5Reply(success ? 0x00 : 0x01, address, port);
}

void CSocksClient::LocalSocketName(uint32_t* address, uint16_t* port) const {
    sockaddr_in own{};
    socklen_t len = sizeof own;
    *address = 0;
    *port = 0;
    if (getsockname(localSocket_, reinterpret_cast<sockaddr*>(&own), &len) == 0 &&
        own.sin_family == AF_INET) {
        *address = own.sin_addr.s_addr;
        *port = ntohs(own.sin_port);
    }
}

// ---- the server side ------------------------------------------------------------------

int CSocksClient::Run() {
    SetNoDelay(localSocket_);
    int version = 0;
    int result = 0;
    if (!ReadLocalByte(&version)) version = -1;
    if (version == 5) {
        result = Socks5Methods() && Socks5UserPass() ? Socks5Request() : 0;
    } else if (version == 4) {
        result = Socks4Request();
    } else {
        int other = OnOtherProtocol(version < 0 ? 0 : version);
        if (other == 0) return 0;
        if (other == 1) return 1;
        result = other;
    }
    return result ? Relay() : 0;
}

int CSocksClient::OnOtherProtocol(int) {
    return 0;
}

bool CSocksClient::Socks5Methods() {
    if (socksVersion_ != 5) return true;
    static const unsigned char kNoMethod[2] = {0x05, 0xff};
    int count = 0;
    if (!ReadLocalByte(&count)) return false;
    if (count == 0) {
        WriteLocal(kNoMethod, 2);
        return false;
    }
    unsigned char methods[255];
    if (ReadLocal(methods, count) != count) return false;
    bool offersNone = std::memchr(methods, 0x00, static_cast<size_t>(count)) != nullptr;
    bool offersUserPass = std::memchr(methods, 0x02, static_cast<size_t>(count)) != nullptr;
    bool wantCredentials = !user_.empty() || !password_.empty();
    if ((!offersNone && !offersUserPass) || (wantCredentials && !offersUserPass) ||
        (!wantCredentials && !offersNone)) {
        WriteLocal(kNoMethod, 2);
        return false;
    }
    unsigned char choice[2] = {0x05, static_cast<unsigned char>(wantCredentials ? 0x02 : 0x00)};
    return WriteLocal(choice, 2) == 2;
}

bool CSocksClient::Socks5UserPass() {
    if (user_.empty() && password_.empty()) return true;
    int version = 0;
    if (!ReadLocalByte(&version) || version != 0x01) return false;
    int ulen = 0;
    if (!ReadLocalByte(&ulen) || ulen == 0) return false;
    std::string user(static_cast<size_t>(ulen), '\0');
    if (ReadLocal(user.data(), ulen) != ulen) return false;
    int plen = 0;
    if (!ReadLocalByte(&plen) || plen == 0) return false;
    std::string password(static_cast<size_t>(plen), '\0');
    if (ReadLocal(password.data(), plen) != plen) return false;
    bool ok = CheckCredentials(user, password);
    unsigned char status[2] = {0x01, static_cast<unsigned char>(ok ? 0x00 : 0x01)};
    return WriteLocal(status, 2) == 2 && ok;
}

bool CSocksClient::CheckCredentials(const std::string& user, const std::string& password) {
    if (user_.empty() && password_.empty()) return true;
    return !user_.empty() && user_ == user && !password_.empty() && password_ == password;
}

bool CSocksClient::ReadSocks5Address(int atyp, bool isConnect) {
    unsigned char port[2];
    if (atyp == 1) {
        unsigned char field[6];
        if (ReadLocal(field, 6) != 6) return false;
        uint32_t address;
        std::memcpy(&address, field, 4);
        destPort_ = static_cast<uint16_t>(field[4] << 8 | field[5]);
        if (isConnect && (address == 0 || destPort_ == 0)) return false;
        char text[16];
        FormatIPv4(address, text);
        destHost_ = text;
        return true;
    }
    int length = 0;
    if (!ReadLocalByte(&length) || length == 0) return false;
    std::string name(static_cast<size_t>(length), '\0');
    if (ReadLocal(name.data(), length) != length) return false;
    if (ReadLocal(port, 2) != 2) return false;
    destPort_ = static_cast<uint16_t>(port[0] << 8 | port[1]);
    // Port 0 cannot be reached, by name no more than by address.
    if (isConnect && destPort_ == 0) return false;
    destHost_ = name;
    return true;
}

int CSocksClient::Socks5Request() {
    int version = 0;
    if (!ReadLocalByte(&version) || (version != 5 && version != 4)) return 0;
    socksVersion_ = version;
    int cmd = 0, rsv = 0, atyp = 0;
    if (!ReadLocalByte(&cmd)) {
        SendSocks5Reply(0x07, 0, 0);
        return 0;
    }
    if (!ReadLocalByte(&rsv)) {
        SendSocks5Reply(0x01, 0, 0);
        return 0;
    }
    if (!ReadLocalByte(&atyp)) {
        SendSocks5Reply(0x08, 0, 0);
        return 0;
    }
    if (cmd < 1 || cmd > 3) return 0;
    if (atyp != 1 && atyp != 3) {
        SendSocks5Reply(0x08, 0, 0);
        return 0;
    }
    if (!ReadSocks5Address(atyp, cmd == 1)) return 0;
    command_ = cmd;
    addressType_ = atyp;
    if (cmd == 3) {
        // The client's declared address plays no part.
        destHost_.clear();
        destPort_ = 0;
    } else if (atyp == 3 && !IsValidDestinationName(destHost_)) {
        // A name that would cut or extend a request line on the way.
        ReplyResult(false, 0, 0);
        return 0;
    }
    if (cmd == 1) return OnConnect();
    if (cmd == 2) return Socks5Bind() ? 1 : 0;
    return OnUdpAssociate() ? 1 : 0;
}

// Reads bytes up to a NUL; 1 when the NUL came within `maxLen` bytes.
int CSocksClient::ReadNulTerminated(std::string* out, size_t maxLen) {
    out->clear();
    for (;;) {
        int c = 0;
        if (!ReadLocalByte(&c)) return 0;
        if (c == 0) return 1;
        if (out->size() >= maxLen) return 0;
        out->push_back(static_cast<char>(c));
    }
}

int CSocksClient::Socks4Request() {
    socksVersion_ = 4;
    int cd = 0;
    if (!ReadLocalByte(&cd)) {
        SendSocks4Reply(91, 0, 0);
        return 0;
    }
    if (cd != 1 && cd != 2) return 0;
    unsigned char field[6];
    if (ReadLocal(field, 6) != 6) return 0;
    uint16_t port = static_cast<uint16_t>(field[0] << 8 | field[1]);
    uint32_t address;
    std::memcpy(&address, field + 2, 4);
    uint32_t hostOrder = ntohl(address);
    if (address == 0 || port == 0) return 0;
    bool socks4a = (hostOrder & 0xffffff00u) == 0;
    std::string userId;
    if (!ReadNulTerminated(&userId, kMaxSocks4Field)) {
        SendSocks4Reply(91, 0, 0);
        return 0;
    }
    destPort_ = port;
    if (socks4a) {
        std::string name;
        if (!ReadNulTerminated(&name, kMaxSocks4Field) || !IsValidDestinationName(name)) {
            SendSocks4Reply(91, 0, 0);
            return 0;
        }
        addressType_ = 3;
        destHost_ = name;
    } else {
        char text[16];
        FormatIPv4(address, text);
        addressType_ = 1;
        destHost_ = text;
    }
    command_ = cd;
    if (cd == 1) return OnConnect();
    return Socks4Bind() ? 1 : 0;
}

int CSocksClient::OnConnect() {
    in_addr address{};
    if (inet_pton(AF_INET, destHost_.c_str(), &address) == 1 && address.s_addr == htonl(INADDR_LOOPBACK) &&
        destPort_ == GetLocalProxySettings().udpRelayPort.load()) {
        udpgwFlag_ = 1;
        return ReplyLocalBound() ? 1 : 0;
    }
    ClearFailure();
    if (ConnectUpstreamAndReply()) return 1;
    std::string stage = "connect through the node";
    if (!upstreamText_.empty()) stage += ": " + upstreamText_;
    LogEarlyEnd(stage.c_str(), 0);
    return 0;
}

int CSocksClient::Relay() {
    if (command_ == 3) return RelayUdpAssociate();
    if (udpgwFlag_) return RunUdpGwLoop();
    return RelayTcp();
}

bool CSocksClient::OnUdpAssociate() {
    sockaddr_in bound{};
    int s = OpenLoopbackUdp(&bound);
    if (s < 0) {
        SendSocks5Reply(0x01, 0, 0);
        return false;
    }
    SendSocks5Reply(0x00, bound.sin_addr.s_addr, ntohs(bound.sin_port));
    udpSocket_ = s;
    return OnUdpAssociated() != 0;
}

// ---- BIND, served on this machine ---------------------------------------------------

// Waits for the one connection BIND expects. The local client leaving (or
// sending anything) before it comes ends the wait, as does the service's stop.
bool CSocksClient::WaitForBindPeer(int listenSocket, sockaddr_in* peer, int* accepted) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(kBindWaitSeconds);
    pollfd fds[3] = {
        {listenSocket, POLLIN, 0}, {localSocket_, POLLIN, 0}, {ServiceStopFdForThread(), POLLIN, 0}};
    for (;;) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) return false;
        int n = poll(fds, 3, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || fds[1].revents || fds[2].revents) return false;
        if (fds[0].revents & POLLIN) break;
        if (fds[0].revents) return false;
    }
    socklen_t len = sizeof *peer;
    *accepted = accept4(listenSocket, reinterpret_cast<sockaddr*>(peer), &len, SOCK_CLOEXEC);
    return *accepted >= 0;
}

bool CSocksClient::Socks5Bind() {
    return ServeBind(true);
}

bool CSocksClient::Socks4Bind() {
    return ServeBind(false);
}

bool CSocksClient::ServeBind(bool socks5) {
    auto reply = [&](bool ok, uint32_t address, uint16_t port) {
        return socks5 ? SendSocks5Reply(ok ? 0x00 : 0x01, address, port)
                      : SendSocks4Reply(ok ? 90 : 91, address, port);
    };
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    socklen_t len = sizeof bound;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 || listen(s, 1) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
        CloseSocket(s);
        reply(false, 0, 0);
        return false;
    }
    if (!reply(true, bound.sin_addr.s_addr, ntohs(bound.sin_port))) {
        CloseSocket(s);
        return false;
    }
    sockaddr_in peer{};
    int accepted = -1;
    bool ok = WaitForBindPeer(s, &peer, &accepted);
    CloseSocket(s);
    if (!ok) return false;
    remoteSocket_ = accepted;
    SetNoDelay(remoteSocket_);
    return reply(true, peer.sin_addr.s_addr, ntohs(peer.sin_port));
}

// ---- the TCP relay --------------------------------------------------------------------

void CSocksClient::AbortOnClose(int s) {
    if (s < 0) return;
    linger hard{1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

void CSocksClient::NoteFailure(const char* stage, int error) {
    if (failStage_ != nullptr) return;
    failStage_ = stage;
    failError_ = error;
}

void CSocksClient::LogEarlyEnd(const char* stage, int error) {
    const char* where = failStage_ != nullptr ? failStage_ : stage;
    int code = failStage_ != nullptr ? failError_ : error;
    std::string line = "connection to " + DescribeEndpoint(destHost_, destPort_) + " through node " +
                       DescribeEndpoint(nodeFields_.host, nodeFields_.port) + " ended early at " + where;
    if (code == ETIMEDOUT) {
        line += " (timed out)";
    } else if (code != 0) {
        line += std::string(" (") + std::strerror(code) + ")";
    }
    line += "; " + std::to_string(bytesUp_) + " bytes up, " + std::to_string(bytesDown_) + " bytes down";
    LogProxyEvent(line);
}

int CSocksClient::RelayTcpStreams(int bufferSize, int readMax, int sendTimeout) {
    auto* buffer = static_cast<unsigned char*>(PrivateHeapAlloc(static_cast<size_t>(bufferSize)));
    if (buffer == nullptr) return 0;
    if (readMax > bufferSize) readMax = bufferSize;
    bool localReading = true;
    bool remoteReading = true;
    bool failed = false;
    // The local client has finished while the pipeline still holds its bytes.
    bool remoteEndPending = false;
    ClearFailure();
    int stopFd = ServiceStopFdForThread();
    while (IsRelayRunning() && (localReading || remoteReading) && !failed) {
        pollfd fds[3] = {{localReading ? localSocket_ : -1, POLLIN | POLLPRI, 0},
                         {remoteReading ? remoteSocket_ : -1, POLLIN | POLLPRI, 0},
                         {stopFd, POLLIN, 0}};
        int n = poll(fds, 3, 200);
        if (n < 0) {
            if (errno == EINTR) continue;
            NoteFailure("the relay's wait", errno);
            failed = true;
            break;
        }
        if (fds[2].revents) break;
        for (int side = 0; side < 2 && !failed; ++side) {
            short ev = fds[side].revents;
            if (ev == 0) continue;
            if (ev & (POLLPRI | POLLNVAL)) {
                NoteFailure(side == 0 ? "an exceptional condition on the local socket"
                                      : "an exceptional condition on the node's socket");
                failed = true;
                break;
            }
            int from = side == 0 ? localSocket_ : remoteSocket_;
            int to = side == 0 ? remoteSocket_ : localSocket_;
            int sendBack = 0, cryptorFlag = 0;
            errno = 0;
            int got = RecvVia(from, buffer, readMax, 0, &sendBack, &cryptorFlag);
            if (got < 0) {
                if (!LastRecvClosed()) {
                    NoteFailure(side == 0 ? "receive from the local client" : "receive from the node", errno);
                    failed = true;
                    break;
                }
                // The sender finished: pass its end on and keep the other way
                // open; not before bytes the pipeline holds have gone out.
                (side == 0 ? localReading : remoteReading) = false;
                if (side == 0 && UploadHeldBack()) {
                    remoteEndPending = true;
                } else {
                    shutdown(to, SHUT_WR);
                }
                continue;
            }
            if (sendBack) {
                if (SendVia(remoteSocket_, nullptr, 0, kLocalTimeout) < 0) {
                    NoteFailure("send of held-back bytes to the node", errno ? errno : ETIMEDOUT);
                    failed = true;
                    break;
                }
                if (remoteEndPending && !UploadHeldBack()) {
                    shutdown(remoteSocket_, SHUT_WR);
                    remoteEndPending = false;
                }
            }
            if (got == 0) continue;
            if (side == 1) CountReceived(got);
            errno = 0;
            int sent = SendVia(to, buffer, got, sendTimeout);
            if (sent < 0) {
                NoteFailure(side == 0 ? "send to the node" : "send to the local client", errno ? errno : ETIMEDOUT);
                failed = true;
                break;
            }
            if (side == 0) CountSent(sent);
        }
    }
    PrivateHeapFree(buffer);
    if (failed) {
        LogEarlyEnd("the relay", 0);
        AbortOnClose(localSocket_);
        AbortOnClose(remoteSocket_);
    }
    return 1;
}
