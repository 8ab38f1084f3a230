#include "app/shell/display_loss.h"

#include <X11/Xlib.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "foundation/program_log.h"
#include "ui/message_box_sink.h"

namespace {

std::mutex g_mutex;
std::function<void()> g_onLost;
std::atomic<bool> g_lost{false};

int OnDisplayLost(Display*) {
    // Xlib must not get control back: it would end the process itself.
    if (g_lost.exchange(true)) _exit(1);
    AppendToProgramLog("display: the connection to the display was lost; putting the network back and ending");
    AbandonWxMessageBoxes();
    std::function<void()> onLost;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        onLost = g_onLost;
    }
    if (onLost) onLost();
    AppendToProgramLog("display: ended after the display was lost");
    _exit(1);
}

}  // namespace

void InstallDisplayLossHandler(std::function<void()> onLost) {
    SetDisplayLossAction(std::move(onLost));
    XSetIOErrorHandler(&OnDisplayLost);
}

void SetDisplayLossAction(std::function<void()> onLost) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_onLost = std::move(onLost);
}
