#include "ciphers/plugins/protocol_auth_chain.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/arc4.h>

#include <algorithm>
#include <cstring>

#include "ciphers/crypto_helpers.h"
#include "ciphers/cryptor.h"
#include "ciphers/plugins/plugin_buffers.h"
#include "foundation/base64.h"

using namespace plugin;

struct Rc4Stream {
    CryptoPP::Weak::ARC4::Encryption cipher;

    // Keyed with the first 16 bytes of the Shadowsocks key block of
    // `password`; these passwords are new for every connection and datagram,
    // so they stay out of the key cache.
    explicit Rc4Stream(const std::string& password) {
        unsigned char key[32];
        PasswordToKeyUncached(password, key);
        cipher.SetKey(key, 16);
    }

    std::string Process(const char* p, size_t n) {
        std::string out(n, '\0');
        if (n) cipher.ProcessData(reinterpret_cast<unsigned char*>(out.data()), reinterpret_cast<const unsigned char*>(p), n);
        return out;
    }
};

namespace {

std::string Base64Of(const unsigned char* p, size_t n) {
    return Base64Encode(p, n);
}

void HmacMd5Of(const std::string& key, const std::string& data, unsigned char out[16]) {
    HmacMd5(Bytes(key), key.size(), Bytes(data), data.size(), out);
}

}  // namespace

CProtocolAuthChainA::CProtocolAuthChainA(std::string name, std::string param)
    : CProtocolAuth(std::move(name), std::move(param)) {
    CProtocolAuthChainA::SetIvKey(nullptr, 0, nullptr, 0);
}

CProtocolAuthChainA::~CProtocolAuthChainA() {
    CProtocolAuthChainA::SetIvKey(nullptr, 0, nullptr, 0);
}

void CProtocolAuthChainA::SetIvKey(const unsigned char* iv, int ivLength, const unsigned char* key, int keyLength) {
    CProtocolAuth::SetIvKey(iv, ivLength, key, keyLength);
    ownOverhead_ = 4;
    sendId_ = 1;
    recvId_ = 1;
    std::memset(lastClientHash_, 0, sizeof(lastClientHash_));
    std::memset(lastServerHash_, 0, sizeof(lastServerHash_));
    userKey_.clear();
    std::memset(userId_, 0, sizeof(userId_));
    clientGenerator_ = {};
    serverGenerator_ = {};
    encryptor_.reset();
    decryptor_.reset();
}

size_t CProtocolAuthChainA::GenericPadding(size_t n, uint64_t r) {
    if (n > 1300) return static_cast<size_t>(r % 31);
    if (n > 900) return static_cast<size_t>(r % 127);
    if (n > 400) return static_cast<size_t>(r % 521);
    return static_cast<size_t>(r % 1021);
}

size_t CProtocolAuthChainA::NextPaddingLength(size_t n, XorShift128PlusState& generator,
                                              const unsigned char lastHash[16]) {
    if (n > 1440) return 0;
    generator.LoadWithLength(lastHash, static_cast<uint32_t>(n));
    return GenericPadding(n, generator.Next());
}

size_t CProtocolAuthChainA::RandomPosition(XorShift128PlusState& generator, size_t padding) {
    return static_cast<size_t>(generator.Next() % 8589934609ULL % padding);
}

void CProtocolAuthChainA::EnsureUserKey() {
    if (!userKey_.empty()) return;
    uint32_t id = 0;
    std::string password;
    if (ParseUserParam(&id, &password, SSRServerInfo::kMaxIvKeyLength) && !password.empty()) {
        for (int i = 0; i < 4; ++i) userId_[i] = static_cast<unsigned char>(id >> (8 * i));
        userKey_ = password;
    } else {
        RandomBytes(userId_, 4);
        userKey_ = ServerKey();
    }
}

std::string CProtocolAuthChainA::PackClient(const unsigned char* p, size_t n) {
    const size_t padding = NextPaddingLength(n, clientGenerator_, lastClientHash_);
    std::string out;
    out.reserve(n + padding + 4);
    AppendLe16(out, static_cast<uint32_t>(n) ^ Le16(lastClientHash_ + 14));
    const std::string random = RandomString(padding);
    if (n > 0 && padding > 0) {
        const size_t at = RandomPosition(clientGenerator_, padding);
        out.append(random, 0, at);
        out += encryptor_->Process(reinterpret_cast<const char*>(p), n);
        out.append(random, at, std::string::npos);
    } else if (n > 0) {
        out += encryptor_->Process(reinterpret_cast<const char*>(p), n);
    } else {
        out += random;
    }
    std::string key = userKey_;
    AppendLe32(key, sendId_);
    HmacMd5Of(key, out, lastClientHash_);
    AppendBytes(out, lastClientHash_, 2);
    ++sendId_;
    return out;
}

std::string CProtocolAuthChainA::PackAuth(const unsigned char* p, size_t n) {
    std::string out = RandomString(4);
    const std::string ivKey = IvKey();
    HmacMd5Of(ivKey, out, lastClientHash_);
    AppendBytes(out, lastClientHash_, 8);
    EnsureUserKey();
    for (int i = 0; i < 4; ++i) out += static_cast<char>(userId_[i] ^ lastClientHash_[8 + i]);

    std::string block;
    AppendLe32(block, PluginTimeNow());
    unsigned char clientId[4];
    const uint32_t connectionId = NextConnectionId(clientId);
    AppendBytes(block, clientId, 4);
    AppendLe32(block, connectionId);
    AppendLe16(block, serverInfo_.overhead);
    AppendLe16(block, 0);
    const std::string userKeyText = Base64Encode(userKey_.data(), userKey_.size());
    const std::string aesKeySource = userKeyText + name_;
    unsigned char aesKey[16];
    Md5Digest(Bytes(aesKeySource), aesKeySource.size(), aesKey);
    unsigned char encrypted[16];
    Aes128CbcEncryptBlock(encrypted, aesKey, Bytes(block));
    AppendBytes(out, encrypted, 16);

    HmacMd5Of(userKey_, out.substr(12, 20), lastServerHash_);
    AppendBytes(out, lastServerHash_, 4);

    const std::string rc4Password = userKeyText + Base64Of(lastClientHash_, 16);
    encryptor_ = std::make_unique<Rc4Stream>(rc4Password);
    decryptor_ = std::make_unique<Rc4Stream>(rc4Password);
    out += PackClient(p, n);
    return out;
}

int CProtocolAuthChainA::ClientPreEncrypt(unsigned char** data, int length, int* outLength) {
    *outLength = 0;
    if (length <= 0) return 1;
    if (serverInfo_.tcpMss <= serverInfo_.overhead) return 0;
    const size_t unit = std::min<size_t>(serverInfo_.tcpMss - serverInfo_.overhead, kMaxUnit);
    return PackUpload(
        data, length, outLength, kAuthUnit, unit, [this](const unsigned char* p, size_t n) { return PackAuth(p, n); },
        [this](const unsigned char* p, size_t n) { return PackClient(p, n); });
}

int CProtocolAuthChainA::ClientPostDecrypt(unsigned char** data, int length, int* outLength) {
    *outLength = 0;
    // The server speaks only after our first packet keyed the streams.
    if (!decryptor_) return FailReceive(outLength);
    recvBuffer_.append(View(*data, length));
    std::string out;
    while (recvBuffer_.size() > 4) {
        const auto* b = Bytes(recvBuffer_);
        const size_t n = Le16(b) ^ Le16(lastServerHash_ + 14);
        const size_t padding = NextPaddingLength(n, serverGenerator_, lastServerHash_);
        if (n + padding >= 4096) return FailReceive(outLength);
        if (n + padding + 4 > recvBuffer_.size()) break;
        std::string key = userKey_;
        AppendLe32(key, recvId_);
        unsigned char hash[16];
        HmacMd5Of(key, recvBuffer_.substr(0, n + padding + 2), hash);
        if (std::memcmp(hash, b + n + padding + 2, 2) != 0) return FailReceive(outLength);
        size_t at = 2;
        if (n > 0 && padding > 0) at += RandomPosition(serverGenerator_, padding);
        std::string plain = decryptor_->Process(recvBuffer_.data() + at, n);
        if (recvId_ == 1) {
            if (plain.size() < 2) return FailReceive(outLength);
            const uint32_t mss = Le16(Bytes(plain));
            // A cut size of zero or less would never finish an upload.
            if (mss <= serverInfo_.overhead) return FailReceive(outLength);
            serverInfo_.tcpMss = static_cast<uint16_t>(mss);
            plain.erase(0, 2);
        }
        out += plain;
        ++recvId_;
        std::memcpy(lastServerHash_, hash, 16);
        recvBuffer_.erase(0, n + padding + 4);
    }
    return HandOver(data, out, outLength);
}

int CProtocolAuthChainA::ClientUdpPreEncrypt(unsigned char** data, int length, int* outLength) {
    *outLength = 0;
    EnsureUserKey();
    const std::string salt = RandomString(3);
    unsigned char m[16];
    HmacMd5Of(ServerKey(), salt, m);
    XorShift128PlusState generator;
    generator.Load(m);
    const size_t padding = static_cast<size_t>(generator.Next() % 127);
    clientGenerator_ = generator;

    const std::string userKeyText = Base64Encode(userKey_.data(), userKey_.size());
    Rc4Stream rc4(userKeyText + Base64Of(m, 16));
    const std::string_view datagram = View(*data, length);
    std::string out = rc4.Process(datagram.data(), datagram.size());
    out += RandomString(padding);
    out += salt;
    for (int i = 0; i < 4; ++i) out += static_cast<char>(userId_[i] ^ m[i]);
    unsigned char check[16];
    HmacMd5Of(userKey_, out, check);
    out += static_cast<char>(check[0]);
    return HandOver(data, out, outLength);
}

int CProtocolAuthChainA::ClientUdpPostDecrypt(unsigned char** data, int length, int* outLength) {
    *outLength = 0;
    if (length <= 8) return 0;
    EnsureUserKey();
    const std::string datagram(View(*data, length));
    const size_t n = datagram.size();
    unsigned char check[16];
    HmacMd5Of(userKey_, datagram.substr(0, n - 1), check);
    if (static_cast<unsigned char>(datagram[n - 1]) != check[0]) return 0;
    unsigned char m[16];
    HmacMd5Of(ServerKey(), datagram.substr(n - 8, 7), m);
    serverGenerator_.Load(m);
    const size_t padding = static_cast<size_t>(serverGenerator_.Next() % 127);
    if (padding + 8 > n) return 0;
    Rc4Stream rc4(Base64Encode(userKey_.data(), userKey_.size()) + Base64Of(m, 16));
    return HandOver(data, rc4.Process(datagram.data(), n - padding - 8), outLength);
}

CProtocolAuthChainB::CProtocolAuthChainB(std::string name, std::string param)
    : CProtocolAuthChainA(std::move(name), std::move(param)) {}

void CProtocolAuthChainB::SetServerInfo(const SSRServerInfo& info) {
    CProtocolAuthChainA::SetServerInfo(info);
    unsigned char seed[16] = {};
    std::memcpy(seed, serverInfo_.key, std::min<uint32_t>(serverInfo_.keyLength, 16));
    XorShift128PlusState generator;
    generator.Load(seed);
    auto build = [&generator](std::vector<uint32_t>& list, uint32_t mask, uint32_t base) {
        const uint32_t count = (static_cast<uint32_t>(generator.Next()) & mask) + base;
        list.clear();
        for (uint32_t i = 0; i < count; ++i) list.push_back(static_cast<uint32_t>(generator.Next() % 2340 % 2040 % 1440));
        std::sort(list.begin(), list.end());
    };
    build(sizeList1_, 7, 4);
    build(sizeList2_, 15, 8);
}

size_t CProtocolAuthChainB::NextPaddingLength(size_t n, XorShift128PlusState& generator,
                                              const unsigned char lastHash[16]) {
    if (n >= 1440) return 0;
    generator.LoadWithLength(lastHash, static_cast<uint32_t>(n));
    const size_t target = n + serverInfo_.overhead;
    if (sizeList1_.empty() || sizeList2_.empty()) return GenericPadding(n, generator.Next());

    const size_t count1 = sizeList1_.size();
    const size_t p1 = static_cast<size_t>(
        std::lower_bound(sizeList1_.begin(), sizeList1_.end(), target) - sizeList1_.begin());
    size_t f = static_cast<size_t>(generator.Next() % count1) + p1;
    if (f < count1) return sizeList1_[f] - target;

    const size_t count2 = sizeList2_.size();
    const size_t p2 = static_cast<size_t>(
        std::lower_bound(sizeList2_.begin(), sizeList2_.end(), target) - sizeList2_.begin());
    f = static_cast<size_t>(generator.Next() % count2) + p2;
    if (f < count2) return sizeList2_[f] - target;
    if (f < p2 + count2 - 1) return 0;
    return GenericPadding(n, generator.Next());
}
