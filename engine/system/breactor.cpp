#include "engine/system/breactor.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "engine/base/blog.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_BReactor

namespace {

constexpr int kMaxEvents = 64;

[[noreturn]] void Fatal(const char* what) {
    std::fprintf(stderr, "BReactor: %s (errno %d)\n", what, errno);
    std::abort();
}

// Keys are the timers' expiry fields; ties go by the field's address, that
// is by timer identity, so no two timers compare equal.
int CompareTimers(void*, const void* a, const void* b) {
    btime_t ea = *static_cast<const btime_t*>(a), eb = *static_cast<const btime_t*>(b);
    if (ea != eb) return ea < eb ? -1 : 1;
    auto pa = reinterpret_cast<uintptr_t>(a), pb = reinterpret_cast<uintptr_t>(b);
    return (pa > pb) - (pa < pb);
}

BReactorTimer* FirstTimer(BReactor* r) {
    BAVLNode* n = BAVL_GetFirst(&r->timers);
    return n ? BAVL_ENTRY(n, BReactorTimer, tree_node) : nullptr;
}

void ExpireTimer(BReactor* r, BReactorTimer* t) {
    BAVL_Remove(&r->timers, &t->tree_node);
    t->state = BTIMER_STATE_EXPIRED;
    LinkedList_Append(&r->expired, &t->expired_node);
}

void Complete(BReactorOp* op, int result, size_t bytes, int error) {
    op->state = BREACTOROP_STATE_READY;
    op->succeeded = (result == BREACTOROP_DONE);
    op->bytes = op->succeeded ? bytes : 0;
    op->error = op->succeeded ? 0 : error;
    LinkedList_Append(&op->reactor->ready, &op->ready_node);
}

void Retry(BReactorFd* rfd, int dir) {
    BReactorOp* op = rfd->waiting[dir];
    if (!op) return;
    size_t bytes = 0;
    int error = 0;
    int r = op->attempt(op->attempt_user, &bytes, &error);
    if (r == BREACTOROP_AGAIN) return;
    rfd->waiting[dir] = nullptr;
    Complete(op, r, bytes, error);
}

void DrainWake(BReactor* r) {
    uint64_t value;
    while (read(r->wake_fd, &value, sizeof value) > 0) {
    }
    std::lock_guard<std::mutex> lock(r->post_mutex);
    while (!LinkedList_IsEmpty(&r->posted)) {
        LinkedListNode* n = r->posted.first;
        LinkedList_Remove(&r->posted, n);
        BReactorOp* op = LINKED_LIST_ENTRY(n, BReactorOp, posted_node);
        op->posted = 0;
        if (op->state == BREACTOROP_STATE_IDLE) Complete(op, BREACTOROP_DONE, 0, 0);
    }
}

// Handles every event of one epoll_wait before any handler runs, so that no
// handler can free a descriptor whose event is still in the batch.
void ProcessEvents(BReactor* r, const epoll_event* events, int n) {
    for (int i = 0; i < n; ++i) {
        auto* rfd = static_cast<BReactorFd*>(events[i].data.ptr);
        if (rfd == &r->wake_marker) {
            DrainWake(r);
            continue;
        }
        uint32_t ev = events[i].events;
        if (ev & (EPOLLIN | EPOLLERR | EPOLLHUP | EPOLLRDHUP)) Retry(rfd, BREACTOR_READ);
        if (ev & (EPOLLOUT | EPOLLERR | EPOLLHUP)) Retry(rfd, BREACTOR_WRITE);
    }
}

int EpollWait(BReactor* r, int timeout) {
    epoll_event events[kMaxEvents];
    int n = epoll_wait(r->epoll_fd, events, kMaxEvents, timeout);
    if (n < 0) {
        if (errno == EINTR) return -1;
        Fatal("epoll_wait failed");
    }
    ProcessEvents(r, events, n);
    return n;
}

void ExpireFirstAndEqual(BReactor* r) {
    BReactorTimer* first = FirstTimer(r);
    btime_t limit = first->expiry;
    for (BReactorTimer* t = first; t && t->expiry <= limit; t = FirstTimer(r)) ExpireTimer(r, t);
}

void WaitForEvents(BReactor* r) {
    int timeout = -1;
    bool capped = false;
    if (!BAVL_IsEmpty(&r->timers)) {
        btime_t now = BTime_NowMs();
        bool moved = false;
        for (BReactorTimer* t = FirstTimer(r); t && t->expiry <= now; t = FirstTimer(r)) {
            ExpireTimer(r, t);
            moved = true;
        }
        if (moved) {
            BLog(BLOG_DEBUG, "Got already expired timers");
            return;
        }
        btime_t wait = FirstTimer(r)->expiry - now;
        if (wait > INT_MAX - 1) {
            wait = INT_MAX - 1;
            capped = true;
        }
        timeout = static_cast<int>(wait);
    }

    int n = EpollWait(r, timeout);
    if (n != 0) {
        if (n > 0) BLog(BLOG_DEBUG, "epoll_wait returned events");
        return;
    }
    if (BAVL_IsEmpty(&r->timers)) return;  // a wake-up with nothing to do
    if (!capped) {
        BLog(BLOG_DEBUG, "epoll_wait timed out: %d", timeout);
        ExpireFirstAndEqual(r);
        return;
    }
    if (FirstTimer(r)->expiry > BTime_NowMs()) return;  // the caller waits again
    BLog(BLOG_DEBUG, "already timed out while trying again");
    ExpireFirstAndEqual(r);
}

void Wake(BReactor* r) {
    // Caller holds post_mutex.
    if (r->wake_fd < 0) return;
    uint64_t one = 1;
    ssize_t w = write(r->wake_fd, &one, sizeof one);
    (void)w;  // EAGAIN means the counter is already non-zero: a wake-up is pending anyway
}

}  // namespace

namespace {

void RunTopJob(BReactor* r) {
    BJob* job = LINKED_LIST_ENTRY(r->jobs.jobs.last, BJob, node);
    BJob_Unset(job);  // the handler may set it again
    job->handler(job->user);
}

}  // namespace

// ---- Timers ----------------------------------------------------------------------

void BReactorTimer_Init(BReactorTimer* timer, btime_t interval, BReactorTimer_handler handler, void* user) {
    timer->handler = handler;
    timer->user = user;
    timer->interval = interval;
    timer->expiry = 0;
    timer->state = BTIMER_STATE_IDLE;
}

void BReactorTimer_Free(BReactor* reactor, BReactorTimer* timer) {
    BReactor_StopTimer(reactor, timer);
}

int BReactorTimer_IsRunning(const BReactorTimer* timer) {
    return timer->state != BTIMER_STATE_IDLE;
}

void BReactor_StartTimer(BReactor* reactor, BReactorTimer* timer, btime_t after) {
    BReactor_StopTimer(reactor, timer);
    timer->expiry = BTime_AddSaturating(BTime_NowMs(), after < 0 ? 0 : after);
    timer->state = BTIMER_STATE_RUNNING;
    BAVL_Insert(&reactor->timers, &timer->tree_node, nullptr);
}

void BReactor_RestartTimer(BReactor* reactor, BReactorTimer* timer) {
    BReactor_StartTimer(reactor, timer, timer->interval);
}

void BReactor_StopTimer(BReactor* reactor, BReactorTimer* timer) {
    switch (timer->state) {
        case BTIMER_STATE_RUNNING:
            BAVL_Remove(&reactor->timers, &timer->tree_node);
            break;
        case BTIMER_STATE_EXPIRED:
            LinkedList_Remove(&reactor->expired, &timer->expired_node);
            break;
        default:
            break;
    }
    timer->state = BTIMER_STATE_IDLE;
}

// ---- Descriptors and operations ------------------------------------------------

int BReactorFd_Init(BReactorFd* rfd, BReactor* reactor, int fd) {
    rfd->reactor = reactor;
    rfd->fd = fd;
    rfd->waiting[0] = rfd->waiting[1] = nullptr;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.ptr = rfd;
    if (epoll_ctl(reactor->epoll_fd, EPOLL_CTL_ADD, fd, &ev) != 0) {
        BLog(BLOG_ERROR, "epoll_ctl failed (%d)", errno);
        return 0;
    }
    return 1;
}

void BReactorFd_Free(BReactorFd* rfd) {
    for (BReactorOp* op : rfd->waiting) {
        if (op) BReactorOp_Cancel(op);
    }
    epoll_ctl(rfd->reactor->epoll_fd, EPOLL_CTL_DEL, rfd->fd, nullptr);
}

int BReactorFd_Move(BReactorFd* to, BReactorFd* from) {
    if (from->waiting[0] || from->waiting[1]) return 0;
    *to = *from;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.ptr = to;
    if (epoll_ctl(to->reactor->epoll_fd, EPOLL_CTL_MOD, to->fd, &ev) != 0) {
        BLog(BLOG_ERROR, "epoll_ctl failed (%d)", errno);
        return 0;
    }
    from->fd = -1;
    return 1;
}

void BReactorOp_Init(BReactorOp* op, BReactor* reactor, void* user, BReactorOp_handler handler) {
    op->reactor = reactor;
    op->user = user;
    op->handler = handler;
    op->state = BREACTOROP_STATE_IDLE;
    op->fd = nullptr;
    op->dir = 0;
    op->attempt = nullptr;
    op->attempt_user = nullptr;
    op->succeeded = 0;
    op->bytes = 0;
    op->error = 0;
    op->posted = 0;
    op->registered = 1;
    LinkedList_Append(&reactor->ops, &op->list_node);
}

void BReactorOp_Cancel(BReactorOp* op) {
    switch (op->state) {
        case BREACTOROP_STATE_WAITING:
            op->fd->waiting[op->dir] = nullptr;
            break;
        case BREACTOROP_STATE_READY:
            LinkedList_Remove(&op->reactor->ready, &op->ready_node);
            break;
        default:
            break;
    }
    op->state = BREACTOROP_STATE_IDLE;
}

void BReactorOp_Free(BReactorOp* op) {
    if (!op->registered) return;
    op->registered = 0;
    BReactorOp_Cancel(op);
    {
        std::lock_guard<std::mutex> lock(op->reactor->post_mutex);
        if (op->posted) {
            LinkedList_Remove(&op->reactor->posted, &op->posted_node);
            op->posted = 0;
        }
    }
    LinkedList_Remove(&op->reactor->ops, &op->list_node);
}

void BReactorOp_Start(BReactorOp* op, BReactorFd* rfd, int dir, BReactorOp_attempt attempt,
                      void* attempt_user) {
    if (op->state != BREACTOROP_STATE_IDLE || rfd->waiting[dir]) {
        std::fprintf(stderr, "BReactorOp_Start: operation or slot busy\n");
        std::abort();
    }
    op->fd = rfd;
    op->dir = dir;
    op->attempt = attempt;
    op->attempt_user = attempt_user;
    size_t bytes = 0;
    int error = 0;
    int r = attempt(attempt_user, &bytes, &error);
    if (r == BREACTOROP_AGAIN) {
        op->state = BREACTOROP_STATE_WAITING;
        rfd->waiting[dir] = op;
        return;
    }
    Complete(op, r, bytes, error);
}

int BReactorOp_IsBusy(const BReactorOp* op) {
    return op->state != BREACTOROP_STATE_IDLE;
}

int BReactorOp_Error(const BReactorOp* op) {
    return op->error;
}

void BReactorOp_Wait(BReactorOp* op, int* out_succeeded, size_t* out_bytes) {
    BReactor* r = op->reactor;
    while (op->state != BREACTOROP_STATE_READY) {
        bool posted;
        {
            std::lock_guard<std::mutex> lock(r->post_mutex);
            posted = op->posted;
        }
        if (op->state == BREACTOROP_STATE_IDLE && !posted) {
            *out_succeeded = 0;
            *out_bytes = 0;
            return;
        }
        EpollWait(r, -1);
    }
    LinkedList_Remove(&r->ready, &op->ready_node);
    op->state = BREACTOROP_STATE_IDLE;
    *out_succeeded = op->succeeded;
    *out_bytes = op->bytes;
}

// ---- Reactor ---------------------------------------------------------------------

int BReactor_Init(BReactor* reactor) {
    BLog(BLOG_DEBUG, "Reactor initializing");
    reactor->exit_requested.store(0);
    reactor->exit_code.store(0);
    LinkedList_Init(&reactor->jobs.jobs);
    BAVL_Init(&reactor->timers, BAVL_KEY_OFFSET(BReactorTimer, tree_node, expiry), CompareTimers, nullptr);
    LinkedList_Init(&reactor->expired);
    LinkedList_Init(&reactor->ops);
    LinkedList_Init(&reactor->ready);

    reactor->epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    if (reactor->epoll_fd < 0) {
        BLog(BLOG_ERROR, "epoll_create1 failed");
        BLog(BLOG_ERROR, "Reactor failed to initialize");
        return 0;
    }
    int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) {
        BLog(BLOG_ERROR, "eventfd failed");
        goto fail;
    }
    reactor->wake_marker.reactor = reactor;
    reactor->wake_marker.fd = wake;
    reactor->wake_marker.waiting[0] = reactor->wake_marker.waiting[1] = nullptr;
    {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.ptr = &reactor->wake_marker;
        if (epoll_ctl(reactor->epoll_fd, EPOLL_CTL_ADD, wake, &ev) != 0) {
            BLog(BLOG_ERROR, "epoll_ctl failed");
            close(wake);
            goto fail;
        }
    }
    {
        std::lock_guard<std::mutex> lock(reactor->post_mutex);
        LinkedList_Init(&reactor->posted);
        reactor->wake_fd = wake;
    }
    return 1;

fail:
    close(reactor->epoll_fd);
    reactor->epoll_fd = -1;
    BLog(BLOG_ERROR, "Reactor failed to initialize");
    return 0;
}

void BReactor_Free(BReactor* reactor) {
    while (!LinkedList_IsEmpty(&reactor->ops)) {
        LinkedListNode* last = reactor->ops.last;
        BReactorOp* op = LINKED_LIST_ENTRY(last, BReactorOp, list_node);
        op->handler(op->user, BREACTOROP_EVENT_EXITING, 0);
        if (reactor->ops.last == last) BReactorOp_Free(op);  // an owner that forgot
    }
    BLog(BLOG_DEBUG, "Reactor freeing");
    {
        std::lock_guard<std::mutex> lock(reactor->post_mutex);
        close(reactor->wake_fd);
        reactor->wake_fd = -1;
        LinkedList_Init(&reactor->posted);
    }
    if (close(reactor->epoll_fd) != 0) Fatal("close of the epoll descriptor failed");
    reactor->epoll_fd = -1;
}

int BReactor_Run(BReactor* reactor) {
    BLog(BLOG_DEBUG, "Entering event loop");
    while (!reactor->exit_requested.load(std::memory_order_acquire)) {
        if (!LinkedList_IsEmpty(&reactor->jobs.jobs)) {
            RunTopJob(reactor);
        } else if (!LinkedList_IsEmpty(&reactor->expired)) {
            LinkedListNode* n = reactor->expired.first;
            LinkedList_Remove(&reactor->expired, n);
            BReactorTimer* t = LINKED_LIST_ENTRY(n, BReactorTimer, expired_node);
            t->state = BTIMER_STATE_IDLE;
            BLog(BLOG_DEBUG, "Dispatching timer");
            t->handler(t->user);
        } else if (!LinkedList_IsEmpty(&reactor->ready)) {
            LinkedListNode* n = reactor->ready.first;
            LinkedList_Remove(&reactor->ready, n);
            BReactorOp* op = LINKED_LIST_ENTRY(n, BReactorOp, ready_node);
            op->state = BREACTOROP_STATE_IDLE;
            op->handler(op->user, op->succeeded ? BREACTOROP_EVENT_SUCCEEDED : BREACTOROP_EVENT_FAILED,
                        op->bytes);
        } else {
            WaitForEvents(reactor);
        }
    }
    int code = reactor->exit_code.load(std::memory_order_acquire);
    BLog(BLOG_DEBUG, "Exiting event loop, exit code %d", code);
    return code;
}

void BReactor_RequestExit(BReactor* reactor, int code) {
    reactor->exit_code.store(code, std::memory_order_release);
    reactor->exit_requested.store(1, std::memory_order_release);
    std::lock_guard<std::mutex> lock(reactor->post_mutex);
    Wake(reactor);
}

int BReactor_RunJobsUntil(BReactor* reactor, BJob* ref) {
    while (!reactor->exit_requested.load(std::memory_order_acquire)) {
        if (LinkedList_IsEmpty(&reactor->jobs.jobs)) return 0;
        if (reactor->jobs.jobs.last == &ref->node && ref->is_set) return 1;
        RunTopJob(reactor);
    }
    return 0;
}

BJobStack* BReactor_JobStack(BReactor* reactor) {
    return &reactor->jobs;
}

BReactorSyncPoint::BReactorSyncPoint(BReactor* reactor) : reactor_(reactor) {
    BJob_Init(
        &job_, &reactor->jobs, [](void*) {}, nullptr);
    BJob_Set(&job_);
}

int BReactor_Post(BReactor* reactor, BReactorOp* op) {
    std::lock_guard<std::mutex> lock(reactor->post_mutex);
    if (reactor->wake_fd < 0) return 0;
    if (!op->posted) {
        op->posted = 1;
        LinkedList_Append(&reactor->posted, &op->posted_node);
    }
    Wake(reactor);
    return 1;
}
