#include "engine/flow/packet_sink_connector.h"

namespace {

void InputSend(void* user, uint8_t* data, int len) {
    auto* o = static_cast<PacketSinkConnector*>(user);
    o->data = data;
    o->len = len;
    if (o->output) PacketSink_Sender_Send(o->output, data, len);
}

void OutputDone(void* user) {
    auto* o = static_cast<PacketSinkConnector*>(user);
    o->len = -1;
    PacketSink_Done(&o->input);
}

}  // namespace

void PacketSinkConnector_Init(PacketSinkConnector* o, int mtu, BJobStack* jobs) {
    o->output = nullptr;
    o->data = nullptr;
    o->len = -1;
    PacketSink_Init(&o->input, mtu, InputSend, o, jobs);
}

void PacketSinkConnector_Free(PacketSinkConnector* o) {
    PacketSink_Free(&o->input);
}

PacketSink* PacketSinkConnector_GetInput(PacketSinkConnector* o) {
    return &o->input;
}

void PacketSinkConnector_ConnectOutput(PacketSinkConnector* o, PacketSink* output) {
    o->output = output;
    PacketSink_Sender_Init(output, OutputDone, o);
    if (o->len >= 0) PacketSink_Sender_Send(output, o->data, o->len);
}

void PacketSinkConnector_DisconnectOutput(PacketSinkConnector* o) {
    o->output = nullptr;
}
