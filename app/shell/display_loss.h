#pragma once
// The display going away under the program (the X server ends, the
// connection breaks). GDK's own handler would end the process at once and
// leave the routes, resolv.conf and the resolver as connect set them; ours
// gives pending worker boxes their default answer, cuts the windows off,
// runs what the exit does without them, and only then ends the process.

#include <functional>

// Installs the handler; call after the display is open (GDK installs its
// own when it opens one). `onLost` runs on the thread that found the loss,
// touches no window, and should put the machine back; the process then
// ends with status 1.
void InstallDisplayLossHandler(std::function<void()> onLost);
// Changes what the loss does (the login ends, the main window begins).
void SetDisplayLossAction(std::function<void()> onLost);
