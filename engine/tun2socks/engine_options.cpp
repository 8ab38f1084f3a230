#include "engine/tun2socks/engine_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/base/engine_util.h"
#include "engine/tun2socks/tun2socks_state.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_tun2socks

namespace {

// A private copy of an optional text; 0 when the copy could not be made.
int CopyText(char** out, const char* text) {
    *out = nullptr;
    if (text == nullptr) return 1;
    *out = Engine_StrDup(text);
    return *out != nullptr;
}

int Fail(const char* line) {
    std::fputs(line, stderr);
    return 0;
}

}  // namespace

int InitEngineOptions(const char* device, const char* netif_ipaddr, const char* netif_netmask,
                      const char* socks_server, const char* username, const char* password,
                      const char* udpgw_server, int transparent_dns) {
    EngineOptions& o = g_engine.options;
    o.help = 0;
    o.version = 0;
    o.logger = 1;
    o.loglevel = BLOG_INFO;
    for (int& level : o.loglevels) level = -1;
    o.netif_ip6addr = nullptr;
    o.password_file = nullptr;
    o.append_source_to_username = 0;
    o.udpgw_max_connections = 500;
    o.udpgw_connection_buffer_size = 8;
    o.udpgw_transparent_dns = transparent_dns;
    int copied = CopyText(&o.tundev, device);
    copied &= CopyText(&o.netif_ipaddr, netif_ipaddr);
    copied &= CopyText(&o.netif_netmask, netif_netmask);
    copied &= CopyText(&o.socks_server_addr, socks_server);
    copied &= CopyText(&o.username, username);
    copied &= CopyText(&o.password, password);
    copied &= CopyText(&o.udpgw_remote_server_addr, udpgw_server);
    if (!copied) return Fail("out of memory\n");

    if (o.netif_ipaddr == nullptr) return Fail("--netif-ipaddr is required\n");
    if (o.netif_netmask == nullptr) return Fail("--netif-netmask is required\n");
    if (o.socks_server_addr == nullptr) return Fail("--socks-server-addr is required\n");
    if (o.username != nullptr) {
        if (o.password == nullptr && o.password_file == nullptr)
            return Fail("username given but password not given\n");
        if (o.password != nullptr && o.password_file != nullptr) {
            return Fail("--password and --password-file cannot both be given\n");
        }
    }
    return 1;
}

void FreeEngineOptions(void) {
    EngineOptions& o = g_engine.options;
    for (char** text : {&o.tundev, &o.netif_ipaddr, &o.netif_netmask, &o.netif_ip6addr, &o.socks_server_addr,
                        &o.username, &o.password, &o.password_file, &o.udpgw_remote_server_addr}) {
        std::free(*text);
        *text = nullptr;
    }
    std::free(g_engine.args.password_file_contents);
    g_engine.args.password_file_contents = nullptr;
}

int process_arguments(void) {
    const EngineOptions& o = g_engine.options;
    EngineArgs& a = g_engine.args;
    a.password_file_contents = nullptr;
    a.password_file_contents_len = 0;

    if (!BIPAddr_Resolve(o.netif_ipaddr, &a.netif_ipaddr, 1)) {
        BLog(BLOG_ERROR, "netif ipaddr: BIPAddr_Resolve failed");
        return 0;
    }
    if (a.netif_ipaddr.type != BADDR_TYPE_IPV4) {
        BLog(BLOG_ERROR, "netif ipaddr: must be an IPv4 address");
        return 0;
    }
    if (!BIPAddr_Resolve(o.netif_netmask, &a.netif_netmask, 1)) {
        BLog(BLOG_ERROR, "netif netmask: BIPAddr_Resolve failed");
        return 0;
    }
    if (a.netif_netmask.type != BADDR_TYPE_IPV4) {
        BLog(BLOG_ERROR, "netif netmask: must be an IPv4 address");
        return 0;
    }
    a.have_netif_ip6addr = 0;
    if (o.netif_ip6addr != nullptr) {
        if (!IPv6Text_Parse(o.netif_ip6addr, std::strlen(o.netif_ip6addr), a.netif_ip6addr)) {
            BLog(BLOG_ERROR, "netif ip6addr: incorrect");
            return 0;
        }
        a.have_netif_ip6addr = 1;
    }
    if (!BAddr_Parse2(o.socks_server_addr, &a.socks_server_addr, 1)) {
        BLog(BLOG_ERROR, "socks server addr: BAddr_Parse2 failed");
        return 0;
    }

    a.socks_auth_info[0] = BSocksClient_auth_none();
    a.socks_num_auth_info = 1;
    if (o.username != nullptr) {
        const char* password = o.password;
        size_t password_len = password != nullptr ? std::strlen(password) : 0;
        if (o.password_file != nullptr) {
            a.password_file_contents =
                Engine_ReadPasswordFile(o.password_file, &a.password_file_contents_len);
            if (a.password_file_contents == nullptr) {
                BLog(BLOG_ERROR, "failed to read password file");
                return 0;
            }
            password = reinterpret_cast<const char*>(a.password_file_contents);
            password_len = a.password_file_contents_len;
        }
        a.socks_auth_info[1] =
            BSocksClient_auth_password(o.username, std::strlen(o.username), password, password_len);
        a.socks_num_auth_info = 2;
    }

    if (o.udpgw_remote_server_addr != nullptr &&
        !BAddr_Parse2(o.udpgw_remote_server_addr, &a.udpgw_remote_server_addr, 1)) {
        BLog(BLOG_ERROR, "remote udpgw server addr: BAddr_Parse2 failed");
        return 0;
    }
    return 1;
}

int udpgw_relayed(void) {
    return g_engine.options.udpgw_remote_server_addr != nullptr;
}
