// A udpgw server stream of arbitrary bytes, delivered in pieces whose sizes
// the input also chooses, through the frame decoder and the reply parser.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/socksclient/udpgw_client.h"
#include "tests/support/flow_harness.h"

namespace {

struct NullStream {
    StreamSink iface;
    static void Send(void* user, uint8_t*, int len) {
        StreamSink_Done(&static_cast<NullStream*>(user)->iface, len);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    BTime_Start();
    BReactor reactor;
    if (!BReactor_Init(&reactor)) return 0;
    {
        flowtest::FeedSource src(&reactor);
        src.chunk = 1 + data[0] % 64;
        NullStream out;
        StreamSink_Init(&out.iface, NullStream::Send, &out, BReactor_JobStack(&reactor));
        UdpGwClient client;
        if (UdpGwClient_Init(
                &client, 1472, 4, 8, 10000, &reactor, nullptr, [](void*) {},
                [](void*, BAddr, BAddr, const uint8_t*, int) {})) {
            UdpGwClient_ConnectServer(&client, &out.iface, &src.iface);
            // Two flows, so that replies for ids 0 and 1 reach the address check.
            static const uint8_t payload[] = {1, 2, 3};
            BAddr local, remote;
            BAddr_InitIPv4(&local, 0x0100000a, 0x3500);
            BAddr_InitIPv4(&remote, 0x08080808, 0x3500);
            UdpGwClient_SendDatagram(&client, local, remote, 0, payload, 3);
            flowtest::DrainJobs(&reactor);
            BAddr_InitIPv4(&remote, 0x01010101, 0x3500);
            UdpGwClient_SendDatagram(&client, local, remote, 0, payload, 3);
            flowtest::DrainJobs(&reactor);
            src.Push(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
            flowtest::DrainJobs(&reactor);
            UdpGwClient_Free(&client);
        }
        StreamSink_Free(&out.iface);
    }
    BReactor_Free(&reactor);
    return 0;
}
