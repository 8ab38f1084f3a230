#include "proxy/dns_records.h"

#include <cwchar>
#include <new>

namespace {

std::wstring Number(long long value) {
    return std::to_wstring(value);
}

}  // namespace

void CDnsRR::CopyHeader(const CDnsRR& other) {
    name = other.name;
    type = other.type;
    cls = other.cls;
    ttl = other.ttl;
    dataLength = other.dataLength;
    dataStart_ = other.dataStart_;
}

bool CDnsRR::SkipToDataEnd(CDnsBuffer* buffer) const {
    int end = dataStart_ + dataLength;
    if (end > buffer->GetSize()) return false;
    buffer->SetPosition(end);
    return true;
}

bool CDnsRR::Parse(CDnsBuffer* buffer) {
    int start = buffer->GetPosition();
    CDnsRR read;
    if (!buffer->ReadName(0, &read.name) || !buffer->ReadUInt16(&read.type) || !buffer->ReadUInt16(&read.cls) ||
        !buffer->ReadUInt32(&read.ttl) || !buffer->ReadUInt16(&read.dataLength)) {
        buffer->SetPosition(start);
        return false;
    }
    read.dataStart_ = buffer->GetPosition();
    CopyHeader(read);
    return true;
}

std::wstring CDnsRR::ToString() const {
    return L"Name=" + name + L"\nTTL=" + Number(static_cast<int32_t>(ttl)) + L"\nTYPE=" + Number(type) + L"\n";
}

void CDnsRR::CopyData(const CDnsRR&) {}

std::unique_ptr<CDnsRR> CDnsRR::CreateTyped() const {
    std::unique_ptr<CDnsRR> typed;
    switch (type) {
        case 1:
            typed.reset(new (std::nothrow) CDnsRRA);
            break;
        case 2:
            typed.reset(new (std::nothrow) CDnsRRNS);
            break;
        case 5:
            typed.reset(new (std::nothrow) CDnsRRCNAME);
            break;
        case 15:
            typed.reset(new (std::nothrow) CDnsRRMX);
            break;
        default:
            typed.reset(new (std::nothrow) CDnsRRDefault);
    }
    if (typed) typed->CopyHeader(*this);
    return typed;
}

// Every data reader ends at the data length, so that a record whose data
// holds more (or less) than its reader takes cannot shift the next record.

bool CDnsRRA::Parse(CDnsBuffer* buffer) {
    uint8_t b[4];
    if (dataLength < 4 || !buffer->ReadBytes(b, 4)) return false;
    wchar_t text[16];
    std::swprintf(text, 16, L"%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    address = text;
    return SkipToDataEnd(buffer);
}

std::wstring CDnsRRA::ToString() const {
    return L"A Record:\n" + CDnsRR::ToString() + L"A=" + address + L"\n\n";
}

void CDnsRRA::CopyData(const CDnsRR& other) {
    if (auto* a = dynamic_cast<const CDnsRRA*>(&other)) address = a->address;
}

bool CDnsRRNS::Parse(CDnsBuffer* buffer) {
    return buffer->ReadName(0, &nameServer) && SkipToDataEnd(buffer);
}

std::wstring CDnsRRNS::ToString() const {
    return L"NS Record:\n" + CDnsRR::ToString() + L"NS=" + nameServer + L"\n";
}

void CDnsRRNS::CopyData(const CDnsRR& other) {
    if (auto* ns = dynamic_cast<const CDnsRRNS*>(&other)) nameServer = ns->nameServer;
}

bool CDnsRRCNAME::Parse(CDnsBuffer* buffer) {
    return buffer->ReadName(0, &canonicalName) && SkipToDataEnd(buffer);
}

std::wstring CDnsRRCNAME::ToString() const {
    return L"CNAME Record:\n" + CDnsRR::ToString() + L"CName=" + canonicalName + L"\n\n";
}

void CDnsRRCNAME::CopyData(const CDnsRR& other) {
    if (auto* c = dynamic_cast<const CDnsRRCNAME*>(&other)) canonicalName = c->canonicalName;
}

bool CDnsRRMX::Parse(CDnsBuffer* buffer) {
    return buffer->ReadUInt16(&preference) && buffer->ReadName(0, &exchange) && SkipToDataEnd(buffer);
}

std::wstring CDnsRRMX::ToString() const {
    return L"MX Record\n" + CDnsRR::ToString() + L"Preference=" + Number(preference) + L"\nExchange=" + exchange +
           L"\n\n";
}

void CDnsRRMX::CopyData(const CDnsRR& other) {
    if (auto* mx = dynamic_cast<const CDnsRRMX*>(&other)) {
        preference = mx->preference;
        exchange = mx->exchange;
    }
}

bool CDnsRRDefault::Parse(CDnsBuffer* buffer) {
    data.resize(dataLength);
    return buffer->ReadBytes(data.data(), dataLength);
}

void CDnsRRDefault::CopyData(const CDnsRR& other) {
    if (auto* d = dynamic_cast<const CDnsRRDefault*>(&other)) data = d->data;
}
