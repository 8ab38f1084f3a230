#include "proxy/dns_client.h"

#include <sys/socket.h>

#include <chrono>
#include <cstring>

#include "foundation/ascii_case.h"
#include "foundation/text_convert.h"
#include "proxy/socket_base.h"
#include "proxy/ssr_datagram.h"

namespace {

constexpr uint16_t kDnsPort = 53;
constexpr int kTimeoutSeconds = 3;
constexpr int kReplyBufferSize = 1024;
constexpr int kMaxDatagram = 65507;
constexpr size_t kMaxHostChars = 259;
constexpr int kRootRetryTries = 10;

uint16_t QueryIdFromClock() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now().time_since_epoch())
                  .count();
    return static_cast<uint16_t>(static_cast<uint64_t>(ms) >> 16);
}

}  // namespace

// ---- client ---------------------------------------------------------------------------------

CDnsClient::CDnsClient() {
    ownHeader_.id = QueryIdFromClock();
    ownHeader_.questionCount = 1;
    header_ = ownHeader_;
}

CDnsClient::~CDnsClient() = default;

const std::vector<std::wstring>& CDnsClient::RootServers() {
    static const std::vector<std::wstring> servers = {
        L"a.gtld-servers.net", L"b.gtld-servers.net", L"c.gtld-servers.net",
        L"d.gtld-servers.net", L"e.gtld-servers.net", L"f.gtld-servers.net",
        L"g.gtld-servers.net", L"h.gtld-servers.net", L"i.gtld-servers.net",
    };
    return servers;
}

bool CDnsClient::BeginQuery(const std::wstring& name, const std::wstring& typeText) {
    header_ = ownHeader_;
    answers_.RemoveAll();
    authorities_.RemoveAll();
    additionals_.RemoveAll();
    buffer_.Clear();
    DnsQuestion question;
    return BuildDnsQuestion(name, typeText, &question) && EncodeDnsHeader(ownHeader_, &buffer_) &&
           EncodeDnsQuestion(question, &buffer_);
}

bool CDnsClient::ReadReply(CDnsBuffer* buffer, bool allSections) {
    buffer->SetPosition(0);
    DnsHeader reply;
    DnsQuestion question;
    if (!DecodeDnsHeader(buffer, &reply) || reply.id != ownHeader_.id || (reply.flags & DnsHeader::kQr) == 0 ||
        (reply.flags & DnsHeader::kZ) != 0) {
        return false;
    }
    if (reply.questionCount > 0 && !DecodeDnsQuestion(buffer, &question)) return false;
    header_ = reply;
    ParseRecords(&answers_, reply.answerCount);
    if (allSections) {
        ParseRecords(&authorities_, reply.authorityCount);
        ParseRecords(&additionals_, reply.additionalCount);
    }
    return true;
}

void CDnsClient::ParseRecords(CDnsRRPtrList* list, int count) {
    for (int i = 0; i < count; ++i) {
        CDnsRR head;
        if (!head.Parse(&buffer_)) return;
        std::unique_ptr<CDnsRR> typed = head.CreateTyped();
        if (!typed || !typed->Parse(&buffer_)) return;
        list->Add(std::move(typed));
    }
}

int CDnsClient::Query(const wchar_t* server, const std::wstring& name, const std::wstring& typeText) {
    if (server == nullptr || !BeginQuery(name, typeText)) return 0;
    CSocketClient socket;
    if (!socket.Connect(server, kDnsPort)) return 0;
    int length = buffer_.GetSize();
    uint8_t prefix[2] = {static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    if (TimedSendAll(socket.GetSocket(), prefix, 2, kTimeoutSeconds) != 2 ||
        TimedSendAll(socket.GetSocket(), buffer_.GetData(), length, kTimeoutSeconds) != length) {
        return 0;
    }
    uint16_t replyLength = 0;
    if (!socket.RecvUInt16(&replyLength) || replyLength == 0) return 0;
    uint8_t* data = buffer_.SetSize(replyLength);
    // The whole reply, however the server splits it, within one deadline.
    if (data == nullptr || TimedRecvExact(socket.GetSocket(), data, replyLength, kTimeoutSeconds) != replyLength) {
        return 0;
    }
    socket.Close();
    return ReadReply(&buffer_, true) ? 1 : 0;
}

int CDnsClient::Resolve(const wchar_t* server, const std::wstring& name, const std::wstring& typeText,
                        std::wstring* text, int* tries) {
    if (server == nullptr) {
        const auto& roots = RootServers();
        for (size_t i = 0; i < roots.size(); ++i) {
            if (i > 0) {
                if (*tries <= 0) return 0;
                *tries = kRootRetryTries;
            }
            if (Resolve(roots[i].c_str(), name, typeText, text, tries)) return 1;
        }
        return 0;
    }
    if (*tries < 1) {
        *text += name + L" Domain Does not exist Probably\n";
        return 0;
    }
    --*tries;
    if (!Query(server, name, typeText)) return 0;
    if (!answers_.IsEmpty() || (header_.flags & DnsHeader::kAa) != 0) return 1;
    // A referral: ask the name servers it names. The next query empties the
    // lists, so the names are taken first.
    std::vector<std::wstring> nameServers;
    for (const auto& record : authorities_) {
        if (auto* ns = dynamic_cast<const CDnsRRNS*>(record.get())) nameServers.push_back(ns->nameServer);
    }
    for (const std::wstring& ns : nameServers) {
        if (*tries < 1) return 0;
        if (Resolve(ns.c_str(), name, typeText, text, tries) || !answers_.IsEmpty()) return 1;
    }
    return 0;
}

std::wstring CDnsClient::ResolveA(std::wstring* text, const wchar_t* server, const std::wstring& name,
                                  std::vector<std::wstring>* addresses, int* tries) {
    addresses->clear();
    text->clear();
    if (Resolve(server, name, L"A", text, tries)) {
        text->clear();
        for (const auto& record : answers_) {
            if (auto* a = dynamic_cast<const CDnsRRA*>(record.get())) addresses->push_back(a->address);
            *text += record->ToString();
        }
    }
    return *text;
}

std::wstring CDnsClient::ResolveMX(std::wstring* text, const wchar_t* server, const std::wstring& name,
                                   std::vector<std::wstring>* addresses) {
    addresses->clear();
    text->clear();
    int tries = 10;
    if (Resolve(server, name, L"MX", text, &tries)) {
        text->clear();
        for (const auto& record : answers_) {
            if (auto* mx = dynamic_cast<const CDnsRRMX*>(record.get())) AddAdditionalAddresses(mx->exchange, addresses);
            *text += record->ToString();
        }
    }
    return *text;
}

void CDnsClient::AddAdditionalAddresses(const std::wstring& name, std::vector<std::wstring>* addresses) {
    bool found = false;
    for (const auto& record : additionals_) {
        auto* a = dynamic_cast<const CDnsRRA*>(record.get());
        if (a != nullptr && AsciiEqualsNoCase(a->name, name)) {
            addresses->push_back(a->address);
            found = true;
        }
    }
    if (!found) addresses->push_back(name);
}

// ---- through a SOCKS 5 UDP relay --------------------------------------------------------------

CProxyDNSClient::CProxyDNSClient() {
    // A relay hands the query to a resolver that must do the whole lookup:
    // no referral could come back through it.
    ownHeader_.flags |= DnsHeader::kRd;
    header_ = ownHeader_;
}

void CProxyDNSClient::SetProxy(const char* host, uint16_t port) {
    relayHost_ = host ? Utf8ToWideString(host).substr(0, kMaxHostChars) : std::wstring();
    relayPort_ = port;
}

int CProxyDNSClient::Query(const wchar_t* server, const std::wstring& name, const std::wstring& typeText) {
    if (server == nullptr || !BeginQuery(name, typeText)) return 0;
    CProxySocketClient socket(relayHost_, relayPort_, server);
    if (!socket.Open() || !socket.SendQuery(buffer_.GetData(), buffer_.GetSize())) return 0;
    uint8_t* data = buffer_.SetSize(kReplyBufferSize);
    if (data == nullptr) return 0;
    int length = socket.ReceiveReply(data, kReplyBufferSize);
    if (length <= 0) return 0;
    buffer_.SetSize(length);
    socket.Close();
    return ReadReply(&buffer_, false) ? 1 : 0;
}

// ---- through a Shadowsocks/ShadowsocksR server ------------------------------------------------

void CSSRDnsClient::SetCipher(CCryptor* cryptor, CObfs* protocol, CObfs* obfs) {
    cryptor_ = cryptor;
    protocol_ = protocol;
    obfs_ = obfs;
}

int CSSRDnsClient::Query(const wchar_t* server, const std::wstring& name, const std::wstring& typeText) {
    reply_.Clear();
    if (server == nullptr || !BeginQuery(name, typeText)) return 0;
    CSSRProxySocketClient socket(relayHost_, relayPort_, server, cryptor_, protocol_, obfs_);
    if (!socket.Open() || !socket.SendQuery(buffer_.GetData(), buffer_.GetSize())) return 0;
    std::vector<uint8_t> message(kMaxDatagram);
    int length = socket.ReceiveReply(message.data(), kMaxDatagram);
    if (length <= 0 || !reply_.Append(length, message.data())) return 0;
    socket.Close();
    // The records are read from the reply buffer.
    buffer_.Clear();
    if (!buffer_.Append(reply_.GetSize(), reply_.GetData())) return 0;
    return ReadReply(&buffer_, false) ? 1 : 0;
}

// ---- relay sockets --------------------------------------------------------------------------

CProxySocketClient::CProxySocketClient(const std::wstring& relayHost, uint16_t relayPort,
                                       const std::wstring& dnsServer)
    : relayHost_(relayHost.substr(0, kMaxHostChars)), relayPort_(relayPort), dnsHost_(dnsServer.substr(0, kMaxHostChars)) {
    CSocketEx::Open(SOCK_DGRAM);
}

int CProxySocketClient::Open() {
    if (!ResolveSockAddr(&dnsAddress_, dnsHost_.c_str(), dnsPort_)) return 0;
    return ConnectTo(relayHost_.c_str(), relayPort_);
}

int CProxySocketClient::ConnectTo(const wchar_t* host, uint16_t port) {
    return Connect(host, port);
}

int CProxySocketClient::BuildRelayHeader(uint8_t* buffer, int size) {
    if (size < 10) return 0;
    buffer[0] = 0;
    buffer[1] = 0;
    buffer[2] = 0;
    buffer[3] = 1;
    std::memcpy(buffer + 4, &dnsAddress_.sin_addr.s_addr, 4);
    std::memcpy(buffer + 8, &dnsAddress_.sin_port, 2);
    return 10;
}

std::vector<uint8_t> CProxySocketClient::WrapQuery(const uint8_t* message, int length) {
    std::vector<uint8_t> out(32);
    int header = BuildRelayHeader(out.data(), static_cast<int>(out.size()));
    out.resize(static_cast<size_t>(header));
    if (header > 0 && length > 0) out.insert(out.end(), message, message + length);
    return out;
}

int CProxySocketClient::SendQuery(const uint8_t* message, int length) {
    std::vector<uint8_t> datagram = WrapQuery(message, length);
    if (datagram.empty() || socket_ < 0) return 0;
    ssize_t sent = send(socket_, datagram.data(), datagram.size(), MSG_NOSIGNAL);
    return sent == static_cast<ssize_t>(datagram.size()) ? 1 : 0;
}

int CProxySocketClient::ReceiveReply(uint8_t* buffer, int size) {
    std::vector<uint8_t> datagram(kMaxDatagram);
    int got = RecvFrom(datagram.data(), kMaxDatagram);
    if (got <= 0) return 0;
    int header = RelayHeaderLength(datagram.data(), got, 3);
    if (header == 0 || got <= header || got - header > size) return 0;
    std::memcpy(buffer, datagram.data() + header, static_cast<size_t>(got - header));
    return got - header;
}

CSSRProxySocketClient::CSSRProxySocketClient(const std::wstring& relayHost, uint16_t relayPort,
                                             const std::wstring& dnsServer, CCryptor* cryptor, CObfs* protocol,
                                             CObfs*)
    : CSSProxySocketClient(relayHost, relayPort, dnsServer), cryptor_(cryptor), protocol_(protocol) {}

int CSSRProxySocketClient::BuildRelayHeader(uint8_t* buffer, int size) {
    if (size < 8) return 0;
    buffer[0] = 1;
    std::memcpy(buffer + 1, &dnsAddress_.sin_addr.s_addr, 4);
    std::memcpy(buffer + 5, &dnsAddress_.sin_port, 2);
    return 7;
}

std::vector<uint8_t> CSSRProxySocketClient::WrapQuery(const uint8_t* message, int length) {
    return CProxySocketClient::WrapQuery(message, length);
}

int CSSRProxySocketClient::SendQuery(const uint8_t* message, int length) {
    std::vector<uint8_t> plain = WrapQuery(message, length);
    std::vector<uint8_t> wire;
    if (plain.empty() || socket_ < 0 || !SsrEncodeDatagram(cryptor_, protocol_, plain.data(),
                                                           static_cast<int>(plain.size()), &wire)) {
        return 0;
    }
    return send(socket_, wire.data(), wire.size(), MSG_NOSIGNAL) > 0 ? 1 : 0;
}

int CSSRProxySocketClient::ReceiveReply(uint8_t* buffer, int size) {
    std::vector<uint8_t> datagram(kMaxDatagram);
    int got = RecvFrom(datagram.data(), kMaxDatagram);
    std::vector<uint8_t> plain;
    if (got <= 0 || !SsrDecodeDatagram(cryptor_, protocol_, datagram.data(), got, &plain)) return 0;
    int header = RelayHeaderLength(plain.data(), static_cast<int>(plain.size()), 0);
    int length = static_cast<int>(plain.size()) - header;
    if (header == 0 || length <= 0 || length > size) return 0;
    std::memcpy(buffer, plain.data() + header, static_cast<size_t>(length));
    return length;
}
