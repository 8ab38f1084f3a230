#pragma once
// Passes packets through to a PacketSink and calls a handler after every
// interval in which no packet was sent and none was in transit.

#include "engine/flow/flow_interfaces.h"
#include "engine/system/breactor.h"

typedef void (*PacketIdleMonitor_handler_idle)(void* user);

struct PacketIdleMonitor {
    PacketSink* output;
    BReactor* reactor;
    PacketIdleMonitor_handler_idle handler;
    void* user;
    PacketSink input;
    BReactorTimer timer;
};

void PacketIdleMonitor_Init(PacketIdleMonitor* o, PacketSink* output, BReactor* reactor, btime_t interval,
                            PacketIdleMonitor_handler_idle handler, void* user);
void PacketIdleMonitor_Free(PacketIdleMonitor* o);
PacketSink* PacketIdleMonitor_GetInput(PacketIdleMonitor* o);
