#pragma once
// Consecutive TCP segments that the stack sends on one connection in one
// burst, joined into one large packet that the device hands the kernel
// whole (it stands for the same segments). One write and one pass through
// the kernel's receive path then carry what took a write per segment.

#include <cstdint>

// Largest joined packet: an IPv4 packet's length limit.
#define TCP_BATCH_MAX 65535
// A joined packet's IP header, and its IP and TCP headers together.
#define TCP_BATCH_IP_HEADER 20
#define TCP_BATCH_HEADERS 40

struct TcpBatch {
    uint8_t* buf;  // TCP_BATCH_MAX bytes
    int len;       // 0: empty
    int segments;
    int segment_size;   // payload bytes of the first segment; all but the last are this long
    int last_payload;   // payload bytes of the last segment added
    uint32_t next_seq;  // host order
};

int TcpBatch_Init(TcpBatch* b);
void TcpBatch_Free(TcpBatch* b);

// Whether the packet could be part of a batch: IPv4 without options, TCP
// without options, ACK set, no SYN, FIN, RST or URG, and some payload.
int TcpBatch_Eligible(const uint8_t* packet, int len);
// Adds an eligible packet. 0 when the batch is not empty and the packet does
// not continue it (another connection, a gap, a change of acknowledgement or
// window, a short segment before it, no room): write the batch out first.
int TcpBatch_Add(TcpBatch* b, const uint8_t* packet, int len);
// The batch as one packet, ready to write: lengths and the IP checksum fixed,
// and with more than one segment the TCP checksum field set to the
// pseudo-header sum for the kernel to complete per segment. One segment
// comes out as it went in. Returns the packet's length (0 when empty); the
// batch is empty afterwards, the packet valid until the next Add.
int TcpBatch_Finish(TcpBatch* b, int* out_segments, int* out_segment_size);
