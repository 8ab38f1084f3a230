#include "engine/flow/device_input.h"

void DeviceInput_Init(PacketSink* input, BJobStack* jobs, int mtu, PacketSink_handler_send handler,
                      void* user) {
    PacketSink_Init(input, mtu, handler, user, jobs);
}

void DeviceInput_Done(PacketSink* input) {
    PacketSink_Done(input);
}

void DeviceInput_Free(PacketSink* input) {
    PacketSink_Free(input);
}
