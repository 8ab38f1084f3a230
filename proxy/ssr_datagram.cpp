#include "proxy/ssr_datagram.h"

#include <cstring>

#include "ciphers/cryptor.h"
#include "ciphers/plugins/obfs.h"
#include "foundation/private_heap.h"

namespace {

// Runs one UDP protocol step on a private-heap copy of `data`.
bool ProtocolStep(CObfs* protocol, bool pre, std::vector<uint8_t>* data) {
    if (protocol == nullptr) return true;
    auto* block = static_cast<unsigned char*>(PrivateHeapAlloc(data->size() ? data->size() : 1));
    if (block == nullptr) return false;
    std::memcpy(block, data->data(), data->size());
    int outLength = 0;
    int length = static_cast<int>(data->size());
    int ok = pre ? protocol->ClientUdpPreEncrypt(&block, length, &outLength)
                 : protocol->ClientUdpPostDecrypt(&block, length, &outLength);
    if (ok && outLength >= 0) data->assign(block, block + outLength);
    PrivateHeapFree(block);
    return ok && outLength >= 0;
}

}  // namespace

bool SsrEncodeDatagram(CCryptor* cryptor, CObfs* protocol, const uint8_t* plain, int length,
                       std::vector<uint8_t>* wire) {
    if (cryptor == nullptr || plain == nullptr || length <= 0) return false;
    std::vector<uint8_t> data(plain, plain + length);
    if (!ProtocolStep(protocol, true, &data) || data.empty()) return false;
    cryptor->Reset();
    unsigned char* out = nullptr;
    size_t outLength = 0;
    if (!cryptor->Encrypt(data.data(), data.size(), &out, &outLength, true)) return false;
    wire->assign(out, out + outLength);
    PrivateHeapFree(out);
    return !wire->empty();
}

bool SsrDecodeDatagram(CCryptor* cryptor, CObfs* protocol, const uint8_t* wire, int length,
                       std::vector<uint8_t>* plain) {
    if (cryptor == nullptr || wire == nullptr || length <= 0) return false;
    cryptor->Reset();
    unsigned char* out = nullptr;
    size_t outLength = 0;
    bool needMore = false;
    if (!cryptor->Decrypt(wire, static_cast<size_t>(length), &out, &outLength, &needMore, true)) return false;
    plain->assign(out, out + outLength);
    PrivateHeapFree(out);
    return ProtocolStep(protocol, false, plain) && !plain->empty();
}

int RelayHeaderLength(const uint8_t* data, int length, int atypOffset) {
    if (length <= atypOffset) return 0;
    int header = 0;
    switch (data[atypOffset]) {
        case 1:
            header = atypOffset + 1 + 4 + 2;
            break;
        case 4:
            header = atypOffset + 1 + 16 + 2;
            break;
        case 3:
            if (length <= atypOffset + 1) return 0;
            header = atypOffset + 1 + 1 + data[atypOffset + 1] + 2;
            break;
        default:
            return 0;
    }
    return header <= length ? header : 0;
}
