#include "ciphers/plugins/protocol_auth.h"

#include <cctype>

#include "ciphers/crypto_env.h"
#include "ciphers/plugins/auth_data.h"
#include "ciphers/plugins/plugin_buffers.h"

CProtocolAuth::CProtocolAuth(std::string name, std::string param) : CObfsBase(std::move(name), std::move(param)) {
    ownOverhead_ = 9;
}

CProtocolAuth::~CProtocolAuth() = default;

void CProtocolAuth::SetIvKey(const unsigned char* iv, int ivLength, const unsigned char* key, int keyLength) {
    CObfs::SetIvKey(iv, ivLength, key, keyLength);
    recvBuffer_.clear();
    recvBuffer_.shrink_to_fit();
    headerSent_ = 0;
}

CAuthData* CProtocolAuth::SharedData() {
    if (!serverInfo_.sharedData) {
        CAuthData* current = CAuthData::Current();
        serverInfo_.sharedData = current ? current : CAuthData::GetInstance();
    }
    return serverInfo_.sharedData;
}

uint32_t CProtocolAuth::NextConnectionId(unsigned char clientId[4]) {
    return SharedData()->NextConnection(clientId);
}

std::string CProtocolAuth::IvKey() const {
    std::string s(reinterpret_cast<const char*>(serverInfo_.iv), serverInfo_.ivLength);
    s.append(ServerKey());
    return s;
}

std::string CProtocolAuth::ServerKey() const {
    return std::string(reinterpret_cast<const char*>(serverInfo_.key), serverInfo_.keyLength);
}

bool CProtocolAuth::ParseUserParam(uint32_t* userId, std::string* password, size_t maxPassword) const {
    const size_t colon = param_.find(':');
    if (param_.empty() || colon == std::string::npos) return false;
    const std::string idText = param_.substr(0, std::min<size_t>(colon, 15));
    size_t i = 0;
    while (i < idText.size() && std::isspace(static_cast<unsigned char>(idText[i]))) ++i;
    bool negative = false;
    if (i < idText.size() && (idText[i] == '+' || idText[i] == '-')) negative = idText[i++] == '-';
    uint32_t value = 0;
    for (; i < idText.size() && idText[i] >= '0' && idText[i] <= '9'; ++i)
        value = value * 10u + static_cast<uint32_t>(idText[i] - '0');
    *userId = negative ? 0u - value : value;
    *password = param_.substr(colon + 1, maxPassword);
    return true;
}

int CProtocolAuth::PackUpload(unsigned char** data, int length, int* outLength, size_t authLength, size_t unit,
                              const PacketMaker& packAuth, const PacketMaker& packData) {
    *outLength = 0;
    if (length <= 0) return 1;
    const unsigned char* p = *data;
    size_t left = static_cast<size_t>(length);
    std::string out;
    out.reserve(2 * left + 64);
    if (!headerSent_) {
        const size_t head = std::min(authLength, left);
        out += packAuth(p, head);
        p += head;
        left -= head;
        headerSent_ = 1;
    }
    while (left > 0) {
        const size_t n = std::min(left, unit);
        out += packData(p, n);
        p += n;
        left -= n;
    }
    return plugin::HandOver(data, out, outLength);
}

int CProtocolAuth::FailReceive(int* outLength) {
    recvBuffer_.clear();
    recvBuffer_.shrink_to_fit();
    *outLength = 0;
    return 0;
}

uint32_t PluginTimeNow() {
    return static_cast<uint32_t>(CipherClockNow());
}
