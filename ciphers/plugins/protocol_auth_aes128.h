#pragma once
// "auth_aes128_md5" and "auth_aes128_sha1": every packet is authenticated by
// an HMAC keyed with a per-user key and the packet's number; the first packet
// carries the client id, connection id and lengths in one AES-encrypted
// block. The two names differ only in the hash behind the HMACs.

#include "ciphers/crypto_helpers.h"
#include "ciphers/plugins/protocol_auth.h"

class CProtocol_auth_aes128_md5 : public CProtocolAuth {
public:
    CProtocol_auth_aes128_md5(std::string name, std::string param);
    ~CProtocol_auth_aes128_md5() override;

    void SetIvKey(const unsigned char* iv, int ivLength, const unsigned char* key, int keyLength) override;
    int ClientPreEncrypt(unsigned char** data, int length, int* outLength) override;
    int ClientPostDecrypt(unsigned char** data, int length, int* outLength) override;
    int ClientUdpPreEncrypt(unsigned char** data, int length, int* outLength) override;
    int ClientUdpPostDecrypt(unsigned char** data, int length, int* outLength) override;

    static constexpr size_t kAuthUnit = 1200;
    static constexpr size_t kUnit = 2000;

private:
    void EnsureUserKey();
    std::string Mac(const std::string& key, const std::string& data) const;
    std::string PackAuth(const unsigned char* p, size_t n);
    std::string PackData(const unsigned char* p, size_t n, size_t full);

    std::string userKey_;  // empty until first needed
    unsigned char userId_[4] = {};
    HashFunc hash_;
    HmacFunc hmac_;
    size_t hashLength_;
    uint32_t recvId_ = 1;
    uint32_t sendId_ = 1;
};
