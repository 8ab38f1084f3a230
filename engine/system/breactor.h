#pragma once
// The engine's single-threaded event loop. Pending jobs, timers and I/O
// completions are dispatched one at a time on the engine thread:
//   1. every pending job, the one set last first;
//   2. then one expired timer;
//   3. then one ready completion;
//   4. else wait for descriptors, timers or a wake-up.
//
// I/O follows a completion model on top of epoll. Each descriptor is
// registered once (edge-triggered). An operation tries its system call at
// once and queues the result (data, error, end of stream) as a completion; on
// EAGAIN it is tried again when epoll reports the descriptor ready. A result
// is never delivered from inside the call that starts the operation, because
// the flow framework relies on completions arriving through the loop.
//
// Only BReactor_RequestExit and BReactor_Post may be called from other
// threads; they wake the loop through an eventfd.

#include <atomic>
#include <cstddef>
#include <mutex>

#include "engine/base/bavl.h"
#include "engine/base/btime.h"
#include "engine/base/linked_list.h"
#include "engine/system/bjob.h"

struct BReactor;

// ---- Timers ------------------------------------------------------------------

typedef void (*BReactorTimer_handler)(void* user);

enum {
    BTIMER_STATE_IDLE = 1,
    BTIMER_STATE_RUNNING = 2,
    BTIMER_STATE_EXPIRED = 3,
};

struct BReactorTimer {
    BReactorTimer_handler handler;
    void* user;
    btime_t interval;
    btime_t expiry;  // absolute, on the engine clock
    int state;
    BAVLNode tree_node;
    LinkedListNode expired_node;
};

void BReactorTimer_Init(BReactorTimer* timer, btime_t interval, BReactorTimer_handler handler, void* user);
void BReactorTimer_Free(BReactor* reactor, BReactorTimer* timer);
int BReactorTimer_IsRunning(const BReactorTimer* timer);

// ---- Descriptors and operations ---------------------------------------------

enum {
    BREACTOR_READ = 0,
    BREACTOR_WRITE = 1,
};

enum {
    BREACTOROP_EVENT_SUCCEEDED = 1,
    BREACTOROP_EVENT_FAILED = 2,
    BREACTOROP_EVENT_EXITING = 3,
};

// Results of one try of an operation's system call.
enum {
    BREACTOROP_AGAIN = -1,  // would block; try again when ready
    BREACTOROP_FAILED = 0,  // *out_error holds the errno
    BREACTOROP_DONE = 1,    // *out_bytes holds the result
};

typedef void (*BReactorOp_handler)(void* user, int event, size_t bytes);
typedef int (*BReactorOp_attempt)(void* user, size_t* out_bytes, int* out_error);

struct BReactorOp;

// A descriptor registered with the reactor; one operation per direction.
struct BReactorFd {
    BReactor* reactor;
    int fd;
    BReactorOp* waiting[2];
};

enum {
    BREACTOROP_STATE_IDLE = 0,
    BREACTOROP_STATE_WAITING = 1,  // would block; waiting for the descriptor
    BREACTOROP_STATE_READY = 2,    // result queued, not yet dispatched
};

struct BReactorOp {
    BReactor* reactor;
    void* user;
    BReactorOp_handler handler;
    LinkedListNode list_node;   // the reactor's operation list
    LinkedListNode ready_node;  // the ready list
    int state;
    BReactorFd* fd;
    int dir;
    BReactorOp_attempt attempt;
    void* attempt_user;
    int succeeded;
    size_t bytes;
    int error;  // errno of a failed operation
    // Cross-thread posting (guarded by the reactor's post mutex).
    LinkedListNode posted_node;
    int posted;
    int registered;  // between BReactorOp_Init and BReactorOp_Free
};

// Registers a descriptor (once, edge-triggered); 1 or 0.
int BReactorFd_Init(BReactorFd* rfd, BReactor* reactor, int fd);
// Unregisters it; an operation still waiting on it is dropped.
void BReactorFd_Free(BReactorFd* rfd);
// Hands a registration over to another record (no operation may be waiting);
// the descriptor stays registered. 1 or 0.
int BReactorFd_Move(BReactorFd* to, BReactorFd* from);

void BReactorOp_Init(BReactorOp* op, BReactor* reactor, void* user, BReactorOp_handler handler);
// Drops a started or queued operation and unregisters the slot; freeing an
// op twice (for example after the reactor's exiting event) does nothing.
void BReactorOp_Free(BReactorOp* op);
// Starts an operation on `rfd` in direction `dir`: `attempt` runs now and,
// while it would block, whenever the descriptor is ready in that direction.
// The op must be idle. Its result arrives through the loop.
void BReactorOp_Start(BReactorOp* op, BReactorFd* rfd, int dir, BReactorOp_attempt attempt,
                      void* attempt_user);
// Drops a started or queued operation; no result will be delivered.
void BReactorOp_Cancel(BReactorOp* op);
int BReactorOp_IsBusy(const BReactorOp* op);
int BReactorOp_Error(const BReactorOp* op);
// Blocks the engine thread until this operation has a result, keeping the
// results of other operations for the loop; returns it without dispatching.
// An operation that was never started reports failure at once.
void BReactorOp_Wait(BReactorOp* op, int* out_succeeded, size_t* out_bytes);

// ---- Reactor -----------------------------------------------------------------

struct BReactor {
    std::atomic<int> exit_requested{0};
    std::atomic<int> exit_code{0};
    BJobStack jobs;
    BAVL timers;
    LinkedList expired;
    int epoll_fd = -1;
    LinkedList ops;
    LinkedList ready;
    BReactorFd wake_marker;  // epoll's token for the wake-up eventfd
    // Cross-thread side: the eventfd and the posted completions.
    std::mutex post_mutex;
    int wake_fd = -1;
    LinkedList posted;
};

int BReactor_Init(BReactor* reactor);
// Calls every registered operation's handler with the exiting event (each
// must free its operation), then releases the reactor.
void BReactor_Free(BReactor* reactor);
int BReactor_Run(BReactor* reactor);
// Any thread: the loop ends before its next dispatch.
void BReactor_RequestExit(BReactor* reactor, int code);
// Runs jobs until `ref` is on top of the stack (1) or an exit is requested
// or no job is left (0).
int BReactor_RunJobsUntil(BReactor* reactor, BJob* ref);
BJobStack* BReactor_JobStack(BReactor* reactor);

// A synchronisation point: a job set when the point is made, beneath every
// job that later actions set. Run() runs those jobs, so that the
// consequences of an action (a write, a send) happen before control returns
// to the code that acted, for example before a stack callback returns into
// the stack. The job is released when the point goes out of scope.
class BReactorSyncPoint {
public:
    explicit BReactorSyncPoint(BReactor* reactor);
    ~BReactorSyncPoint() { BJob_Free(&job_); }
    BReactorSyncPoint(const BReactorSyncPoint&) = delete;
    BReactorSyncPoint& operator=(const BReactorSyncPoint&) = delete;
    void Run() { BReactor_RunJobsUntil(reactor_, &job_); }

private:
    BReactor* reactor_;
    BJob job_;
};

// (Re)starts a timer to expire `after` ms from now (saturating).
void BReactor_StartTimer(BReactor* reactor, BReactorTimer* timer, btime_t after);
// The same with the timer's own interval.
void BReactor_RestartTimer(BReactor* reactor, BReactorTimer* timer);
// Stops a running or expired timer; always safe.
void BReactor_StopTimer(BReactor* reactor, BReactorTimer* timer);

// Any thread: queues a successful zero-byte completion of `op` (an op used
// this way is never started). Returns 0 once the reactor has been freed.
int BReactor_Post(BReactor* reactor, BReactorOp* op);
