#include "netconfig/ipv4_text.h"

#include <arpa/inet.h>
#include <netinet/in.h>

bool ParseDottedIPv4(std::string_view text, uint32_t* address) {
    if (text.empty() || text.size() > 15) return false;
    std::string copy(text);
    in_addr parsed{};
    // inet_pton takes exactly four decimal parts and refuses leading zeros.
    if (inet_pton(AF_INET, copy.c_str(), &parsed) != 1) return false;
    *address = parsed.s_addr;
    return true;
}

std::string DottedIPv4(uint32_t address) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr in{};
    in.s_addr = address;
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}
