#pragma once
// Length-prefixed framing: each frame is an unsigned 16-bit little-endian
// length followed by that many bytes.

#include "engine/flow/flow_interfaces.h"

#define PACKETPROTO_HEADER_LEN 2
#define PACKETPROTO_MAXPAYLOAD 65535

// Offers a PacketSource of MTU m + 2 that frames the packets of its input (MTU m).
struct PacketProtoEncoder {
    PacketSource* input;
    PacketSource output;
    uint8_t* out_buf;
};

void PacketProtoEncoder_Init(PacketProtoEncoder* o, PacketSource* input, BJobStack* jobs);
void PacketProtoEncoder_Free(PacketProtoEncoder* o);
PacketSource* PacketProtoEncoder_GetOutput(PacketProtoEncoder* o);

// Cuts a byte stream into frames and sends each payload to a PacketSink. A
// frame longer than the sink's MTU is an error: everything buffered is
// dropped, reading goes on, and the error handler is called.
typedef void (*PacketProtoDecoder_handler_error)(void* user);

struct PacketProtoDecoder {
    StreamSource* input;
    PacketSink* output;
    void* user;
    PacketProtoDecoder_handler_error handler_error;
    int output_mtu;
    int buf_size;
    int buf_start;
    int buf_used;
    uint8_t* buf;
};

int PacketProtoDecoder_Init(PacketProtoDecoder* o, StreamSource* input, PacketSink* output, BJobStack* jobs,
                            void* user, PacketProtoDecoder_handler_error handler_error);
void PacketProtoDecoder_Free(PacketProtoDecoder* o);
