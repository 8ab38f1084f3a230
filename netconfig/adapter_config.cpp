#include "netconfig/adapter_config.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "foundation/ascii_case.h"
#include "foundation/services.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "netconfig/adapter_choice.h"
#include "netconfig/ipv4_text.h"
#include "netconfig/netconfig_log.h"
#include "netconfig/route_table.h"
#include "platform/host_guard.h"
#include "platform/resolv_conf.h"
#include "platform/rtnetlink.h"

namespace {

// IFALIASZ: the longest alias the kernel keeps.
constexpr size_t kMaxAliasLength = 255;

bool ReadLinks(RtnlSocket* socket, std::vector<RtnlLink>* links) {
    if (int error = socket->Open(); error != 0) {
        NetconfigLog(std::string("No netlink socket: ") + std::strerror(error));
        return false;
    }
    if (int error = socket->DumpLinks(links); error != 0) {
        NetconfigLog(std::string("Cannot list the links: ") + std::strerror(error));
        return false;
    }
    return true;
}

// The link whose connection name is `name` (without regard to case), else
// the one whose interface name it is.
const RtnlLink* FindConnection(const std::vector<RtnlLink>& links, const std::string& name) {
    if (name.empty()) return nullptr;
    for (const RtnlLink& link : links) {
        if (AsciiEqualsNoCase(ConnectionNameOf(link), name)) return &link;
    }
    for (const RtnlLink& link : links) {
        if (link.name == name) return &link;
    }
    return nullptr;
}

// The TUN device named `connectionName`, looked up in a fresh link list; null
// (logged) when there is none or the connection is someone else's.
const RtnlLink* FindOwnTun(RtnlSocket* socket, std::vector<RtnlLink>* links, const std::wstring& connectionName,
                           const char* what) {
    std::string name = WideToUtf8String(connectionName);
    if (name.empty() || !ReadLinks(socket, links)) return nullptr;
    const RtnlLink* link = FindConnection(*links, name);
    if (!link) {
        NetconfigLog(std::string(what) + ": no connection \"" + name + "\"");
        return nullptr;
    }
    if (!IsOwnTunLink(*link)) {
        NetconfigLog(std::string(what) + ": \"" + name + "\" is not the program's TUN device; left alone");
        return nullptr;
    }
    return link;
}

void LogFailure(const std::string& what, const RtnlResult& r) {
    std::string line = what + ": " + std::strerror(r.error);
    if (!r.message.empty()) line += " (" + r.message + ")";
    NetconfigLog(line);
}

int SetMetric(const std::wstring& connectionName, int metric, bool v4) {
    RtnlSocket socket;
    std::vector<RtnlLink> links;
    std::string name = WideToUtf8String(connectionName);
    if (!ReadLinks(&socket, &links)) return 0;
    const RtnlLink* link = FindConnection(links, name);
    if (!link || metric < 0) {
        NetconfigLog("Interface metric of \"" + name + "\" not set");
        return 0;
    }
    if (v4) SetInterfaceMetricValue(link->index, static_cast<uint32_t>(metric));
    return 1;
}

// A dotted server address from the caller; false (logged) for anything else.
bool ServerAddress(const std::wstring& text, std::string* out) {
    *out = WideToUtf8String(text);
    if (IsValidIPv4(*out)) return true;
    NetconfigLog("DNS server address \"" + *out + "\" refused: not a dotted IPv4 address");
    return false;
}

int SetServers(const std::vector<std::string>& servers) {
    ResolvConfResult r = ResolvConf_SetServers(servers);
    if (r == ResolvConfResult::kOk) return 1;
    NetconfigLog("DNS servers not set (" + ResolvConf_GetTarget().string() + ")");
    return 0;
}

bool DnsTargetConnection(const std::wstring& connectionName) {
    RtnlSocket socket;
    std::vector<RtnlLink> links;
    return FindOwnTun(&socket, &links, connectionName, "DNS servers") != nullptr;
}

}  // namespace

std::string ConnectionNameOf(const RtnlLink& link) {
    return link.alias.empty() ? link.name : link.alias;
}

bool IsOwnTunLink(const RtnlLink& link) {
    return link.kind == "tun" && link.name == kTunDeviceName;
}

int GetNetshDnsKeyword(std::wstring* out) {
    if (!IsVistaOrLater())
        *out = L"dns";
    else if (IsVista())
        *out = L"dnsserver";
    else
        *out = L"dnsservers";
    return 1;
}

int SetInterfaceMetricV4(const std::wstring& connectionName, int metric, int /*stdoutFd*/) {
    return SetMetric(connectionName, metric, true);
}

int SetInterfaceMetricV6(const std::wstring& connectionName, int metric, int /*stdoutFd*/) {
    return SetMetric(connectionName, metric, false);
}

int SetStaticAddress(const std::wstring& connectionName, int /*withGateway*/, int /*gatewayMetric*/,
                     const std::wstring& address, const std::wstring& mask, const std::wstring& /*gateway*/,
                     int /*stdoutFd*/) {
    uint32_t addr = 0, msk = 0;
    if (!ParseDottedIPv4(WideToUtf8String(address), &addr) || !ParseDottedIPv4(WideToUtf8String(mask), &msk) ||
        MaskToPrefixLength(msk) <= 0) {
        NetconfigLog("Static address " + WideToUtf8String(address) + "/" + WideToUtf8String(mask) +
                     " refused: not an address and mask");
        return 0;
    }
    int prefix = MaskToPrefixLength(msk);
    RtnlSocket socket;
    std::vector<RtnlLink> links;
    const RtnlLink* link = FindOwnTun(&socket, &links, connectionName, "Static address");
    if (!link) return 0;
    std::vector<RtnlAddress> addresses;
    if (socket.DumpAddresses(&addresses) != 0) return 0;
    bool present = false;
    for (const RtnlAddress& a : addresses) {
        if (a.ifindex != link->index) continue;
        if (a.address == addr && a.prefixLength == prefix) {
            present = true;
            continue;
        }
        if (RtnlResult r = socket.DeleteAddress(a); r.error != 0 && r.error != EADDRNOTAVAIL) {
            LogFailure("Removing " + DottedIPv4(a.address) + " from " + link->name, r);
            return 0;
        }
    }
    RtnlAddress wanted{link->index, addr, static_cast<uint8_t>(prefix), {}};
    if (!present) {
        if (RtnlResult r = socket.AddAddress(wanted); r.error != 0 && r.error != EEXIST) {
            LogFailure("Adding " + DottedIPv4(addr) + " to " + link->name, r);
            return 0;
        }
    }
    if (RtnlResult r = socket.SetLinkUp(link->index, true); r.error != 0) {
        LogFailure("Setting " + link->name + " up", r);
        return 0;
    }
    // Report what the kernel holds now: ours, and nothing else.
    if (socket.DumpAddresses(&addresses) != 0) return 0;
    bool ours = false, others = false;
    for (const RtnlAddress& a : addresses) {
        if (a.ifindex != link->index) continue;
        (a.address == addr && a.prefixLength == prefix ? ours : others) = true;
    }
    return ours && !others ? 1 : 0;
}

int SetAddressDhcp(const std::wstring& connectionName) {
    uint32_t tapAddress = 0;
    ParseDottedIPv4(WideToUtf8String(kTapAddress), &tapAddress);
    RtnlSocket socket;
    std::vector<RtnlLink> links;
    const RtnlLink* link = FindOwnTun(&socket, &links, connectionName, "Automatic address");
    if (!link) return 0;
    std::vector<RtnlAddress> addresses;
    if (socket.DumpAddresses(&addresses) != 0) return 0;
    for (const RtnlAddress& a : addresses) {
        if (a.ifindex != link->index || a.address != tapAddress) continue;
        if (RtnlResult r = socket.DeleteAddress(a); r.error != 0 && r.error != EADDRNOTAVAIL) {
            LogFailure("Removing " + DottedIPv4(a.address) + " from " + link->name, r);
            return 0;
        }
    }
    return 1;
}

int SetPrimaryDnsServer(const std::wstring& connectionName, const std::wstring& address) {
    std::string server;
    if (!ServerAddress(address, &server) || !DnsTargetConnection(connectionName)) return 0;
    return SetServers({server});
}

int AddSecondaryDnsServer(const std::wstring& connectionName, const std::wstring& address) {
    std::string server;
    if (!ServerAddress(address, &server) || !DnsTargetConnection(connectionName)) return 0;
    // Second after the primary we set; alone when we set none.
    std::vector<std::string> servers;
    std::vector<std::string> now = ResolvConf_CurrentServers();
    if (ResolvConf_HasBackup() && !now.empty() && now.front() != server) servers.push_back(now.front());
    servers.push_back(server);
    return SetServers(servers);
}

int SetAdapterDnsServers(const std::wstring& connectionName, const std::wstring& primary,
                         const std::wstring& secondary) {
    // Both checked before anything changes.
    std::string unused;
    if ((!primary.empty() && !ServerAddress(primary, &unused)) ||
        (!secondary.empty() && !ServerAddress(secondary, &unused))) {
        return 0;
    }
    if (primary.empty() && secondary.empty()) {
        NetconfigLog("DNS servers not set: none given");
        return 0;
    }
    int ok = 1;
    if (!primary.empty()) ok &= SetPrimaryDnsServer(connectionName, primary);
    if (ok && !secondary.empty()) ok &= AddSecondaryDnsServer(connectionName, secondary);
    return ok;
}

int FlushDnsCache(int stdoutFd) {
    // systemd-resolved serves every namespace of the machine: never touched from a test.
    if (HostGuard_IsEnabled()) {
        NetconfigLog("DNS cache not flushed: the host guard forbids it");
        return 0;
    }
    std::error_code ec;
    if (!std::filesystem::exists("/run/systemd/resolve/io.systemd.Resolve", ec)) return 1;
    int code = -1;
    if (!RunCommandHidden({"resolvectl", "flush-caches"}, stdoutFd, &code) || code != 0) {
        NetconfigLog("systemd-resolved's cache could not be flushed");
        return 0;
    }
    return 1;
}

int RenameConnection(const std::wstring& currentName, const std::wstring& newName) {
    std::string wanted = WideToUtf8String(newName);
    bool usable = !wanted.empty() && wanted.size() <= kMaxAliasLength;
    for (unsigned char c : wanted) usable = usable && c >= 0x20 && c != 0x7f;
    if (!usable) {
        NetconfigLog("Connection name \"" + wanted + "\" refused");
        return 0;
    }
    RtnlSocket socket;
    std::vector<RtnlLink> links;
    const RtnlLink* link = FindOwnTun(&socket, &links, currentName, "Renaming a connection");
    if (!link) return 0;
    if (ConnectionNameOf(*link) == wanted) return 1;
    for (const RtnlLink& other : links) {
        if (other.index != link->index &&
            (AsciiEqualsNoCase(ConnectionNameOf(other), wanted) || AsciiEqualsNoCase(other.name, wanted))) {
            NetconfigLog("Connection name \"" + wanted + "\" refused: " + other.name + " has it");
            return 0;
        }
    }
    if (RtnlResult r = socket.SetLinkAlias(link->index, wanted); r.error != 0) {
        LogFailure("Renaming " + link->name, r);
        return 0;
    }
    return 1;
}

void EnsureDhcpServiceRunning() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return;
    SetServiceRunning(SERVICE_ALL_ACCESS, manager, L"Dhcp", true, true);
    CloseServiceHandle(manager);
}

int CWMILib::Connect(const wchar_t* /*ns*/) {
    if (!connected_) NetconfigLog("Adapter configuration objects are not available; commands are used");
    return 0;
}

void CWMILib::SetAdapterId(const wchar_t* guid) {
    if (guid) guid_ = guid;
}

int CWMILib::GetAdapterObjectPath(std::wstring* /*path*/) {
    return 0;
}

int CWMILib::EnableStatic(const wchar_t* /*address*/, const wchar_t* /*mask*/) {
    return 0;
}

int CWMILib::SetDNSServerSearchOrder(const wchar_t* /*primary*/, const wchar_t* /*secondary*/) {
    return 0;
}

int CWMILib::IsDnsServerSet(const wchar_t* primary, const wchar_t* secondary) {
    if (!primary) return 0;
    std::vector<std::string> now = ResolvConf_CurrentServers();
    if (now.empty() || !AsciiEqualsNoCase(now[0], WideToUtf8String(primary))) return 0;
    if (secondary && *secondary) {
        return now.size() >= 2 && AsciiEqualsNoCase(now[1], WideToUtf8String(secondary)) ? 1 : 0;
    }
    return 1;
}
