#pragma once
// Packets written by hand, framed with a 2-byte length and buffered (up to
// `count` frames of full size) on their way to a PacketSink.

#include "engine/flow/packet_proto.h"
#include "engine/flow/packet_ring.h"
#include "engine/flow/packet_writer.h"

struct PacketProtoFlow {
    PacketWriter writer;
    PacketProtoEncoder encoder;
    PacketRing ring;
};

int PacketProtoFlow_Init(PacketProtoFlow* o, int input_mtu, int count, PacketSink* output, BJobStack* jobs);
void PacketProtoFlow_Free(PacketProtoFlow* o);
PacketWriter* PacketProtoFlow_GetInput(PacketProtoFlow* o);
