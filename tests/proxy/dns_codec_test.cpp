// The DNS message codec: buffer growth, questions on the wire, names with
// compression (and the pointer chains a hostile reply can build), records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "proxy/dns_buffer.h"
#include "proxy/dns_message.h"
#include "proxy/dns_records.h"

namespace {

std::string Wire(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

void Load(CDnsBuffer* buffer, const std::string& bytes) {
    buffer->Clear();
    ASSERT_TRUE(buffer->Append(static_cast<int>(bytes.size()), bytes.data()));
}

TEST(DnsBuffer, GrowsInBlocksAboveTheWantedSize) {
    struct Case {
        int wanted;
        int capacity;
    } cases[] = {{0, 64}, {63, 64}, {64, 128}, {130, 192}};
    for (const auto& c : cases) {
        CNeuroBuffer buffer;
        ASSERT_TRUE(buffer.Grow(c.wanted));
        EXPECT_EQ(buffer.GetCapacity(), c.capacity) << c.wanted;
    }
}

TEST(DnsBuffer, AppendKeepsContentAcrossGrowthAndSetSizeReportsFailure) {
    CNeuroBuffer buffer;
    std::string a(100, 'a'), b(100, 'b');
    ASSERT_TRUE(buffer.Append(100, a.data()));
    ASSERT_TRUE(buffer.Append(100, b.data()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.GetData()), 200), a + b);
    EXPECT_EQ(buffer.GetCapacity(), 256);
    ASSERT_NE(buffer.SetSize(10), nullptr);
    EXPECT_EQ(buffer.GetSize(), 10);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.GetData()), 10), a.substr(0, 10));
    // A size no allocation can serve is refused, never half-done.
    EXPECT_EQ(buffer.SetSize(-1), nullptr);
    EXPECT_EQ(buffer.GetSize(), 0);
    uint16_t v;
    EXPECT_FALSE(buffer.ReadUInt16(&v));
}

TEST(DnsQuestion, EncodesLabelsTypeAndClass) {
    DnsQuestion q;
    ASSERT_TRUE(BuildDnsQuestion(L"www.example.com", L"a", &q));
    ASSERT_EQ(q.labels.size(), 3u);
    EXPECT_EQ(q.type, 1);
    EXPECT_EQ(q.cls, 1);
    CDnsBuffer out;
    ASSERT_TRUE(EncodeDnsQuestion(q, &out));
    std::string wire(reinterpret_cast<const char*>(out.GetData()), out.GetSize());
    EXPECT_EQ(wire, std::string("\3www\7example\3com\0", 17) + Wire({0, 1, 0, 1}));

    struct TypeCase {
        const wchar_t* text;
        uint16_t code;
    } types[] = {{L"A", 1}, {L"ns", 2}, {L"Cname", 5}, {L"MX", 15}, {L"txt", 16}, {L"AAAA", 0xFFFF}, {L"", 0xFFFF}};
    for (const auto& t : types) EXPECT_EQ(DnsTypeFromText(t.text), t.code) << t.text;
}

TEST(DnsQuestion, RefusesNamesThatCannotGoOnTheWire) {
    std::wstring label63(63, L'a'), label64(64, L'a');
    struct Case {
        std::wstring name;
        bool ok;
    } cases[] = {
        {L"example.com.", true},  // a trailing dot is the root
        {label63 + L".com", true},
        {label64 + L".com", false},
        {L"", false},
        {L".", false},
        {L".example.com", false},
        {L"example..com", false},
        {label63 + L"." + label63 + L"." + label63 + L"." + std::wstring(61, L'b'), true},   // 255 on the wire
        {label63 + L"." + label63 + L"." + label63 + L"." + std::wstring(62, L'b'), false},  // 256
        {L"\u00e9t\u00e9.example", true},                                                   // UTF-8 bytes
    };
    for (const auto& c : cases) {
        DnsQuestion q;
        EXPECT_EQ(BuildDnsQuestion(c.name, L"A", &q), c.ok) << c.name.size();
    }
}

TEST(DnsHeader, RoundTripsSixWords) {
    DnsHeader h{0x1234, 0x8180, 1, 2, 3, 4};
    CDnsBuffer b;
    ASSERT_TRUE(EncodeDnsHeader(h, &b));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.GetData()), 12),
              Wire({0x12, 0x34, 0x81, 0x80, 0, 1, 0, 2, 0, 3, 0, 4}));
    DnsHeader d;
    ASSERT_TRUE(DecodeDnsHeader(&b, &d));
    EXPECT_EQ(d.id, 0x1234);
    EXPECT_EQ(d.flags, 0x8180);
    EXPECT_EQ(d.additionalCount, 4);
    CDnsBuffer shortOne;
    Load(&shortOne, Wire({1, 2, 3}));
    EXPECT_FALSE(DecodeDnsHeader(&shortOne, &d));
    EXPECT_EQ(shortOne.GetPosition(), 0);
}

// A 12-byte header, then at offset 12 "www.example.com" (17 bytes), then at
// 29 whatever the case appends.
const std::string kPrefix = std::string(12, '\0') + std::string("\3www\7example\3com\0", 17);

TEST(DnsName, PointersAndTheirLimits) {
    struct Case {
        const char* what;
        std::string tail;
        bool ok;
        std::wstring name;
        int endAfterTail;  // read position after a successful read, relative to 29
    } cases[] = {
        {"plain", std::string("\3abc\0", 5), true, L"abc", 5},
        {"pointer to the question", Wire({0xC0, 12}), true, L"www.example.com", 2},
        {"label then pointer", std::string("\3ftp") + Wire({0xC0, 16}), true, L"ftp.example.com", 6},
        {"0x40 counts as a pointer", Wire({0x40, 12}), true, L"www.example.com", 2},
        {"0x80 counts as a pointer", Wire({0x80, 12}), true, L"www.example.com", 2},
        {"pointer to itself", Wire({0xC0, 29}), false, L"", 0},
        {"forward pointer", Wire({0xC0, 31, 0, 0}), false, L"", 0},
        {"label past the end", std::string("\x09short"), false, L"", 0},
        {"pointer cut short", Wire({0xC0}), false, L"", 0},
        {"no final zero", std::string("\3abc"), false, L"", 0},
    };
    for (const auto& c : cases) {
        CDnsBuffer b;
        Load(&b, kPrefix + c.tail);
        b.SetPosition(29);
        std::wstring name;
        EXPECT_EQ(b.ReadName(0, &name), c.ok) << c.what;
        if (c.ok) {
            EXPECT_EQ(name, c.name) << c.what;
            EXPECT_EQ(b.GetPosition(), 29 + c.endAfterTail) << c.what;
        } else {
            EXPECT_EQ(b.GetPosition(), 29) << c.what;
        }
    }
}

TEST(DnsName, LongBackwardChainsAndLoopsEnd) {
    // 40 pointers, each to the one before it: every step leads backwards,
    // the chain is simply too long.
    std::string msg = kPrefix;
    int first = static_cast<int>(msg.size());
    msg += Wire({0xC0, 12});
    for (int i = 1; i < 40; ++i) msg += Wire({0xC0, first + 2 * (i - 1)});
    CDnsBuffer b;
    Load(&b, msg);
    std::wstring name;
    ASSERT_TRUE(b.ReadName(first + 2 * 10, &name));  // 11 pointers
    EXPECT_EQ(name, L"www.example.com");
    EXPECT_FALSE(b.ReadName(first + 2 * 39, &name));  // 40 pointers
    // Two pointers that point at each other.
    std::string loop = kPrefix + Wire({0xC0, 31, 0xC0, 29});
    Load(&b, loop);
    EXPECT_FALSE(b.ReadName(31, &name));
}

std::string Record(const std::string& name, int type, const std::string& data) {
    std::string r = name + Wire({0, type, 0, 1, 0, 0, 0x0e, 0x10, 0, static_cast<int>(data.size())});
    return r + data;
}

std::unique_ptr<CDnsRR> ParseOne(CDnsBuffer* b) {
    CDnsRR head;
    if (!head.Parse(b)) return nullptr;
    auto typed = head.CreateTyped();
    if (!typed || !typed->Parse(b)) return nullptr;
    return typed;
}

TEST(DnsRecords, ReadEachTypeAndRealignToTheDataEnd) {
    const std::string ptr = Wire({0xC0, 12});
    std::string msg = kPrefix + Record(ptr, 1, Wire({10, 1, 2, 3})) +
                      Record(ptr, 5, std::string("\3cdn") + ptr) +
                      // The exchange name is shorter than the data length says.
                      Record(ptr, 15, Wire({0, 10}) + std::string("\4mail\0", 6) + "pad") +
                      Record(ptr, 2, std::string("\3ns1") + ptr) + Record(ptr, 16, "\5hello");
    CDnsBuffer b;
    Load(&b, msg);
    b.SetPosition(29);
    auto a = ParseOne(&b);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->ToString(), L"A Record:\nName=www.example.com\nTTL=3600\nTYPE=1\nA=10.1.2.3\n\n");
    auto cname = ParseOne(&b);
    ASSERT_TRUE(cname);
    EXPECT_EQ(dynamic_cast<CDnsRRCNAME&>(*cname).canonicalName, L"cdn.www.example.com");
    auto mx = ParseOne(&b);
    ASSERT_TRUE(mx);
    EXPECT_EQ(dynamic_cast<CDnsRRMX&>(*mx).exchange, L"mail");
    EXPECT_EQ(dynamic_cast<CDnsRRMX&>(*mx).preference, 10);
    auto ns = ParseOne(&b);
    ASSERT_TRUE(ns);
    EXPECT_EQ(ns->ToString(), L"NS Record:\nName=www.example.com\nTTL=3600\nTYPE=2\nNS=ns1.www.example.com\n");
    auto txt = ParseOne(&b);
    ASSERT_TRUE(txt);
    EXPECT_EQ(dynamic_cast<CDnsRRDefault&>(*txt).data.size(), 6u);
    EXPECT_EQ(b.GetPosition(), b.GetSize());
}

TEST(DnsRecords, ARecordCutShortIsNotMade) {
    const std::string ptr = Wire({0xC0, 12});
    std::string full = kPrefix + Record(ptr, 1, Wire({10, 1, 2, 3}));
    // Every cut inside the record fails it; nothing half-filled comes back.
    for (size_t cut = 29; cut < full.size(); ++cut) {
        CDnsBuffer b;
        Load(&b, full.substr(0, cut));
        b.SetPosition(29);
        EXPECT_FALSE(ParseOne(&b)) << cut;
    }
}

}  // namespace
