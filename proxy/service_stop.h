#pragma once
// The service-wide stop signal. Every wait of the socket layer on one of the
// listener's connection threads also watches it, so that a stop of the local
// proxy service ends handshakes, connects and relays at once instead of
// after their time-outs. Waits on other threads (node tests, name lookups)
// are left to their own time-outs.

// A descriptor that polls readable while the service stops.
int ServiceStopFd();
// Marks the calling thread as one whose waits end at a stop.
void WatchServiceStop();
// ServiceStopFd for a thread so marked, else -1 (which poll ignores).
int ServiceStopFdForThread();
// Raised by StopLocalProxy; cleared by the next StartLocalProxy.
void SignalServiceStop();
void ClearServiceStop();
bool IsServiceStopping();
