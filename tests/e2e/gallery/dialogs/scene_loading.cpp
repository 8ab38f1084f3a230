// The loading panel over an owner window whose controls it hides while the
// start-up data job runs; the job waits until the test releases it.
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/stattext.h>
#include <wx/weakref.h>

#include <condition_variable>
#include <mutex>

#include "dialogs/dialog_async_doing.h"
#include "foundation/app_paths.h"
#include "tests/e2e/gallery/dialogs/scene_support.h"
#include "ui/picture_ex.h"
#include "ui/skin_dialog.h"

namespace {

// The loading panel whose job first waits for the test's word.
class HeldLoadDatas : public CDialogLoadDatas {
public:
    using CDialogLoadDatas::CDialogLoadDatas;
    ~HeldLoadDatas() override {
        {
            std::lock_guard<std::mutex> lock(m_);
            closing_ = true;
        }
        cv_.notify_all();
        JoinWorker();
    }
    int DoWork() override {
        {
            std::unique_lock<std::mutex> lock(m_);
            cv_.wait(lock, [this] { return released_ || closing_; });
            if (closing_) return 1;
        }
        return CDialogLoadDatas::DoWork();
    }
    void Hold() {
        std::lock_guard<std::mutex> lock(m_);
        released_ = false;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(m_);
            released_ = true;
        }
        cv_.notify_all();
    }
    std::atomic<int> doneCalls{0};

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool released_ = false;
    bool closing_ = false;
};

}  // namespace

GALLERY_SCENE(loading) {
    using namespace gallery;
    CreateAppFolders();
    auto* owner = new CSkinDialog(nullptr, wxID_ANY, "Loading owner", wxSize(420, 320));
    owner->Move(560, 40);
    wxPanel* client = owner->GetClientPanel();
    client->SetBackgroundColour(*wxWHITE);
    auto* button = new wxButton(client, wxID_ANY, "Connect", wxPoint(20, 20), wxSize(120, 30));
    auto* label = new wxStaticText(client, wxID_ANY, "Owner text", wxPoint(20, 70));
    auto* hiddenBefore = new wxCheckBox(client, wxID_ANY, "Hidden before", wxPoint(20, 110));
    hiddenBefore->Hide();
    auto* panel = new HeldLoadDatas(client);
    panel->SetSize(wxRect(wxPoint(0, 0), client->GetClientSize()));
    panel->SetLoadFlags(255);
    panel->SetDoneCallback([panel] { panel->doneCalls++; });
    panel->Hide();
    owner->Show();

    auto weak = std::make_shared<wxWeakRef<HeldLoadDatas>>(panel);
    registry.Add("owner", owner);
    registry.Add("button", button);
    registry.Add("label", label);
    registry.AddRect("panel", [weak] { return *weak ? (*weak)->GetScreenRect() : wxRect(); });
    registry.AddRect("1021", [weak] {
        return *weak && (*weak)->GetStill() ? (*weak)->GetStill()->GetScreenRect() : wxRect();
    });
    registry.AddRect("1129", [weak] {
        return *weak && (*weak)->GetAnimation() ? (*weak)->GetAnimation()->GetScreenRect() : wxRect();
    });
    registry.AddRect("1131",
                     [weak] { return *weak ? (*weak)->GetMessageLine()->GetScreenRect() : wxRect(); });
    registry.AddState("panel", [weak, button, label, hiddenBefore] {
        HeldLoadDatas* p = weak->get();
        std::string s = "exists=" + std::to_string(p ? 1 : 0);
        if (p) {
            s += " shown=" + std::to_string(p->IsShown() ? 1 : 0) +
                 " working=" + std::to_string(p->IsWorking() ? 1 : 0) +
                 " anim=" + std::to_string(p->GetAnimation() ? 1 : 0) +
                 " playing=" + std::to_string(p->GetAnimation() && p->GetAnimation()->IsPlaying() ? 1 : 0) +
                 " still=" + std::to_string(p->GetStill() ? 1 : 0) +
                 " done=" + std::to_string(p->doneCalls.load()) +
                 " hidden=" + std::to_string(p->GetHiddenWindows().size());
        }
        s += " button=" + std::to_string(button->IsShown() ? 1 : 0) +
             " label=" + std::to_string(label->IsShown() ? 1 : 0) +
             " hiddenbefore=" + std::to_string(hiddenBefore->IsShown() ? 1 : 0) +
             " threads=" + std::to_string(ThreadCount());
        if (p) s += " message=" + Utf8(p->GetMessage());
        return s;
    });
    registry.AddAction("loading.start", [weak] {
        if (!*weak) return;
        (*weak)->Hold();
        (*weak)->Show();
        (*weak)->StartWork();
    });
    registry.AddAction("loading.release", [weak] {
        if (*weak) (*weak)->Release();
    });
    registry.AddAction("loading.destroy", [weak] {
        if (*weak) (*weak)->Destroy();
    });
    AddGlyphState(registry, "loading",
                  [weak] { return *weak ? CollectTexts(weak->get()) : std::vector<ShownText>(); });
}
