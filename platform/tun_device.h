#pragma once
// The TUN device in place of the TAP-Windows adapter: a persistent TUN
// interface made beforehand (as the adapter is installed beforehand), opened
// through /dev/net/tun in the calling thread's network namespace so that the
// process reads and writes bare IP packets. TunDevice_Create and
// TunDevice_Delete make and remove it from the process itself: a child
// process (ip tuntap) would not inherit the program's file capabilities.

#include <cstdint>
#include <string>

enum class TunLookup {
    kFound,
    kMissing,  // no interface of that name
    kNotTun,   // the interface exists but is not a TUN-mode tun device
};

// Every function below takes the interface's name or its alias (the
// connection name adapter discovery gives the device, "OSTREL 1").

// The interface name of `nameOrAlias`: itself when an interface has that
// name, else the name of the first link carrying it as alias; unchanged when
// neither is found.
std::string TunDevice_ResolveName(const std::string& nameOrAlias);

// Whether `name` is an existing TUN-mode device in this namespace.
TunLookup TunDevice_Find(const std::string& name);

// Makes `name` a persistent TUN-mode device owned by `owner` (TUNSETIFF,
// TUNSETOWNER, TUNSETPERSIST); a TUN device already there is left as it is.
// 1, or 0 with errno set (EEXIST: another kind of link has the name; the
// device node's errno when /dev/net/tun cannot be opened). Refused under the
// host guard in the first namespace.
int TunDevice_Create(const std::string& name, unsigned owner);

// Removes the device: unforced, only its persistence goes (a device still
// open stays until it is closed; EBUSY); forced, the link is deleted over
// rtnetlink at once. 1 when afterwards no device has the name, else 0.
int TunDevice_Delete(const std::string& name, bool force);

// Whether /dev/net/tun opens for reading and writing; else 0 with errno set.
int TunDevice_NodeUsable();

// Attaches to the existing persistent device `name` with IFF_TUN |
// IFF_NO_PI | IFF_VNET_HDR; returns a non-blocking, close-on-exec descriptor,
// or -1 with errno set (ENODEV when there is no such device). Every packet
// read or written on it is preceded by a header of kTunPacketHeaderSize bytes
// (the kernel's virtio_net_hdr), through which one write can hand the kernel
// a TCP packet standing for a series of segments.
int TunDevice_Open(const std::string& name);

inline constexpr int kTunPacketHeaderSize = 10;

// The header of a plain packet.
void TunDevice_PlainHeader(uint8_t* out);
// The header of an IPv4 TCP packet that stands for segments of
// `segment_size` payload bytes each (the last may be shorter), every one
// behind the packet's `headers_len` bytes of IP and TCP header. The packet's
// TCP checksum field must hold the pseudo-header sum (not complemented); the
// kernel completes the checksum of each segment.
void TunDevice_TcpSegmentsHeader(uint8_t* out, int ip_header_len, int headers_len, int segment_size);

// Asks the kernel to hand over IPv4 TCP bursts as one packet (TSO4) and
// packets with the transport checksum left to us (CSUM): such a packet's
// header says so (TunDevice_ReadHeader). 1, or 0 with errno set when the
// kernel refuses; the device then stays as TunDevice_Open left it.
int TunDevice_EnableTcpOffload(int fd);

// What the header in front of a packet read from the device asks of us.
struct TunReadInfo {
    bool checksum_partial = false;  // the transport checksum is not filled in
    int checksum_start = 0;         // from here to the end of the packet ...
    int checksum_offset = 0;        // ... sums into the field at this offset from the start
};
TunReadInfo TunDevice_ReadHeader(const uint8_t* header);

// The interface's MTU, or -1.
int TunDevice_GetMtu(const std::string& name);

// Sets the interface up (the link's "media connected"); 1 or 0.
int TunDevice_SetUp(const std::string& name);
// Sets it down: it keeps its address and the kernel drops every route
// through it. 1 or 0; refused under the host guard in the first namespace.
int TunDevice_SetDown(const std::string& name);
