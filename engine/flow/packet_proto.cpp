#include "engine/flow/packet_proto.h"

#include <cstdlib>
#include <cstring>

#include "engine/base/blog.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_PacketProtoDecoder

// ---- encoder ----

namespace {

void EncoderOutputRecv(void* user, uint8_t* buffer) {
    auto* o = static_cast<PacketProtoEncoder*>(user);
    o->out_buf = buffer;
    PacketSource_Receiver_Recv(o->input, buffer + PACKETPROTO_HEADER_LEN);
}

void EncoderInputDone(void* user, int len) {
    auto* o = static_cast<PacketProtoEncoder*>(user);
    o->out_buf[0] = static_cast<uint8_t>(len & 0xFF);
    o->out_buf[1] = static_cast<uint8_t>(len >> 8);
    PacketSource_Done(&o->output, len + PACKETPROTO_HEADER_LEN);
}

}  // namespace

void PacketProtoEncoder_Init(PacketProtoEncoder* o, PacketSource* input, BJobStack* jobs) {
    o->input = input;
    o->out_buf = nullptr;
    PacketSource_Receiver_Init(input, EncoderInputDone, o);
    PacketSource_Init(&o->output, PacketSource_GetMTU(input) + PACKETPROTO_HEADER_LEN, EncoderOutputRecv, o,
                      jobs);
}

void PacketProtoEncoder_Free(PacketProtoEncoder* o) {
    PacketSource_Free(&o->output);
}

PacketSource* PacketProtoEncoder_GetOutput(PacketProtoEncoder* o) {
    return &o->output;
}

// ---- decoder ----

namespace {

void StartReceive(PacketProtoDecoder* o) {
    int free_from = o->buf_start + o->buf_used;
    StreamSource_Receiver_Recv(o->input, o->buf + free_from, o->buf_size - free_from);
}

void Process(PacketProtoDecoder* o) {
    if (o->buf_used >= PACKETPROTO_HEADER_LEN) {
        const uint8_t* p = o->buf + o->buf_start;
        int len = p[0] | (p[1] << 8);
        if (len > o->output_mtu) {
            BLog(BLOG_NOTICE, "error: packet too large");
            o->buf_start = 0;
            o->buf_used = 0;
            StartReceive(o);
            o->handler_error(o->user);
            return;
        }
        if (o->buf_used - PACKETPROTO_HEADER_LEN >= len) {
            uint8_t* payload = o->buf + o->buf_start + PACKETPROTO_HEADER_LEN;
            o->buf_start += PACKETPROTO_HEADER_LEN + len;
            o->buf_used -= PACKETPROTO_HEADER_LEN + len;
            PacketSink_Sender_Send(o->output, payload, len);
            return;  // processing continues when the output is done
        }
    }
    if (o->buf_start + o->buf_used == o->buf_size) {
        std::memmove(o->buf, o->buf + o->buf_start, static_cast<size_t>(o->buf_used));
        o->buf_start = 0;
    }
    StartReceive(o);
}

void DecoderInputDone(void* user, int len) {
    auto* o = static_cast<PacketProtoDecoder*>(user);
    o->buf_used += len;
    Process(o);
}

void DecoderOutputDone(void* user) {
    Process(static_cast<PacketProtoDecoder*>(user));
}

}  // namespace

int PacketProtoDecoder_Init(PacketProtoDecoder* o, StreamSource* input, PacketSink* output, BJobStack*,
                            void* user, PacketProtoDecoder_handler_error handler_error) {
    o->input = input;
    o->output = output;
    o->user = user;
    o->handler_error = handler_error;
    o->output_mtu = PacketSink_GetMTU(output);
    if (o->output_mtu > PACKETPROTO_MAXPAYLOAD) o->output_mtu = PACKETPROTO_MAXPAYLOAD;
    if (o->output_mtu < 0) o->output_mtu = 0;
    o->buf_size = o->output_mtu + PACKETPROTO_HEADER_LEN;
    o->buf_start = 0;
    o->buf_used = 0;
    o->buf = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(o->buf_size)));
    if (!o->buf) return 0;
    StreamSource_Receiver_Init(input, DecoderInputDone, o);
    PacketSink_Sender_Init(output, DecoderOutputDone, o);
    StartReceive(o);
    return 1;
}

void PacketProtoDecoder_Free(PacketProtoDecoder* o) {
    std::free(o->buf);
    o->buf = nullptr;
}
