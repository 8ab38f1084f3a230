#pragma once
// "tls1.2_ticket_auth" (and "tls1.2_ticket_fastauth"): the connection looks
// like a TLS 1.2 session resumed with a ticket. The first upload is a
// ClientHello, then ChangeCipherSpec and Finished, and all data travel in
// application-data records. Both sides prove the key with truncated
// HMAC-SHA1s keyed by the key and the client's session id. The fastauth
// variant sends Finished and data without waiting for the ServerHello.

#include <string>

#include "ciphers/plugins/obfs.h"

class CObfsTls12TickAuth : public CObfsBase {
public:
    enum : int { kHelloSent = 1, kFinishedQueued = 2, kSendEstablished = 4, kServerVerified = 8 };
    // Far more than any ServerHello, ChangeCipherSpec and Finished together.
    static constexpr size_t kMaxHandshake = 32 * 1024;
    // Largest payload of one application record (the TLS limit).
    static constexpr size_t kMaxRecordPayload = 16 * 1024;
    // Longest server name sent; longer hosts send an empty name.
    static constexpr size_t kMaxServerName = 253;

    CObfsTls12TickAuth(std::string name, std::string param);
    ~CObfsTls12TickAuth() override;

    void SetIvKey(const unsigned char* iv, int ivLength, const unsigned char* key, int keyLength) override;
    int ClientEncode(unsigned char** data, int length, int plainLength, int* outLength) override;
    int ClientDecode(unsigned char** data, int length, int capacity, int* outLength, int* sendBack) override;

    // The server name for the next ClientHello: a host of the parameter's
    // comma list (else the server host), empty when it ends in a digit.
    std::string SniHost() const;
    std::string MakeClientHello(const std::string& sniHost, size_t ticketLength) const;
    std::string MakeFinished() const;
    // First 10 bytes of HMAC-SHA1 keyed with the key and the client id.
    std::string Hmac10(const std::string& data) const;
    const std::string& ClientId() const { return clientId_; }
    int State() const { return state_; }

private:
    void Reset();
    int DecodeRecords(std::string* out);

    int state_ = 0;
    std::string sendQueue_;
    std::string recvBuffer_;
    std::string clientId_;
    int recordCount_ = 0;
    bool fastAuth_ = false;
};
