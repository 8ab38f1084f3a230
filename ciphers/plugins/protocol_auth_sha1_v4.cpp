#include "ciphers/plugins/protocol_auth_sha1_v4.h"

#include "ciphers/crypto_helpers.h"
#include "ciphers/plugins/checksums.h"
#include "ciphers/plugins/plugin_buffers.h"
#include "foundation/system_helpers.h"

using namespace plugin;

namespace {

// The padding starts with its own length: one byte below 128, else 0xFF and
// two big-endian bytes.
void WritePaddingLength(std::string& out, size_t at, size_t padding) {
    if (padding < 128) {
        out[at] = static_cast<char>(padding);
    } else {
        out[at] = static_cast<char>(0xFF);
        out[at + 1] = static_cast<char>((padding >> 8) & 0xFF);
        out[at + 2] = static_cast<char>(padding & 0xFF);
    }
}

}  // namespace

CProtocol_auth_sha1_v4::CProtocol_auth_sha1_v4(std::string param) : CProtocolAuth("auth_sha1_v4", std::move(param)) {}

CProtocol_auth_sha1_v4::~CProtocol_auth_sha1_v4() {
    CProtocolAuth::SetIvKey(nullptr, 0, nullptr, 0);
}

std::string CProtocol_auth_sha1_v4::PackData(const unsigned char* p, size_t n, size_t padding) {
    const size_t total = padding + n + 8;
    std::string out;
    out.reserve(total);
    AppendBe16(out, static_cast<uint32_t>(total));
    AppendLe16(out, Crc32(Bytes(out), 2) & 0xFFFF);
    const size_t paddingAt = out.size();
    out.append(padding, '\0');
    WritePaddingLength(out, paddingAt, padding);
    AppendBytes(out, p, n);
    AppendLe32(out, Adler32(Bytes(out), out.size()));
    return out;
}

std::string CProtocol_auth_sha1_v4::PackAuth(const unsigned char* p, size_t n) {
    const size_t padding = n > 400 ? static_cast<size_t>(RandomInt(128) % 128 + 1)
                                   : static_cast<size_t>(RandomInt(1024) % 1024 + 1);
    const size_t total = padding + n + 28;
    std::string out;
    out.reserve(total);
    AppendBe16(out, static_cast<uint32_t>(total));
    std::string crcInput = out + "auth_sha1_v4" + ServerKey();
    unsigned char crc[4];
    Crc32Store(crc, Bytes(crcInput), crcInput.size());
    AppendBytes(out, crc, 4);
    const size_t paddingAt = out.size();
    out += RandomString(padding);
    WritePaddingLength(out, paddingAt, padding);
    AppendLe32(out, PluginTimeNow());
    unsigned char clientId[4];
    const uint32_t connectionId = NextConnectionId(clientId);
    AppendBytes(out, clientId, 4);
    AppendLe32(out, connectionId);
    AppendBytes(out, p, n);
    unsigned char mac[20];
    HmacSha1SplitKey(serverInfo_.iv, serverInfo_.ivLength, serverInfo_.key, serverInfo_.keyLength, Bytes(out),
                     out.size(), mac);
    AppendBytes(out, mac, 10);
    return out;
}

int CProtocol_auth_sha1_v4::ClientPreEncrypt(unsigned char** data, int length, int* outLength) {
    const size_t authLength = length > 0 ? static_cast<size_t>(GetHeadSize(*data, static_cast<size_t>(length))) : 0;
    return PackUpload(
        data, length, outLength, authLength, kUnit, [this](const unsigned char* p, size_t n) { return PackAuth(p, n); },
        [](const unsigned char* p, size_t n) {
            const size_t padding = n > 1300  ? 1
                                   : n > 400 ? static_cast<size_t>(RandomInt(256) % 256 + 1)
                                             : static_cast<size_t>(RandomInt(512) % 512 + 1);
            return PackData(p, n, padding);
        });
}

int CProtocol_auth_sha1_v4::ClientPostDecrypt(unsigned char** data, int length, int* outLength) {
    *outLength = 0;
    recvBuffer_.append(View(*data, length));
    std::string out;
    while (recvBuffer_.size() > 4) {
        const auto* b = Bytes(recvBuffer_);
        if ((Crc32(b, 2) & 0xFFFF) != Le16(b + 2)) return FailReceive(outLength);
        const size_t total = Be16(b);
        if (total >= 8192 || total < 7) return FailReceive(outLength);
        if (total > recvBuffer_.size()) break;
        if (Adler32(b, total - 4) != Le32(b + total - 4)) return FailReceive(outLength);
        const size_t padding = b[4] < 255 ? b[4] : Be16(b + 5);
        if (padding + 4 > total - 4) return FailReceive(outLength);
        out.append(reinterpret_cast<const char*>(b) + 4 + padding, total - 8 - padding);
        recvBuffer_.erase(0, total);
    }
    return HandOver(data, out, outLength);
}
