#include "ui/native_window.h"

// The two calls of the toolkit underneath wx (GTK 3) that this needs; the
// development headers of GTK are not required for them.
extern "C" {
void* gtk_widget_get_window(void* widget);
int gdk_window_ensure_native(void* window);
}

bool EnsureNativeWindow(wxWindow* window) {
    if (!window) return false;
    void* widget = window->GetHandle();
    if (!widget) return false;
    void* gdkWindow = gtk_widget_get_window(widget);
    return gdkWindow && gdk_window_ensure_native(gdkWindow) != 0;
}
