#pragma once
// Offers a PacketSink whose packets go to an output that can be connected
// and disconnected. Without an output the current packet is held; a newly
// connected output receives it from its start.

#include "engine/flow/flow_interfaces.h"

struct PacketSinkConnector {
    PacketSink input;
    PacketSink* output;  // null when disconnected
    uint8_t* data;
    int len;  // -1: no packet held
};

void PacketSinkConnector_Init(PacketSinkConnector* o, int mtu, BJobStack* jobs);
void PacketSinkConnector_Free(PacketSinkConnector* o);
PacketSink* PacketSinkConnector_GetInput(PacketSinkConnector* o);
void PacketSinkConnector_ConnectOutput(PacketSinkConnector* o, PacketSink* output);
void PacketSinkConnector_DisconnectOutput(PacketSinkConnector* o);
