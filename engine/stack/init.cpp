#include "engine/stack/init.h"

#include "engine/stack/ip4_frag.h"
#include "engine/stack/ip6_frag.h"
#include "engine/stack/memp.h"
#include "engine/stack/nd6.h"
#include "engine/stack/netif.h"
#include "engine/stack/tcp.h"

void lwip_init() {
    lwip_deinit();
    netif_init();
    tcp_init();
}

void lwip_deinit() {
    tcp_deinit();
    ip_reass_free_all();
    ip6_reass_free_all();
    nd6_free_all();
    while (netif_list != nullptr) netif_detach(netif_list);
    memp_release_unused();
}
