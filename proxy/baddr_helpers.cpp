#include "proxy/baddr_helpers.h"

#include <arpa/inet.h>

#include <cstring>

bool BAddr_IsDnsPort(const BAddr* addr) {
    if (addr->type == BADDR_TYPE_IPV4) return ntohs(addr->ipv4.port) == 53;
    if (addr->type == BADDR_TYPE_IPV6) return ntohs(addr->ipv6.port) == 53;
    return false;
}

bool BAddr_Equals(const BAddr* a, const BAddr* b) {
    if (a->type != b->type) return false;
    if (a->type == BADDR_TYPE_IPV4) return a->ipv4.ip == b->ipv4.ip && a->ipv4.port == b->ipv4.port;
    if (a->type == BADDR_TYPE_IPV6)
        return std::memcmp(a->ipv6.ip, b->ipv6.ip, 16) == 0 && a->ipv6.port == b->ipv6.port;
    return false;
}
