#include "ciphers/plugins/obfs.h"

#include <algorithm>
#include <cstring>

#include "ciphers/aead_cryptors.h"
#include "ciphers/cryptor.h"
#include "ciphers/plugins/auth_data.h"

namespace {

uint32_t CopyClamped(unsigned char* to, const unsigned char* from, uint32_t length) {
    const uint32_t n = std::min(length, SSRServerInfo::kMaxIvKeyLength);
    if (n) std::memcpy(to, from, n);
    return n;
}

}  // namespace

CObfs::CObfs(std::string name, std::string param) : name_(std::move(name)), param_(std::move(param)) {}

CObfs::~CObfs() = default;

CAuthData* CObfs::GetSharedData() const {
    return CAuthData::Current();
}

void CObfs::SetIvKey(const unsigned char* iv, int ivLength, const unsigned char* key, int keyLength) {
    ownOverhead_ = 0;
    if (iv && ivLength > 0)
        serverInfo_.ivLength = CopyClamped(serverInfo_.iv, iv, static_cast<uint32_t>(ivLength));
    if (key && keyLength > 0)
        serverInfo_.keyLength = CopyClamped(serverInfo_.key, key, static_cast<uint32_t>(keyLength));
}

int CObfs::ClientPreEncrypt(unsigned char**, int length, int* outLength) {
    *outLength = length;
    return 1;
}

int CObfs::ClientEncode(unsigned char**, int length, int, int* outLength) {
    *outLength = length;
    return 1;
}

int CObfs::ClientDecode(unsigned char**, int length, int, int* outLength, int* sendBack) {
    *outLength = length;
    *sendBack = 0;
    return 1;
}

int CObfs::ClientPostDecrypt(unsigned char**, int length, int* outLength) {
    *outLength = length;
    return 1;
}

int CObfs::ClientUdpPreEncrypt(unsigned char**, int length, int* outLength) {
    *outLength = length;
    return 1;
}

int CObfs::ClientUdpPostDecrypt(unsigned char**, int length, int* outLength) {
    *outLength = length;
    return 1;
}

void CObfs::SetServerInfo(const SSRServerInfo& info) {
    serverInfo_.host = info.host;
    serverInfo_.port = info.port;
    serverInfo_.param = info.param;
    serverInfo_.sharedData = info.sharedData;
    serverInfo_.ivLength = CopyClamped(serverInfo_.iv, info.iv, info.ivLength);
    serverInfo_.keyLength = CopyClamped(serverInfo_.key, info.key, info.keyLength);
    if (info.receiveIvLength > 0)
        serverInfo_.receiveIvLength =
            CopyClamped(serverInfo_.receiveIv, info.receiveIv, info.receiveIvLength);
    serverInfo_.tcpMss = info.tcpMss;
    serverInfo_.headLength = info.headLength;
    serverInfo_.overhead = info.overhead;
    serverInfo_.bufferSize = info.bufferSize;
}

void GetCryptorSendIv(const CCryptor& cryptor, const unsigned char** iv, int* length) {
    if (const auto* aead = dynamic_cast<const AEADCryptor*>(&cryptor)) {
        *iv = aead->GetSendSalt();
        *length = aead->GetSaltLength();
    } else {
        *iv = cryptor.GetIv();
        *length = cryptor.GetIvLength();
    }
}

SSRServerInfo MakeServerInfo(const CCryptor& cryptor, std::string host, uint16_t port, std::string obfsParam,
                             CAuthData* sharedData) {
    SSRServerInfo info;
    info.host = std::move(host);
    info.port = port;
    info.param = std::move(obfsParam);
    info.sharedData = sharedData;
    const unsigned char* iv = nullptr;
    int ivLength = 0;
    GetCryptorSendIv(cryptor, &iv, &ivLength);
    info.ivLength = CopyClamped(info.iv, iv, static_cast<uint32_t>(std::max(ivLength, 0)));
    info.keyLength =
        CopyClamped(info.key, cryptor.GetKey(), static_cast<uint32_t>(std::max(cryptor.GetKeyLength(), 0)));
    info.tcpMss = SSRServerInfo::kDefaultTcpMss;
    info.headLength = SSRServerInfo::kDefaultHeadLength;
    info.overhead = 0;
    info.bufferSize = SSRServerInfo::kDefaultBufferSize;
    return info;
}
