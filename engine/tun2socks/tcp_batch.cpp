#include "engine/tun2socks/tcp_batch.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kIpHeader = TCP_BATCH_IP_HEADER;
constexpr int kHeaders = TCP_BATCH_HEADERS;
constexpr int kTcpHeader = kHeaders - kIpHeader;
constexpr uint8_t kFin = 0x01, kSyn = 0x02, kRst = 0x04, kPsh = 0x08, kAck = 0x10, kUrg = 0x20;

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
uint32_t Get32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

uint16_t Fold(uint32_t sum) {
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(sum);
}

uint32_t SumWords(const uint8_t* p, int n) {
    uint32_t sum = 0;
    for (int i = 0; i + 1 < n; i += 2) sum += Get16(p + i);
    return sum;
}

// Same connection, acknowledgement, window and IP fields (TOS, flags, TTL).
bool SameStream(const uint8_t* a, const uint8_t* b) {
    return a[1] == b[1] && std::memcmp(a + 6, b + 6, 4) == 0 && std::memcmp(a + 12, b + 12, 8) == 0 &&
           std::memcmp(a + kIpHeader, b + kIpHeader, 4) == 0 &&          // ports
           std::memcmp(a + kIpHeader + 8, b + kIpHeader + 8, 4) == 0 &&  // acknowledgement
           std::memcmp(a + kIpHeader + 14, b + kIpHeader + 14, 2) == 0;  // window
}

}  // namespace

int TcpBatch_Init(TcpBatch* b) {
    b->buf = static_cast<uint8_t*>(std::malloc(TCP_BATCH_MAX));
    b->len = 0;
    b->segments = 0;
    return b->buf != nullptr;
}

void TcpBatch_Free(TcpBatch* b) {
    std::free(b->buf);
    b->buf = nullptr;
    b->len = 0;
}

int TcpBatch_Eligible(const uint8_t* p, int len) {
    if (len <= kHeaders || p[0] != 0x45 || p[9] != 6 || Get16(p + 2) != len) return 0;
    if ((Get16(p + 6) & 0x3FFF) != 0) return 0;  // a fragment
    if ((p[kIpHeader + 12] >> 4) != kTcpHeader / 4) return 0;
    uint8_t flags = p[kIpHeader + 13];
    return (flags & kAck) && !(flags & (kFin | kSyn | kRst | kUrg));
}

int TcpBatch_Add(TcpBatch* b, const uint8_t* p, int len) {
    int payload = len - kHeaders;
    uint32_t seq = Get32(p + kIpHeader + 4);
    if (b->len == 0) {
        std::memcpy(b->buf, p, static_cast<size_t>(len));
        b->len = len;
        b->segments = 1;
        b->segment_size = payload;
        b->last_payload = payload;
        b->next_seq = seq + static_cast<uint32_t>(payload);
        return 1;
    }
    if (seq != b->next_seq || b->last_payload != b->segment_size || payload > b->segment_size ||
        b->len + payload > TCP_BATCH_MAX || !SameStream(b->buf, p)) {
        return 0;
    }
    std::memcpy(b->buf + b->len, p + kHeaders, static_cast<size_t>(payload));
    b->len += payload;
    b->buf[kIpHeader + 13] |= p[kIpHeader + 13] & kPsh;
    b->segments += 1;
    b->last_payload = payload;
    b->next_seq = seq + static_cast<uint32_t>(payload);
    return 1;
}

int TcpBatch_Finish(TcpBatch* b, int* out_segments, int* out_segment_size) {
    int len = b->len;
    *out_segments = b->segments;
    *out_segment_size = b->segment_size;
    b->len = 0;
    if (len == 0 || b->segments == 1) return len;
    uint8_t* p = b->buf;
    Put16(p + 2, static_cast<uint16_t>(len));
    Put16(p + 10, 0);
    Put16(p + 10, static_cast<uint16_t>(~Fold(SumWords(p, kIpHeader))));
    uint32_t pseudo = SumWords(p + 12, 8) + 6 + static_cast<uint32_t>(len - kIpHeader);
    Put16(p + kIpHeader + 16, Fold(pseudo));
    return len;
}
