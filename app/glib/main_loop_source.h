#pragma once
// CMainLoop inside a GLib main context (the one GTK, and so wx, runs): a
// source that watches the loop's epoll descriptor, wakes at the next timer
// and runs one Dispatch pass. It may recurse, so signals, the command
// channel and posted tasks are served also while a task waits in a nested
// loop (a modal box). Free of any toolkit, so it is tested without a
// display.

#include <glib.h>

class CMainLoop;

class CMainLoopSource {
public:
    // Attaches to `context` (null: the default context).
    explicit CMainLoopSource(CMainLoop* loop, GMainContext* context = nullptr);
    ~CMainLoopSource();
    CMainLoopSource(const CMainLoopSource&) = delete;
    CMainLoopSource& operator=(const CMainLoopSource&) = delete;

    // Detaches: nothing of the loop runs from GLib afterwards.
    void Detach();

private:
    struct Source;
    static gboolean Prepare(GSource* source, gint* timeout);
    static gboolean Check(GSource* source);
    static gboolean DispatchPass(GSource* source, GSourceFunc, gpointer);

    Source* source_ = nullptr;
};
