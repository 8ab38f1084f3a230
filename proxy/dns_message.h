#pragma once
// DNS message header and question (RFC 1035): building, encoding, decoding.

#include <cstdint>
#include <string>
#include <vector>

#include "proxy/dns_buffer.h"

struct DnsHeader {
    static constexpr uint16_t kQr = 0x8000;
    static constexpr uint16_t kAa = 0x0400;
    static constexpr uint16_t kRd = 0x0100;
    // The one bit still reserved: AD (0x0020) and CD (0x0010) are valid in replies.
    static constexpr uint16_t kZ = 0x0040;

    uint16_t id = 0;
    uint16_t flags = 0;  // the wire's second word, in host order
    uint16_t questionCount = 0;
    uint16_t answerCount = 0;
    uint16_t authorityCount = 0;
    uint16_t additionalCount = 0;
};

struct DnsQuestion {
    std::vector<std::wstring> labels;
    uint16_t type = 0;
    uint16_t cls = 1;
};

// The record type code of a type text ("A" 1 ... "TXT" 16, any case);
// 0xFFFF for any other text.
uint16_t DnsTypeFromText(const std::wstring& text);

// The labels of `name` (a trailing dot allowed), the type of `typeText` and
// class 1. False for a name that cannot go on the wire: empty, an empty
// label, a label over 63 bytes or a name over 255 bytes (in UTF-8).
bool BuildDnsQuestion(const std::wstring& name, const std::wstring& typeText, DnsQuestion* question);

// Appends the six header words, big-endian.
bool EncodeDnsHeader(const DnsHeader& header, CDnsBuffer* out);
// Reads the six words at the read position; false when the message is shorter.
bool DecodeDnsHeader(CDnsBuffer* buffer, DnsHeader* header);

// Appends the labels, the final 0, the type and the class.
bool EncodeDnsQuestion(const DnsQuestion& question, CDnsBuffer* out);
// Reads a question at the read position (its name is not kept).
bool DecodeDnsQuestion(CDnsBuffer* buffer, DnsQuestion* question);
