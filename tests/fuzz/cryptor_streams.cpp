// Cryptor input from the network: a stream our own sender made, cut into
// pieces the input chooses and possibly with one byte changed, and the raw
// input itself as a TCP stream and as a UDP datagram. An intact stream must
// come back unchanged; nothing may crash or read out of bounds.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ciphers/aead_cryptors.h"
#include "ciphers/cryptor_factory.h"
#include "ciphers/name_tables.h"
#include "foundation/private_heap.h"

namespace {

const bool kReady = (InitCipherLibrary(), true);

std::string Take(unsigned char* out, size_t len) {
    std::string s(reinterpret_cast<const char*>(out), len);
    PrivateHeapFree(out);
    return s;
}

// Returns false when the cryptor reported a failure.
bool Feed(CCryptor& c, const std::string& piece, std::string* plain, bool udp) {
    unsigned char* out = nullptr;
    size_t len = 0;
    bool more = false;
    const int ok =
        c.Decrypt(reinterpret_cast<const unsigned char*>(piece.data()), piece.size(), &out, &len, &more, udp);
    if (!ok) {
        PrivateHeapFree(out);
        return false;
    }
    plain->append(Take(out, len));
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    std::vector<std::string> names;
    GetCipherNames(names);
    const std::string method = names[data[0] % names.size()];
    const bool corrupt = data[1] & 1;
    const size_t corruptAt = (size_t{data[2]} << 8) | data[3];
    const std::string body(reinterpret_cast<const char*>(data + 4), size - 4);

    auto sender = CreateCryptor(method, "fuzz");
    auto receiver = CreateCryptor(method, "fuzz");
    if (!sender || !receiver) std::abort();
    const bool aead = dynamic_cast<AEADCryptor*>(sender.get()) != nullptr;

    // The body is both the plaintext and the source of the piece sizes.
    std::string wire;
    uint32_t rng = 2166136261u;
    auto next = [&](size_t limit) {
        rng = rng * 1664525u + 1013904223u;
        return static_cast<size_t>(rng >> 8) % limit;
    };
    for (unsigned char b : body) rng = (rng ^ b) * 16777619u;
    for (size_t at = 0; at < body.size();) {
        const size_t n = std::min(body.size() - at, next(3000) + 1);
        unsigned char* out = nullptr;
        size_t len = 0;
        if (!sender->Encrypt(reinterpret_cast<const unsigned char*>(body.data() + at), n, &out, &len, false))
            std::abort();
        wire += Take(out, len);
        at += n;
    }
    const bool changed = corrupt && corruptAt < wire.size();
    if (changed) wire[corruptAt] = static_cast<char>(wire[corruptAt] ^ 0x5A);

    std::string plain;
    bool ok = true;
    for (size_t at = 0; ok && at < wire.size();) {
        const size_t n = std::min(wire.size() - at, next(600) + 1);
        ok = Feed(*receiver, wire.substr(at, n), &plain, false);
        at += n;
    }
    if (!changed && (!ok || plain != body)) std::abort();
    // An AEAD stream hands out only what authenticated: a prefix of the body.
    if (changed && aead && body.compare(0, plain.size(), plain) != 0) std::abort();

    // Raw input, as a stream and as a datagram.
    auto stranger = CreateCryptor(method, "fuzz");
    std::string ignored;
    Feed(*stranger, body, &ignored, false);
    stranger->Reset();
    Feed(*stranger, body, &ignored, true);
    return 0;
}
