#pragma once
// A main window's logic on a temporary program folder, with the recording
// view and system, a node list and the built-in modes.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "app/halvern_app.h"
#include "app/main_core.h"
#include "app/main_loop.h"
#include "foundation/app_paths.h"
#include "foundation/message_box.h"
#include "foundation/settings.h"
#include "netconfig/dns_manager.h"
#include "netconfig/proxy_mode.h"
#include "nodes/node_mgr.h"
#include "tests/app/app_fakes.h"
#include "tests/support/temp_dir.h"

namespace apptest {

inline constexpr int kGlobalMode = 0;
inline constexpr int kBrowserMode = 1;
inline constexpr int kBrowserPacMode = 2;
inline constexpr int kGoogleDns = 3;

class AppCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitAppPaths(dir_.path() / "cendrow");
        CreateAppFolders();
        LoadSettings();
        GetApp().Reset();
        boxes_.clear();
        SetMessageBoxSink([this](const std::wstring& text, const std::wstring&, unsigned) {
            std::lock_guard<std::mutex> lock(boxMutex_);
            boxes_.push_back(N(text));
            return IDOK;
        });
        core_ = std::make_unique<DialogOstrelBase>(&loop_, &view_, &system_);
        core_->SetAddressPollInterval(1);
        core_->SetNodeProber([](CNodeInfo*, const std::atomic<int>&) {});
        // A TUN device known from discovery, as start-up leaves it.
        GetApp().SetTapAdapterCount(system_.DetectNetworkAdapters());
        system_.log.Clear();
        CDNSManager::GetInstance()->SetCurrentDNS(kGoogleDns, L"", L"");
    }

    void TearDown() override {
        core_.reset();
        SetMessageBoxSink(nullptr);
        GetApp().Reset();
    }

    CNodeInfo* AddNode(int type = NodeTypeSocks5, const std::string& host = "proxy.test") {
        NodeParams p;
        p.type = type;
        p.host = host;
        p.port = 1080;
        p.password = "secret";
        p.method = "aes-256-gcm";
        return CNodeMgr::GetInstance()->AddNode(p);
    }

    // Chooses a node and a mode as the user would.
    void Choose(CNodeInfo* node, int mode) {
        view_.row = {NodeRowKind::kNode, node->id};
        view_.modeRow = mode;
    }

    // Presses CONNECT and waits for the job.
    void ConnectAndWait() {
        core_->Connect();
        WaitIdle();
    }
    void WaitIdle() {
        for (int i = 0; i < 3000 && core_->IsWorking(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_FALSE(core_->IsWorking());
        core_->StopWork(0);
    }
    std::vector<std::string> Boxes() {
        std::lock_guard<std::mutex> lock(boxMutex_);
        return boxes_;
    }

    testsupport::TempDir dir_;
    CMainLoop loop_;
    RecordingView view_;
    RecordingSystem system_;
    std::unique_ptr<DialogOstrelBase> core_;
    std::mutex boxMutex_;
    std::vector<std::string> boxes_;
};

}  // namespace apptest
