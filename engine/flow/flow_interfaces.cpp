#include "engine/flow/flow_interfaces.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Calling an interface out of turn is a programming error in the engine.
void Require(bool cond, const char* what) {
    if (!cond) {
        std::fprintf(stderr, "flow interface: %s\n", what);
        std::abort();
    }
}

void OpInit(FlowOp* op, BJobStack* jobs, BJob_handler operation, BJob_handler done, void* owner) {
    op->state = FLOW_STATE_IDLE;
    op->data = nullptr;
    op->len = 0;
    op->done_len = 0;
    BJob_Init(&op->job_operation, jobs, operation, owner);
    BJob_Init(&op->job_done, jobs, done, owner);
}

void OpFree(FlowOp* op) {
    BJob_Free(&op->job_done);
    BJob_Free(&op->job_operation);
}

void OpStart(FlowOp* op, uint8_t* data, int len) {
    Require(op->state == FLOW_STATE_IDLE, "operation started while another is in progress");
    op->data = data;
    op->len = len;
    op->state = FLOW_STATE_PENDING;
    BJob_Set(&op->job_operation);
}

void OpBegin(FlowOp* op) {
    op->state = FLOW_STATE_BUSY;
}

void OpDone(FlowOp* op, int done_len) {
    Require(op->state == FLOW_STATE_BUSY, "done reported without an operation");
    op->done_len = done_len;
    BJob_Unset(&op->job_operation);
    op->state = FLOW_STATE_DONE_PENDING;
    BJob_Set(&op->job_done);
}

void OpFinish(FlowOp* op) {
    op->state = FLOW_STATE_IDLE;
}

// ---- job handlers of each kind ----

void PacketSinkOperation(void* user) {
    auto* i = static_cast<PacketSink*>(user);
    OpBegin(&i->op);
    i->handler_send(i->user_provider, i->op.data, i->op.len);
}

void PacketSinkDone(void* user) {
    auto* i = static_cast<PacketSink*>(user);
    OpFinish(&i->op);
    i->handler_done(i->user_sender);
}

void PacketSourceOperation(void* user) {
    auto* i = static_cast<PacketSource*>(user);
    OpBegin(&i->op);
    i->handler_recv(i->user_provider, i->op.data);
}

void PacketSourceDone(void* user) {
    auto* i = static_cast<PacketSource*>(user);
    OpFinish(&i->op);
    i->handler_done(i->user_receiver, i->op.done_len);
}

void StreamSinkOperation(void* user) {
    auto* i = static_cast<StreamSink*>(user);
    OpBegin(&i->op);
    i->handler_send(i->user_provider, i->op.data, i->op.len);
}

void StreamSinkDone(void* user) {
    auto* i = static_cast<StreamSink*>(user);
    OpFinish(&i->op);
    i->handler_done(i->user_sender, i->op.done_len);
}

void StreamSourceOperation(void* user) {
    auto* i = static_cast<StreamSource*>(user);
    OpBegin(&i->op);
    i->handler_recv(i->user_provider, i->op.data, i->op.len);
}

void StreamSourceDone(void* user) {
    auto* i = static_cast<StreamSource*>(user);
    OpFinish(&i->op);
    i->handler_done(i->user_receiver, i->op.done_len);
}

}  // namespace

// ---- PacketSink ----

void PacketSink_Init(PacketSink* i, int mtu, PacketSink_handler_send handler, void* user, BJobStack* jobs) {
    i->mtu = mtu;
    i->handler_send = handler;
    i->user_provider = user;
    i->handler_done = nullptr;
    i->user_sender = nullptr;
    OpInit(&i->op, jobs, PacketSinkOperation, PacketSinkDone, i);
}

void PacketSink_Free(PacketSink* i) {
    OpFree(&i->op);
}

void PacketSink_Done(PacketSink* i) {
    OpDone(&i->op, 0);
}

int PacketSink_GetMTU(const PacketSink* i) {
    return i->mtu;
}

void PacketSink_Sender_Init(PacketSink* i, PacketSink_handler_done handler, void* user) {
    i->handler_done = handler;
    i->user_sender = user;
}

void PacketSink_Sender_Send(PacketSink* i, uint8_t* data, int len) {
    Require(len >= 0 && len <= i->mtu, "packet larger than the interface's MTU");
    OpStart(&i->op, data, len);
}

int PacketSink_GetState(const PacketSink* i) {
    return i->op.state;
}

// ---- PacketSource ----

void PacketSource_Init(PacketSource* i, int mtu, PacketSource_handler_recv handler, void* user,
                       BJobStack* jobs) {
    i->mtu = mtu;
    i->handler_recv = handler;
    i->user_provider = user;
    i->handler_done = nullptr;
    i->user_receiver = nullptr;
    OpInit(&i->op, jobs, PacketSourceOperation, PacketSourceDone, i);
}

void PacketSource_Free(PacketSource* i) {
    OpFree(&i->op);
}

void PacketSource_Done(PacketSource* i, int len) {
    Require(len >= 0 && len <= i->mtu, "packet larger than the interface's MTU");
    OpDone(&i->op, len);
}

int PacketSource_GetMTU(const PacketSource* i) {
    return i->mtu;
}

void PacketSource_Receiver_Init(PacketSource* i, PacketSource_handler_done handler, void* user) {
    i->handler_done = handler;
    i->user_receiver = user;
}

void PacketSource_Receiver_Recv(PacketSource* i, uint8_t* buffer) {
    OpStart(&i->op, buffer, i->mtu);
}

// ---- StreamSink ----

void StreamSink_Init(StreamSink* i, StreamSink_handler_send handler, void* user, BJobStack* jobs) {
    i->handler_send = handler;
    i->user_provider = user;
    i->handler_done = nullptr;
    i->user_sender = nullptr;
    OpInit(&i->op, jobs, StreamSinkOperation, StreamSinkDone, i);
}

void StreamSink_Free(StreamSink* i) {
    OpFree(&i->op);
}

void StreamSink_Done(StreamSink* i, int len) {
    Require(len > 0 && len <= i->op.len, "stream done with an impossible length");
    OpDone(&i->op, len);
}

void StreamSink_Sender_Init(StreamSink* i, StreamSink_handler_done handler, void* user) {
    i->handler_done = handler;
    i->user_sender = user;
}

void StreamSink_Sender_Send(StreamSink* i, uint8_t* data, int len) {
    Require(len > 0, "empty stream send");
    OpStart(&i->op, data, len);
}

// ---- StreamSource ----

void StreamSource_Init(StreamSource* i, StreamSource_handler_recv handler, void* user, BJobStack* jobs) {
    i->handler_recv = handler;
    i->user_provider = user;
    i->handler_done = nullptr;
    i->user_receiver = nullptr;
    OpInit(&i->op, jobs, StreamSourceOperation, StreamSourceDone, i);
}

void StreamSource_Free(StreamSource* i) {
    OpFree(&i->op);
}

void StreamSource_Done(StreamSource* i, int len) {
    Require(len > 0 && len <= i->op.len, "stream done with an impossible length");
    OpDone(&i->op, len);
}

void StreamSource_Receiver_Init(StreamSource* i, StreamSource_handler_done handler, void* user) {
    i->handler_done = handler;
    i->user_receiver = user;
}

void StreamSource_Receiver_Recv(StreamSource* i, uint8_t* buffer, int avail) {
    Require(avail > 0, "empty stream receive");
    OpStart(&i->op, buffer, avail);
}
