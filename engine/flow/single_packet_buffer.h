#pragma once
// Moves packets from a source to a sink through one buffer: receive, send,
// and receive again only when the sink is done, so exactly one packet is in
// the buffer or in transit at any time.

#include "engine/flow/flow_interfaces.h"

struct SinglePacketBuffer {
    PacketSource* input;
    PacketSink* output;
    uint8_t* buf;
};

int SinglePacketBuffer_Init(SinglePacketBuffer* o, PacketSource* input, PacketSink* output, BJobStack* jobs);
void SinglePacketBuffer_Free(SinglePacketBuffer* o);
