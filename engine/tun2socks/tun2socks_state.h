#pragma once
// The engine's process-wide state, shared by the start and stop code, the
// core (device input, stack interface, UDP relay) and the TCP relay. Only the
// flags marked atomic are touched by the caller's thread while the engine
// thread runs.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/base/baddr.h"
#include "engine/base/blog.h"
#include "engine/base/linked_list.h"
#include "engine/flow/single_packet_buffer.h"
#include "engine/socksclient/bsocksclient.h"
#include "engine/socksclient/socks_udpgw_client.h"
#include "engine/stack/netif.h"
#include "engine/stack/tcp.h"
#include "engine/system/breactor.h"
#include "engine/system/bsignal.h"
#include "engine/tun2socks/tcp_batch.h"
#include "engine/tuntap/btap.h"

// The option record; every text is a private heap copy or null.
struct EngineOptions {
    int help;
    int version;
    int logger;
    int loglevel;
    int loglevels[BLOG_NUM_CHANNELS];
    char* tundev;
    char* netif_ipaddr;
    char* netif_netmask;
    char* netif_ip6addr;
    char* socks_server_addr;
    char* username;
    char* password;
    char* password_file;
    int append_source_to_username;
    char* udpgw_remote_server_addr;
    int udpgw_max_connections;
    int udpgw_connection_buffer_size;
    int udpgw_transparent_dns;
};

struct Tun2SocksEngine {
    EngineOptions options;

    // Derived from the options by process_arguments.
    BIPAddr netif_ipaddr;
    BIPAddr netif_netmask;
    int have_netif_ip6addr;
    uint8_t netif_ip6addr[16];
    BAddr socks_server_addr;
    uint8_t* password_file_contents;
    size_t password_file_contents_len;
    BSocksClient_auth_info socks_auth_info[2];
    size_t socks_num_auth_info;
    BAddr udpgw_remote_server_addr;

    // Shared with the caller's thread.
    std::atomic<int> running{0};
    std::atomic<int> started{0};
    std::atomic<int> num_clients{0};
    BLog_logfunc log_sink = nullptr;  // written only while no engine runs

    // Engine thread.
    int quitting;
    BReactor reactor;
    BSignal signal;
    BTap device;
    PacketSink device_input;
    SinglePacketBuffer device_read_buffer;
    int udp_mtu;
    SocksUdpGwClient udpgw_client;
    BJob lwip_init_job;
    uint8_t* device_write_buf;
    TcpBatch tcp_batch;  // segments on their way to the device
    int batching;        // whether segments are joined at all
    BJob tcp_batch_job;  // writes the batch out once the current burst is over
    BReactorTimer tcp_timer;
    uint8_t tcp_timer_ticks;
    int have_netif;
    netif the_netif;
    tcp_pcb_listen* listener;
    tcp_pcb_listen* listener_ip6;
    LinkedList clients_list;
};

extern Tun2SocksEngine g_engine;

// The engine ends itself: logs, sets quitting and asks the reactor to exit with code 1.
void terminate(void);
