#pragma once
// Message boxes as modal wx dialogs. The application installs the sink once
// wx runs; a box asked for on the user-interface thread is shown at once, and
// one asked for on another thread is shown on the user-interface thread while
// the asking thread waits for the answer.

// Installs the sink; returns nothing. UninstallWxMessageBoxSink restores the
// one that was there before (for orderly shutdown and tests).
void InstallWxMessageBoxSink();
void UninstallWxMessageBoxSink();
