#include "ciphers/plugins/protocol_auth_aes128.h"

#include "ciphers/plugins/plugin_buffers.h"
#include "foundation/base64.h"
#include "foundation/string_util.h"

using namespace plugin;

namespace {

// Padding lengths come from the process-wide generator (low 32 bits).
uint32_t NextPaddingRandom() {
    return static_cast<uint32_t>(XorShift128Plus());
}

// The padding starts with its own length: one byte below 128, else 0xFF and
// two little-endian bytes.
void WritePaddingLength(std::string& out, size_t at, size_t padding) {
    if (padding < 128) {
        out[at] = static_cast<char>(padding);
    } else {
        out[at] = static_cast<char>(0xFF);
        out[at + 1] = static_cast<char>(padding & 0xFF);
        out[at + 2] = static_cast<char>((padding >> 8) & 0xFF);
    }
}

std::string PacketKey(const std::string& userKey, uint32_t id) {
    std::string k = userKey;
    AppendLe32(k, id);
    return k;
}

}  // namespace

CProtocol_auth_aes128_md5::CProtocol_auth_aes128_md5(std::string name, std::string param)
    : CProtocolAuth(std::move(name), std::move(param)) {
    const bool sha1 = StringEquals(name_, "auth_aes128_sha1", true);
    hash_ = sha1 ? &Sha1Func : &Md5Func;
    hmac_ = sha1 ? &HmacSha1Func : &HmacMd5Func;
    hashLength_ = sha1 ? 20 : 16;
    CProtocol_auth_aes128_md5::SetIvKey(nullptr, 0, nullptr, 0);
}

CProtocol_auth_aes128_md5::~CProtocol_auth_aes128_md5() {
    CProtocol_auth_aes128_md5::SetIvKey(nullptr, 0, nullptr, 0);
}

void CProtocol_auth_aes128_md5::SetIvKey(const unsigned char* iv, int ivLength, const unsigned char* key,
                                         int keyLength) {
    CProtocolAuth::SetIvKey(iv, ivLength, key, keyLength);
    userKey_.clear();
    std::fill(userId_, userId_ + 4, 0);
    recvId_ = 1;
    sendId_ = 1;
}

std::string CProtocol_auth_aes128_md5::Mac(const std::string& key, const std::string& data) const {
    unsigned char out[20];
    hmac_(out, Bytes(data), data.size(), Bytes(key), key.size());
    return std::string(reinterpret_cast<const char*>(out), hashLength_);
}

void CProtocol_auth_aes128_md5::EnsureUserKey() {
    if (!userKey_.empty()) return;
    uint32_t id = 0;
    std::string password;
    if (ParseUserParam(&id, &password, 127)) {
        std::string digest;
        AppendLe32(digest, id);
        std::copy(digest.begin(), digest.end(), userId_);
        unsigned char h[20];
        hash_(h, Bytes(password), password.size());
        userKey_.assign(reinterpret_cast<const char*>(h), hashLength_);
    } else {
        RandomBytes(userId_, 4);
        userKey_ = ServerKey();
    }
}

std::string CProtocol_auth_aes128_md5::PackAuth(const unsigned char* p, size_t n) {
    const uint32_t x = NextPaddingRandom();
    const size_t padding = n > 400 ? (x & 0x1FF) : (x & 0x3FF);
    const size_t total = n + padding + 35;
    const std::string ivKey = IvKey();

    std::string out = RandomString(1);
    out += Mac(ivKey, out).substr(0, 6);
    EnsureUserKey();
    AppendBytes(out, userId_, 4);

    std::string block;
    AppendLe32(block, PluginTimeNow());
    unsigned char clientId[4];
    const uint32_t connectionId = NextConnectionId(clientId);
    AppendBytes(block, clientId, 4);
    AppendLe32(block, connectionId);
    AppendLe16(block, static_cast<uint32_t>(total));
    AppendLe16(block, static_cast<uint32_t>(padding));
    const std::string aesKeySource = Base64Encode(userKey_.data(), userKey_.size()) + name_;
    unsigned char aesKey[16];
    Md5Digest(Bytes(aesKeySource), aesKeySource.size(), aesKey);
    unsigned char encrypted[16];
    Aes128CbcEncryptBlock(encrypted, aesKey, Bytes(block));
    AppendBytes(out, encrypted, 16);

    out += Mac(ivKey, out.substr(7, 20)).substr(0, 4);
    out += RandomString(padding);
    AppendBytes(out, p, n);
    out += Mac(userKey_, out).substr(0, 4);
    return out;
}

std::string CProtocol_auth_aes128_md5::PackData(const unsigned char* p, size_t n, size_t full) {
    const uint32_t x = NextPaddingRandom();
    size_t padding;
    if (n > 1300 || full >= serverInfo_.bufferSize)
        padding = 1;
    else if (n > 1100)
        padding = 1 + (x & 0x7F);
    else if (n > 900)
        padding = 1 + (x & 0xFF);
    else if (n > 400)
        padding = 1 + (x & 0x1FF);
    else
        padding = 1 + (x & 0x3FF);
    const size_t total = padding + n + 8;
    const std::string key = PacketKey(userKey_, sendId_);

    std::string out;
    out.reserve(total);
    AppendLe16(out, static_cast<uint32_t>(total));
    out += Mac(key, out).substr(0, 2);
    const size_t paddingAt = out.size();
    out += RandomString(padding);
    WritePaddingLength(out, paddingAt, padding);
    AppendBytes(out, p, n);
    out += Mac(key, out).substr(0, 4);
    ++sendId_;
    return out;
}

int CProtocol_auth_aes128_md5::ClientPreEncrypt(unsigned char** data, int length, int* outLength) {
    EnsureUserKey();
    const size_t full = static_cast<size_t>(std::max(length, 0));
    return PackUpload(
        data, length, outLength, kAuthUnit, kUnit, [this](const unsigned char* p, size_t n) { return PackAuth(p, n); },
        [this, full](const unsigned char* p, size_t n) { return PackData(p, n, full); });
}

int CProtocol_auth_aes128_md5::ClientPostDecrypt(unsigned char** data, int length, int* outLength) {
    *outLength = 0;
    EnsureUserKey();
    recvBuffer_.append(View(*data, length));
    std::string out;
    while (recvBuffer_.size() > 4) {
        const std::string key = PacketKey(userKey_, recvId_);
        if (Mac(key, recvBuffer_.substr(0, 2)).compare(0, 2, recvBuffer_, 2, 2) != 0)
            return FailReceive(outLength);
        const auto* b = Bytes(recvBuffer_);
        const size_t total = Le16(b);
        if (total >= 8192 || total < 8) return FailReceive(outLength);
        if (total > recvBuffer_.size()) break;
        if (Mac(key, recvBuffer_.substr(0, total - 4)).compare(0, 4, recvBuffer_, total - 4, 4) != 0)
            return FailReceive(outLength);
        ++recvId_;
        const size_t padding = b[4] < 255 ? b[4] : Le16(b + 5);
        if (padding + 4 > total - 4) return FailReceive(outLength);
        out.append(reinterpret_cast<const char*>(b) + 4 + padding, total - 8 - padding);
        recvBuffer_.erase(0, total);
    }
    return HandOver(data, out, outLength);
}

int CProtocol_auth_aes128_md5::ClientUdpPreEncrypt(unsigned char** data, int length, int* outLength) {
    *outLength = 0;
    EnsureUserKey();
    std::string out(View(*data, length));
    AppendBytes(out, userId_, 4);
    out += Mac(userKey_, out).substr(0, 4);
    return HandOver(data, out, outLength);
}

int CProtocol_auth_aes128_md5::ClientUdpPostDecrypt(unsigned char** data, int length, int* outLength) {
    *outLength = 0;
    if (length <= 4) return 0;
    const std::string datagram(View(*data, length));
    const size_t body = datagram.size() - 4;
    if (Mac(ServerKey(), datagram.substr(0, body)).compare(0, 4, datagram, body, 4) != 0) return 0;
    return HandOver(data, datagram.substr(0, body), outLength);
}
