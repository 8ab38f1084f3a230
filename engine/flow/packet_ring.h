#pragma once
// A FIFO of packets between a source and a sink, stored in a ring of 4-byte
// blocks: a length block, then the packet's data blocks, contiguous. The
// source is asked for the next packet only when room for a packet of its
// full MTU follows; when the end of the ring is too short for that, writing
// continues at the start. Sized so that `count` packets of full size fit.

#include "engine/flow/flow_interfaces.h"

struct PacketRing {
    PacketSource* input;
    PacketSink* output;
    int packet_blocks;  // data blocks of a full-size packet
    int num_blocks;
    uint32_t* blocks;
    int rd;         // length block of the oldest packet
    int wr;         // length block of the next packet
    int wrap_at;    // where the reader jumps back to 0, or -1
    int stored;     // packets stored, the one being sent included
    int receiving;  // the input is filling the block at wr
    int sending;    // the oldest packet is with the output
};

int PacketRing_Init(PacketRing* o, PacketSource* input, PacketSink* output, int count, BJobStack* jobs);
void PacketRing_Free(PacketRing* o);
