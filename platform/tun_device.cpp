#include "platform/tun_device.h"

// <net/if.h> before the kernel headers, which then leave its names alone.
#include <fcntl.h>
#include <linux/ethtool.h>
#include <linux/if_tun.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/host_guard.h"
#include "platform/rtnetlink.h"

namespace {

// An ifreq for `name`, or false when the name cannot be an interface name.
bool MakeIfreq(const std::string& name, ifreq* ifr) {
    if (name.empty() || name.size() >= IFNAMSIZ || name.find('/') != std::string::npos) return false;
    std::memset(ifr, 0, sizeof *ifr);
    std::memcpy(ifr->ifr_name, name.data(), name.size());
    return true;
}

// Interface ioctls on a socket of the calling thread's namespace.
int IfIoctl(unsigned long request, ifreq* ifr) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    int r = ioctl(s, request, ifr);
    int saved = errno;
    close(s);
    errno = saved;
    return r;
}

}  // namespace

std::string TunDevice_ResolveName(const std::string& nameOrAlias) {
    ifreq ifr;
    if (MakeIfreq(nameOrAlias, &ifr) && IfIoctl(SIOCGIFINDEX, &ifr) == 0) return nameOrAlias;
    if (nameOrAlias.empty()) return nameOrAlias;
    RtnlSocket socket;
    std::vector<RtnlLink> links;
    if (socket.Open() != 0 || socket.DumpLinks(&links) != 0) return nameOrAlias;
    for (const RtnlLink& link : links) {
        if (link.alias == nameOrAlias) return link.name;
    }
    return nameOrAlias;
}

TunLookup TunDevice_Find(const std::string& nameOrAlias) {
    const std::string name = TunDevice_ResolveName(nameOrAlias);
    ifreq ifr;
    if (!MakeIfreq(name, &ifr) || IfIoctl(SIOCGIFINDEX, &ifr) != 0) return TunLookup::kMissing;

    // The tun driver names itself "tun" for both of its modes; TUN mode has
    // no link-layer header.
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    MakeIfreq(name, &ifr);
    ifr.ifr_data = reinterpret_cast<char*>(&info);
    if (IfIoctl(SIOCETHTOOL, &ifr) != 0 || std::strncmp(info.driver, "tun", sizeof info.driver) != 0) {
        return TunLookup::kNotTun;
    }
    MakeIfreq(name, &ifr);
    if (IfIoctl(SIOCGIFHWADDR, &ifr) != 0 || ifr.ifr_hwaddr.sa_family != ARPHRD_NONE)
        return TunLookup::kNotTun;
    return TunLookup::kFound;
}

int TunDevice_Open(const std::string& nameOrAlias) {
    const std::string name = TunDevice_ResolveName(nameOrAlias);
    ifreq ifr;
    if (!MakeIfreq(name, &ifr)) {
        errno = EINVAL;
        return -1;
    }
    int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    ifr.ifr_flags = IFF_TUN | IFF_NO_PI | IFF_VNET_HDR;
    int header_size = kTunPacketHeaderSize;
    if (ioctl(fd, TUNSETIFF, &ifr) != 0 || ioctl(fd, TUNSETVNETHDRSZ, &header_size) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    // TUNSETIFF makes a new device when none has the name (it may have gone
    // since the caller looked). A device we did not make beforehand is
    // persistent; one that is not was made just now and goes with the close.
    ifreq got{};
    if (ioctl(fd, TUNGETIFF, &got) != 0 || !(got.ifr_flags & IFF_PERSIST)) {
        close(fd);
        errno = ENODEV;
        return -1;
    }
    // A persistent device keeps the offloads an earlier opener switched on;
    // with them the kernel would hand us packets with unfinished checksums or
    // whole TCP bursts. We take only finished packets.
    if (ioctl(fd, TUNSETOFFLOAD, 0) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

namespace {

// A descriptor attached to the device `name` (made when missing), or -1.
int Attach(const std::string& name, short flags) {
    ifreq ifr;
    if (!MakeIfreq(name, &ifr)) {
        errno = EINVAL;
        return -1;
    }
    int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd < 0) return -1;
    ifr.ifr_flags = flags;
    if (ioctl(fd, TUNSETIFF, &ifr) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

int CloseKeepingErrno(int fd, int result) {
    int saved = errno;
    close(fd);
    errno = saved;
    return result;
}

}  // namespace

int TunDevice_NodeUsable() {
    int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd < 0) return 0;
    close(fd);
    return 1;
}

int TunDevice_Create(const std::string& name, unsigned owner) {
    switch (TunDevice_Find(name)) {
        case TunLookup::kFound:
            return 1;
        case TunLookup::kNotTun:
            errno = EEXIST;
            return 0;
        case TunLookup::kMissing:
            break;
    }
    if (HostGuard_RefusesHere("making a TUN device")) {
        errno = EPERM;
        return 0;
    }
    int fd = Attach(name, IFF_TUN | IFF_NO_PI);
    if (fd < 0) return 0;
    // The owner may attach without privileges; persistence keeps the device
    // when this descriptor closes.
    if (ioctl(fd, TUNSETOWNER, static_cast<unsigned long>(owner)) != 0 || ioctl(fd, TUNSETPERSIST, 1) != 0)
        return CloseKeepingErrno(fd, 0);
    close(fd);
    return TunDevice_Find(name) == TunLookup::kFound;
}

int TunDevice_Delete(const std::string& nameOrAlias, bool force) {
    const std::string name = TunDevice_ResolveName(nameOrAlias);
    ifreq ifr;
    if (!MakeIfreq(name, &ifr) || IfIoctl(SIOCGIFINDEX, &ifr) != 0) return 1;
    if (TunDevice_Find(name) != TunLookup::kFound && !force) {
        errno = EEXIST;
        return 0;
    }
    if (force) {
        RtnlSocket socket;
        if (socket.Open() != 0) return 0;
        RtnlResult r = socket.DeleteLink(static_cast<uint32_t>(ifr.ifr_ifindex));
        if (r.error != 0 && r.error != ENODEV) errno = r.error;
    } else {
        if (HostGuard_RefusesHere("removing a TUN device")) {
            errno = EPERM;
            return 0;
        }
        // Attaching fails with EBUSY while someone holds the device.
        int fd = Attach(name, IFF_TUN | IFF_NO_PI);
        if (fd < 0) return 0;
        if (ioctl(fd, TUNSETPERSIST, 0) != 0) return CloseKeepingErrno(fd, 0);
        close(fd);
    }
    return TunDevice_Find(name) == TunLookup::kMissing;
}

int TunDevice_GetMtu(const std::string& nameOrAlias) {
    ifreq ifr;
    if (!MakeIfreq(TunDevice_ResolveName(nameOrAlias), &ifr) || IfIoctl(SIOCGIFMTU, &ifr) != 0) return -1;
    return ifr.ifr_mtu;
}

namespace {

int SetUpFlag(const std::string& nameOrAlias, bool up) {
    ifreq ifr;
    if (!MakeIfreq(TunDevice_ResolveName(nameOrAlias), &ifr) || IfIoctl(SIOCGIFFLAGS, &ifr) != 0) return 0;
    if (((ifr.ifr_flags & IFF_UP) != 0) == up) return 1;
    ifr.ifr_flags = static_cast<short>(up ? (ifr.ifr_flags | IFF_UP) : (ifr.ifr_flags & ~IFF_UP));
    return IfIoctl(SIOCSIFFLAGS, &ifr) == 0;
}

}  // namespace

int TunDevice_SetUp(const std::string& nameOrAlias) {
    return SetUpFlag(nameOrAlias, true);
}

int TunDevice_SetDown(const std::string& nameOrAlias) {
    if (HostGuard_RefusesHere("setting a link down")) return 0;
    return SetUpFlag(nameOrAlias, false);
}

namespace {

// The kernel's struct virtio_net_hdr (<linux/virtio_net.h> does not compile
// as C++).
struct VirtioNetHeader {
    uint8_t flags;
    uint8_t gso_type;
    uint16_t hdr_len;
    uint16_t gso_size;
    uint16_t csum_start;
    uint16_t csum_offset;
};
static_assert(sizeof(VirtioNetHeader) == kTunPacketHeaderSize);

constexpr uint8_t kNeedsChecksum = 1;  // VIRTIO_NET_HDR_F_NEEDS_CSUM
constexpr uint8_t kGsoTcpV4 = 1;       // VIRTIO_NET_HDR_GSO_TCPV4

}  // namespace

int TunDevice_EnableTcpOffload(int fd) {
    return ioctl(fd, TUNSETOFFLOAD, TUN_F_CSUM | TUN_F_TSO4) == 0;
}

TunReadInfo TunDevice_ReadHeader(const uint8_t* header) {
    VirtioNetHeader h;
    std::memcpy(&h, header, sizeof h);
    TunReadInfo info;
    if (h.flags & kNeedsChecksum) {
        info.checksum_partial = true;
        info.checksum_start = h.csum_start;
        info.checksum_offset = h.csum_offset;
    }
    return info;
}

void TunDevice_PlainHeader(uint8_t* out) {
    std::memset(out, 0, kTunPacketHeaderSize);
}

void TunDevice_TcpSegmentsHeader(uint8_t* out, int ip_header_len, int headers_len, int segment_size) {
    // Fields in the machine's byte order (the legacy header of a tun device).
    VirtioNetHeader h{};
    h.flags = kNeedsChecksum;
    h.gso_type = kGsoTcpV4;
    h.hdr_len = static_cast<uint16_t>(headers_len);
    h.gso_size = static_cast<uint16_t>(segment_size);
    h.csum_start = static_cast<uint16_t>(ip_header_len);
    h.csum_offset = 16;  // the checksum field within the TCP header
    std::memcpy(out, &h, sizeof h);
}
