#include "proxy/dns_message.h"

#include "foundation/ascii_case.h"
#include "foundation/text_convert.h"

namespace {

constexpr size_t kMaxLabel = 63;
constexpr size_t kMaxName = 255;

const wchar_t* const kTypeNames[] = {L"A",    L"NS",  L"MD",  L"MF",  L"CNAME", L"SOA", L"MB",    L"MG",
                                     L"MR",   L"NULL", L"WKS", L"PTR", L"HINFO", L"MINFO", L"MX", L"TXT"};

}  // namespace

uint16_t DnsTypeFromText(const std::wstring& text) {
    for (size_t i = 0; i < sizeof kTypeNames / sizeof kTypeNames[0]; ++i) {
        if (AsciiEqualsNoCase(text, kTypeNames[i])) return static_cast<uint16_t>(i + 1);
    }
    return 0xFFFF;
}

bool BuildDnsQuestion(const std::wstring& name, const std::wstring& typeText, DnsQuestion* question) {
    question->labels.clear();
    question->type = DnsTypeFromText(typeText);
    question->cls = 1;
    std::wstring rest = name;
    if (!rest.empty() && rest.back() == L'.') rest.pop_back();
    if (rest.empty()) return false;
    size_t wire = 1;
    size_t at = 0;
    for (;;) {
        size_t dot = rest.find(L'.', at);
        std::wstring label = rest.substr(at, dot == std::wstring::npos ? std::wstring::npos : dot - at);
        size_t bytes = WideToUtf8String(label).size();
        if (bytes == 0 || bytes > kMaxLabel) return false;
        wire += bytes + 1;
        if (wire > kMaxName) return false;
        question->labels.push_back(label);
        if (dot == std::wstring::npos) break;
        at = dot + 1;
    }
    return true;
}

bool EncodeDnsHeader(const DnsHeader& header, CDnsBuffer* out) {
    const uint16_t words[6] = {header.id,          header.flags,          header.questionCount,
                               header.answerCount, header.authorityCount, header.additionalCount};
    for (uint16_t w : words) {
        uint8_t b[2] = {static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w)};
        if (!out->Append(2, b)) return false;
    }
    return true;
}

bool DecodeDnsHeader(CDnsBuffer* buffer, DnsHeader* header) {
    int start = buffer->GetPosition();
    uint16_t* words[6] = {&header->id,          &header->flags,          &header->questionCount,
                          &header->answerCount, &header->authorityCount, &header->additionalCount};
    DnsHeader read;
    uint16_t* into[6] = {&read.id,          &read.flags,          &read.questionCount,
                         &read.answerCount, &read.authorityCount, &read.additionalCount};
    for (int i = 0; i < 6; ++i) {
        if (!buffer->ReadUInt16(into[i])) {
            buffer->SetPosition(start);
            return false;
        }
    }
    for (int i = 0; i < 6; ++i) *words[i] = *into[i];
    return true;
}

bool EncodeDnsQuestion(const DnsQuestion& question, CDnsBuffer* out) {
    for (const std::wstring& label : question.labels) {
        std::string bytes = WideToUtf8String(label);
        if (bytes.empty() || bytes.size() > kMaxLabel) return false;
        uint8_t length = static_cast<uint8_t>(bytes.size());
        if (!out->Append(1, &length) || !out->Append(static_cast<int>(bytes.size()), bytes.data())) return false;
    }
    uint8_t tail[5] = {0, static_cast<uint8_t>(question.type >> 8), static_cast<uint8_t>(question.type),
                       static_cast<uint8_t>(question.cls >> 8), static_cast<uint8_t>(question.cls)};
    return out->Append(5, tail) != 0;
}

bool DecodeDnsQuestion(CDnsBuffer* buffer, DnsQuestion* question) {
    int start = buffer->GetPosition();
    std::wstring name;
    uint16_t type, cls;
    if (!buffer->ReadLabels(0, &name) || !buffer->ReadUInt16(&type) || !buffer->ReadUInt16(&cls)) {
        buffer->SetPosition(start);
        return false;
    }
    question->type = type;
    question->cls = cls;
    return true;
}
