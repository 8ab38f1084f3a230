#pragma once
// The application object: the connection state that every part of the
// program reads, the connect time, the driver-available flag, the number of
// TUN devices discovery found, and the command-line parser.

#include <atomic>
#include <cstdint>

#include "app/tap_command_line_parser.h"

enum ConnectState : int {
    ConnectStateDisconnected = 0,
    ConnectStateConnecting = 1,
    ConnectStateDisconnecting = 2,
    ConnectStateConnected = 3,
};

class DialogOstrelBase;

class CHalvernApp {
public:
    int IsConnected() const { return state_ == ConnectStateConnected; }
    int IsConnecting() const { return state_ == ConnectStateConnecting; }
    int IsDisconnected() const { return state_ == ConnectStateDisconnected; }
    int IsDisconnecting() const { return state_ == ConnectStateDisconnecting; }
    int GetConnectState() const { return state_; }
    // Stores the state; 3 also stores the connect time.
    void SetConnectState(int state);
    int64_t GetConnectTime() const { return connectTime_; }

    int IsTapDriverAvailable() const { return driverAvailable_; }
    void SetTapDriverUnavailable() { driverAvailable_ = 0; }
    // Set at start-up when the process may not change the network (neither
    // root nor the file capabilities): tunnel-mode connects are refused.
    int IsNetworkPrivilegeMissing() const { return privilegeMissing_; }
    void SetNetworkPrivilegeMissing(int missing) { privilegeMissing_ = missing; }
    int IsNewVersionAvailable() const { return 0; }
    int GetTapAdapterCount() const { return tapCount_; }
    void SetTapAdapterCount(int count) { tapCount_ = count; }

    CTapCommandLineParser* GetCommandLineParser() { return &parser_; }
    DialogOstrelBase* GetMainWnd() const { return mainWnd_; }
    void SetMainWnd(DialogOstrelBase* wnd) { mainWnd_ = wnd; }

    // Back to the values of a fresh start (tests).
    void Reset();

private:
    std::atomic<int> state_{ConnectStateDisconnected};
    std::atomic<int64_t> connectTime_{0};
    std::atomic<int> driverAvailable_{1};
    std::atomic<int> privilegeMissing_{0};
    std::atomic<int> tapCount_{0};
    CTapCommandLineParser parser_;
    std::atomic<DialogOstrelBase*> mainWnd_{nullptr};
};

// The one application object.
CHalvernApp& GetApp();
