#pragma once
// A small rtnetlink layer over libmnl, in place of IP Helper's route, address
// and interface tables.
//
// An RtnlSocket acts in the network namespace of the thread that opened it,
// whichever thread later uses it. Every change is a request acknowledged by
// the kernel and matched to its acknowledgement by sequence number; the
// kernel's refusal comes back as an errno value with its extended-ack text.
// Many route changes go out several to one sendmsg, in batches small enough
// that all their acknowledgements fit the receive buffer. Under the host
// guard (platform/host_guard.h) no change acts in the process's first
// namespace. One socket may be used from several threads: requests are
// serialised.
//
// Addresses are IPv4 in network byte order throughout.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct mnl_socket;
struct nlmsghdr;

// The protocol tag of every route this program adds: neither one that the
// kernel or iproute2 use (0 to 4) nor one listed in /etc/iproute2/rt_protos.
inline constexpr uint8_t kOwnRouteProtocol = 157;

inline constexpr uint32_t kRtnlMainTable = 254;  // RT_TABLE_MAIN

struct RtnlRoute {
    uint32_t destination = 0;
    uint8_t prefixLength = 0;
    uint32_t gateway = 0;   // 0: no gateway (a route straight onto the link)
    uint32_t ifindex = 0;   // 0: none given
    uint32_t priority = 0;  // the route's metric
    uint32_t table = kRtnlMainTable;
    uint8_t protocol = 0;
    uint8_t type = 1;   // RTN_UNICAST
    uint8_t scope = 0;  // RT_SCOPE_UNIVERSE; RT_SCOPE_LINK (253) for a route without gateway
    uint32_t prefsrc = 0;
};

struct RtnlAddress {
    uint32_t ifindex = 0;
    uint32_t address = 0;
    uint8_t prefixLength = 0;
    std::string label;
};

struct RtnlLink {
    uint32_t index = 0;
    std::string name;
    std::string kind;       // from IFLA_LINKINFO ("tun", "veth", "bridge", ...); empty for none
    std::string alias;      // IFLA_IFALIAS
    uint32_t flags = 0;     // IFF_*
    uint8_t operstate = 0;  // IF_OPER_*
    uint32_t mtu = 0;
    uint16_t type = 0;  // ARPHRD_* (1 Ethernet, 65534 none as on TUN devices)
};

// The outcome of one request: 0 or a positive errno, and the kernel's text.
struct RtnlResult {
    int error = 0;
    std::string message;
};

class RtnlSocket {
public:
    RtnlSocket() = default;
    ~RtnlSocket();
    RtnlSocket(const RtnlSocket&) = delete;
    RtnlSocket& operator=(const RtnlSocket&) = delete;

    // Opens the socket in the calling thread's namespace; 0 or an errno.
    int Open();
    void Close();
    bool IsOpen() const { return nl_ != nullptr; }
    // The namespace the socket acts in (its inode); 0 when closed.
    uint64_t GetNamespace() const { return namespace_; }

    // Dumps of the IPv4 routes of every table, the IPv4 addresses and the
    // links; 0 or an errno (the vector then holds nothing).
    int DumpRoutes(std::vector<RtnlRoute>* routes);
    int DumpAddresses(std::vector<RtnlAddress>* addresses);
    int DumpLinks(std::vector<RtnlLink>* links);

    // Creates a route that must not exist yet (EEXIST when a route of that
    // destination, prefix and metric is there).
    RtnlResult AddRoute(const RtnlRoute& route);
    // Deletes the route that matches every field given, protocol tag
    // included (ESRCH when there is none).
    RtnlResult DeleteRoute(const RtnlRoute& route);
    // The same for many routes; results[i] belongs to routes[i].
    std::vector<RtnlResult> AddRoutes(const std::vector<RtnlRoute>& routes);
    std::vector<RtnlResult> DeleteRoutes(const std::vector<RtnlRoute>& routes);

    // Link and address changes, each acknowledged.
    // The link's alias (IFLA_IFALIAS); an empty text clears it.
    RtnlResult SetLinkAlias(uint32_t index, const std::string& alias);
    // Sets the link administratively up or down.
    RtnlResult SetLinkUp(uint32_t index, bool up);
    // Deletes the link at once, whoever holds it open (ENODEV when gone).
    RtnlResult DeleteLink(uint32_t index);
    // Adds an address that must not exist yet on that link (EEXIST), or
    // deletes one (EADDRNOTAVAIL when it is not there).
    RtnlResult AddAddress(const RtnlAddress& address);
    RtnlResult DeleteAddress(const RtnlAddress& address);

    // A change request of the caller's making (links, addresses): `build`
    // appends the family header and attributes to the message, whose type,
    // flags (NLM_F_REQUEST | NLM_F_ACK | `flags`) and sequence are set.
    using MessageBuilder = std::function<void(nlmsghdr*)>;
    RtnlResult Request(uint16_t type, uint16_t flags, const MessageBuilder& build, const char* what);

    // Requests sent per sendmsg by AddRoutes and DeleteRoutes.
    size_t GetBatchLimit() const { return batchLimit_; }

private:
    using Builder = std::function<void(nlmsghdr*, size_t index)>;
    // Sends `count` requests built by `build`, batched, and collects their
    // acknowledgements in order.
    std::vector<RtnlResult> Transact(uint16_t type, uint16_t flags, size_t count, const Builder& build,
                                     const char* what);
    // Reads acknowledgements for the sequence numbers [first, first + count).
    void CollectAcks(uint32_t first, size_t count, RtnlResult* results);
    int Dump(uint16_t type, uint8_t family, const std::function<void(const nlmsghdr*)>& each);

    std::recursive_mutex mutex_;
    mnl_socket* nl_ = nullptr;
    uint32_t portid_ = 0;
    uint32_t seq_ = 0;
    uint64_t namespace_ = 0;
    size_t batchLimit_ = 64;
    std::vector<char> buffer_;
};

// Test seam: the n-th route change sent from now on (1 = the next) is made
// one the kernel refuses (it names an interface that does not exist).
void RtnlFailRouteRequestForTest(int nth);
