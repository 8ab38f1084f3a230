#include "app/halvern_app.h"

#include <ctime>

void CHalvernApp::SetConnectState(int state) {
    if (state == ConnectStateConnected) connectTime_ = static_cast<int64_t>(std::time(nullptr));
    state_ = state;
}

void CHalvernApp::Reset() {
    state_ = ConnectStateDisconnected;
    connectTime_ = 0;
    driverAvailable_ = 1;
    tapCount_ = 0;
    parser_ = CTapCommandLineParser();
    mainWnd_ = nullptr;
}

CHalvernApp& GetApp() {
    static CHalvernApp app;
    return app;
}
