#include "engine/system/bjob.h"

void BJob_Init(BJob* job, BJobStack* stack, BJob_handler handler, void* user) {
    job->stack = stack;
    job->handler = handler;
    job->user = user;
    job->node.prev = job->node.next = nullptr;
    job->is_set = 0;
}

void BJob_Free(BJob* job) {
    BJob_Unset(job);
}

void BJob_Set(BJob* job) {
    if (job->is_set) LinkedList_Remove(&job->stack->jobs, &job->node);
    LinkedList_Append(&job->stack->jobs, &job->node);
    job->is_set = 1;
}

void BJob_Unset(BJob* job) {
    if (!job->is_set) return;
    LinkedList_Remove(&job->stack->jobs, &job->node);
    job->is_set = 0;
}

int BJob_IsSet(const BJob* job) {
    return job->is_set;
}
