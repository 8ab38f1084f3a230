#include "platform/rtnetlink.h"

#include <errno.h>
#include <libmnl/libmnl.h>
#include <linux/if.h>
#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/host_guard.h"

namespace {

// Large enough for any one message of a dump (the kernel fills up to 32 KiB).
constexpr size_t kReceiveBufferSize = 64 * 1024;
// Room for one route request: header, rtmsg and six attributes.
constexpr size_t kRouteMessageRoom = 128;
// Socket buffers asked for; as root the FORCE options pass the system limits.
constexpr int kSocketReceiveBuffer = 8 * 1024 * 1024;
constexpr int kSocketSendBuffer = 2 * 1024 * 1024;
// What one acknowledgement may cost of the receive buffer (its skb's true
// size is well below this) and the bounds of a batch.
constexpr size_t kAckCost = 2048;
constexpr size_t kMaxBatch = 2048;
constexpr int kAckWaitSeconds = 10;

std::atomic<int> g_faultCountdown{0};

bool TakeFault() {
    int n = g_faultCountdown.load();
    while (n > 0) {
        if (g_faultCountdown.compare_exchange_weak(n, n - 1)) return n == 1;
    }
    return false;
}

void PutRoute(nlmsghdr* nlh, const RtnlRoute& route) {
    auto* rtm = static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(rtmsg)));
    rtm->rtm_family = AF_INET;
    rtm->rtm_dst_len = route.prefixLength;
    rtm->rtm_table =
        route.table < 256 ? static_cast<uint8_t>(route.table) : static_cast<uint8_t>(RT_TABLE_UNSPEC);
    rtm->rtm_protocol = route.protocol;
    rtm->rtm_scope = route.scope;
    rtm->rtm_type = route.type;
    if (route.table >= 256) mnl_attr_put_u32(nlh, RTA_TABLE, route.table);
    mnl_attr_put(nlh, RTA_DST, sizeof route.destination, &route.destination);
    if (route.gateway) mnl_attr_put(nlh, RTA_GATEWAY, sizeof route.gateway, &route.gateway);
    uint32_t ifindex = route.ifindex;
    if (TakeFault()) ifindex = 0x7ffffff0;  // no such interface: the kernel refuses the route
    if (ifindex) mnl_attr_put_u32(nlh, RTA_OIF, ifindex);
    if (route.priority) mnl_attr_put_u32(nlh, RTA_PRIORITY, route.priority);
    if (route.prefsrc) mnl_attr_put(nlh, RTA_PREFSRC, sizeof route.prefsrc, &route.prefsrc);
}

uint32_t AttrAddress(const nlattr* attr) {
    uint32_t value = 0;
    if (mnl_attr_get_payload_len(attr) >= sizeof value)
        std::memcpy(&value, mnl_attr_get_payload(attr), sizeof value);
    return value;
}

uint32_t AttrU32(const nlattr* attr) {
    return mnl_attr_get_payload_len(attr) >= sizeof(uint32_t) ? mnl_attr_get_u32(attr) : 0;
}

std::string AttrString(const nlattr* attr) {
    const char* text = static_cast<const char*>(mnl_attr_get_payload(attr));
    size_t len = mnl_attr_get_payload_len(attr);
    return std::string(text, strnlen(text, len));
}

// Calls `each` for every well-formed attribute in [begin, end).
template <class F>
void ForEachAttr(const void* begin, const void* end, F each) {
    const auto* attr = static_cast<const nlattr*>(begin);
    while (mnl_attr_ok(
        attr, static_cast<int>(static_cast<const char*>(end) - reinterpret_cast<const char*>(attr)))) {
        each(attr);
        attr = mnl_attr_next(attr);
    }
}

template <class F>
void ForEachMessageAttr(const nlmsghdr* nlh, size_t offset, F each) {
    ForEachAttr(mnl_nlmsg_get_payload_offset(nlh, offset), mnl_nlmsg_get_payload_tail(nlh), each);
}

template <class F>
void ForEachNestedAttr(const nlattr* nest, F each) {
    const char* begin = static_cast<const char*>(mnl_attr_get_payload(nest));
    ForEachAttr(begin, begin + mnl_attr_get_payload_len(nest), each);
}

bool ParseRoute(const nlmsghdr* nlh, RtnlRoute* route) {
    if (nlh->nlmsg_type != RTM_NEWROUTE || mnl_nlmsg_get_payload_len(nlh) < sizeof(rtmsg)) return false;
    const auto* rtm = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(nlh));
    if (rtm->rtm_family != AF_INET) return false;
    *route = RtnlRoute{};
    route->prefixLength = rtm->rtm_dst_len;
    route->table = rtm->rtm_table;
    route->protocol = rtm->rtm_protocol;
    route->type = rtm->rtm_type;
    route->scope = rtm->rtm_scope;
    ForEachMessageAttr(nlh, sizeof(rtmsg), [route](const nlattr* attr) {
        switch (mnl_attr_get_type(attr)) {
            case RTA_DST:
                route->destination = AttrAddress(attr);
                break;
            case RTA_GATEWAY:
                route->gateway = AttrAddress(attr);
                break;
            case RTA_OIF:
                route->ifindex = AttrU32(attr);
                break;
            case RTA_PRIORITY:
                route->priority = AttrU32(attr);
                break;
            case RTA_TABLE:
                route->table = AttrU32(attr);
                break;
            case RTA_PREFSRC:
                route->prefsrc = AttrAddress(attr);
                break;
            case RTA_MULTIPATH: {
                // Several next hops: the first stands for the route.
                size_t len = mnl_attr_get_payload_len(attr);
                const auto* nh = static_cast<const rtnexthop*>(mnl_attr_get_payload(attr));
                if (len >= sizeof(rtnexthop) && nh->rtnh_len >= sizeof(rtnexthop) && nh->rtnh_len <= len) {
                    if (!route->ifindex) route->ifindex = static_cast<uint32_t>(nh->rtnh_ifindex);
                    const char* hop = reinterpret_cast<const char*>(nh);
                    ForEachAttr(hop + RTNH_LENGTH(0), hop + nh->rtnh_len, [route](const nlattr* a) {
                        if (mnl_attr_get_type(a) == RTA_GATEWAY && !route->gateway)
                            route->gateway = AttrAddress(a);
                    });
                }
                break;
            }
            default:
                break;
        }
    });
    return true;
}

bool ParseAddress(const nlmsghdr* nlh, RtnlAddress* address) {
    if (nlh->nlmsg_type != RTM_NEWADDR || mnl_nlmsg_get_payload_len(nlh) < sizeof(ifaddrmsg)) return false;
    const auto* ifa = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(nlh));
    if (ifa->ifa_family != AF_INET) return false;
    *address = RtnlAddress{};
    address->ifindex = ifa->ifa_index;
    address->prefixLength = ifa->ifa_prefixlen;
    bool haveLocal = false;
    ForEachMessageAttr(nlh, sizeof(ifaddrmsg), [address, &haveLocal](const nlattr* attr) {
        switch (mnl_attr_get_type(attr)) {
            case IFA_LOCAL:
                address->address = AttrAddress(attr);
                haveLocal = true;
                break;
            case IFA_ADDRESS:
                // The peer's address on point-to-point links; the own address is IFA_LOCAL.
                if (!haveLocal) address->address = AttrAddress(attr);
                break;
            case IFA_LABEL:
                address->label = AttrString(attr);
                break;
            default:
                break;
        }
    });
    return true;
}

bool ParseLink(const nlmsghdr* nlh, RtnlLink* link) {
    if (nlh->nlmsg_type != RTM_NEWLINK || mnl_nlmsg_get_payload_len(nlh) < sizeof(ifinfomsg)) return false;
    const auto* ifi = static_cast<const ifinfomsg*>(mnl_nlmsg_get_payload(nlh));
    *link = RtnlLink{};
    link->index = static_cast<uint32_t>(ifi->ifi_index);
    link->flags = ifi->ifi_flags;
    link->type = ifi->ifi_type;
    ForEachMessageAttr(nlh, sizeof(ifinfomsg), [link](const nlattr* attr) {
        switch (mnl_attr_get_type(attr)) {
            case IFLA_IFNAME:
                link->name = AttrString(attr);
                break;
            case IFLA_IFALIAS:
                link->alias = AttrString(attr);
                break;
            case IFLA_MTU:
                link->mtu = AttrU32(attr);
                break;
            case IFLA_OPERSTATE:
                if (mnl_attr_get_payload_len(attr) >= 1) link->operstate = mnl_attr_get_u8(attr);
                break;
            case IFLA_LINKINFO: {
                ForEachNestedAttr(attr, [link](const nlattr* info) {
                    if (mnl_attr_get_type(info) == IFLA_INFO_KIND) link->kind = AttrString(info);
                });
                break;
            }
            default:
                break;
        }
    });
    return true;
}

// The error and extended-ack text of an NLMSG_ERROR message.
RtnlResult ParseAck(const nlmsghdr* nlh) {
    RtnlResult result;
    if (mnl_nlmsg_get_payload_len(nlh) < sizeof(nlmsgerr)) {
        result.error = EBADMSG;
        return result;
    }
    const auto* err = static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(nlh));
    result.error = err->error < 0 ? -err->error : err->error;
    if (!(nlh->nlmsg_flags & NLM_F_ACK_TLVS)) return result;
    size_t offset = sizeof(nlmsgerr);
    if (!(nlh->nlmsg_flags & NLM_F_CAPPED)) offset += err->msg.nlmsg_len - sizeof(nlmsghdr);
    if (offset >= mnl_nlmsg_get_payload_len(nlh)) return result;
    ForEachMessageAttr(nlh, offset, [&result](const nlattr* attr) {
        if (mnl_attr_get_type(attr) == NLMSGERR_ATTR_MSG) result.message = AttrString(attr);
    });
    return result;
}

}  // namespace

void RtnlFailRouteRequestForTest(int nth) {
    g_faultCountdown.store(nth > 0 ? nth : 0);
}

RtnlSocket::~RtnlSocket() {
    Close();
}

int RtnlSocket::Open() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Close();
    mnl_socket* nl = mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC);
    if (!nl) return errno ? errno : EIO;
    if (mnl_socket_bind(nl, 0, MNL_SOCKET_AUTOPID) < 0) {
        int error = errno;
        mnl_socket_close(nl);
        return error ? error : EIO;
    }
    int one = 1;
    // Acknowledgements without a copy of the request keep them small; the
    // extended ack carries the kernel's reason for a refusal.
    mnl_socket_setsockopt(nl, NETLINK_CAP_ACK, &one, sizeof one);
    mnl_socket_setsockopt(nl, NETLINK_EXT_ACK, &one, sizeof one);
    int fd = mnl_socket_get_fd(nl);
    int size = kSocketReceiveBuffer;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    size = kSocketSendBuffer;
    if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size) != 0)
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    timeval wait{kAckWaitSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);

    int receive = 0, send = 0;
    socklen_t len = sizeof receive;
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive, &len);
    len = sizeof send;
    getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &send, &len);
    // The kernel reports twice what it counts against; use the smaller half.
    size_t byAcks = static_cast<size_t>(receive) / 2 / kAckCost;
    size_t bySend = static_cast<size_t>(send) / 2 / kRouteMessageRoom;
    batchLimit_ = std::clamp<size_t>(std::min(byAcks, bySend), 1, kMaxBatch);

    nl_ = nl;
    portid_ = mnl_socket_get_portid(nl);
    seq_ = static_cast<uint32_t>(time(nullptr));
    namespace_ = HostGuard_CurrentNamespace();
    buffer_.assign(std::max(kReceiveBufferSize, batchLimit_ * kRouteMessageRoom), 0);
    return 0;
}

void RtnlSocket::Close() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (nl_) mnl_socket_close(nl_);
    nl_ = nullptr;
    namespace_ = 0;
}

int RtnlSocket::Dump(uint16_t type, uint8_t family, const std::function<void(const nlmsghdr*)>& each) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!nl_) return EBADF;
    // A dump that the kernel marks interrupted (the table changed under it) is taken again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        char request[64] = {};
        nlmsghdr* nlh = mnl_nlmsg_put_header(request);
        nlh->nlmsg_type = type;
        nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        nlh->nlmsg_seq = ++seq_;
        // rtmsg, ifaddrmsg and ifinfomsg all begin with the family.
        size_t header = type == RTM_GETROUTE  ? sizeof(rtmsg)
                        : type == RTM_GETADDR ? sizeof(ifaddrmsg)
                                              : sizeof(ifinfomsg);
        auto* gen = static_cast<rtgenmsg*>(mnl_nlmsg_put_extra_header(nlh, header));
        gen->rtgen_family = family;
        if (mnl_socket_sendto(nl_, nlh, nlh->nlmsg_len) < 0) return errno ? errno : EIO;
        uint32_t seq = nlh->nlmsg_seq;
        bool interrupted = false;
        for (;;) {
            ssize_t n = mnl_socket_recvfrom(nl_, buffer_.data(), buffer_.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno == EAGAIN ? ETIMEDOUT : errno;
            }
            int left = static_cast<int>(n);
            bool done = false;
            for (const auto* msg = reinterpret_cast<const nlmsghdr*>(buffer_.data()); mnl_nlmsg_ok(msg, left);
                 msg = mnl_nlmsg_next(msg, &left)) {
                if (msg->nlmsg_seq != seq || msg->nlmsg_pid != portid_) continue;
                if (msg->nlmsg_flags & NLM_F_DUMP_INTR) interrupted = true;
                if (msg->nlmsg_type == NLMSG_DONE) {
                    done = true;
                    break;
                }
                if (msg->nlmsg_type == NLMSG_ERROR) {
                    RtnlResult r = ParseAck(msg);
                    if (r.error) return r.error;
                    continue;
                }
                if (!interrupted) each(msg);
            }
            if (done) break;
        }
        if (!interrupted) return 0;
    }
    return EAGAIN;
}

int RtnlSocket::DumpRoutes(std::vector<RtnlRoute>* routes) {
    routes->clear();
    int error = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        routes->clear();
        error = Dump(RTM_GETROUTE, AF_INET, [routes](const nlmsghdr* nlh) {
            RtnlRoute route;
            if (ParseRoute(nlh, &route)) routes->push_back(route);
        });
        if (error != EAGAIN) break;
    }
    if (error) routes->clear();
    return error;
}

int RtnlSocket::DumpAddresses(std::vector<RtnlAddress>* addresses) {
    addresses->clear();
    int error = Dump(RTM_GETADDR, AF_INET, [addresses](const nlmsghdr* nlh) {
        RtnlAddress address;
        if (ParseAddress(nlh, &address)) addresses->push_back(address);
    });
    if (error) addresses->clear();
    return error;
}

int RtnlSocket::DumpLinks(std::vector<RtnlLink>* links) {
    links->clear();
    int error = Dump(RTM_GETLINK, AF_UNSPEC, [links](const nlmsghdr* nlh) {
        RtnlLink link;
        if (ParseLink(nlh, &link)) links->push_back(link);
    });
    if (error) links->clear();
    return error;
}

void RtnlSocket::CollectAcks(uint32_t first, size_t count, RtnlResult* results) {
    std::vector<bool> seen(count, false);
    size_t pending = count;
    while (pending > 0) {
        ssize_t n = mnl_socket_recvfrom(nl_, buffer_.data(), buffer_.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            // No answer in time, or answers lost: the rest stay unknown, as failures.
            int error = errno == EAGAIN ? ETIMEDOUT : errno;
            for (size_t i = 0; i < count; ++i) {
                if (!seen[i]) results[i] = RtnlResult{error, "no acknowledgement from the kernel"};
            }
            return;
        }
        int left = static_cast<int>(n);
        for (const auto* msg = reinterpret_cast<const nlmsghdr*>(buffer_.data()); mnl_nlmsg_ok(msg, left);
             msg = mnl_nlmsg_next(msg, &left)) {
            if (msg->nlmsg_type != NLMSG_ERROR || msg->nlmsg_pid != portid_) continue;
            uint32_t index = msg->nlmsg_seq - first;  // wraps for stale answers
            if (index >= count || seen[index]) continue;
            seen[index] = true;
            results[index] = ParseAck(msg);
            --pending;
        }
    }
}

std::vector<RtnlResult> RtnlSocket::Transact(uint16_t type, uint16_t flags, size_t count,
                                             const Builder& build, const char* what) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<RtnlResult> results(count);
    if (!nl_) {
        for (auto& r : results) r = RtnlResult{EBADF, "no netlink socket"};
        return results;
    }
    if (HostGuard_Refuses(namespace_, what)) {
        for (auto& r : results) r = RtnlResult{EPERM, "refused by the host guard"};
        return results;
    }
    for (size_t done = 0; done < count;) {
        size_t batch = std::min(batchLimit_, count - done);
        size_t used = 0;
        uint32_t first = seq_ + 1;
        for (size_t i = 0; i < batch; ++i) {
            // Each request gets the room of the largest route request, zeroed.
            if (used + kRouteMessageRoom > buffer_.size()) {
                batch = i;
                break;
            }
            char* at = buffer_.data() + used;
            std::memset(at, 0, kRouteMessageRoom);
            nlmsghdr* nlh = mnl_nlmsg_put_header(at);
            nlh->nlmsg_type = type;
            nlh->nlmsg_flags = static_cast<uint16_t>(NLM_F_REQUEST | NLM_F_ACK | flags);
            nlh->nlmsg_seq = ++seq_;
            build(nlh, done + i);
            used += NLMSG_ALIGN(nlh->nlmsg_len);
        }
        if (mnl_socket_sendto(nl_, buffer_.data(), used) < 0) {
            int error = errno ? errno : EIO;
            for (size_t i = 0; i < batch; ++i)
                results[done + i] = RtnlResult{error, "the request was not sent"};
        } else {
            CollectAcks(first, batch, results.data() + done);
        }
        done += batch;
    }
    return results;
}

RtnlResult RtnlSocket::AddRoute(const RtnlRoute& route) {
    return AddRoutes({route}).front();
}

RtnlResult RtnlSocket::DeleteRoute(const RtnlRoute& route) {
    return DeleteRoutes({route}).front();
}

std::vector<RtnlResult> RtnlSocket::AddRoutes(const std::vector<RtnlRoute>& routes) {
    return Transact(
        RTM_NEWROUTE, NLM_F_CREATE | NLM_F_EXCL, routes.size(),
        [&routes](nlmsghdr* nlh, size_t i) { PutRoute(nlh, routes[i]); }, "adding a route");
}

std::vector<RtnlResult> RtnlSocket::DeleteRoutes(const std::vector<RtnlRoute>& routes) {
    return Transact(
        RTM_DELROUTE, 0, routes.size(), [&routes](nlmsghdr* nlh, size_t i) { PutRoute(nlh, routes[i]); },
        "deleting a route");
}

namespace {

ifinfomsg* PutLink(nlmsghdr* nlh, uint32_t index) {
    auto* ifi = static_cast<ifinfomsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(ifinfomsg)));
    ifi->ifi_family = AF_UNSPEC;
    ifi->ifi_index = static_cast<int>(index);
    return ifi;
}

}  // namespace

RtnlResult RtnlSocket::SetLinkAlias(uint32_t index, const std::string& alias) {
    return Request(
        RTM_NEWLINK, 0,
        [&](nlmsghdr* nlh) {
            PutLink(nlh, index);
            // The kernel stores the text as given; the terminating zero is not part of it.
            mnl_attr_put(nlh, IFLA_IFALIAS, alias.size(), alias.data());
        },
        "changing a link's alias");
}

RtnlResult RtnlSocket::SetLinkUp(uint32_t index, bool up) {
    return Request(
        RTM_NEWLINK, 0,
        [&](nlmsghdr* nlh) {
            ifinfomsg* ifi = PutLink(nlh, index);
            ifi->ifi_change = IFF_UP;
            ifi->ifi_flags = up ? IFF_UP : 0;
        },
        up ? "setting a link up" : "setting a link down");
}

RtnlResult RtnlSocket::DeleteLink(uint32_t index) {
    return Request(
        RTM_DELLINK, 0, [&](nlmsghdr* nlh) { PutLink(nlh, index); }, "deleting a link");
}

namespace {

void PutAddress(nlmsghdr* nlh, const RtnlAddress& address) {
    auto* ifa = static_cast<ifaddrmsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(ifaddrmsg)));
    ifa->ifa_family = AF_INET;
    ifa->ifa_prefixlen = address.prefixLength;
    ifa->ifa_scope = RT_SCOPE_UNIVERSE;
    ifa->ifa_index = address.ifindex;
    mnl_attr_put(nlh, IFA_LOCAL, sizeof address.address, &address.address);
    mnl_attr_put(nlh, IFA_ADDRESS, sizeof address.address, &address.address);
}

}  // namespace

RtnlResult RtnlSocket::AddAddress(const RtnlAddress& address) {
    return Request(
        RTM_NEWADDR, NLM_F_CREATE | NLM_F_EXCL, [&](nlmsghdr* nlh) { PutAddress(nlh, address); },
        "adding an address");
}

RtnlResult RtnlSocket::DeleteAddress(const RtnlAddress& address) {
    return Request(
        RTM_DELADDR, 0, [&](nlmsghdr* nlh) { PutAddress(nlh, address); }, "deleting an address");
}

RtnlResult RtnlSocket::Request(uint16_t type, uint16_t flags, const MessageBuilder& build, const char* what) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    // A caller's message may be larger than a route request: send it on its own.
    std::vector<char> message(MNL_SOCKET_BUFFER_SIZE, 0);
    if (!nl_) return RtnlResult{EBADF, "no netlink socket"};
    if (HostGuard_Refuses(namespace_, what)) return RtnlResult{EPERM, "refused by the host guard"};
    nlmsghdr* nlh = mnl_nlmsg_put_header(message.data());
    nlh->nlmsg_type = type;
    nlh->nlmsg_flags = static_cast<uint16_t>(NLM_F_REQUEST | NLM_F_ACK | flags);
    nlh->nlmsg_seq = ++seq_;
    build(nlh);
    RtnlResult result;
    if (mnl_socket_sendto(nl_, nlh, nlh->nlmsg_len) < 0) return RtnlResult{errno ? errno : EIO, "not sent"};
    CollectAcks(nlh->nlmsg_seq, 1, &result);
    return result;
}
