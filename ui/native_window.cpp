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
void* gtk_text_view_get_buffer(void* view);
void gtk_text_buffer_get_end_iter(void* buffer, void* iter);
void gtk_text_buffer_place_cursor(void* buffer, const void* where);
void* gtk_text_buffer_get_insert(void* buffer);
void gtk_text_view_scroll_to_mark(void* view, void* mark, double withinMargin, int useAlign, double xalign,
                                  double yalign);
}

namespace {
constexpr unsigned kStyleProviderPriorityApplication = 600;

// Room for a GtkTextIter, a plain structure the caller owns (80 bytes on
// 64-bit systems).
struct TextIter {
    void* room[16];
};
}  // namespace

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

void ScrollNativeTextToEnd(wxTextCtrl* text) {
    if (!text || !text->IsMultiLine()) return;
    void* view = text->GetConnectWidget();  // the text view inside the scrolled window
    if (!view) return;
    void* buffer = gtk_text_view_get_buffer(view);
    TextIter end{};
    gtk_text_buffer_get_end_iter(buffer, &end);
    gtk_text_buffer_place_cursor(buffer, &end);
    // Aligned with the bottom edge; before the control has its size the
    // view keeps the request and carries it out once it has one.
    gtk_text_view_scroll_to_mark(view, gtk_text_buffer_get_insert(buffer), 0, 1, 0, 1.0);
}
