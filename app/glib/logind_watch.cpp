#include "app/glib/logind_watch.h"

#include <string>

#include "foundation/program_log.h"

CLogindWatch::~CLogindWatch() {
    Stop();
}

bool CLogindWatch::Start(std::function<void()> onSleep) {
    Stop();
    GError* error = nullptr;
    bus_ = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (!bus_) {
        AppendToProgramLog(std::string("suspend: no system bus (") + (error ? error->message : "unknown error") +
                           "); going to sleep does not disconnect");
        if (error) g_error_free(error);
        return false;
    }
    // The program ends with the bus still open: that is no reason to end it.
    g_dbus_connection_set_exit_on_close(bus_, FALSE);
    onSleep_ = std::move(onSleep);
    subscription_ = g_dbus_connection_signal_subscribe(
        bus_, "org.freedesktop.login1", "org.freedesktop.login1.Manager", "PrepareForSleep", "/org/freedesktop/login1",
        nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &CLogindWatch::OnSignal, this, nullptr);
    return true;
}

void CLogindWatch::Stop() {
    if (bus_ && subscription_) g_dbus_connection_signal_unsubscribe(bus_, subscription_);
    subscription_ = 0;
    if (bus_) g_object_unref(bus_);
    bus_ = nullptr;
    onSleep_ = nullptr;
}

void CLogindWatch::OnSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
                            gpointer self) {
    if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(b)"))) return;
    gboolean sleeping = FALSE;
    g_variant_get(params, "(b)", &sleeping);
    auto* watch = static_cast<CLogindWatch*>(self);
    if (!sleeping || !watch->onSleep_) return;
    AppendToProgramLog("suspend: the machine is going to sleep");
    watch->onSleep_();
}
