#pragma once
// Many flows share one PacketSink. Each flow has a virtual time that grows by
// the length of every packet it sends (plus a fixed weight); the queued flow
// with the smallest time sends next, so among busy flows the one that has
// sent the fewest bytes goes first. A flow that was silent is raised to the
// current time when it comes back, so it gains no credit for its silence.

#include "engine/base/bavl.h"
#include "engine/base/linked_list.h"
#include "engine/flow/flow_interfaces.h"

struct PacketFairQueueFlow;

struct PacketFairQueue {
    PacketSink* output;
    BJobStack* jobs;
    int packet_weight;
    PacketFairQueueFlow* sending_flow;
    PacketFairQueueFlow* previous_flow;
    BAVL queued_flows;  // by (time, identity)
    LinkedList flows;   // every flow
    int freeing;
    BJob schedule_job;
};

struct PacketFairQueueFlow {
    PacketFairQueue* m;
    uint64_t time;
    LinkedListNode list_node;
    BAVLNode tree_node;
    int is_queued;
    uint8_t* data;
    int len;
    PacketSink input;
};

int PacketFairQueue_Init(PacketFairQueue* m, PacketSink* output, BJobStack* jobs, int packet_weight);
void PacketFairQueue_Free(PacketFairQueue* m);
// After this, flows may be freed in any state (the output is going away).
void PacketFairQueue_PrepareFree(PacketFairQueue* m);

void PacketFairQueueFlow_Init(PacketFairQueueFlow* flow, PacketFairQueue* m);
void PacketFairQueueFlow_Free(PacketFairQueueFlow* flow);
PacketSink* PacketFairQueueFlow_GetInput(PacketFairQueueFlow* flow);
// Whether the flow's packet is with the output right now.
int PacketFairQueueFlow_IsBusy(const PacketFairQueueFlow* flow);
