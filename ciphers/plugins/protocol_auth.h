#pragma once
// Common ground of the authenticating protocols (auth_sha1_v4, auth_aes128,
// auth_chain): the first upload carries an authentication packet, later ones
// are framed data packets, and downloads are reassembled from a receive
// buffer.

#include <cstdint>
#include <functional>
#include <string>

#include "ciphers/plugins/obfs.h"

class CProtocolAuth : public CObfsBase {
public:
    ~CProtocolAuth() override;

    void SetIvKey(const unsigned char* iv, int ivLength, const unsigned char* key, int keyLength) override;

protected:
    CProtocolAuth(std::string name, std::string param);

    // The shared data this connection takes its ids from; fetched when the
    // record came without it.
    CAuthData* SharedData();
    // The client id and the next connection id, as the first packet sends them.
    uint32_t NextConnectionId(unsigned char clientId[4]);

    // The server record's IV followed by its key.
    std::string IvKey() const;
    std::string ServerKey() const;

    // Splits "user id:password" from the protocol parameter. Returns false
    // when the parameter has no colon. The user id is the decimal number at
    // the start of the (at most 15-character) text before the colon, wrapped
    // to 32 bits; the password is the text after it, at most `maxPassword`
    // characters.
    bool ParseUserParam(uint32_t* userId, std::string* password, size_t maxPassword) const;

    using PacketMaker = std::function<std::string(const unsigned char* data, size_t length)>;
    // Frames one upload: on the first one, its first `authLength` bytes (at
    // most all) go into the auth packet; the rest into packets of at most
    // `unit` bytes. An empty upload gives nothing.
    int PackUpload(unsigned char** data, int length, int* outLength, size_t authLength, size_t unit,
                   const PacketMaker& packAuth, const PacketMaker& packData);

    // Releases the received bytes and fails, as every decode error does.
    int FailReceive(int* outLength);

    int headerSent_ = 0;
    std::string recvBuffer_;
};

// Seconds since 1970, low 32 bits: the time stamp of the first packet.
uint32_t PluginTimeNow();
