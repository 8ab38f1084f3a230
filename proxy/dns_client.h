#pragma once
// A small DNS client: A and MX lookups with referral chasing, over TCP to
// port 53 of a server, or over UDP through a proxy node (a SOCKS 5 UDP relay,
// or a Shadowsocks/ShadowsocksR server with the node's cipher objects). The
// node tests use the proxied forms to check that a node relays UDP.
//
// Every query starts afresh from the client's own header, with empty record
// lists. Replies must carry the query's id, QR set and the reserved bit
// clear, else the query fails.

#include <cstdint>
#include <string>
#include <vector>

#include "proxy/dns_buffer.h"
#include "proxy/dns_message.h"
#include "proxy/dns_records.h"
#include "proxy/socket_client.h"

class CCryptor;
class CObfs;

class CDnsClient {
public:
    CDnsClient();
    virtual ~CDnsClient();
    CDnsClient(const CDnsClient&) = delete;
    CDnsClient& operator=(const CDnsClient&) = delete;

    // `server` is a dotted address or a host name; the port is 53. 1 when a
    // reply was read into the record lists, else 0.
    virtual int Query(const wchar_t* server, const std::wstring& name, const std::wstring& typeText);
    // `count` records from the read position into `list`; stops at the
    // first one that is cut short (which is not added).
    virtual void ParseRecords(CDnsRRPtrList* list, int count);
    // Query with referral chasing; without a server the generic top-level
    // domains' root servers are asked in turn. `tries` counts the queries
    // still allowed. 1 or 0.
    virtual int Resolve(const wchar_t* server, const std::wstring& name, const std::wstring& typeText,
                        std::wstring* text, int* tries);
    virtual std::wstring ResolveMX(std::wstring* text, const wchar_t* server, const std::wstring& name,
                                   std::vector<std::wstring>* addresses);
    // The A records' addresses into `addresses`; every answer's text into `text`.
    virtual std::wstring ResolveA(std::wstring* text, const wchar_t* server, const std::wstring& name,
                                  std::vector<std::wstring>* addresses, int* tries);
    virtual void AddAdditionalAddresses(const std::wstring& name, std::vector<std::wstring>* addresses);

    const CDnsRRPtrList& GetAnswers() const { return answers_; }
    const CDnsRRPtrList& GetAuthorities() const { return authorities_; }
    const CDnsRRPtrList& GetAdditionals() const { return additionals_; }
    // The header of the last reply read (or of the last query sent).
    const DnsHeader& GetHeader() const { return header_; }
    uint16_t GetQueryId() const { return ownHeader_.id; }

    // The nine root servers of the generic top-level domains, in the order asked.
    static const std::vector<std::wstring>& RootServers();

protected:
    // Restores the own header, empties the lists and builds the query
    // message; false for a name that cannot be sent.
    bool BeginQuery(const std::wstring& name, const std::wstring& typeText);
    // Reads a reply from `buffer`'s start: header (checked against the
    // query), question, then the answers and, with `allSections`, the
    // authority and additional records.
    bool ReadReply(CDnsBuffer* buffer, bool allSections);

    CDnsBuffer buffer_;
    DnsHeader header_;
    DnsHeader ownHeader_;
    CDnsRRPtrList answers_;
    CDnsRRPtrList authorities_;
    CDnsRRPtrList additionals_;
};

// Through a SOCKS 5 UDP relay.
class CProxyDNSClient : public CDnsClient {
public:
    CProxyDNSClient();
    // The relay endpoint (host cut to 259 characters).
    void SetProxy(const char* host, uint16_t port);
    int Query(const wchar_t* server, const std::wstring& name, const std::wstring& typeText) override;

protected:
    std::wstring relayHost_;
    uint16_t relayPort_ = 0;
};

class CSSDnsClient : public CProxyDNSClient {};

// Through a Shadowsocks/ShadowsocksR server (the relay endpoint), encrypted
// with cipher objects the caller owns and does not use meanwhile.
class CSSRDnsClient : public CSSDnsClient {
public:
    void SetCipher(CCryptor* cryptor, CObfs* protocol, CObfs* obfs);
    int Query(const wchar_t* server, const std::wstring& name, const std::wstring& typeText) override;

protected:
    CCryptor* cryptor_ = nullptr;
    CObfs* protocol_ = nullptr;
    CObfs* obfs_ = nullptr;
    CDnsBuffer reply_;
};

// A datagram socket that talks to a DNS server through a relay endpoint.

class CProxySocketClient : public CSocketEx {
public:
    CProxySocketClient(const std::wstring& relayHost, uint16_t relayPort, const std::wstring& dnsServer);
    ~CProxySocketClient() override = default;

    // Resolves the DNS server (port 53) and connects to the relay. 1 or 0.
    virtual int Open();
    virtual int ConnectTo(const wchar_t* host, uint16_t port);
    // The relay header for the DNS server; its length, 0 when it does not fit.
    virtual int BuildRelayHeader(uint8_t* buffer, int size);
    virtual std::vector<uint8_t> WrapQuery(const uint8_t* message, int length);
    // 1 when the whole datagram went out.
    virtual int SendQuery(const uint8_t* message, int length);
    // The DNS message of one reply datagram into `buffer`; its length, 0 on
    // failure (nothing within 3 s, an unknown address type, nothing after
    // the relay header, or a message larger than `size`).
    virtual int ReceiveReply(uint8_t* buffer, int size);

    const sockaddr_in& GetDnsServerAddress() const { return dnsAddress_; }

protected:
    std::wstring relayHost_;
    uint16_t relayPort_;
    std::wstring dnsHost_;
    uint16_t dnsPort_ = 53;
    sockaddr_in dnsAddress_{};
};

class CSSProxySocketClient : public CProxySocketClient {
public:
    using CProxySocketClient::CProxySocketClient;
};

class CSSRProxySocketClient : public CSSProxySocketClient {
public:
    CSSRProxySocketClient(const std::wstring& relayHost, uint16_t relayPort, const std::wstring& dnsServer,
                          CCryptor* cryptor, CObfs* protocol, CObfs* obfs);
    int BuildRelayHeader(uint8_t* buffer, int size) override;
    std::vector<uint8_t> WrapQuery(const uint8_t* message, int length) override;
    int SendQuery(const uint8_t* message, int length) override;
    int ReceiveReply(uint8_t* buffer, int size) override;

private:
    CCryptor* cryptor_;
    CObfs* protocol_;
};
