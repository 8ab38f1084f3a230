#pragma once
// "auth_chain_a" and "auth_chain_b": every packet is chained to the previous
// one of its direction by an HMAC-MD5. The last hash masks the length and
// seeds the generator that decides how much random padding the packet gets
// and where the data sit inside it, so the peer can recompute both; the data
// are RC4-encrypted under a key from the user key and the first client hash.
// The two differ only in the padding rule: auth_chain_b aims at packet sizes
// drawn from two lists derived from the key.

#include <memory>
#include <vector>

#include "ciphers/plugins/protocol_auth.h"
#include "ciphers/xorshift_state.h"

struct Rc4Stream;

class CProtocolAuthChainA : public CProtocolAuth {
public:
    // Packets must keep data plus padding under 4096 bytes; packets above
    // 1440 data bytes carry no padding, so this is the largest cut however
    // large a TCP MSS the server announces.
    static constexpr size_t kMaxUnit = 4095;
    static constexpr size_t kAuthUnit = 1200;

    CProtocolAuthChainA(std::string name, std::string param);
    ~CProtocolAuthChainA() override;

    void SetIvKey(const unsigned char* iv, int ivLength, const unsigned char* key, int keyLength) override;
    int ClientPreEncrypt(unsigned char** data, int length, int* outLength) override;
    int ClientPostDecrypt(unsigned char** data, int length, int* outLength) override;
    int ClientUdpPreEncrypt(unsigned char** data, int length, int* outLength) override;
    int ClientUdpPostDecrypt(unsigned char** data, int length, int* outLength) override;

    // Padding for a packet of `n` data bytes, from the generator reloaded
    // from the direction's last hash.
    virtual size_t NextPaddingLength(size_t n, XorShift128PlusState& generator, const unsigned char lastHash[16]);
    // Where the data start inside a padding of `padding` bytes (> 0).
    static size_t RandomPosition(XorShift128PlusState& generator, size_t padding);

protected:
    // The padding both variants fall back to, by the data length.
    static size_t GenericPadding(size_t n, uint64_t r);

private:
    void EnsureUserKey();
    std::string PackAuth(const unsigned char* p, size_t n);
    std::string PackClient(const unsigned char* p, size_t n);

    unsigned char lastClientHash_[16] = {};
    unsigned char lastServerHash_[16] = {};
    std::string userKey_;  // empty until first needed
    unsigned char userId_[4] = {};
    uint32_t sendId_ = 1;
    uint32_t recvId_ = 1;
    XorShift128PlusState clientGenerator_;
    XorShift128PlusState serverGenerator_;
    std::unique_ptr<Rc4Stream> encryptor_;  // keyed by the auth packet
    std::unique_ptr<Rc4Stream> decryptor_;
};

class CProtocolAuthChainB : public CProtocolAuthChainA {
public:
    CProtocolAuthChainB(std::string name, std::string param);

    void SetServerInfo(const SSRServerInfo& info) override;
    size_t NextPaddingLength(size_t n, XorShift128PlusState& generator, const unsigned char lastHash[16]) override;

    const std::vector<uint32_t>& SizeList1() const { return sizeList1_; }
    const std::vector<uint32_t>& SizeList2() const { return sizeList2_; }

private:
    std::vector<uint32_t> sizeList1_;
    std::vector<uint32_t> sizeList2_;
};
