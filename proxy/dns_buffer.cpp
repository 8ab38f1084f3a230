#include "proxy/dns_buffer.h"

#include <cstring>
#include <new>

#include "foundation/text_convert.h"

int CNeuroBuffer::Grow(int wanted) {
    if (wanted < 0) return 0;
    int64_t capacity = static_cast<int64_t>(kGrowthBlock) * (wanted / kGrowthBlock + 1);
    if (capacity > INT32_MAX) return 0;
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[capacity]());
    if (!grown) return 0;
    if (size_ > 0) std::memcpy(grown.get(), data_.get(), static_cast<size_t>(size_));
    data_ = std::move(grown);
    capacity_ = static_cast<int>(capacity);
    return 1;
}

int CNeuroBuffer::Append(int count, const void* bytes) {
    if (count < 0 || (count > 0 && bytes == nullptr)) return 0;
    if (static_cast<int64_t>(size_) + count > INT32_MAX - kGrowthBlock) return 0;
    if (capacity_ < size_ + count && !Grow(size_ + count)) return 0;
    if (count > 0) std::memcpy(data_.get() + size_, bytes, static_cast<size_t>(count));
    size_ += count;
    return 1;
}

uint8_t* CNeuroBuffer::SetSize(int size) {
    std::unique_ptr<uint8_t[]> block;
    if (size >= 0 && size <= INT32_MAX - kGrowthBlock) {
        block.reset(new (std::nothrow) uint8_t[kGrowthBlock * (size / kGrowthBlock + 1)]());
    }
    if (!block) {
        Clear();
        return nullptr;
    }
    int keep = size_ < size ? size_ : size;
    if (keep > 0) std::memcpy(block.get(), data_.get(), static_cast<size_t>(keep));
    data_ = std::move(block);
    capacity_ = kGrowthBlock * (size / kGrowthBlock + 1);
    size_ = size;
    position_ = 0;
    return data_.get();
}

void CNeuroBuffer::Clear() {
    data_.reset();
    capacity_ = 0;
    size_ = 0;
    position_ = 0;
}

bool CNeuroBuffer::ReadBytes(void* out, int count) {
    if (count < 0 || position_ < 0 || position_ > size_ || size_ - position_ < count) return false;
    if (count > 0) std::memcpy(out, data_.get() + position_, static_cast<size_t>(count));
    position_ += count;
    return true;
}

bool CNeuroBuffer::ReadUInt8(uint8_t* value) {
    return ReadBytes(value, 1);
}

bool CNeuroBuffer::ReadUInt16(uint16_t* value) {
    uint8_t b[2];
    if (!ReadBytes(b, 2)) return false;
    *value = static_cast<uint16_t>(b[0] << 8 | b[1]);
    return true;
}

bool CNeuroBuffer::ReadUInt32(uint32_t* value) {
    uint8_t b[4];
    if (!ReadBytes(b, 4)) return false;
    *value = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
             static_cast<uint32_t>(b[2]) << 8 | b[3];
    return true;
}

void CNeuroBuffer::AppendUInt16(uint16_t value) {
    uint8_t b[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    Append(2, b);
}

bool CDnsBuffer::ReadNameAt(int start, bool pointers, std::wstring* name, int* end) {
    std::string text;
    int pos = start;
    int wireLength = 1;  // the final 0
    int jumps = 0;
    *end = -1;
    for (;;) {
        if (pos < 0 || pos >= size_) return false;
        uint8_t c = data_[pos];
        if (c == 0) {
            if (*end < 0) *end = pos + 1;
            break;
        }
        if (pointers && (c & 0xC0) != 0) {
            if (pos + 1 >= size_) return false;
            int target = (c & 0x3F) << 8 | data_[pos + 1];
            // Backward only: a chain can then never come round to itself.
            if (target >= pos || ++jumps > kMaxPointers) return false;
            if (*end < 0) *end = pos + 2;
            pos = target;
            continue;
        }
        if (pos + 1 + c > size_) return false;
        wireLength += 1 + c;
        if (wireLength > kMaxNameLength) return false;
        text.append(reinterpret_cast<const char*>(data_.get()) + pos + 1, c);
        text.push_back('.');
        pos += 1 + c;
    }
    if (!text.empty()) text.pop_back();
    *name = Utf8ToWideString(text);
    return true;
}

bool CDnsBuffer::ReadName(int offset, std::wstring* name) {
    int end;
    if (!ReadNameAt(offset != 0 ? offset : position_, true, name, &end)) return false;
    if (offset == 0) position_ = end;
    return true;
}

bool CDnsBuffer::ReadLabels(int offset, std::wstring* name) {
    int end;
    if (!ReadNameAt(offset != 0 ? offset : position_, false, name, &end)) return false;
    if (offset == 0) position_ = end;
    return true;
}
