#pragma once
// Process-wide network start-up for the engine, done once.

// 1 on success; later calls return 1 at once.
int BNetwork_GlobalInit(void);
