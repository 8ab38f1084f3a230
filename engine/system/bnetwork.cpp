#include "engine/system/bnetwork.h"

// POSIX sockets need no start-up: every send uses MSG_NOSIGNAL, so a peer that
// closes can never raise SIGPIPE, and the engine leaves the process's signal
// dispositions alone.
int BNetwork_GlobalInit(void) {
    return 1;
}
