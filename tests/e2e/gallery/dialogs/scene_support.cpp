#include "tests/e2e/gallery/dialogs/scene_support.h"

#include <wx/ctrlsub.h>
#include <wx/textctrl.h>
#include <wx/toplevel.h>

#include <filesystem>
#include <mutex>

#include "foundation/message_box.h"
#include "foundation/text_convert.h"
#include "ui/skin_edit.h"

// Pango, through the few calls needed (no development headers).
extern "C" {
void* pango_cairo_font_map_get_default(void);
void* pango_font_map_create_context(void* fontmap);
void* pango_layout_new(void* context);
void pango_layout_set_text(void* layout, const char* text, int length);
void* pango_font_description_from_string(const char* str);
void pango_layout_set_font_description(void* layout, const void* desc);
void pango_font_description_free(void* desc);
int pango_layout_get_unknown_glyphs_count(void* layout);
void g_object_unref(void* object);
}

namespace gallery {

namespace {
std::mutex g_boxMutex;
std::vector<std::string> g_boxes;
bool g_sinkInstalled = false;
}  // namespace

std::string Utf8(const wxString& s) {
    const wxScopedCharBuffer b = s.utf8_str();
    return std::string(b.data(), b.length());
}

void RecordBoxes(Registry& registry) {
    if (!g_sinkInstalled) {
        g_sinkInstalled = true;
        SetMessageBoxSink([](const std::wstring& text, const std::wstring&, unsigned) {
            std::lock_guard<std::mutex> lock(g_boxMutex);
            g_boxes.push_back(WideToUtf8String(text));
            return IDOK;
        });
    }
    registry.AddState("boxes", [] {
        std::lock_guard<std::mutex> lock(g_boxMutex);
        return "count=" + std::to_string(g_boxes.size()) + (g_boxes.empty() ? "" : " text=" + g_boxes.back());
    });
}

void AddControl(Registry& registry, int id, wxWindow* window) {
    registry.Add(std::to_string(id), window);
}

std::vector<ShownText> CollectTexts(wxWindow* root) {
    std::vector<ShownText> out;
    if (!root) return out;
    const std::string font = Utf8(root->GetFont().GetNativeFontInfoDesc());
    auto add = [&](const wxString& text, const std::string& f) {
        if (!text.empty()) out.push_back({Utf8(text), f});
    };
    if (root->IsTopLevel()) add(static_cast<wxTopLevelWindow*>(root)->GetTitle(), font);
    if (auto* edit = dynamic_cast<CSkinEdit*>(root)) {
        const std::string f = Utf8(edit->GetTextCtrl()->GetFont().GetNativeFontInfoDesc());
        add(edit->GetValue(), f);
        add(edit->GetTextCtrl()->GetHint(), f);
        return out;
    }
    if (auto* items = dynamic_cast<wxItemContainerImmutable*>(root)) {
        for (unsigned i = 0; i < items->GetCount(); ++i) add(items->GetString(i), font);
    } else if (dynamic_cast<wxControl*>(root)) {
        add(root->GetLabel(), font);
    }
    for (wxWindow* child : root->GetChildren()) {
        if (child->IsTopLevel()) continue;
        auto more = CollectTexts(child);
        out.insert(out.end(), more.begin(), more.end());
    }
    return out;
}

int CountUnknownGlyphs(const std::vector<ShownText>& texts, std::string* first) {
    void* context = pango_font_map_create_context(pango_cairo_font_map_get_default());
    int total = 0;
    for (const ShownText& t : texts) {
        void* layout = pango_layout_new(context);
        void* desc = pango_font_description_from_string(t.font.c_str());
        pango_layout_set_font_description(layout, desc);
        pango_layout_set_text(layout, t.text.c_str(), static_cast<int>(t.text.size()));
        const int unknown = pango_layout_get_unknown_glyphs_count(layout);
        if (unknown > 0 && first && first->empty()) *first = t.text;
        total += unknown;
        pango_font_description_free(desc);
        g_object_unref(layout);
    }
    g_object_unref(context);
    return total;
}

void AddGlyphState(Registry& registry, const std::string& name,
                   std::function<std::vector<ShownText>()> texts) {
    registry.AddState(name + ".glyphs", [texts] {
        const std::vector<ShownText> all = texts();
        std::string first;
        const int unknown = CountUnknownGlyphs(all, &first);
        return "texts=" + std::to_string(all.size()) + " unknown=" + std::to_string(unknown) +
               (first.empty() ? "" : " first=" + first);
    });
}

int ThreadCount() {
    int n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/self/task", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

}  // namespace gallery
