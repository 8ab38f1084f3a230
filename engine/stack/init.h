#pragma once
// Bringing the stack up at each engine start and down at teardown.

// Initialises the stack; whatever an earlier run left behind is released first.
void lwip_init();
// Releases every control block, segment, held fragment and neighbour-discovery
// packet, and gives the pools' memory back when nothing is in use any more.
void lwip_deinit();
