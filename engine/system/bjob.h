#pragma once
// Pending jobs: the engine's way of running an action later on the engine
// thread instead of calling it directly. A job is set on a job stack; the
// reactor runs every set job, the one set last first, before it looks at
// timers or I/O. A job that is set again moves to the top.

#include "engine/base/linked_list.h"

typedef void (*BJob_handler)(void* user);

struct BJobStack {
    LinkedList jobs;  // the job set last is at the end
};

struct BJob {
    BJobStack* stack;
    BJob_handler handler;
    void* user;
    LinkedListNode node;
    int is_set;
};

void BJob_Init(BJob* job, BJobStack* stack, BJob_handler handler, void* user);
void BJob_Free(BJob* job);
// Puts the job on top of the stack (moving it there when it is set already).
void BJob_Set(BJob* job);
void BJob_Unset(BJob* job);
int BJob_IsSet(const BJob* job);
