#pragma once
// Offers a PacketSink and writes each packet whole into a StreamSink,
// however many sends the stream needs.

#include "engine/flow/flow_interfaces.h"

struct PacketToStreamSender {
    StreamSink* output;
    PacketSink input;
    uint8_t* data;
    int len;
    int sent;
};

void PacketToStreamSender_Init(PacketToStreamSender* o, StreamSink* output, int mtu, BJobStack* jobs);
void PacketToStreamSender_Free(PacketToStreamSender* o);
PacketSink* PacketToStreamSender_GetInput(PacketToStreamSender* o);
