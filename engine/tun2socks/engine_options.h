#pragma once
// The engine's option record, filled from the start arguments, and the
// values derived from it.

#include <cstddef>
#include <cstdint>

#include "engine/base/baddr.h"
#include "engine/base/blog.h"
#include "engine/socksclient/bsocksclient.h"

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

// What process_arguments derives from the options.
struct EngineArgs {
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
};

// Fills the option record from the start arguments (private copies of the
// texts) and checks that the required ones are there. A failure writes one
// line to standard error and returns 0.
int InitEngineOptions(const char* device, const char* netif_ipaddr, const char* netif_netmask,
                      const char* socks_server, const char* username, const char* password,
                      const char* udpgw_server, int transparent_dns);
// Releases the option texts and what process_arguments read from a
// password file; safe to call more than once.
void FreeEngineOptions(void);

// Derives the addresses and the SOCKS authentication list; failures are
// logged. 1 or 0.
int process_arguments(void);

// Whether UDP travels through udpgw: a udpgw server was given.
int udpgw_relayed(void);
