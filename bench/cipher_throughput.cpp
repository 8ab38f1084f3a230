// Encrypt and Decrypt throughput of every cryptor on 16 KiB inputs, each
// beside the bare library primitive on the same input, so that the cost of
// the wire framing, the output buffer and the bookkeeping shows as a ratio.
// Names: <method>/ours/encrypt, <method>/raw/encrypt, and so on.
//
// For the AEAD methods "raw" is one AEAD call over the 16 KiB, while the wire
// form needs four (a sealed length and a payload for 16383 bytes, and again
// for the last byte); "raw-framed" makes exactly those four calls into a
// ready buffer, which isolates what the cryptor itself adds.
#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <benchmark/benchmark.h>
#include <cryptopp/aes.h>
#include <cryptopp/arc4.h>
#include <cryptopp/camellia.h>
#include <cryptopp/gcm.h>
#include <cryptopp/modes.h>
#include <cryptopp/salsa.h>
#include <sodium.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ciphers/cryptor_factory.h"
#include "foundation/private_heap.h"

namespace {

constexpr size_t kInput = 16 * 1024;
const unsigned char kKey[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
const unsigned char kIv[24] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

std::vector<unsigned char> Input() {
    std::vector<unsigned char> v(kInput);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<unsigned char>(i * 31 + 7);
    return v;
}

std::string Encrypted(CCryptor& c, const std::vector<unsigned char>& in) {
    unsigned char* out = nullptr;
    size_t len = 0;
    c.Encrypt(in.data(), in.size(), &out, &len, false);
    std::string s(reinterpret_cast<char*>(out), len);
    PrivateHeapFree(out);
    return s;
}

void Finish(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kInput);
}

void OursEncrypt(benchmark::State& state, std::string method) {
    auto c = CreateCryptor(method, "benchmark");
    const auto in = Input();
    Encrypted(*c, {});  // the IV or salt goes out once, before the steady state
    for (auto _ : state) {
        unsigned char* out = nullptr;
        size_t len = 0;
        if (!c->Encrypt(in.data(), in.size(), &out, &len, false)) state.SkipWithError("Encrypt failed");
        benchmark::DoNotOptimize(out);
        PrivateHeapFree(out);
    }
    Finish(state);
}

void OursDecrypt(benchmark::State& state, std::string method, bool aead) {
    auto sender = CreateCryptor(method, "benchmark");
    auto receiver = CreateCryptor(method, "benchmark");
    const auto in = Input();
    // An AEAD stream cannot be replayed, so it cycles through a ring of
    // consecutive ciphertexts and starts a new session at the end of it (the
    // session start is part of the measured time). A stream cipher accepts
    // any bytes, so it decrypts the same block again and again.
    std::vector<std::string> ring;
    std::string head = Encrypted(*sender, {});
    for (int i = 0; i < (aead ? 64 : 1); ++i) ring.push_back(Encrypted(*sender, in));
    ring[0] = head + ring[0];
    auto feed = [&](const std::string& wire) {
        unsigned char* out = nullptr;
        size_t len = 0;
        bool more = false;
        const int ok = receiver->Decrypt(reinterpret_cast<const unsigned char*>(wire.data()), wire.size(),
                                         &out, &len, &more, false);
        benchmark::DoNotOptimize(out);
        PrivateHeapFree(out);
        return ok == 1 && len >= kInput - 64;
    };
    if (!aead) {
        feed(ring[0]);
        ring[0].erase(0, head.size());
    }
    size_t next = 0;
    for (auto _ : state) {
        if (!feed(ring[next])) state.SkipWithError("Decrypt failed");
        if (++next == ring.size()) {
            next = 0;
            if (aead) receiver->Reset();
        }
    }
    Finish(state);
}

// The bare primitives, keyed once, writing into a buffer allocated once.
using Op = std::function<void(const unsigned char*, unsigned char*)>;

void Raw(benchmark::State& state, Op op, size_t outSize) {
    const auto in = Input();
    std::vector<unsigned char> out(outSize);
    for (auto _ : state) {
        op(in.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    Finish(state);
}

template <class Cipher>
void RawCryptopp(benchmark::State& state, size_t keyLength, size_t ivLength) {
    Cipher c;
    c.SetKeyWithIV(kKey, keyLength, kIv, ivLength);
    Raw(
        state, [&](const unsigned char* in, unsigned char* out) { c.ProcessData(out, in, kInput); }, kInput);
}

void RawRc4(benchmark::State& state) {
    CryptoPP::Weak::ARC4 c(kKey, 16);
    Raw(
        state, [&](const unsigned char* in, unsigned char* out) { c.ProcessData(out, in, kInput); }, kInput);
}

void RawChaCha(benchmark::State& state, bool ietf) {
    uint64_t block = 0;
    Raw(
        state,
        [&](const unsigned char* in, unsigned char* out) {
            if (ietf)
                crypto_stream_chacha20_ietf_xor_ic(out, in, kInput, kIv, static_cast<uint32_t>(block), kKey);
            else
                crypto_stream_chacha20_xor_ic(out, in, kInput, kIv, block, kKey);
            block += kInput / 64;
        },
        kInput);
}

void RawGcm(benchmark::State& state, size_t keyLength, bool encrypt) {
    CryptoPP::GCM<CryptoPP::AES>::Encryption enc;
    CryptoPP::GCM<CryptoPP::AES>::Decryption dec;
    enc.SetKeyWithIV(kKey, keyLength, kIv, 12);
    dec.SetKeyWithIV(kKey, keyLength, kIv, 12);
    const auto in = Input();
    std::vector<unsigned char> sealed(kInput + 16);
    enc.EncryptAndAuthenticate(sealed.data(), sealed.data() + kInput, 16, kIv, 12, nullptr, 0, in.data(),
                               kInput);
    if (encrypt) {
        Raw(
            state,
            [&](const unsigned char* p, unsigned char* out) {
                enc.EncryptAndAuthenticate(out, out + kInput, 16, kIv, 12, nullptr, 0, p, kInput);
            },
            kInput + 16);
    } else {
        Raw(
            state,
            [&](const unsigned char*, unsigned char* out) {
                if (!dec.DecryptAndVerify(out, sealed.data() + kInput, 16, kIv, 12, nullptr, 0, sealed.data(),
                                          kInput))
                    state.SkipWithError("open failed");
            },
            kInput);
    }
}

template <class SealFn, class OpenFn>
void RawSodiumAead(benchmark::State& state, SealFn seal, OpenFn open, bool encrypt) {
    const auto in = Input();
    std::vector<unsigned char> sealed(kInput + 16);
    unsigned long long n = 0;
    seal(sealed.data(), &n, in.data(), kInput, nullptr, 0, nullptr, kIv, kKey);
    if (encrypt) {
        Raw(
            state,
            [&](const unsigned char* p, unsigned char* out) {
                unsigned long long m = 0;
                seal(out, &m, p, kInput, nullptr, 0, nullptr, kIv, kKey);
            },
            kInput + 16);
    } else {
        Raw(
            state,
            [&](const unsigned char*, unsigned char* out) {
                unsigned long long m = 0;
                if (open(out, &m, nullptr, sealed.data(), sealed.size(), nullptr, 0, kIv, kKey) != 0)
                    state.SkipWithError("open failed");
            },
            kInput);
    }
}

// Seals (opens) `len` bytes under a nonce; false on failure.
using SealFn =
    std::function<bool(unsigned char* out, const unsigned char* in, size_t len, const unsigned char* nonce)>;

// The four AEAD calls of 16 KiB in the wire form, nonces 0 to 3.
void RawFramed(benchmark::State& state, size_t nonceLength, SealFn seal, SealFn open, bool encrypt) {
    const auto in = Input();
    const size_t pieces[2] = {0x3FFF, kInput - 0x3FFF};
    std::vector<unsigned char> nonces(4 * nonceLength, 0);
    for (int i = 0; i < 4; ++i) nonces[i * nonceLength] = static_cast<unsigned char>(i);
    std::vector<unsigned char> wire(kInput + 4 * 16 + 4);
    auto sealAll = [&](const unsigned char* p, unsigned char* out) {
        for (int c = 0; c < 2; ++c) {
            const unsigned char length[2] = {static_cast<unsigned char>(pieces[c] >> 8),
                                             static_cast<unsigned char>(pieces[c] & 0xFF)};
            seal(out, length, 2, &nonces[(2 * c) * nonceLength]);
            out += 18;
            seal(out, p, pieces[c], &nonces[(2 * c + 1) * nonceLength]);
            out += pieces[c] + 16;
            p += pieces[c];
        }
    };
    sealAll(in.data(), wire.data());
    if (encrypt) {
        Raw(state, sealAll, wire.size());
        return;
    }
    Raw(
        state,
        [&](const unsigned char*, unsigned char* out) {
            const unsigned char* w = wire.data();
            unsigned char length[2];
            for (int c = 0; c < 2; ++c) {
                bool ok = open(length, w, 18, &nonces[(2 * c) * nonceLength]);
                w += 18;
                ok = ok && open(out, w, pieces[c] + 16, &nonces[(2 * c + 1) * nonceLength]);
                if (!ok) state.SkipWithError("open failed");
                w += pieces[c] + 16;
                out += pieces[c];
            }
        },
        kInput);
}

void RawFramedGcm(benchmark::State& state, size_t keyLength, bool encrypt) {
    CryptoPP::GCM<CryptoPP::AES>::Encryption enc;
    CryptoPP::GCM<CryptoPP::AES>::Decryption dec;
    enc.SetKeyWithIV(kKey, keyLength, kIv, 12);
    dec.SetKeyWithIV(kKey, keyLength, kIv, 12);
    RawFramed(
        state, 12,
        [&](unsigned char* out, const unsigned char* in, size_t len, const unsigned char* nonce) {
            enc.EncryptAndAuthenticate(out, out + len, 16, nonce, 12, nullptr, 0, in, len);
            return true;
        },
        [&](unsigned char* out, const unsigned char* in, size_t len, const unsigned char* nonce) {
            return dec.DecryptAndVerify(out, in + len - 16, 16, nonce, 12, nullptr, 0, in, len - 16);
        },
        encrypt);
}

template <class Seal, class Open>
void RawFramedSodium(benchmark::State& state, size_t nonceLength, Seal seal, Open open, bool encrypt) {
    RawFramed(
        state, nonceLength,
        [&](unsigned char* out, const unsigned char* in, size_t len, const unsigned char* nonce) {
            unsigned long long n = 0;
            return seal(out, &n, in, len, nullptr, 0, nullptr, nonce, kKey) == 0;
        },
        [&](unsigned char* out, const unsigned char* in, size_t len, const unsigned char* nonce) {
            unsigned long long n = 0;
            return open(out, &n, nullptr, in, len, nullptr, 0, nonce, kKey) == 0;
        },
        encrypt);
}

void RawCopy(benchmark::State& state) {
    Raw(
        state, [](const unsigned char* in, unsigned char* out) { std::memcpy(out, in, kInput); }, kInput);
}

using RawFn = std::function<void(benchmark::State&, bool)>;

void Register(const std::string& method, bool aead, RawFn raw, RawFn framed = nullptr) {
    benchmark::RegisterBenchmark((method + "/ours/encrypt").c_str(),
                                 [method](benchmark::State& s) { OursEncrypt(s, method); });
    benchmark::RegisterBenchmark((method + "/raw/encrypt").c_str(),
                                 [raw](benchmark::State& s) { raw(s, true); });
    benchmark::RegisterBenchmark((method + "/ours/decrypt").c_str(),
                                 [method, aead](benchmark::State& s) { OursDecrypt(s, method, aead); });
    benchmark::RegisterBenchmark((method + "/raw/decrypt").c_str(),
                                 [raw](benchmark::State& s) { raw(s, false); });
    if (framed) {
        benchmark::RegisterBenchmark((method + "/raw-framed/encrypt").c_str(),
                                     [framed](benchmark::State& s) { framed(s, true); });
        benchmark::RegisterBenchmark((method + "/raw-framed/decrypt").c_str(),
                                     [framed](benchmark::State& s) { framed(s, false); });
    }
}

template <template <class> class Mode, class Block>
std::function<void(benchmark::State&, bool)> BlockMode(size_t keyLength) {
    return [keyLength](benchmark::State& s, bool encrypt) {
        if (encrypt)
            RawCryptopp<typename Mode<Block>::Encryption>(s, keyLength, 16);
        else
            RawCryptopp<typename Mode<Block>::Decryption>(s, keyLength, 16);
    };
}

const bool kRegistered = [] {
    InitCipherLibrary();
    for (size_t bits : {128, 192, 256}) {
        const std::string b = std::to_string(bits);
        Register("aes-" + b + "-cfb", false, BlockMode<CryptoPP::CFB_Mode, CryptoPP::AES>(bits / 8));
        Register("aes-" + b + "-ctr", false, BlockMode<CryptoPP::CTR_Mode, CryptoPP::AES>(bits / 8));
        Register("camellia-" + b + "-cfb", false,
                 BlockMode<CryptoPP::CFB_Mode, CryptoPP::Camellia>(bits / 8));
        Register(
            "aes-" + b + "-gcm", true, [bits](benchmark::State& s, bool e) { RawGcm(s, bits / 8, e); },
            [bits](benchmark::State& s, bool e) { RawFramedGcm(s, bits / 8, e); });
    }
    Register("salsa20", false,
             [](benchmark::State& s, bool) { RawCryptopp<CryptoPP::Salsa20::Encryption>(s, 32, 8); });
    Register("chacha20", false, [](benchmark::State& s, bool) { RawChaCha(s, false); });
    Register("chacha20-ietf", false, [](benchmark::State& s, bool) { RawChaCha(s, true); });
    for (const char* rc4 : {"rc4-md5", "rc4-md5-6", "rc4"})
        Register(rc4, false, [](benchmark::State& s, bool) { RawRc4(s); });
    Register(
        "chacha20-ietf-poly1305", true,
        [](benchmark::State& s, bool e) {
            RawSodiumAead(s, crypto_aead_chacha20poly1305_ietf_encrypt,
                          crypto_aead_chacha20poly1305_ietf_decrypt, e);
        },
        [](benchmark::State& s, bool e) {
            RawFramedSodium(s, 12, crypto_aead_chacha20poly1305_ietf_encrypt,
                            crypto_aead_chacha20poly1305_ietf_decrypt, e);
        });
    Register(
        "xchacha20-ietf-poly1305", true,
        [](benchmark::State& s, bool e) {
            RawSodiumAead(s, crypto_aead_xchacha20poly1305_ietf_encrypt,
                          crypto_aead_xchacha20poly1305_ietf_decrypt, e);
        },
        [](benchmark::State& s, bool e) {
            RawFramedSodium(s, 24, crypto_aead_xchacha20poly1305_ietf_encrypt,
                            crypto_aead_xchacha20poly1305_ietf_decrypt, e);
        });
    Register("none", false, [](benchmark::State& s, bool) { RawCopy(s); });
    return true;
}();

}  // namespace
