#include "app/glib/main_loop_source.h"

#include "app/main_loop.h"

struct CMainLoopSource::Source {
    GSource base;
    CMainLoop* loop;
    gpointer tag;
};

gboolean CMainLoopSource::Prepare(GSource* source, gint* timeout) {
    auto* s = reinterpret_cast<Source*>(source);
    *timeout = s->loop->NextTimeout();
    return *timeout == 0;
}

gboolean CMainLoopSource::Check(GSource* source) {
    auto* s = reinterpret_cast<Source*>(source);
    if (g_source_query_unix_fd(source, s->tag) & G_IO_IN) return TRUE;
    return s->loop->NextTimeout() == 0;
}

gboolean CMainLoopSource::DispatchPass(GSource* source, GSourceFunc, gpointer) {
    reinterpret_cast<Source*>(source)->loop->Dispatch();
    return G_SOURCE_CONTINUE;
}

CMainLoopSource::CMainLoopSource(CMainLoop* loop, GMainContext* context) {
    static GSourceFuncs funcs = {&CMainLoopSource::Prepare, &CMainLoopSource::Check,
                                 &CMainLoopSource::DispatchPass, nullptr, nullptr, nullptr};
    GSource* g = g_source_new(&funcs, sizeof(Source));
    source_ = reinterpret_cast<Source*>(g);
    source_->loop = loop;
    source_->tag = g_source_add_unix_fd(g, loop->GetFd(), G_IO_IN);
    g_source_set_name(g, "cendrow main loop");
    // A task that waits in a modal box runs a nested GLib loop; the loop's
    // signals, channel and posts must go on meanwhile.
    g_source_set_can_recurse(g, TRUE);
    g_source_attach(g, context);
}

CMainLoopSource::~CMainLoopSource() {
    Detach();
}

void CMainLoopSource::Detach() {
    if (!source_) return;
    GSource* g = &source_->base;
    source_ = nullptr;
    g_source_destroy(g);
    g_source_unref(g);
}
