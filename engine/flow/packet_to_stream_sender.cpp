#include "engine/flow/packet_to_stream_sender.h"

namespace {

void SendRest(PacketToStreamSender* o) {
    if (o->sent >= o->len) {
        PacketSink_Done(&o->input);
        return;
    }
    StreamSink_Sender_Send(o->output, o->data + o->sent, o->len - o->sent);
}

void InputSend(void* user, uint8_t* data, int len) {
    auto* o = static_cast<PacketToStreamSender*>(user);
    o->data = data;
    o->len = len;
    o->sent = 0;
    SendRest(o);
}

void OutputDone(void* user, int len) {
    auto* o = static_cast<PacketToStreamSender*>(user);
    o->sent += len;
    SendRest(o);
}

}  // namespace

void PacketToStreamSender_Init(PacketToStreamSender* o, StreamSink* output, int mtu, BJobStack* jobs) {
    o->output = output;
    o->data = nullptr;
    o->len = 0;
    o->sent = 0;
    StreamSink_Sender_Init(output, OutputDone, o);
    PacketSink_Init(&o->input, mtu, InputSend, o, jobs);
}

void PacketToStreamSender_Free(PacketToStreamSender* o) {
    PacketSink_Free(&o->input);
}

PacketSink* PacketToStreamSender_GetInput(PacketToStreamSender* o) {
    return &o->input;
}
