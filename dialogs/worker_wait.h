#pragma once
// Waits of the user-interface thread for work that may itself wait for that
// thread: a worker's message box is shown by the user-interface thread while
// the worker blocks on the answer, so a plain join there can deadlock. These
// keep the events served, every window disabled, until the wait is over.

#include <functional>

class CDialogZentravBase;

// Runs the event loop until `done` is true (checked every few milliseconds),
// with every window disabled; boxes that other threads ask for still open.
// Off the user-interface thread, or before wx runs, it only polls.
void RunEventsUntil(const std::function<bool()>& done);

// Asks the worker to stop, serves events until it has ended, then joins it.
void StopWorkServingEvents(CDialogZentravBase* worker);
