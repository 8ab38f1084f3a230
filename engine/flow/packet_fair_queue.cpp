#include "engine/flow/packet_fair_queue.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

int CompareFlows(void*, const void* a, const void* b) {
    // The key is the flow's time field; ties by identity (the key's address).
    auto ta = *static_cast<const uint64_t*>(a), tb = *static_cast<const uint64_t*>(b);
    if (ta != tb) return ta < tb ? -1 : 1;
    auto pa = reinterpret_cast<uintptr_t>(a), pb = reinterpret_cast<uintptr_t>(b);
    return (pa > pb) - (pa < pb);
}

PacketFairQueueFlow* FirstQueued(PacketFairQueue* m) {
    BAVLNode* n = BAVL_GetFirst(&m->queued_flows);
    return n ? BAVL_ENTRY(n, PacketFairQueueFlow, tree_node) : nullptr;
}

uint64_t CurrentTime(PacketFairQueue* m) {
    if (m->sending_flow) return m->sending_flow->time;
    PacketFairQueueFlow* first = FirstQueued(m);
    bool have = false;
    uint64_t t = 0;
    if (first) {
        t = first->time;
        have = true;
    }
    if (m->previous_flow && (!have || m->previous_flow->time < t)) t = m->previous_flow->time;
    return t;
}

void Schedule(PacketFairQueue* m) {
    PacketFairQueueFlow* flow = FirstQueued(m);
    BAVL_Remove(&m->queued_flows, &flow->tree_node);
    flow->is_queued = 0;
    m->sending_flow = flow;
    PacketSink_Sender_Send(m->output, flow->data, flow->len);
}

void ScheduleJob(void* user) {
    auto* m = static_cast<PacketFairQueue*>(user);
    m->previous_flow = nullptr;
    if (!m->sending_flow && !BAVL_IsEmpty(&m->queued_flows)) Schedule(m);
}

void FlowSend(void* user, uint8_t* data, int len) {
    auto* flow = static_cast<PacketFairQueueFlow*>(user);
    PacketFairQueue* m = flow->m;
    if (flow == m->previous_flow) {
        m->previous_flow = nullptr;  // keeps its time
    } else {
        uint64_t now = CurrentTime(m);
        if (flow->time < now) flow->time = now;
    }
    flow->data = data;
    flow->len = len;
    BAVL_Insert(&m->queued_flows, &flow->tree_node, nullptr);
    flow->is_queued = 1;
    if (!m->sending_flow && !BJob_IsSet(&m->schedule_job)) Schedule(m);
}

// Charges `amount` to `flow`, shifting every time down first when the sum
// would pass the largest value.
void Charge(PacketFairQueue* m, PacketFairQueueFlow* flow, uint64_t amount) {
    if (flow->time > UINT64_MAX - amount) {
        PacketFairQueueFlow* first = FirstQueued(m);
        uint64_t subtract = first ? first->time : flow->time;
        for (LinkedListNode* n = m->flows.first; n; n = n->next) {
            auto* f = LINKED_LIST_ENTRY(n, PacketFairQueueFlow, list_node);
            if (f == flow) continue;
            f->time = f->time < subtract ? 0 : f->time - subtract;
        }
        flow->time -= subtract;  // may wrap; the addition below makes it right
    }
    flow->time += amount;
}

void OutputDone(void* user) {
    auto* m = static_cast<PacketFairQueue*>(user);
    PacketFairQueueFlow* flow = m->sending_flow;
    m->sending_flow = nullptr;
    m->previous_flow = flow;
    Charge(m, flow, static_cast<uint64_t>(flow->len) + static_cast<uint64_t>(m->packet_weight));
    BJob_Set(&m->schedule_job);
    PacketSink_Done(&flow->input);
}

}  // namespace

int PacketFairQueue_Init(PacketFairQueue* m, PacketSink* output, BJobStack* jobs, int packet_weight) {
    int mtu = PacketSink_GetMTU(output);
    if (packet_weight <= 0 || mtu < 0) return 0;
    if (static_cast<uint64_t>(mtu) > UINT64_MAX - static_cast<uint64_t>(packet_weight)) return 0;
    m->output = output;
    m->jobs = jobs;
    m->packet_weight = packet_weight;
    m->sending_flow = nullptr;
    m->previous_flow = nullptr;
    BAVL_Init(&m->queued_flows, BAVL_KEY_OFFSET(PacketFairQueueFlow, tree_node, time), CompareFlows, nullptr);
    LinkedList_Init(&m->flows);
    m->freeing = 0;
    BJob_Init(&m->schedule_job, jobs, ScheduleJob, m);
    PacketSink_Sender_Init(output, OutputDone, m);
    return 1;
}

void PacketFairQueue_Free(PacketFairQueue* m) {
    BJob_Free(&m->schedule_job);
}

void PacketFairQueue_PrepareFree(PacketFairQueue* m) {
    m->freeing = 1;
}

void PacketFairQueueFlow_Init(PacketFairQueueFlow* flow, PacketFairQueue* m) {
    flow->m = m;
    flow->time = 0;
    flow->is_queued = 0;
    flow->data = nullptr;
    flow->len = 0;
    LinkedList_Append(&m->flows, &flow->list_node);
    PacketSink_Init(&flow->input, PacketSink_GetMTU(m->output), FlowSend, flow, m->jobs);
}

void PacketFairQueueFlow_Free(PacketFairQueueFlow* flow) {
    PacketFairQueue* m = flow->m;
    if (flow == m->sending_flow && !m->freeing) {
        std::fprintf(stderr, "PacketFairQueueFlow_Free: flow is sending\n");
        std::abort();
    }
    if (flow == m->sending_flow) m->sending_flow = nullptr;
    if (flow == m->previous_flow) m->previous_flow = nullptr;
    if (flow->is_queued) BAVL_Remove(&m->queued_flows, &flow->tree_node);
    LinkedList_Remove(&m->flows, &flow->list_node);
    PacketSink_Free(&flow->input);
}

PacketSink* PacketFairQueueFlow_GetInput(PacketFairQueueFlow* flow) {
    return &flow->input;
}

int PacketFairQueueFlow_IsBusy(const PacketFairQueueFlow* flow) {
    return flow == flow->m->sending_flow;
}
