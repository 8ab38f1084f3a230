#include "ciphers/plugins/obfs_tls12_ticket_auth.h"

#include <vector>

#include "ciphers/crypto_helpers.h"
#include "ciphers/plugins/plugin_buffers.h"
#include "ciphers/plugins/protocol_auth.h"
#include "foundation/string_util.h"
#include "foundation/system_helpers.h"

using namespace plugin;

namespace {

const unsigned char kCipherBlock[32] = {0x00, 0x1c, 0xc0, 0x2b, 0xc0, 0x2f, 0xcc, 0xa9, 0xcc, 0xa8, 0xcc,
                                        0x14, 0xcc, 0x13, 0xc0, 0x0a, 0xc0, 0x14, 0xc0, 0x09, 0xc0, 0x13,
                                        0x00, 0x9c, 0x00, 0x35, 0x00, 0x2f, 0x00, 0x0a, 0x01, 0x00};
const unsigned char kRenegotiationInfo[5] = {0xff, 0x01, 0x00, 0x01, 0x00};
const unsigned char kMasterSecretAndTicket[6] = {0x00, 0x17, 0x00, 0x00, 0x00, 0x23};
const unsigned char kTailHead[63] = {
    0x00, 0x0d, 0x00, 0x16, 0x00, 0x14, 0x06, 0x01, 0x06, 0x03, 0x05, 0x01, 0x05, 0x03, 0x04, 0x01,
    0x04, 0x03, 0x03, 0x01, 0x03, 0x03, 0x02, 0x01, 0x02, 0x03,                    // signature_algorithms
    0x00, 0x05, 0x00, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00,                          // status_request
    0x00, 0x12, 0x00, 0x00,                                                        // signed_certificate_timestamp
    0x75, 0x50, 0x00, 0x00,                                                        // 0x7550
    0x00, 0x0b, 0x00, 0x02, 0x01, 0x00,                                            // ec_point_formats
    0x00, 0x0a, 0x00, 0x06, 0x00, 0x04, 0x00, 0x17, 0x00, 0x18,                    // supported_groups
    0x00, 0x15, 0x00, 0x66};                                                       // padding, 102 zero bytes
constexpr size_t kTailPadding = 102;
const unsigned char kFinishedPrefix[11] = {0x14, 0x03, 0x03, 0x00, 0x01, 0x01, 0x16, 0x03, 0x03, 0x00, 0x20};

void AppendRecord(std::string& out, const unsigned char* p, size_t n) {
    out += "\x17\x03\x03";
    AppendBe16(out, static_cast<uint32_t>(n));
    AppendBytes(out, p, n);
}

}  // namespace

CObfsTls12TickAuth::CObfsTls12TickAuth(std::string name, std::string param)
    : CObfsBase(std::move(name), std::move(param)) {
    fastAuth_ = StringEquals(name_, "tls1.2_ticket_fastauth", true);
    Reset();
}

CObfsTls12TickAuth::~CObfsTls12TickAuth() {
    CObfsTls12TickAuth::SetIvKey(nullptr, 0, nullptr, 0);
}

void CObfsTls12TickAuth::SetIvKey(const unsigned char* iv, int ivLength, const unsigned char* key, int keyLength) {
    CObfs::SetIvKey(iv, ivLength, key, keyLength);
    Reset();
}

void CObfsTls12TickAuth::Reset() {
    sendQueue_.clear();
    sendQueue_.shrink_to_fit();
    recvBuffer_.clear();
    recvBuffer_.shrink_to_fit();
    ownOverhead_ = 5;
    state_ = 0;
    recordCount_ = 0;
    clientId_ = RandomString(32);
}

std::string CObfsTls12TickAuth::Hmac10(const std::string& data) const {
    std::string key(reinterpret_cast<const char*>(serverInfo_.key), serverInfo_.keyLength);
    key += clientId_;
    unsigned char mac[20];
    HmacSha1(Bytes(key), key.size(), Bytes(data), data.size(), mac);
    return std::string(reinterpret_cast<const char*>(mac), 10);
}

std::string CObfsTls12TickAuth::SniHost() const {
    std::string host = serverInfo_.host;
    if (!serverInfo_.param.empty()) {
        std::vector<std::string> hosts;
        SplitString(serverInfo_.param, ",", hosts, false);
        if (hosts.size() > 1)
            host = hosts[static_cast<size_t>(RandomInt(static_cast<int>(hosts.size()))) % hosts.size()];
        else if (hosts.size() == 1)
            host = hosts[0];
    }
    TrimString(host, " ");
    if (!host.empty() && host.back() >= '0' && host.back() <= '9') host.clear();
    if (host.size() > kMaxServerName) host.clear();
    return host;
}

std::string CObfsTls12TickAuth::MakeClientHello(const std::string& sniHost, size_t ticketLength) const {
    const size_t n = sniHost.size();
    std::string ext;
    AppendBytes(ext, kRenegotiationInfo, sizeof(kRenegotiationInfo));
    ext += std::string("\x00\x00", 2);
    AppendBe16(ext, static_cast<uint32_t>(n + 5));
    AppendBe16(ext, static_cast<uint32_t>(n + 3));
    ext += '\0';
    AppendBe16(ext, static_cast<uint32_t>(n));
    ext += sniHost;
    AppendBytes(ext, kMasterSecretAndTicket, sizeof(kMasterSecretAndTicket));
    AppendBe16(ext, static_cast<uint32_t>(ticketLength));
    ext += RandomString(ticketLength);
    AppendBytes(ext, kTailHead, sizeof(kTailHead));
    ext.append(kTailPadding, '\0');

    std::string random;
    const uint32_t now = PluginTimeNow();
    random += static_cast<char>(now >> 24);
    random += static_cast<char>(now >> 16);
    random += static_cast<char>(now >> 8);
    random += static_cast<char>(now);
    random += RandomString(18);
    random += Hmac10(random);

    std::string body = random;
    body += '\x20';
    body += clientId_;
    AppendBytes(body, kCipherBlock, sizeof(kCipherBlock));
    AppendBe16(body, static_cast<uint32_t>(ext.size()));
    body += ext;

    std::string record = "\x16\x03\x01";
    AppendBe16(record, static_cast<uint32_t>(body.size() + 6));
    record += std::string("\x01\x00", 2);
    AppendBe16(record, static_cast<uint32_t>(body.size() + 2));
    record += "\x03\x03";
    record += body;
    return record;
}

std::string CObfsTls12TickAuth::MakeFinished() const {
    std::string finished(reinterpret_cast<const char*>(kFinishedPrefix), sizeof(kFinishedPrefix));
    finished += RandomString(22);
    finished += Hmac10(finished);
    return finished;
}

int CObfsTls12TickAuth::ClientEncode(unsigned char** data, int length, int, int* outLength) {
    *outLength = 0;
    const unsigned char* p = *data;
    size_t left = static_cast<size_t>(std::max(length, 0));
    std::string out;
    if (state_ & kSendEstablished) {
        out.reserve(left + 4096);
        while (recordCount_ <= 4 && left > 256) {
            const size_t size = std::min(static_cast<size_t>(RandomInt(512) % 512 + 64), left);
            AppendRecord(out, p, size);
            p += size;
            left -= size;
            ++recordCount_;
        }
        while (left > 2048) {
            const size_t size = std::min(static_cast<size_t>(RandomInt(4096) % 4096 + 100), left);
            AppendRecord(out, p, size);
            p += size;
            left -= size;
            ++recordCount_;
        }
        if (left > 0) {
            AppendRecord(out, p, left);
            ++recordCount_;
        }
        return HandOver(data, out, outLength);
    }
    // Records carry 16-bit lengths: a long block goes out in several.
    for (size_t at = 0; at < left; at += kMaxRecordPayload)
        AppendRecord(sendQueue_, p + at, std::min(kMaxRecordPayload, left - at));
    if (state_ & (kHelloSent | kFinishedQueued)) {
        if (!(state_ & kFinishedQueued)) {
            sendQueue_.insert(0, MakeFinished());
            state_ |= kFinishedQueued;
        }
        if (left == 0 || fastAuth_) {
            out = std::move(sendQueue_);
            sendQueue_.clear();
        }
        if (left == 0) state_ |= kSendEstablished;
    } else {
        out = MakeClientHello(SniHost(), static_cast<size_t>(RandomInt(196) % 196 + 64));
        state_ = kHelloSent;
    }
    return HandOver(data, out, outLength);
}

int CObfsTls12TickAuth::DecodeRecords(std::string* out) {
    while (recvBuffer_.size() > 5) {
        const auto* b = Bytes(recvBuffer_);
        if (b[0] != 0x17) return 0;
        const size_t size = Be16(b + 3);
        if (size + 5 > recvBuffer_.size()) break;
        out->append(recvBuffer_, 5, size);
        recvBuffer_.erase(0, size + 5);
    }
    return 1;
}

int CObfsTls12TickAuth::ClientDecode(unsigned char** data, int length, int, int* outLength, int* sendBack) {
    *outLength = 0;
    *sendBack = 0;
    recvBuffer_.append(View(*data, length));
    std::string out;
    if (state_ & kServerVerified) {
        if (!DecodeRecords(&out)) return 0;
        return HandOver(data, out, outLength);
    }
    if (recvBuffer_.size() > kMaxHandshake) return 0;
    if (recvBuffer_.size() < 76) return 1;
    if (Hmac10(recvBuffer_.substr(11, 22)) != recvBuffer_.substr(33, 10)) return 0;

    const size_t size = recvBuffer_.size();
    size_t handshake = size;
    if (Hmac10(recvBuffer_.substr(0, size - 10)) != recvBuffer_.substr(size - 10)) {
        const auto* b = Bytes(recvBuffer_);
        size_t at = 0;
        while (at < size && (b[at] == 0x14 || b[at] == 0x16)) {
            if (at + 5 > size) return 1;
            const size_t next = at + 5 + Be16(b + at + 3);
            if (next > size) return 1;
            at = next;
        }
        // Whole handshake records and nothing else yet: the Finished record
        // may still be on its way.
        if (at == size) return 1;
        handshake = at;
        if (handshake < 10) return 0;
        if (Hmac10(recvBuffer_.substr(0, handshake - 10)) != recvBuffer_.substr(handshake - 10, 10)) return 0;
    }
    recvBuffer_.erase(0, handshake);
    state_ |= kServerVerified;
    *sendBack = 1;
    // Application data that came with the handshake is delivered now, not
    // left waiting for the next read.
    if (!DecodeRecords(&out)) return 0;
    return HandOver(data, out, outLength);
}
