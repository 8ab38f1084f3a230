#pragma once
// The machine going to sleep, as logind announces it on the system bus
// (PrepareForSleep with true). The announcement arrives in the GLib main
// context of the thread that started the watch. Without a system bus the
// watch logs one line and nothing more happens.

#include <gio/gio.h>

#include <functional>

class CLogindWatch {
public:
    CLogindWatch() = default;
    ~CLogindWatch();
    CLogindWatch(const CLogindWatch&) = delete;
    CLogindWatch& operator=(const CLogindWatch&) = delete;

    // `onSleep` runs each time a sleep is announced. False (logged) without a bus.
    bool Start(std::function<void()> onSleep);
    void Stop();

private:
    static void OnSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
                         gpointer self);

    GDBusConnection* bus_ = nullptr;
    guint subscription_ = 0;
    std::function<void()> onSleep_;
};
