// The ShadowsocksR client: every byte towards the node passes the protocol
// plug-in, the cryptor and the obfuscation plug-in, and back in reverse.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ciphers/cryptor_factory.h"
#include "ciphers/plugins/obfs_factory.h"
#include "foundation/private_heap.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/service_stop.h"
#include "proxy/ss_client.h"

namespace {

constexpr int kHeaderSendTimeout = 15;
constexpr int kRelaySendTimeout = 10;
constexpr int kUdpSendTimeout = 5;
constexpr int kUdpPrefix = 3;  // RSV RSV FRAG of a SOCKS 5 UDP datagram
constexpr int kMaxDatagram = 65535;

// A private-heap block that is freed when it goes out of scope, unless the
// pointer was handed on.
struct HeapBlock {
    unsigned char* p = nullptr;
    explicit HeapBlock(unsigned char* block = nullptr) : p(block) {}
    ~HeapBlock() { PrivateHeapFree(p); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
    unsigned char* release() {
        unsigned char* q = p;
        p = nullptr;
        return q;
    }
};

// A private-heap copy of the bytes (at least one byte long), or null.
unsigned char* CopyToHeap(const void* data, int len) {
    auto* block = static_cast<unsigned char*>(PrivateHeapAlloc(static_cast<size_t>(std::max(len, 1))));
    if (block && data && len > 0) std::memcpy(block, data, static_cast<size_t>(len));
    return block;
}

}  // namespace

CSSRCLient::CSSRCLient(int localSocket, const char* user, const char* password)
    : CSSCLient(localSocket, user, password) {}

CSSRCLient::~CSSRCLient() {
    PrivateHeapFree(wire_);
    PrivateHeapFree(upload_);
    PrivateHeapFree(sealed_);
    PrivateHeapFree(plain_);
}

int CSSRCLient::BuildPipeline(const char** unknownKind) {
    if (unknownKind) *unknownKind = nullptr;
    obfs_.reset();
    protocol_.reset();
    cryptor_ = CreateCryptor(nodeFields_.method, nodeFields_.password);
    if (!cryptor_) {
        if (unknownKind) *unknownKind = "encryption";
        return 0;
    }
    protocol_ = CreateObfs(nodeFields_.protocol, nodeFields_.protocolParam);
    if (!protocol_) {
        if (unknownKind) *unknownKind = "protocol";
        return 0;
    }
    obfs_ = CreateObfs(nodeFields_.obfs, nodeFields_.obfsParam);
    if (!obfs_) {
        if (unknownKind) *unknownKind = "obfs";
        return 0;
    }
    SSRServerInfo info =
        MakeServerInfo(*cryptor_, nodeFields_.host, nodeFields_.port, nodeFields_.obfsParam, obfs_->GetSharedData());
    obfs_->SetServerInfo(info);
    info.param = nodeFields_.protocolParam;
    info.sharedData = protocol_->GetSharedData();
    info.overhead = static_cast<uint16_t>(obfs_->GetOwnOverhead() + protocol_->GetOwnOverhead());
    protocol_->SetServerInfo(info);
    return 1;
}

void CSSRCLient::ResetPipeline() {
    if (!cryptor_) return;
    cryptor_->Reset();
    const unsigned char* iv = nullptr;
    int ivLength = 0;
    GetCryptorSendIv(*cryptor_, &iv, &ivLength);
    for (CObfs* plugin : {protocol_.get(), obfs_.get()}) {
        if (plugin) plugin->SetIvKey(iv, ivLength, cryptor_->GetKey(), cryptor_->GetKeyLength());
    }
}

void CSSRCLient::SetHeadLength(uint32_t length) {
    if (protocol_) protocol_->SetHeadLength(length);
    if (obfs_) obfs_->SetHeadLength(length);
}

int CSSRCLient::Run() {
    if (node_ == nullptr) {
        CNodeInfo* node = GetCurrentProxyNode();
        if (node == nullptr) return 0;
        AttachNode(node);
    }
    const char* unknown = nullptr;
    if (!BuildPipeline(&unknown)) {
        std::string stage = std::string("the pipeline's set-up: the ") + (unknown ? unknown : "cipher") +
                            " name is unknown";
        LogEarlyEnd(stage.c_str(), 0);
        return 0;
    }
    return CSocksClient::Run();
}

// ---- the pipeline ---------------------------------------------------------------------------

int CSSRCLient::Refused(const char* stage) {
    NoteFailure(stage, 0);
    lastRecvClosed_ = false;
    return -1;
}

namespace {

// Runs a plug-in step on a block the connection keeps: the step may free the
// block and leave one of its own, which the connection keeps from then on.
template <typename Step>
bool OnKeptBlock(unsigned char** kept, Step step) {
    if (*kept == nullptr) *kept = static_cast<unsigned char*>(PrivateHeapAlloc(1));
    if (*kept == nullptr) return false;
    unsigned char* p = *kept;
    bool ok = step(&p);
    *kept = p;
    return ok;
}

}  // namespace

int CSSRCLient::SendVia(int s, const void* data, int len, int timeout) {
    if (s != remoteSocket_ || !pipelineOnRemote_ || !cryptor_ || !protocol_ || !obfs_) {
        if (data == nullptr || len <= 0) return 0;
        int sent = SendAll(s, data, len, timeout);
        return sent == len ? sent : -1;
    }
    if (len < 0 || (len > 0 && data == nullptr)) return -1;
    // Every stage writes into a block the connection keeps, so that a chunk
    // costs no allocation; a plug-in that changes nothing is skipped.
    const auto* plain = static_cast<const unsigned char*>(data);
    int plainLength = len;
    if (!protocol_->PassesThrough()) {
        if (!PrivateHeapReserve(&upload_, static_cast<size_t>(std::max(len, 1)))) return -1;
        if (len > 0) std::memcpy(upload_, data, static_cast<size_t>(len));
        if (!OnKeptBlock(&upload_, [&](unsigned char** p) {
                return protocol_->ClientPreEncrypt(p, len, &plainLength);
            }))
            return Refused("the protocol plug-in (upload)");
        plain = upload_;
    }
    size_t encrypted = 0;
    if (plainLength > 0 &&
        !cryptor_->EncryptInto(plain, static_cast<size_t>(plainLength), &sealed_, &encrypted, false))
        return Refused("the cryptor (encrypt)");
    int wireLength = static_cast<int>(encrypted);
    // Nothing to encrypt (a held-back send) still goes through the obfuscation.
    if (!obfs_->PassesThrough() && !OnKeptBlock(&sealed_, [&](unsigned char** p) {
            return obfs_->ClientEncode(p, static_cast<int>(encrypted), plainLength, &wireLength);
        }))
        return Refused("the obfuscation plug-in (upload)");
    if (wireLength <= 0) return 0;
    int sent = SendAll(s, sealed_, wireLength, timeout);
    return sent == wireLength ? sent : -1;
}

int CSSRCLient::RecvVia(int s, void* buf, int len, int timeout, int* sendBack, int* cryptorFlag) {
    if (sendBack) *sendBack = 0;
    if (cryptorFlag) *cryptorFlag = 0;
    if (buf == nullptr || len <= 0) return 0;
    if (s != remoteSocket_ || !pipelineOnRemote_ || !cryptor_ || !protocol_ || !obfs_) {
        return Recv(s, buf, std::min(len, kMaxRead), timeout);
    }
    if (!PrivateHeapReserve(&wire_, kMaxRead)) return -1;
    int n = Recv(s, wire_, kMaxRead, timeout);
    if (n <= 0) return n;

    int decoded = n;
    int back = 0;
    if (!obfs_->PassesThrough()) {
        int ok = OnKeptBlock(
            &wire_, [&](unsigned char** p) { return obfs_->ClientDecode(p, n, kMaxRead, &decoded, &back); });
        if (!ok) return Refused("the obfuscation plug-in (download)");
    }
    if (back) obfsAnswered_ = true;
    if (sendBack) *sendBack = back;
    if (decoded <= 0) return 0;

    size_t plainLength = 0;
    bool needMore = false;
    if (!cryptor_->DecryptInto(wire_, static_cast<size_t>(decoded), &plain_, &plainLength, &needMore, false))
        return Refused("the cryptor (decrypt)");
    if (cryptorFlag) *cryptorFlag = needMore ? 1 : 0;
    if (plainLength == 0) return 0;

    int finalLength = static_cast<int>(plainLength);
    if (!protocol_->PassesThrough() && !OnKeptBlock(&plain_, [&](unsigned char** p) {
            return protocol_->ClientPostDecrypt(p, static_cast<int>(plainLength), &finalLength);
        }))
        return Refused("the protocol plug-in (download)");
    if (finalLength <= 0) return 0;
    // Never past the caller's buffer: a stream that cannot be delivered whole is ended.
    if (finalLength > len) return Refused("the protocol plug-in (download): a chunk larger than the relay buffer");
    std::memcpy(buf, plain_, static_cast<size_t>(finalLength));
    return finalLength;
}

// ---- CONNECT ----------------------------------------------------------------------------------

bool CSSRCLient::ConnectUpstreamAndReply() {
    std::string header = BuildAddressHeader(addressType_, destHost_, destPort_);
    if (header.empty()) return false;
    SetHeadLength(static_cast<uint32_t>(header.size()));
    if (!ConnectServer(false, true, nullptr)) return false;
    sockaddr_in own{};
    socklen_t ownLength = sizeof own;
    getsockname(remoteSocket_, reinterpret_cast<sockaddr*>(&own), &ownLength);
    if (!ReplyResult(true, own.sin_addr.s_addr, ntohs(own.sin_port))) return false;
    if (SendVia(remoteSocket_, header.data(), static_cast<int>(header.size()), kHeaderSendTimeout) <= 0) {
        SetUpstreamText("Failed to send initial packet.");
        return false;
    }
    return true;
}

bool CSSRCLient::UploadHeldBack() const {
    const std::string& obfs = nodeFields_.obfs;
    bool holds = obfs.rfind("tls1.2_ticket", 0) == 0 || obfs == "random_head";
    return holds && !obfsAnswered_;
}

int CSSRCLient::RelayTcp() {
    // RecvVia reads at most kMaxRead at once; the rest of the buffer is room
    // for what the stages held back from earlier reads.
    return RelayTcpStreams(kRelayBuffer, kRelayBuffer, kRelaySendTimeout);
}

// ---- UDP ASSOCIATE ----------------------------------------------------------------------------

int CSSRCLient::UdpSendTo(int s, const void* data, int len, int timeout) {
    if (s == udpSocket_) {
        // Nothing goes back before the client's first datagram told its port.
        if (udpPeerAddr_.sin_family != AF_INET) return 0;
        return SendTo(s, data, len, reinterpret_cast<const sockaddr*>(&udpPeerAddr_), sizeof udpPeerAddr_,
                      timeout);
    }
    if (s != remoteSocket_ || !cryptor_ || !protocol_) return -1;
    const auto* bytes = static_cast<const unsigned char*>(data);
    // Too short to carry an address, or a fragment, which no node reassembles: dropped.
    if (bytes == nullptr || len < kUdpPrefix + 1 || bytes[2] != 0) return 0;
    HeapBlock buf(CopyToHeap(bytes + kUdpPrefix, len - kUdpPrefix));
    if (buf.p == nullptr) return -1;
    int plainLength = 0;
    if (!protocol_->ClientUdpPreEncrypt(&buf.p, len - kUdpPrefix, &plainLength) || plainLength <= 0) return -1;
    // Every datagram stands alone: it carries an IV of its own.
    cryptor_->Reset();
    unsigned char* out = nullptr;
    size_t outLength = 0;
    if (!cryptor_->Encrypt(buf.p, static_cast<size_t>(plainLength), &out, &outLength, true)) return -1;
    HeapBlock wire(out);
    if (outLength == 0) return -1;
    return SendTo(s, wire.p, static_cast<int>(outLength), reinterpret_cast<const sockaddr*>(&nodeServerAddr_),
                  sizeof nodeServerAddr_, timeout);
}

int CSSRCLient::UdpRecv(int s, void* buf, int len, int timeout, int* sendBack, int* cryptorFlag) {
    if (sendBack) *sendBack = 0;
    if (cryptorFlag) *cryptorFlag = 0;
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    int n = RecvFrom(s, buf, len, reinterpret_cast<sockaddr*>(&from), &fromLen, timeout);
    if (n <= 0) return n;
    if (s == udpSocket_) {
        // Only the local client's own host may use the association.
        if (from.sin_family != AF_INET || from.sin_addr.s_addr != clientAddress_) return 0;
        udpPeerAddr_ = from;
        return n;
    }
    if (s != remoteSocket_ || !cryptor_ || !protocol_) return -1;
    // A datagram that does not decrypt is dropped; the association goes on.
    cryptor_->Reset();
    unsigned char* plain = nullptr;
    size_t plainLength = 0;
    bool needMore = false;
    if (!cryptor_->Decrypt(static_cast<unsigned char*>(buf), static_cast<size_t>(n), &plain, &plainLength,
                           &needMore, true)) {
        PrivateHeapFree(plain);
        return 0;
    }
    HeapBlock out(plain);
    if (plainLength == 0) return 0;
    int finalLength = 0;
    if (!protocol_->ClientUdpPostDecrypt(&out.p, static_cast<int>(plainLength), &finalLength) || finalLength <= 0)
        return 0;
    if (finalLength + kUdpPrefix > len) return 0;
    auto* dst = static_cast<unsigned char*>(buf);
    std::memset(dst, 0, kUdpPrefix);
    std::memcpy(dst + kUdpPrefix, out.p, static_cast<size_t>(finalLength));
    return finalLength + kUdpPrefix;
}

int CSSRCLient::RelayUdpAssociate() {
    auto* buffer = static_cast<unsigned char*>(PrivateHeapAlloc(kRelayBuffer));
    if (buffer == nullptr) return 0;
    int stopFd = ServiceStopFdForThread();
    bool running = true;
    while (running && IsRelayRunning()) {
        pollfd fds[4] = {{localSocket_, POLLIN | POLLPRI, 0},
                         {remoteSocket_, POLLIN | POLLPRI, 0},
                         {udpSocket_, POLLIN | POLLPRI, 0},
                         {stopFd, POLLIN, 0}};
        int n = poll(fds, 4, 200);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[3].revents) break;
        for (int i = 0; i < 3 && running; ++i) {
            short ev = fds[i].revents;
            if (ev == 0) continue;
            if (ev & (POLLPRI | POLLNVAL)) {
                running = false;
                break;
            }
            if (i == 0) {
                // The association lives as long as its TCP connection.
                if (TimedRecv(localSocket_, buffer, 100, 1) < 0) running = false;
                continue;
            }
            int got = UdpRecv(fds[i].fd, buffer, kMaxDatagram + kUdpPrefix, 0, nullptr, nullptr);
            if (got < 0) {
                running = false;
            } else if (got > 0 && i == 1) {
                CountReceived(got);
                if (UdpSendTo(udpSocket_, buffer, got, kUdpSendTimeout) < 0) running = false;
            } else if (got > 0) {
                int sent = UdpSendTo(remoteSocket_, buffer, got, kUdpSendTimeout);
                if (sent < 0) running = false;
                CountSent(sent);
            }
        }
    }
    PrivateHeapFree(buffer);
    return 1;
}
