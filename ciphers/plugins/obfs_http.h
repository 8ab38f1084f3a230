#pragma once
// Obfuscations that dress the start of a connection: "http_simple" and
// "http_post" send the first encrypted bytes as an HTTP request (the head of
// the data percent-encoded in the path) and strip the server's response head;
// "random_head" sends a self-checking random block first and holds the data
// back until the server has answered.

#include <string>

#include "ciphers/plugins/obfs.h"

class CObfsHttpSimple : public CObfs {
public:
    // The response head may arrive in pieces; a server that sends more than
    // this without ending its head is not speaking HTTP.
    static constexpr size_t kMaxResponseHead = 16 * 1024;

    CObfsHttpSimple(std::string name, std::string param);

    void SetIvKey(const unsigned char* iv, int ivLength, const unsigned char* key, int keyLength) override;
    int ClientEncode(unsigned char** data, int length, int plainLength, int* outLength) override;
    int ClientDecode(unsigned char** data, int length, int capacity, int* outLength, int* sendBack) override;

    // The request head for `pathBytes` (sent percent-encoded as the path);
    // everything else comes from the server record and the plug-in name.
    std::string BuildRequestHead(const unsigned char* pathBytes, size_t count) const;

protected:
    void ResetHttpState();

    int headerSent_ = 0;
    int responseSeen_ = 0;
    int userAgentIndex_ = 0;
    std::string responseHead_;  // received bytes while the response head is incomplete
};

class CObfsRandomHead : public CObfsHttpSimple {
public:
    explicit CObfsRandomHead(std::string param);
    ~CObfsRandomHead() override;

    void SetIvKey(const unsigned char* iv, int ivLength, const unsigned char* key, int keyLength) override;
    int ClientEncode(unsigned char** data, int length, int plainLength, int* outLength) override;
    int ClientDecode(unsigned char** data, int length, int capacity, int* outLength, int* sendBack) override;

    // A random block of `randomLength` + 4 bytes followed by the complemented
    // CRC-32 of those bytes, least significant byte first: the CRC-32 of the
    // whole head is then 0xFFFFFFFF.
    static std::string MakeHead(size_t randomLength);

private:
    std::string held_;  // data waiting for the server's first answer
};

// The user agents http_simple and http_post choose from.
extern const char* const kHttpUserAgents[12];
