#pragma once
// The stack with the engine's interface, for tests, benchmarks and the fuzz
// target: the stack initialised and the interface brought up by the engine's
// own function at the engine's address 10.198.75.61/24 (and fd00::61 when
// asked for IPv6). Header-only: for targets that link the engine.

#include "engine/stack/init.h"
#include "engine/tun2socks/stack_netif.h"

namespace stacktest {

inline void InterfaceUp(netif* nif, void* state, netif_output_fn out4, netif_output_ip6_fn out6 = nullptr,
                        bool ipv6 = false) {
    static const uint8_t kIp6[16] = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x61};
    lwip_init();
    ip4_addr_t addr = ip4_addr_make(10, 198, 75, 61), mask = ip4_addr_make(255, 255, 255, 0);
    StackNetif_Add(nif, &addr, &mask, ipv6 ? kIp6 : nullptr, state, out4, out6);
}

}  // namespace stacktest
