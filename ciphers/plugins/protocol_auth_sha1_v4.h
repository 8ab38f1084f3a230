#pragma once
// "auth_sha1_v4": the first packet authenticates the client id, a connection
// id and the time with an HMAC-SHA1 keyed by the IV and key; every packet is
// framed with a CRC-protected length, padding and an Adler-32 trailer.

#include "ciphers/plugins/protocol_auth.h"

class CProtocol_auth_sha1_v4 : public CProtocolAuth {
public:
    explicit CProtocol_auth_sha1_v4(std::string param);
    ~CProtocol_auth_sha1_v4() override;

    int ClientPreEncrypt(unsigned char** data, int length, int* outLength) override;
    int ClientPostDecrypt(unsigned char** data, int length, int* outLength) override;

    // Largest data packet; longer uploads are cut.
    static constexpr size_t kUnit = 2000;

    // One data packet of `n` bytes (1 to 2000) with `padding` bytes of padding.
    static std::string PackData(const unsigned char* p, size_t n, size_t padding);

private:
    std::string PackAuth(const unsigned char* p, size_t n);
};
