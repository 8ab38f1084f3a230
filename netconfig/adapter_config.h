#pragma once
// Configuration of network connections: interface metrics, the TUN device's
// address and connection name, the machine's DNS servers, the resolver cache
// and the DHCP client service.
//
// The functions keep the names and arguments of the command lines they stand
// for but run no command: links and addresses change through rtnetlink, DNS
// servers through the resolver configuration file (platform/resolv_conf.h),
// and each result says whether the change was made. A connection is named by
// its connection name (the link's alias, else its name). Only the program's
// own TUN device ever changes its address, alias or DNS servers: any other
// connection is refused. Everything acts in the calling thread's network
// namespace.

#include <cstdint>
#include <string>

#include "foundation/singleton.h"

// The DNS keyword of the commands these functions stand for.
int GetNetshDnsKeyword(std::wstring* out);

// The metric routes through the connection get on top of their base metric
// (the route manager's interface-metric table). 1 when the connection exists.
// IPv6 routes are not the program's: the V6 setter only checks the connection.
int SetInterfaceMetricV4(const std::wstring& connectionName, int metric, int stdoutFd = -1);
int SetInterfaceMetricV6(const std::wstring& connectionName, int metric, int stdoutFd = -1);

// Makes `address`/`mask` (strict dotted texts, a contiguous mask) the TUN
// device's only IPv4 address and sets the link up. The gateway arguments are
// taken and not used: the tunnel's routes go through the route manager. 1 when
// the address is in place afterwards.
int SetStaticAddress(const std::wstring& connectionName, int withGateway, int gatewayMetric,
                     const std::wstring& address, const std::wstring& mask, const std::wstring& gateway,
                     int stdoutFd = -1);

// Removes the TUN address 10.198.75.60 from the connection (no DHCP client
// runs here). 1 when the connection no longer has it; 0 for an empty name or
// another connection than the TUN device.
int SetAddressDhcp(const std::wstring& connectionName);

// The machine's DNS servers while the tunnel is up: the primary replaces
// every nameserver, the secondary is put second. Each address must be a
// strict dotted IPv4 address; otherwise nothing changes and the result is 0.
// SetAdapterDnsServers sets what is not empty; 1 when all of it was set.
int SetAdapterDnsServers(const std::wstring& connectionName, const std::wstring& primary,
                         const std::wstring& secondary);
int SetPrimaryDnsServer(const std::wstring& connectionName, const std::wstring& address);
int AddSecondaryDnsServer(const std::wstring& connectionName, const std::wstring& address);

// Flushes systemd-resolved's cache where it runs; 1 when flushed or when no
// caching resolver of the system runs, 0 when the flush failed or the host
// guard forbids it.
int FlushDnsCache(int stdoutFd = -1);

// Gives the connection a new connection name (the link's alias). 0 for an
// empty or unusable name, a name another connection has, a connection other
// than the TUN device, or a refusal of the kernel.
int RenameConnection(const std::wstring& currentName, const std::wstring& newName);

// The DHCP client service through the service stand-in, which never acts.
void EnsureDhcpServiceRunning();

// The adapter-configuration object of the other configuration path. This
// system has one path only: Connect always fails, so callers take the
// functions above; IsDnsServerSet reads what the resolver configuration holds.
class CWMILib : public CSingleton<CWMILib> {
public:
    // 0: not available here.
    int Connect(const wchar_t* ns);
    void SetAdapterId(const wchar_t* guid);
    const std::wstring& GetAdapterId() const { return guid_; }
    // 0: no configuration objects here.
    int GetAdapterObjectPath(std::wstring* path);
    int EnableStatic(const wchar_t* address, const wchar_t* mask);
    int SetDNSServerSearchOrder(const wchar_t* primary, const wchar_t* secondary);
    // 1 when the current nameservers start with `primary` and, when a
    // secondary is given (not null, not empty), continue with it (compared
    // without regard to case); 0 for a null primary.
    int IsDnsServerSet(const wchar_t* primary, const wchar_t* secondary);

private:
    friend class CSingleton<CWMILib>;
    CWMILib() = default;
    ~CWMILib() override = default;

    int connected_ = 0;
    std::wstring guid_;
};

// ---- Shared with adapter discovery ----

struct RtnlLink;

// The connection name of a link: its alias, else its name.
std::string ConnectionNameOf(const RtnlLink& link);
// Whether the link is the program's own TUN device.
bool IsOwnTunLink(const RtnlLink& link);
