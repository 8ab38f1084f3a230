#include "engine/flow/packet_writer.h"

namespace {

void OutputRecv(void* user, uint8_t* buffer) {
    static_cast<PacketWriter*>(user)->buf = buffer;
}

}  // namespace

void PacketWriter_Init(PacketWriter* o, int mtu, BJobStack* jobs) {
    o->buf = nullptr;
    PacketSource_Init(&o->output, mtu, OutputRecv, o, jobs);
}

void PacketWriter_Free(PacketWriter* o) {
    PacketSource_Free(&o->output);
}

PacketSource* PacketWriter_GetOutput(PacketWriter* o) {
    return &o->output;
}

uint8_t* PacketWriter_StartPacket(PacketWriter* o) {
    return o->buf;
}

void PacketWriter_EndPacket(PacketWriter* o, int len) {
    o->buf = nullptr;
    PacketSource_Done(&o->output, len);
}
