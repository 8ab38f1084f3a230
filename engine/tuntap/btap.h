#pragma once
// The engine's TUN device. The device specification is
//   "tap0901:NAME:LOCAL:NETWORK:NETMASK"
// where the tag must be "tap0901", NAME is an existing TUN-mode interface of
// the engine's network namespace, and the three dotted-quad addresses form
// the TUN configuration block, which is parsed and logged but not applied
// (addresses belong to the network configuration). The device is a packet
// source (reads through the reactor) and a packet sink (BTap_WritePacket,
// complete when it returns). Unless the environment sets
// CENDROW_TUN_OFFLOAD=0, the kernel is asked to hand over IPv4 TCP bursts as
// one packet; where it refuses, packets come one by one (logged once).

#include <cstdint>

#include "engine/flow/flow_interfaces.h"
#include "engine/system/breactor.h"
#include "platform/tun_device.h"

#define BTAP_COMPONENT_ID "tap0901"

typedef void (*BTap_handler_error)(void* user);

// The TUN configuration block, addresses in network byte order.
struct BTapTunConfig {
    uint8_t local[4];
    uint8_t remote_network[4];
    uint8_t netmask[4];
};

struct BTap {
    BReactor* reactor;
    BTap_handler_error handler_error;
    void* handler_error_user;
    int frame_mtu;
    int read_mtu;  // the frame MTU, or with the TCP offload the largest IPv4 packet
    int offload;   // the kernel hands over TCP bursts whole
    int read_checksum_trusted;  // the packet being handled: the kernel vouches for its TCP checksum
    int fd;
    BReactorFd rfd;
    BReactorOp write_op;
    BReactorOp read_op;
    PacketSource output;
    uint8_t* output_packet;  // the buffer of the read in progress, or null
    uint8_t read_header[kTunPacketHeaderSize];
    uint8_t write_header[kTunPacketHeaderSize];
    const uint8_t* write_data;
    int write_len;
    BTapTunConfig tun_config;
};

int BTap_Init(BTap* o, BReactor* reactor, const char* devspec, BTap_handler_error handler_error, void* user);
void BTap_Free(BTap* o);
int BTap_GetFrameMtu(const BTap* o);
// The largest packet a read can deliver.
int BTap_GetReadMtu(const BTap* o);
// Reads the next packet into `buf` (BTap_GetReadMtu bytes) at once, outside
// the reactor, while no read through it is in progress: its length, or -1
// when none is ready (or that read is in progress).
int BTap_ReadNow(BTap* o, uint8_t* buf);
// Whether the packet just read (valid while it is handled) is an IPv4 TCP
// packet whose checksum the kernel left unfilled because it made the packet
// itself: a burst of segments joined into one, or one segment of its own.
int BTap_ReadChecksumTrusted(const BTap* o);
PacketSource* BTap_GetOutput(BTap* o);
// Writes one packet; errors are logged and the packet dropped.
void BTap_WritePacket(BTap* o, const uint8_t* data, int len);
// Writes one IPv4 TCP packet that stands for a series of segments of
// `segment_size` payload bytes (see TunDevice_TcpSegmentsHeader); the kernel
// delivers it as those segments. 1 when written, 0 when the device refused
// it (logged).
int BTap_WriteTcpSegments(BTap* o, const uint8_t* data, int len, int ip_header_len, int headers_len,
                          int segment_size);

// Splits `text` into `n` fields at ':' (the last field is the rest); on
// success the caller frees each field with free(). 1 or 0.
int split_spec(int n, const char* text, char** out);
// "a.b.c.d", each part 1 to 3 decimal digits (leading zeros skipped) up to 255.
int tap_parse_ipv4(const char* text, size_t len, uint8_t* out);
