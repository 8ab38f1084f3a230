#pragma once
// The engine's console-event hook. A console event (the user asks the
// program to stop) becomes a reactor event on the engine thread. There is no
// process-wide signal handler: whoever receives the request (the program's
// own signal handling, on an ordinary thread) calls BSignal_RaiseConsoleEvent,
// which posts to the running engine through the reactor's eventfd and does
// nothing once the hook has been freed.

#include "engine/system/breactor.h"

typedef void (*BSignal_handler)(void* user);

struct BSignal {
    BReactor* reactor;
    BSignal_handler handler;
    void* user;
    BReactorOp op;
    int initialized;
    int finished;
};

// Takes the process's console-event hook; 1 or 0 (the hook is already taken).
int BSignal_Init(BSignal* s, BReactor* reactor, BSignal_handler handler, void* user);
// Gives the hook back; later console events post nothing.
void BSignal_Free(BSignal* s);

// Any thread: delivers a console event to the engine holding the hook.
// Returns 1 when an engine took it, 0 when none holds the hook.
int BSignal_RaiseConsoleEvent(void);
