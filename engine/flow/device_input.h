#pragma once
// The PacketSink through which packets read from the TUN device reach the
// engine core: the core's handler receives each packet, and DeviceInput_Done
// hands the buffer back so that the next packet can be read.

#include "engine/flow/flow_interfaces.h"

void DeviceInput_Init(PacketSink* input, BJobStack* jobs, int mtu, PacketSink_handler_send handler,
                      void* user);
void DeviceInput_Done(PacketSink* input);
void DeviceInput_Free(PacketSink* input);
