// The web page with its loading cover: "web" opens page.html from the
// program folder (written there by the test), "webempty" has no page.
// Message boxes are answered by a recording sink; a program named
// "xdg-open" in the program folder stands in for the browser.
#include <wx/frame.h>
#include <wx/webview.h>

#include <filesystem>
#include <memory>

#include "foundation/app_paths.h"
#include "foundation/message_box.h"
#include "platform/open_url.h"
#include "tests/e2e/gallery/program/gallery.h"
#include "ui/dialog_my_dhtml_page.h"

namespace {

struct Boxes {
    int count = 0;
    std::wstring last;
};

std::string Utf8(const wxString& s) {
    return std::string(s.utf8_str());
}

void BuildPage(gallery::Registry& registry, const std::string& name, const std::wstring& url, int x) {
    const std::filesystem::path program = GetAppDir();
    if (std::filesystem::exists(program / "xdg-open")) SetUrlOpenerProgram((program / "xdg-open").string());
    auto boxes = std::make_shared<Boxes>();
    SetMessageBoxSink([boxes](const std::wstring& text, const std::wstring&, unsigned) {
        ++boxes->count;
        boxes->last = text;
        return IDOK;
    });

    auto* frame = new wxFrame(nullptr, wxID_ANY, "Web", wxDefaultPosition, wxSize(400, 300),
                              wxBORDER_NONE | wxFRAME_NO_TASKBAR);
    auto* page = new CDialogMyDHtmlPage(131, 0, frame, 132, url, 225, L"GIF", L"Page is loading, please wait...");
    page->CreateModeless(frame);
    page->SetSize(frame->GetClientSize());
    registry.Add(name, page, [page, boxes] {
        std::string out = "loading=" + std::to_string(page->IsLoadingPageShown() ? 1 : 0) +
                          " loads=" + std::to_string(page->LoadCount()) +
                          " boxes=" + std::to_string(boxes->count) +
                          " boxlen=" + std::to_string(boxes->last.size());
        wxWebView* view = page->GetWebView();
        wxString value, keys;
        if (view && page->LoadCount() > 0) {
            view->RunScript("document.getElementById('i') ? document.getElementById('i').value : ''", &value);
            view->RunScript("window.keys || ''", &keys);
        }
        out += " input=" + Utf8(value) + " keys=" + Utf8(keys);
        out += " refused=" + Utf8(wxString(page->LastRefusedWindow()));
        out += " box=" + Utf8(wxString(boxes->last.substr(0, 40)));
        return out;
    });
    frame->Move(x, 300);
    frame->Show();
}

}  // namespace

GALLERY_SCENE(web) {
    const std::filesystem::path file = GetAppDir() / "page.html";
    BuildPage(registry, "web", L"file://" + file.wstring(), 600);
}

GALLERY_SCENE(webempty) {
    BuildPage(registry, "webempty", L"", 150);
}
