// A stand-in for logind on a private system bus (DBUS_SYSTEM_BUS_ADDRESS):
// owns org.freedesktop.login1 and announces, every 300 ms until it is
// stopped, that the machine goes to sleep (PrepareForSleep with true).
#include <gio/gio.h>

#include <cstdio>

namespace {

gboolean Announce(gpointer bus) {
    GError* error = nullptr;
    if (!g_dbus_connection_emit_signal(static_cast<GDBusConnection*>(bus), nullptr, "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "PrepareForSleep",
                                       g_variant_new("(b)", TRUE), &error)) {
        std::fprintf(stderr, "logind_stub: %s\n", error->message);
        g_error_free(error);
    }
    return G_SOURCE_CONTINUE;
}

void Acquired(GDBusConnection* bus, const gchar* name, gpointer) {
    std::printf("owned %s\n", name);
    std::fflush(stdout);
    g_timeout_add(300, &Announce, bus);
}

void Lost(GDBusConnection*, const gchar* name, gpointer loop) {
    std::fprintf(stderr, "logind_stub: could not own %s\n", name);
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
}

}  // namespace

int main() {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (!bus) {
        std::fprintf(stderr, "logind_stub: no system bus: %s\n", error->message);
        return 1;
    }
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_bus_own_name_on_connection(bus, "org.freedesktop.login1", G_BUS_NAME_OWNER_FLAGS_NONE, &Acquired, &Lost, loop,
                                 nullptr);
    g_main_loop_run(loop);
    return 1;
}
