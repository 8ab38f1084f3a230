#pragma once
// The ShadowsocksR plug-in interface. A connection passes its upload through
// a protocol plug-in, the cryptor and an obfuscation plug-in, and its download
// back through them in reverse:
//
//   upload:   ClientPreEncrypt -> CCryptor::Encrypt -> ClientEncode
//   download: ClientDecode -> CCryptor::Decrypt -> ClientPostDecrypt
//   UDP:      ClientUdpPreEncrypt -> encrypt; decrypt -> ClientUdpPostDecrypt
//
// Both kinds share this one class family; every operation that a kind does not
// use is the identity.
//
// Buffers: data operations take the address of the caller's buffer pointer, a
// buffer from PrivateHeapAlloc. A plug-in that produces new bytes frees the
// buffer it was given and stores its own (also from PrivateHeapAlloc) through
// that address; one that produces nothing (out length 0) leaves the caller's
// pointer alone, and the caller frees it. Operations return 1 on success and
// 0 on failure; a failed download operation ends the connection.

#include <cstdint>
#include <string>

class CAuthData;
class CCryptor;

// What a plug-in knows about the server and the connection's cryptor. Each
// plug-in keeps its own copy.
struct SSRServerInfo {
    static constexpr uint32_t kMaxIvKeyLength = 32;
    static constexpr uint16_t kDefaultTcpMss = 1452;
    static constexpr uint32_t kDefaultHeadLength = 30;
    static constexpr uint32_t kDefaultBufferSize = 65507;

    std::string host;   // the server's host name or address as configured
    uint16_t port = 0;  // the server's port
    std::string param;  // the node's obfuscation parameter
    CAuthData* sharedData = nullptr;
    unsigned char iv[kMaxIvKeyLength] = {};  // what the cryptor sends first: its IV, or an AEAD salt
    uint32_t ivLength = 0;
    unsigned char receiveIv[kMaxIvKeyLength] = {};
    uint32_t receiveIvLength = 0;
    unsigned char key[kMaxIvKeyLength] = {};
    uint32_t keyLength = 0;
    // Largest protocol packet including overhead; auth_chain takes the
    // server's value from its first answer.
    uint16_t tcpMss = kDefaultTcpMss;
    // Length of the Shadowsocks address header that opens the first upload.
    uint32_t headLength = 0;
    // Bytes both plug-ins add to a packet together (seen by the protocol).
    uint16_t overhead = 0;
    // Largest block the caller hands over at once.
    uint32_t bufferSize = 0;
};

class CObfs {
public:
    virtual ~CObfs();
    CObfs(const CObfs&) = delete;
    CObfs& operator=(const CObfs&) = delete;

    // The name the plug-in was created under, as the factory's table writes it.
    const char* GetName() const { return name_.c_str(); }
    const std::string& GetParam() const { return param_; }
    // The process-wide shared connection data (the same for every plug-in).
    CAuthData* GetSharedData() const;
    // Bytes this plug-in adds to each packet.
    int GetOwnOverhead() const { return ownOverhead_; }

    // Takes a new IV and key (either may be null or empty to keep the old one)
    // and returns the plug-in to the state of a fresh connection.
    virtual void SetIvKey(const unsigned char* iv, int ivLength, const unsigned char* key, int keyLength);

    // True for a plug-in whose every step leaves the bytes as they are; the
    // relay then skips it.
    virtual bool PassesThrough() const { return false; }

    // Protocol step before encryption.
    virtual int ClientPreEncrypt(unsigned char** data, int length, int* outLength);
    // Obfuscation step after encryption; `plainLength` is what the protocol
    // step produced. An out length of 0 means there is nothing to send yet.
    virtual int ClientEncode(unsigned char** data, int length, int plainLength, int* outLength);
    // Obfuscation step on received bytes; `capacity` is the size of the
    // caller's receive buffer. `*sendBack` = 1 asks the caller to run
    // ClientEncode once on an empty input and send what it yields.
    virtual int ClientDecode(unsigned char** data, int length, int capacity, int* outLength, int* sendBack);
    // Protocol step after decryption.
    virtual int ClientPostDecrypt(unsigned char** data, int length, int* outLength);
    // Protocol steps on one UDP datagram.
    virtual int ClientUdpPreEncrypt(unsigned char** data, int length, int* outLength);
    virtual int ClientUdpPostDecrypt(unsigned char** data, int length, int* outLength);

    // Copies the record: host, port, param, shared data, `ivLength` bytes of
    // the IV and `keyLength` of the key (at most 32 each), the receive IV only
    // when its length is positive, and the four numbers.
    virtual void SetServerInfo(const SSRServerInfo& info);
    const SSRServerInfo& GetServerInfo() const { return serverInfo_; }
    // Set from the address header's type before the first upload.
    void SetHeadLength(uint32_t headLength) { serverInfo_.headLength = headLength; }

protected:
    CObfs(std::string name, std::string param);

    std::string name_;
    std::string param_;
    int ownOverhead_ = 0;
    SSRServerInfo serverInfo_;
};

// Base of the plug-ins that keep per-connection state; adds nothing.
class CObfsBase : public CObfs {
protected:
    using CObfs::CObfs;
};

// The IV the plug-ins are keyed with: what `cryptor` sends before its first
// data. That is its IV for a stream cipher, and its salt for an AEAD cipher
// (the AEAD nonce never travels, so no server could check an HMAC keyed with
// it). Read it again after every CCryptor::Reset.
void GetCryptorSendIv(const CCryptor& cryptor, const unsigned char** iv, int* length);

// The record the local proxy service hands the obfuscation plug-in: the
// server, the obfuscation parameter, the shared data, the cryptor's send IV
// and key, TCP MSS 1452, head length 30, overhead 0 and buffer size 65507.
// The protocol plug-in gets the same with the overhead set to the sum of both
// plug-ins' own overheads.
SSRServerInfo MakeServerInfo(const CCryptor& cryptor, std::string host, uint16_t port, std::string obfsParam,
                             CAuthData* sharedData);
