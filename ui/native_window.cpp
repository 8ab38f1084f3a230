#include "ui/native_window.h"

// The calls of the toolkit underneath wx (GTK 3) that this needs; the
// development headers of GTK are not required for them.
extern "C" {
void* gtk_widget_get_window(void* widget);
int gdk_window_ensure_native(void* window);
void* gtk_css_provider_new(void);
int gtk_css_provider_load_from_data(void* provider, const char* data, long length, void** error);
void* gtk_widget_get_style_context(void* widget);
void gtk_style_context_add_provider(void* context, void* provider, unsigned priority);
void gtk_entry_set_has_frame(void* entry, int setting);
void gtk_entry_set_visibility(void* entry, int visible);
}

namespace {
constexpr unsigned kStyleProviderPriorityApplication = 600;
}

bool EnsureNativeWindow(wxWindow* window) {
    if (!window) return false;
    void* widget = window->GetHandle();
    if (!widget) return false;
    void* gdkWindow = gtk_widget_get_window(widget);
    return gdkWindow && gdk_window_ensure_native(gdkWindow) != 0;
}

void FlattenNativeEntry(wxWindow* entry) {
    if (!entry) return;
    void* widget = entry->GetHandle();
    if (!widget) return;
    // One provider for every entry, kept for the life of the process.
    static void* const css = [] {
        void* provider = gtk_css_provider_new();
        gtk_css_provider_load_from_data(provider,
                                        "entry, entry:focus, entry:disabled { border: none; border-radius: 0;"
                                        " box-shadow: none; outline: none; background-image: none;"
                                        " padding-left: 2px; padding-right: 2px; }",
                                        -1, nullptr);
        return provider;
    }();
    gtk_entry_set_has_frame(widget, 0);
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget), css, kStyleProviderPriorityApplication);
}

void SetNativeEntryVisibility(wxWindow* entry, bool visible) {
    if (!entry) return;
    void* widget = entry->GetHandle();
    if (widget) gtk_entry_set_visibility(widget, visible ? 1 : 0);
}
