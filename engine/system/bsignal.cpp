#include "engine/system/bsignal.h"

#include <mutex>

#include "engine/base/blog.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_BSignal

namespace {

// Guards the hook: a raise either posts to a live engine or sees none.
std::mutex g_hook_mutex;
BSignal* g_hook = nullptr;

void OpHandler(void* user, int event, size_t) {
    auto* s = static_cast<BSignal*>(user);
    if (event == BREACTOROP_EVENT_EXITING) {
        BReactorOp_Free(&s->op);
        return;
    }
    if (!s->finished) s->handler(s->user);
}

}  // namespace

int BSignal_Init(BSignal* s, BReactor* reactor, BSignal_handler handler, void* user) {
    s->reactor = reactor;
    s->handler = handler;
    s->user = user;
    BLog(BLOG_DEBUG, "BSignal initializing");
    BReactorOp_Init(&s->op, reactor, s, OpHandler);
    {
        std::lock_guard<std::mutex> lock(g_hook_mutex);
        if (!g_hook) {
            g_hook = s;
            s->initialized = 1;
            s->finished = 0;
            return 1;
        }
    }
    BLog(BLOG_ERROR, "console event hook already taken");
    BReactorOp_Free(&s->op);
    s->initialized = 0;
    return 0;
}

void BSignal_Free(BSignal* s) {
    {
        std::lock_guard<std::mutex> lock(g_hook_mutex);
        if (g_hook == s) g_hook = nullptr;
    }
    BReactorOp_Free(&s->op);  // nothing when the reactor's exiting event freed it
    s->finished = 1;
    s->initialized = 0;
}

int BSignal_RaiseConsoleEvent(void) {
    std::lock_guard<std::mutex> lock(g_hook_mutex);
    if (!g_hook) return 0;
    return BReactor_Post(g_hook->reactor, &g_hook->op);
}
