#pragma once
// Offers a PacketSource that a module fills by hand: while the receiver has
// asked for a packet, PacketWriter_StartPacket gives its buffer, and
// PacketWriter_EndPacket hands the packet over.

#include "engine/flow/flow_interfaces.h"

struct PacketWriter {
    PacketSource output;
    uint8_t* buf;  // the receiver's buffer, or null when none is offered
};

void PacketWriter_Init(PacketWriter* o, int mtu, BJobStack* jobs);
void PacketWriter_Free(PacketWriter* o);
PacketSource* PacketWriter_GetOutput(PacketWriter* o);
// The buffer to write a packet of at most MTU bytes into, or null.
uint8_t* PacketWriter_StartPacket(PacketWriter* o);
void PacketWriter_EndPacket(PacketWriter* o, int len);
