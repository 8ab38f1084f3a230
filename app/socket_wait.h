#pragma once
// Waits of the program's small servers that a stop descriptor can end.

// The next accepted connection (close-on-exec) on `listenFd`; -1 when
// nothing was accepted this time (try again); -2 once `stopFd` is readable.
int AcceptUnlessStopped(int listenFd, int stopFd);
