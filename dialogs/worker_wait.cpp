#include "dialogs/worker_wait.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/thread.h>
#include <wx/timer.h>
#include <wx/utils.h>

#include <chrono>
#include <thread>

#include "app/worker_base.h"

namespace {
constexpr int kPollMs = 10;
}

void RunEventsUntil(const std::function<bool()>& done) {
    if (done()) return;
    if (!wxTheApp || !wxThread::IsMain()) {
        while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        return;
    }
    wxWindowDisabler disabler;
    wxGUIEventLoop loop;
    wxTimer poll;
    poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (done() && loop.IsRunning()) loop.Exit(0);
    });
    poll.Start(kPollMs);
    loop.Run();
    poll.Stop();
}

void StopWorkServingEvents(CDialogZentravBase* worker) {
    if (!worker) return;
    worker->RequestStop();
    RunEventsUntil([worker] { return !worker->IsWorking(); });
    worker->StopWork(1);
}
