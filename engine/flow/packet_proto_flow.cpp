#include "engine/flow/packet_proto_flow.h"

int PacketProtoFlow_Init(PacketProtoFlow* o, int input_mtu, int count, PacketSink* output, BJobStack* jobs) {
    if (input_mtu < 0 || input_mtu > PACKETPROTO_MAXPAYLOAD) return 0;
    PacketWriter_Init(&o->writer, input_mtu, jobs);
    PacketProtoEncoder_Init(&o->encoder, PacketWriter_GetOutput(&o->writer), jobs);
    if (!PacketRing_Init(&o->ring, PacketProtoEncoder_GetOutput(&o->encoder), output, count, jobs)) {
        PacketProtoEncoder_Free(&o->encoder);
        PacketWriter_Free(&o->writer);
        return 0;
    }
    return 1;
}

void PacketProtoFlow_Free(PacketProtoFlow* o) {
    PacketRing_Free(&o->ring);
    PacketProtoEncoder_Free(&o->encoder);
    PacketWriter_Free(&o->writer);
}

PacketWriter* PacketProtoFlow_GetInput(PacketProtoFlow* o) {
    return &o->writer;
}
