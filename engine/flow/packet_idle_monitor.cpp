#include "engine/flow/packet_idle_monitor.h"

namespace {

void InputSend(void* user, uint8_t* data, int len) {
    auto* o = static_cast<PacketIdleMonitor*>(user);
    BReactor_StopTimer(o->reactor, &o->timer);
    PacketSink_Sender_Send(o->output, data, len);
}

void OutputDone(void* user) {
    auto* o = static_cast<PacketIdleMonitor*>(user);
    BReactor_RestartTimer(o->reactor, &o->timer);
    PacketSink_Done(&o->input);
}

void TimerFired(void* user) {
    auto* o = static_cast<PacketIdleMonitor*>(user);
    BReactor_RestartTimer(o->reactor, &o->timer);
    o->handler(o->user);
}

}  // namespace

void PacketIdleMonitor_Init(PacketIdleMonitor* o, PacketSink* output, BReactor* reactor, btime_t interval,
                            PacketIdleMonitor_handler_idle handler, void* user) {
    o->output = output;
    o->reactor = reactor;
    o->handler = handler;
    o->user = user;
    PacketSink_Init(&o->input, PacketSink_GetMTU(output), InputSend, o, BReactor_JobStack(reactor));
    PacketSink_Sender_Init(output, OutputDone, o);
    BReactorTimer_Init(&o->timer, interval, TimerFired, o);
    BReactor_RestartTimer(reactor, &o->timer);
}

void PacketIdleMonitor_Free(PacketIdleMonitor* o) {
    BReactor_StopTimer(o->reactor, &o->timer);
    PacketSink_Free(&o->input);
}

PacketSink* PacketIdleMonitor_GetInput(PacketIdleMonitor* o) {
    return &o->input;
}
