#include "engine/flow/single_packet_buffer.h"

#include <cstdlib>

namespace {

void InputDone(void* user, int len) {
    auto* o = static_cast<SinglePacketBuffer*>(user);
    PacketSink_Sender_Send(o->output, o->buf, len);
}

void OutputDone(void* user) {
    auto* o = static_cast<SinglePacketBuffer*>(user);
    PacketSource_Receiver_Recv(o->input, o->buf);
}

}  // namespace

int SinglePacketBuffer_Init(SinglePacketBuffer* o, PacketSource* input, PacketSink* output, BJobStack*) {
    o->input = input;
    o->output = output;
    int mtu = PacketSource_GetMTU(input);
    o->buf = static_cast<uint8_t*>(std::malloc(mtu > 0 ? static_cast<size_t>(mtu) : 1));
    if (!o->buf) return 0;
    PacketSource_Receiver_Init(input, InputDone, o);
    PacketSink_Sender_Init(output, OutputDone, o);
    PacketSource_Receiver_Recv(input, o->buf);
    return 1;
}

void SinglePacketBuffer_Free(SinglePacketBuffer* o) {
    std::free(o->buf);
    o->buf = nullptr;
}
