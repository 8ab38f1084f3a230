#pragma once
// A growable byte buffer with a read position, and its DNS reader: the
// message being built for a query, then the reply being read. Every read
// stays inside the used size; a field that does not fit is not read and the
// read reports failure.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CNeuroBuffer {
public:
    static constexpr int kGrowthBlock = 64;

    CNeuroBuffer() = default;
    virtual ~CNeuroBuffer() = default;
    CNeuroBuffer(const CNeuroBuffer&) = delete;
    CNeuroBuffer& operator=(const CNeuroBuffer&) = delete;

    // Capacity becomes the next multiple of the growth block above `wanted`
    // (64 -> 128), keeping the content. 0 when memory is short (unchanged).
    int Grow(int wanted);
    // Appends `count` bytes; 0 when memory is short (unchanged).
    int Append(int count, const void* bytes);
    // A fresh block for a message of `size` bytes (the used size becomes
    // `size`, as much old content kept as fits, the position back at 0).
    // Null when the block cannot be had: the buffer is then empty, and the
    // caller must not receive into it.
    uint8_t* SetSize(int size);
    // Empties the buffer and rewinds it.
    void Clear();

    const uint8_t* GetData() const { return data_.get(); }
    uint8_t* GetData() { return data_.get(); }
    int GetCapacity() const { return capacity_; }
    int GetSize() const { return size_; }
    int GetPosition() const { return position_; }
    void SetPosition(int position) { position_ = position; }

    // Big-endian fields at the read position; false (nothing moved) when the
    // field does not lie wholly inside the used size.
    bool ReadUInt8(uint8_t* value);
    bool ReadUInt16(uint16_t* value);
    bool ReadUInt32(uint32_t* value);
    bool ReadBytes(void* out, int count);
    void AppendUInt16(uint16_t value);

protected:
    std::unique_ptr<uint8_t[]> data_;
    int capacity_ = 0;
    int size_ = 0;
    int position_ = 0;
};

class CDnsBuffer : public CNeuroBuffer {
public:
    // Longest name on the wire (length bytes and the final 0 included).
    static constexpr int kMaxNameLength = 255;
    // Compression pointers followed for one name at most.
    static constexpr int kMaxPointers = 16;

    // A possibly compressed name, read at `offset` (0: at the read position,
    // which then moves past the name's own bytes, i.e. up to its final 0 or
    // just after its first pointer). Labels are UTF-8, joined by ".", without
    // a trailing dot. Only pointers that lead backwards are followed, at most
    // kMaxPointers of them. False (position unchanged) for a name that runs
    // past the end, loops, points forward or is longer than 255 bytes.
    virtual bool ReadName(int offset, std::wstring* name);
    // The same without compression: every non-zero byte is a label length.
    virtual bool ReadLabels(int offset, std::wstring* name);

private:
    bool ReadNameAt(int start, bool pointers, std::wstring* name, int* end);
};
