#include "netconfig/local_host.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "foundation/ini.h"
#include "foundation/string_util.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "netconfig/ipv4_text.h"

namespace {

// Written by WriteLocalHostIni, read by the connection threads' local tests.
struct OwnHost {
    std::mutex mutex;
    std::string name;
    std::set<uint32_t> addresses;  // network order
};

OwnHost& Own() {
    static OwnHost own;
    return own;
}

// The IPv4 addresses of this namespace's interfaces, loopback excluded, each once.
bool ReadInterfaceAddresses(std::vector<uint32_t>* out) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    for (ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET) continue;
        if (ifa->ifa_flags & IFF_LOOPBACK) continue;
        uint32_t address = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr;
        if (IsLoopbackInAddr(address)) continue;
        bool seen = false;
        for (uint32_t a : *out) seen = seen || a == address;
        if (!seen) out->push_back(address);
    }
    freeifaddrs(list);
    return true;
}

}  // namespace

int WriteLocalHostIni(const std::filesystem::path& folder) {
    CIniNembril ini(folder, "localhost.ini");
    ini.WriteString(L"basic", L"dummyip", L"10");

    char host[257] = {};
    if (gethostname(host, sizeof host - 1) != 0) return 0;
    std::string name(host);
    {
        OwnHost& own = Own();
        std::lock_guard<std::mutex> lock(own.mutex);
        own.name = name;
    }
    ini.WriteString(L"basic", L"hostname", Utf8ToWideString(name).c_str());

    std::vector<uint32_t> addresses;
    if (!ReadInterfaceAddresses(&addresses)) return 0;
    std::string list;
    bool tenNet = false;
    for (uint32_t address : addresses) {
        if ((ntohl(address) >> 24) == 10) tenNet = true;
        if (!list.empty()) list += ",";
        list += DottedIPv4(address);
    }
    {
        OwnHost& own = Own();
        std::lock_guard<std::mutex> lock(own.mutex);
        own.addresses = std::set<uint32_t>(addresses.begin(), addresses.end());
    }
    if (tenNet) ini.WriteString(L"basic", L"dummyip", L"240");
    ini.WriteString(L"basic", L"iplist", Utf8ToWideString(list).c_str());
    return 1;
}

int IsInOwnSubnet(uint32_t address) {
    OwnHost& own = Own();
    std::lock_guard<std::mutex> lock(own.mutex);
    for (uint32_t a : own.addresses) {
        if ((ntohl(a) >> 8) == (ntohl(address) >> 8)) return 1;
    }
    return 0;
}

int IsLocalAddress(const char* host) {
    if (!host) return 1;
    if (StringEquals(host, "localhost", true)) return 1;
    std::string ownName = GetLocalHostName();
    if (!ownName.empty() && StringEquals(host, ownName, true)) return 1;
    in_addr_t address = inet_addr(host);
    if (address == INADDR_NONE) return 0;
    if (IsLoopbackInAddr(address)) return 1;
    return IsInOwnSubnet(address);
}

int IsLocalAddressW(const wchar_t* host) {
    if (!host) return 1;
    return IsLocalAddress(WideToAnsiString(host).c_str());
}

std::string GetLocalHostName() {
    OwnHost& own = Own();
    std::lock_guard<std::mutex> lock(own.mutex);
    return own.name;
}

std::set<uint32_t> GetOwnAddresses() {
    OwnHost& own = Own();
    std::lock_guard<std::mutex> lock(own.mutex);
    return own.addresses;
}
