#pragma once
// Message boxes as modal wx dialogs. The application installs the sink once
// wx runs; a box asked for on the user-interface thread is shown at once, and
// one asked for on another thread is shown on the user-interface thread while
// the asking thread waits for the answer.

// Installs the sink; returns nothing. UninstallWxMessageBoxSink restores the
// one that was there before (for orderly shutdown and tests).
void InstallWxMessageBoxSink();
void UninstallWxMessageBoxSink();

// The windows are gone for good (the display was lost): boxes that other
// threads wait for get their style's default answer, and later boxes go to
// the default sink. Touches no window; safe from the display-loss handler.
void AbandonWxMessageBoxes();
