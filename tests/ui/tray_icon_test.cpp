// The tray icon's update rule against a backend that records its calls.
#include "ui/base/tray_icon.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Call {
    unsigned command;
    unsigned flags;
    std::wstring tip;
    bool icon;
};

class RecordingBackend : public TrayBackend {
public:
    explicit RecordingBackend(std::vector<Call>* calls) : calls_(calls) {}
    bool NotifyIcon(unsigned command, const NOTIFYICONDATAW& d) override {
        calls_->push_back({command, d.uFlags, d.szTip, static_cast<bool>(d.hIcon)});
        return !refuse;
    }
    HICON LoadIconResource(int id) override { return id == 128 ? std::make_shared<Pixmap>(16, 16) : nullptr; }
    std::wstring LoadStringResource(int id) override { return id == 128 ? L"Cendrow" : L""; }
    bool refuse = false;

private:
    std::vector<Call>* calls_;
};

HICON AnIcon() {
    return std::make_shared<Pixmap>(16, 16);
}

class Tray : public ::testing::Test {
protected:
    CTrayIcon& MakeTray(unsigned id = 128) {
        auto backend = std::make_unique<RecordingBackend>(&calls_);
        backend_ = backend.get();
        tray_ = std::make_unique<CTrayIcon>(id, std::move(backend));
        return *tray_;
    }
    std::vector<Call> calls_;
    RecordingBackend* backend_ = nullptr;
    std::unique_ptr<CTrayIcon> tray_;
};

TEST_F(Tray, AddModifyDelete) {
    CTrayIcon& t = MakeTray();
    EXPECT_EQ(std::wstring(t.data().szTip), L"Cendrow") << "the string of the icon id";
    EXPECT_EQ(t.data().cbSize, 952u);
    EXPECT_EQ(t.SetIcon(0), 1);
    EXPECT_TRUE(calls_.empty()) << "nothing shown, nothing to remove";

    EXPECT_EQ(t.SetIconAndTip(AnIcon(), L"connecting"), 1);
    EXPECT_EQ(t.SetIconAndTip(AnIcon(), nullptr), 1);
    EXPECT_EQ(t.SetIconAndTip(nullptr, L"gone"), 1);
    ASSERT_EQ(calls_.size(), 3u);
    EXPECT_EQ(calls_[0].command, NIM_ADD);
    EXPECT_EQ(calls_[0].flags, NIF_ICON | NIF_TIP);
    EXPECT_EQ(calls_[0].tip, L"connecting");
    EXPECT_EQ(calls_[1].command, NIM_MODIFY);
    EXPECT_EQ(calls_[1].tip, L"connecting") << "a null text keeps the tooltip";
    EXPECT_EQ(calls_[2].command, NIM_DELETE);
    EXPECT_EQ(calls_[2].flags, NIF_TIP);
    EXPECT_FALSE(t.IsShown());

    // By resource: id 128 has an icon and a string, 5 has neither.
    EXPECT_EQ(t.SetIcon(128), 1);
    EXPECT_EQ(calls_.back().command, NIM_ADD);
    EXPECT_EQ(calls_.back().tip, L"Cendrow");
    EXPECT_EQ(t.SetIcon(5), 1);
    EXPECT_EQ(calls_.back().command, NIM_DELETE) << "a missing icon removes the shown one";
    EXPECT_EQ(calls_.back().flags, 0u) << "id 5 has an empty tooltip";
    const size_t before = calls_.size();
    EXPECT_EQ(t.SetIcon(5), 1);
    EXPECT_EQ(calls_.size(), before) << "and does nothing when none is shown";
}

TEST_F(Tray, LongTipKeeps127Characters) {
    CTrayIcon& t = MakeTray();
    const std::wstring tip(200, L'x');
    t.SetIconAndTip(AnIcon(), tip.c_str());
    EXPECT_EQ(calls_.back().tip, std::wstring(127, L'x'));
}

TEST_F(Tray, MessageFlagNeedsWindowAndMessage) {
    CTrayIcon& t = MakeTray();
    auto* window = reinterpret_cast<wxEvtHandler*>(0x1000);  // never dereferenced
    const struct {
        wxEvtHandler* window;
        unsigned message;
        bool flag;
    } cases[] = {{nullptr, 0, false}, {window, 0, false}, {nullptr, 2025, false}, {window, 2025, true}};
    for (const auto& c : cases) {
        t.SetNotificationWnd(c.window, c.message);
        t.SetIconAndTip(AnIcon(), L"tip");
        EXPECT_EQ((calls_.back().flags & NIF_MESSAGE) != 0, c.flag) << c.message;
    }
    t.SetNotificationWnd(nullptr, 0);
}

TEST_F(Tray, FailedCallLeavesItUnshown) {
    CTrayIcon& t = MakeTray();
    backend_->refuse = true;
    EXPECT_EQ(t.SetIconAndTip(AnIcon(), L"tip"), 0);
    EXPECT_FALSE(t.IsShown());
    backend_->refuse = false;
    EXPECT_EQ(t.SetIconAndTip(AnIcon(), L"tip"), 1);
    EXPECT_EQ(calls_.back().command, NIM_ADD) << "the next update adds it again";
}

TEST_F(Tray, DispatcherAndTrayReturn) {
    CTrayIcon& t = MakeTray();
    t.SetNotificationWnd(nullptr, 2025);
    EXPECT_EQ(t.Dispatch(kTaskbarCreatedMessage, 0, 0), 1);
    EXPECT_TRUE(calls_.empty()) << "no icon shown: nothing to add again";
    t.SetIconAndTip(AnIcon(), L"tip");
    EXPECT_EQ(t.OnTrayNotification(128, WM_RBUTTONUP), 0);
    EXPECT_EQ(t.Dispatch(2025, 128, WM_RBUTTONUP), 1);
    EXPECT_EQ(t.Dispatch(kTaskbarCreatedMessage, 0, 0), 1);
    EXPECT_EQ(calls_.back().command, NIM_ADD) << "the tray came back: added again";
    EXPECT_EQ(calls_.back().tip, L"tip");
    // The destructor removes a shown icon.
    tray_.reset();
    EXPECT_EQ(calls_.back().command, NIM_DELETE);
}

}  // namespace
