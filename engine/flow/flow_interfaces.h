#pragma once
// The four interface kinds through which engine modules pass data. Each is
// owned by the module that offers it (the provider); another module (the
// user) starts one operation at a time and is told when it is done. Both
// halves travel through reactor jobs, never by a direct call, so a module
// never re-enters its partner:
//   user starts      -> state PENDING, operation job set
//   operation job    -> state BUSY, provider's handler called
//   provider's Done  -> state DONE_PENDING, done job set
//   done job         -> state IDLE, user's done handler called
//
//   PacketSink:   push one packet of at most MTU bytes; done reports nothing
//   PacketSource: pull one packet into an MTU-sized buffer; done reports its length
//   StreamSink:   push up to n bytes; done reports how many were taken (1..n)
//   StreamSource: pull up to n bytes; done reports how many arrived (1..n)

#include <cstdint>

#include "engine/system/bjob.h"

enum {
    FLOW_STATE_IDLE = 1,
    FLOW_STATE_PENDING = 2,
    FLOW_STATE_BUSY = 3,
    FLOW_STATE_DONE_PENDING = 4,
};

// The part every interface kind shares.
struct FlowOp {
    int state;
    BJob job_operation;
    BJob job_done;
    uint8_t* data;
    int len;
    int done_len;
};

// ---- PacketSink --------------------------------------------------------------

typedef void (*PacketSink_handler_send)(void* user, uint8_t* data, int len);
typedef void (*PacketSink_handler_done)(void* user);

struct PacketSink {
    int mtu;
    PacketSink_handler_send handler_send;
    void* user_provider;
    PacketSink_handler_done handler_done;
    void* user_sender;
    FlowOp op;
};

void PacketSink_Init(PacketSink* i, int mtu, PacketSink_handler_send handler, void* user, BJobStack* jobs);
void PacketSink_Free(PacketSink* i);
void PacketSink_Done(PacketSink* i);
int PacketSink_GetMTU(const PacketSink* i);
void PacketSink_Sender_Init(PacketSink* i, PacketSink_handler_done handler, void* user);
void PacketSink_Sender_Send(PacketSink* i, uint8_t* data, int len);
int PacketSink_GetState(const PacketSink* i);

// ---- PacketSource ------------------------------------------------------------

typedef void (*PacketSource_handler_recv)(void* user, uint8_t* buffer);
typedef void (*PacketSource_handler_done)(void* user, int len);

struct PacketSource {
    int mtu;
    PacketSource_handler_recv handler_recv;
    void* user_provider;
    PacketSource_handler_done handler_done;
    void* user_receiver;
    FlowOp op;
};

void PacketSource_Init(PacketSource* i, int mtu, PacketSource_handler_recv handler, void* user,
                       BJobStack* jobs);
void PacketSource_Free(PacketSource* i);
void PacketSource_Done(PacketSource* i, int len);
int PacketSource_GetMTU(const PacketSource* i);
void PacketSource_Receiver_Init(PacketSource* i, PacketSource_handler_done handler, void* user);
void PacketSource_Receiver_Recv(PacketSource* i, uint8_t* buffer);

// ---- StreamSink --------------------------------------------------------------

typedef void (*StreamSink_handler_send)(void* user, uint8_t* data, int len);
typedef void (*StreamSink_handler_done)(void* user, int len);

struct StreamSink {
    StreamSink_handler_send handler_send;
    void* user_provider;
    StreamSink_handler_done handler_done;
    void* user_sender;
    FlowOp op;
};

void StreamSink_Init(StreamSink* i, StreamSink_handler_send handler, void* user, BJobStack* jobs);
void StreamSink_Free(StreamSink* i);
void StreamSink_Done(StreamSink* i, int len);
void StreamSink_Sender_Init(StreamSink* i, StreamSink_handler_done handler, void* user);
void StreamSink_Sender_Send(StreamSink* i, uint8_t* data, int len);

// ---- StreamSource ------------------------------------------------------------

typedef void (*StreamSource_handler_recv)(void* user, uint8_t* buffer, int avail);
typedef void (*StreamSource_handler_done)(void* user, int len);

struct StreamSource {
    StreamSource_handler_recv handler_recv;
    void* user_provider;
    StreamSource_handler_done handler_done;
    void* user_receiver;
    FlowOp op;
};

void StreamSource_Init(StreamSource* i, StreamSource_handler_recv handler, void* user, BJobStack* jobs);
void StreamSource_Free(StreamSource* i);
void StreamSource_Done(StreamSource* i, int len);
void StreamSource_Receiver_Init(StreamSource* i, StreamSource_handler_done handler, void* user);
void StreamSource_Receiver_Recv(StreamSource* i, uint8_t* buffer, int avail);
