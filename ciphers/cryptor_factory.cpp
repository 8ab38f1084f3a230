#include "ciphers/cryptor_factory.h"

#include "ciphers/aead_cryptors.h"
#include "ciphers/stream_cryptors.h"
#include "foundation/string_util.h"

namespace {

enum class Kind {
    None,
    AesCfb,
    AesCtr,
    CamelliaCfb,
    Rc4Md5,
    Rc4,
    Salsa20,
    ChaCha20,
    ChaCha20Ietf,
    AesGcm,
    ChaCha20Poly1305,
    XChaCha20Poly1305
};

struct CipherRow {
    const char* name;
    Kind kind;
    int keyBytes;
    int ivBytes;
};

const CipherRow kCiphers[] = {
    {"none", Kind::None, 16, 0},
    {"aes-128-cfb", Kind::AesCfb, 16, 16},
    {"aes-192-cfb", Kind::AesCfb, 24, 16},
    {"aes-256-cfb", Kind::AesCfb, 32, 16},
    {"aes-128-ctr", Kind::AesCtr, 16, 16},
    {"aes-192-ctr", Kind::AesCtr, 24, 16},
    {"aes-256-ctr", Kind::AesCtr, 32, 16},
    {"camellia-128-cfb", Kind::CamelliaCfb, 16, 16},
    {"camellia-192-cfb", Kind::CamelliaCfb, 24, 16},
    {"camellia-256-cfb", Kind::CamelliaCfb, 32, 16},
    {"rc4-md5", Kind::Rc4Md5, 16, 16},
    {"rc4-md5-6", Kind::Rc4Md5, 16, 6},
    {"rc4", Kind::Rc4, 16, 0},
    {"salsa20", Kind::Salsa20, 32, 8},
    {"chacha20", Kind::ChaCha20, 32, 8},
    {"chacha20-ietf", Kind::ChaCha20Ietf, 32, 12},
    {"aes-128-gcm", Kind::AesGcm, 16, 12},
    {"aes-192-gcm", Kind::AesGcm, 24, 12},
    {"aes-256-gcm", Kind::AesGcm, 32, 12},
    {"chacha20-ietf-poly1305", Kind::ChaCha20Poly1305, 32, 12},
    {"xchacha20-ietf-poly1305", Kind::XChaCha20Poly1305, 32, 24},
};

std::unique_ptr<CCryptor> Build(const CipherRow& row, std::string method, std::string password) {
    switch (row.kind) {
        case Kind::None:
            return std::make_unique<CNoneCryptor>(std::move(method), std::move(password));
        case Kind::AesCfb:
            return std::make_unique<CAESCfbCryptor>(std::move(method), std::move(password), row.keyBytes * 8);
        case Kind::AesCtr:
            return std::make_unique<CAESCtrCryptor>(std::move(method), std::move(password), row.keyBytes * 8);
        case Kind::CamelliaCfb:
            return std::make_unique<CCamelliaCfbCryptor>(std::move(method), std::move(password),
                                                         row.keyBytes * 8);
        case Kind::Rc4Md5:
            return std::make_unique<CRC4Cryptor>(std::move(method), std::move(password), row.ivBytes, true);
        case Kind::Rc4:
            return std::make_unique<CRC4Cryptor>(std::move(method), std::move(password), 0, false);
        case Kind::Salsa20:
            return std::make_unique<CSalsa20Criptor>(std::move(method), std::move(password));
        case Kind::ChaCha20:
            if (SodiumInitFailed.load()) return nullptr;
            return std::make_unique<CChaCha20Cryptor>(std::move(method), std::move(password));
        case Kind::ChaCha20Ietf:
            if (SodiumInitFailed.load()) return nullptr;
            return std::make_unique<CChaCha20IetfCryptor>(std::move(method), std::move(password));
        case Kind::AesGcm:
            return std::make_unique<CAEADAesGcmCryptor>(std::move(method), std::move(password), row.keyBytes);
        case Kind::ChaCha20Poly1305:
            return std::make_unique<CAEADChaCha20IetfPoly1305>(std::move(method), std::move(password));
        case Kind::XChaCha20Poly1305:
            return std::make_unique<CAEADXChaCha20IetfPoly1305>(std::move(method), std::move(password));
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<CCryptor> CreateCryptor(std::string method, std::string password) {
    for (const CipherRow& row : kCiphers) {
        if (StringEquals(row.name, method, true)) {
            try {
                return Build(row, std::move(method), std::move(password));
            } catch (const std::bad_alloc&) {
                return nullptr;
            }
        }
    }
    return nullptr;
}
