#include "engine/flow/packet_ring.h"

#include <climits>
#include <cstdlib>

namespace {

int BlocksFor(int len) {
    return (len + 3) / 4;
}

uint8_t* DataAt(PacketRing* o, int pos) {
    return reinterpret_cast<uint8_t*>(&o->blocks[pos + 1]);
}

// Reserves room for a full-size packet and asks the input for one.
void TryReceive(PacketRing* o) {
    if (o->receiving) return;
    int need = 1 + o->packet_blocks;
    if (o->wrap_at < 0) {
        if (o->num_blocks - o->wr < need) {
            if (o->stored == 0) {
                o->rd = o->wr = 0;  // empty: start over at the beginning
            } else if (o->rd >= need) {
                o->wrap_at = o->wr;
                o->wr = 0;
            } else {
                return;
            }
        }
    } else if (o->rd - o->wr < need) {
        return;
    }
    o->receiving = 1;
    PacketSource_Receiver_Recv(o->input, DataAt(o, o->wr));
}

void TrySend(PacketRing* o) {
    if (o->sending || o->stored == 0) return;
    if (o->rd == o->wrap_at) {
        o->rd = 0;
        o->wrap_at = -1;
    }
    o->sending = 1;
    PacketSink_Sender_Send(o->output, DataAt(o, o->rd), static_cast<int>(o->blocks[o->rd]));
}

void InputDone(void* user, int len) {
    auto* o = static_cast<PacketRing*>(user);
    o->receiving = 0;
    o->blocks[o->wr] = static_cast<uint32_t>(len);
    o->wr += 1 + BlocksFor(len);
    o->stored++;
    TrySend(o);
    TryReceive(o);
}

void OutputDone(void* user) {
    auto* o = static_cast<PacketRing*>(user);
    o->sending = 0;
    o->rd += 1 + BlocksFor(static_cast<int>(o->blocks[o->rd]));
    o->stored--;
    if (o->rd == o->wrap_at) {
        o->rd = 0;
        o->wrap_at = -1;
    }
    TrySend(o);
    TryReceive(o);
}

}  // namespace

int PacketRing_Init(PacketRing* o, PacketSource* input, PacketSink* output, int count, BJobStack*) {
    o->input = input;
    o->output = output;
    int mtu = PacketSource_GetMTU(input);
    if (mtu < 0 || count < 0) return 0;
    o->packet_blocks = BlocksFor(mtu);
    long long blocks = (static_cast<long long>(count) + 1) * (o->packet_blocks + 1);
    if (blocks > INT_MAX / 4) return 0;
    o->num_blocks = static_cast<int>(blocks);
    o->blocks = static_cast<uint32_t*>(std::malloc(static_cast<size_t>(o->num_blocks) * sizeof(uint32_t)));
    if (!o->blocks) return 0;
    o->rd = o->wr = 0;
    o->wrap_at = -1;
    o->stored = 0;
    o->receiving = 0;
    o->sending = 0;
    PacketSource_Receiver_Init(input, InputDone, o);
    PacketSink_Sender_Init(output, OutputDone, o);
    TryReceive(o);
    return 1;
}

void PacketRing_Free(PacketRing* o) {
    std::free(o->blocks);
    o->blocks = nullptr;
}
