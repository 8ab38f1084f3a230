#pragma once
// DNS resource records: the common header, the A, NS, CNAME and MX records
// and a catch-all, and the list that owns them.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "proxy/dns_buffer.h"

class CDnsRR {
public:
    CDnsRR() = default;
    virtual ~CDnsRR() = default;

    // In CDnsRR itself: the record header at the read position. In a
    // subclass: the record data that follows it. False when the message ends
    // inside the record (the record must then not be used); on success the
    // read position stands at the end of the record data.
    virtual bool Parse(CDnsBuffer* buffer);
    virtual std::wstring ToString() const;
    // Copies the type-specific part of `other` (of the same class).
    virtual void CopyData(const CDnsRR& other);

    // The record of the class for this header's type, with the header copied.
    std::unique_ptr<CDnsRR> CreateTyped() const;

    std::wstring name;
    uint16_t type = 0;
    uint16_t cls = 0;
    uint32_t ttl = 0;
    uint16_t dataLength = 0;

protected:
    // Where the data starts, kept by Parse so that the data reader can
    // re-align to its end.
    int dataStart_ = 0;
    void CopyHeader(const CDnsRR& other);
    // Moves the position to the end of the data; false when it lies past the message.
    bool SkipToDataEnd(CDnsBuffer* buffer) const;
};

class CDnsRRA : public CDnsRR {
public:
    bool Parse(CDnsBuffer* buffer) override;
    std::wstring ToString() const override;
    void CopyData(const CDnsRR& other) override;
    std::wstring address;
};

class CDnsRRNS : public CDnsRR {
public:
    bool Parse(CDnsBuffer* buffer) override;
    std::wstring ToString() const override;
    void CopyData(const CDnsRR& other) override;
    std::wstring nameServer;
};

class CDnsRRCNAME : public CDnsRR {
public:
    bool Parse(CDnsBuffer* buffer) override;
    std::wstring ToString() const override;
    void CopyData(const CDnsRR& other) override;
    std::wstring canonicalName;
};

class CDnsRRMX : public CDnsRR {
public:
    bool Parse(CDnsBuffer* buffer) override;
    std::wstring ToString() const override;
    void CopyData(const CDnsRR& other) override;
    uint16_t preference = 0;
    std::wstring exchange;
};

class CDnsRRDefault : public CDnsRR {
public:
    bool Parse(CDnsBuffer* buffer) override;
    void CopyData(const CDnsRR& other) override;
    std::vector<uint8_t> data;
};

// Records in reply order; the list owns them.
class CDnsRRPtrList {
public:
    void Add(std::unique_ptr<CDnsRR> record) { records_.push_back(std::move(record)); }
    void RemoveAll() { records_.clear(); }
    bool IsEmpty() const { return records_.empty(); }
    size_t GetCount() const { return records_.size(); }
    auto begin() const { return records_.begin(); }
    auto end() const { return records_.end(); }

private:
    std::vector<std::unique_ptr<CDnsRR>> records_;
};
