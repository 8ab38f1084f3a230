#include "engine/tuntap/btap.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/base/blog.h"
#include "platform/tun_device.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_BTap

namespace {
constexpr int kMaxIpv4Packet = 65535;
}

int split_spec(int n, const char* text, char** out) {
    const char* pos = text;
    for (int i = 0; i < n; ++i) {
        const char* end;
        if (i < n - 1) {
            end = std::strchr(pos, ':');
            if (!end) {
                std::fprintf(stderr, "split_spec: missing separator number %d\n", i + 1);
                for (int j = 0; j < i; ++j) std::free(out[j]);
                return 0;
            }
        } else {
            end = pos + std::strlen(pos);
        }
        size_t len = static_cast<size_t>(end - pos);
        out[i] = static_cast<char*>(std::malloc(len + 1));
        if (!out[i]) {
            std::fprintf(stderr, "split_spec: b_strdup_bin failed\n");
            for (int j = 0; j < i; ++j) std::free(out[j]);
            return 0;
        }
        std::memcpy(out[i], pos, len);
        out[i][len] = '\0';
        pos = end + 1;
    }
    return 1;
}

int tap_parse_ipv4(const char* text, size_t len, uint8_t* out) {
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= len || text[pos] != '.') return 0;
            ++pos;
        }
        size_t start = pos;
        unsigned value = 0;
        while (pos < len && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
        }
        size_t digits = pos - start;
        if (digits < 1 || digits > 3 || value > 255) return 0;
        out[part] = static_cast<uint8_t>(value);
    }
    return pos == len;
}

namespace {

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// Fills in a transport checksum the kernel left to us: the field holds the
// pseudo-header sum, the rest is summed from `start` to the end. A packet
// whose fields point outside it is left alone (checks downstream drop it).
void CompleteChecksum(uint8_t* packet, size_t len, size_t start, size_t offset) {
    if (start >= len || offset + 2 > len - start) return;
    uint32_t sum = 0;
    size_t i = start;
    for (; i + 1 < len; i += 2) sum += Get16(packet + i);
    if (i < len) sum += uint32_t(packet[i]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    auto check = static_cast<uint16_t>(~sum);
    if (check == 0 && packet[9] == 17 && (packet[0] >> 4) == 4) check = 0xFFFF;  // UDP sends 0 as all ones
    if (check == 0 && (packet[0] >> 4) == 6 && packet[6] == 17) check = 0xFFFF;
    packet[start + offset] = static_cast<uint8_t>(check >> 8);
    packet[start + offset + 1] = static_cast<uint8_t>(check);
}

// An IPv4 TCP packet whose checksum field the header marks as the kernel's
// to fill: the checksum of a packet the kernel made itself, taken as sound.
bool KernelTcpChecksum(const uint8_t* packet, size_t len, const TunReadInfo& info) {
    if (len < 20 || (packet[0] >> 4) != 4 || packet[9] != 6) return false;
    size_t ihl = size_t(packet[0] & 0x0F) * 4;
    return ihl >= 20 && len >= ihl + 20 && size_t(info.checksum_start) == ihl && info.checksum_offset == 16;
}

// One read into `buf` (read_mtu bytes): the packet's length, or -1 with errno.
ssize_t ReadPacket(BTap* o, uint8_t* buf) {
    iovec parts[2] = {{o->read_header, sizeof o->read_header}, {buf, static_cast<size_t>(o->read_mtu)}};
    ssize_t n = readv(o->fd, parts, 2);
    if (n < 0) return -1;
    size_t len = n > kTunPacketHeaderSize ? static_cast<size_t>(n - kTunPacketHeaderSize) : 0;
    o->read_checksum_trusted = 0;
    TunReadInfo info = TunDevice_ReadHeader(o->read_header);
    if (info.checksum_partial) {
        if (KernelTcpChecksum(buf, len, info)) {
            o->read_checksum_trusted = 1;
        } else {
            CompleteChecksum(buf, len, static_cast<size_t>(info.checksum_start),
                             static_cast<size_t>(info.checksum_offset));
        }
    }
    return static_cast<ssize_t>(len);
}

int ReadAttempt(void* user, size_t* bytes, int* error) {
    auto* o = static_cast<BTap*>(user);
    ssize_t n = ReadPacket(o, o->output_packet);
    if (n >= 0) {
        *bytes = static_cast<size_t>(n);
        return BREACTOROP_DONE;
    }
    if (errno == EAGAIN || errno == EINTR) return BREACTOROP_AGAIN;
    *error = errno;
    return BREACTOROP_FAILED;
}

int WriteAttempt(void* user, size_t* bytes, int* error) {
    auto* o = static_cast<BTap*>(user);
    iovec parts[2] = {{o->write_header, sizeof o->write_header},
                      {const_cast<uint8_t*>(o->write_data), static_cast<size_t>(o->write_len)}};
    ssize_t n = writev(o->fd, parts, 2);
    if (n >= 0) {
        *bytes = n > kTunPacketHeaderSize ? static_cast<size_t>(n - kTunPacketHeaderSize) : 0;
        return BREACTOROP_DONE;
    }
    if (errno == EAGAIN || errno == EINTR) return BREACTOROP_AGAIN;
    *error = errno;
    return BREACTOROP_FAILED;
}

void ReadDone(void* user, int event, size_t bytes) {
    auto* o = static_cast<BTap*>(user);
    if (event == BREACTOROP_EVENT_EXITING) {
        BReactorOp_Free(&o->read_op);
        return;
    }
    o->output_packet = nullptr;
    if (event == BREACTOROP_EVENT_FAILED) {
        BLog(BLOG_ERROR, "read operation failed (%d)", BReactorOp_Error(&o->read_op));
        o->handler_error(o->handler_error_user);
        return;
    }
    PacketSource_Done(&o->output, static_cast<int>(bytes));
}

void WriteOpHandler(void* user, int event, size_t) {
    // Only ever waited for; the exiting event is the one that arrives here.
    auto* o = static_cast<BTap*>(user);
    if (event == BREACTOROP_EVENT_EXITING) BReactorOp_Free(&o->write_op);
}

void OutputRecv(void* user, uint8_t* buffer) {
    auto* o = static_cast<BTap*>(user);
    o->output_packet = buffer;
    BReactorOp_Start(&o->read_op, &o->rfd, BREACTOR_READ, ReadAttempt, o);
}

}  // namespace

int BTap_Init(BTap* o, BReactor* reactor, const char* devspec, BTap_handler_error handler_error, void* user) {
    o->reactor = reactor;
    o->handler_error = handler_error;
    o->handler_error_user = user;
    o->fd = -1;
    o->output_packet = nullptr;

    if (!devspec) {
        BLog(BLOG_ERROR, "no device specification provided");
        return 0;
    }
    char* fields[5];
    if (!split_spec(5, devspec, fields)) {
        BLog(BLOG_ERROR, "failed to parse TUN device specification");
        return 0;
    }
    bool parsed = tap_parse_ipv4(fields[2], std::strlen(fields[2]), o->tun_config.local) &&
                  tap_parse_ipv4(fields[3], std::strlen(fields[3]), o->tun_config.remote_network) &&
                  tap_parse_ipv4(fields[4], std::strlen(fields[4]), o->tun_config.netmask);
    std::string tag = fields[0], name = fields[1];
    for (char* f : fields) std::free(f);
    if (!parsed) {
        BLog(BLOG_ERROR, "failed to parse TUN device specification");
        return 0;
    }
    // The block is for the address configuration, which is not ours to apply.
    BLog(BLOG_INFO, "TUN configuration %u.%u.%u.%u network %u.%u.%u.%u mask %u.%u.%u.%u (not applied)",
         o->tun_config.local[0], o->tun_config.local[1], o->tun_config.local[2], o->tun_config.local[3],
         o->tun_config.remote_network[0], o->tun_config.remote_network[1], o->tun_config.remote_network[2],
         o->tun_config.remote_network[3], o->tun_config.netmask[0], o->tun_config.netmask[1],
         o->tun_config.netmask[2], o->tun_config.netmask[3]);

    BLog(BLOG_INFO, "Looking for TUN device with component ID %s, name %s", tag.c_str(), name.c_str());
    if (tag != BTAP_COMPONENT_ID) {
        BLog(BLOG_ERROR, "Could not find device (component ID must be %s)", BTAP_COMPONENT_ID);
        return 0;
    }
    switch (TunDevice_Find(name)) {
        case TunLookup::kFound:
            break;
        case TunLookup::kMissing:
            BLog(BLOG_ERROR, "Could not find device (no interface %s)", name.c_str());
            return 0;
        case TunLookup::kNotTun:
            BLog(BLOG_ERROR, "Could not find device (%s is not a TUN device)", name.c_str());
            return 0;
    }

    BLog(BLOG_INFO, "Opening device %s", name.c_str());
    o->fd = TunDevice_Open(name);
    if (o->fd < 0) {
        BLog(BLOG_ERROR, "opening /dev/net/tun for %s failed (%d)", name.c_str(), errno);
        return 0;
    }
    o->frame_mtu = TunDevice_GetMtu(name);
    if (o->frame_mtu < 0) {
        BLog(BLOG_ERROR, "reading the MTU (SIOCGIFMTU) failed");
        goto fail;
    }
    o->read_mtu = o->frame_mtu;
    o->offload = 0;
    o->read_checksum_trusted = 0;
    if (const char* env = std::getenv("CENDROW_TUN_OFFLOAD"); env != nullptr && std::strcmp(env, "0") == 0) {
        BLog(BLOG_INFO, "TCP offload not asked for (CENDROW_TUN_OFFLOAD=0)");
    } else if (TunDevice_EnableTcpOffload(o->fd)) {
        o->offload = 1;
        o->read_mtu = kMaxIpv4Packet;
    } else {
        BLog(BLOG_WARNING, "the device refused the TCP offload (%d); packets come one by one", errno);
    }
    if (!TunDevice_SetUp(name)) {
        BLog(BLOG_ERROR, "setting the link up failed");
        goto fail;
    }
    BLog(BLOG_INFO, "Device opened");
    if (!BReactorFd_Init(&o->rfd, reactor, o->fd)) {
        BLog(BLOG_ERROR, "registering the device failed");
        goto fail;
    }
    BReactorOp_Init(&o->write_op, reactor, o, WriteOpHandler);
    BReactorOp_Init(&o->read_op, reactor, o, ReadDone);
    PacketSource_Init(&o->output, o->read_mtu, OutputRecv, o, BReactor_JobStack(reactor));
    return 1;

fail:
    close(o->fd);
    o->fd = -1;
    return 0;
}

void BTap_Free(BTap* o) {
    PacketSource_Free(&o->output);
    if (o->output_packet) BLog(BLOG_DEBUG, "waiting for receiving to finish");
    BReactorOp_Free(&o->read_op);  // nothing in flight outside user space: dropping it is enough
    BReactorOp_Free(&o->write_op);
    o->output_packet = nullptr;
    BReactorFd_Free(&o->rfd);
    if (close(o->fd) != 0) {
        std::fprintf(stderr, "%s:%d Assertion failed\n", __FILE__, __LINE__);
        std::abort();
    }
    o->fd = -1;
}

int BTap_GetFrameMtu(const BTap* o) {
    return o->frame_mtu;
}

int BTap_ReadNow(BTap* o, uint8_t* buf) {
    if (o->output_packet != nullptr) return -1;  // a read through the reactor is in progress
    ssize_t n = ReadPacket(o, buf);
    return n < 0 ? -1 : static_cast<int>(n);
}

int BTap_GetReadMtu(const BTap* o) {
    return o->read_mtu;
}

int BTap_ReadChecksumTrusted(const BTap* o) {
    return o->read_checksum_trusted;
}

PacketSource* BTap_GetOutput(BTap* o) {
    return &o->output;
}

namespace {

// 1 when the whole packet was written; else 0 with the errno in *error (0
// for a short write).
int WriteWithHeader(BTap* o, const uint8_t* data, int len, int* error) {
    o->write_data = data;
    o->write_len = len;
    BReactorOp_Start(&o->write_op, &o->rfd, BREACTOR_WRITE, WriteAttempt, o);
    int ok = 0;
    size_t written = 0;
    BReactorOp_Wait(&o->write_op, &ok, &written);
    *error = ok ? 0 : BReactorOp_Error(&o->write_op);
    return ok && written == static_cast<size_t>(len);
}

}  // namespace

#define LOG_WRITE_FAILURE(error)                                         \
    do {                                                                 \
        if (error) {                                                     \
            BLog(BLOG_ERROR, "write operation failed (%d)", error);      \
        } else {                                                         \
            BLog(BLOG_ERROR, "write operation didn't write everything"); \
        }                                                                \
    } while (0)

void BTap_WritePacket(BTap* o, const uint8_t* data, int len) {
    if (len < 14) return;  // too short to be a packet worth writing
    TunDevice_PlainHeader(o->write_header);
    int error;
    if (!WriteWithHeader(o, data, len, &error)) LOG_WRITE_FAILURE(error);
}

int BTap_WriteTcpSegments(BTap* o, const uint8_t* data, int len, int ip_header_len, int headers_len,
                          int segment_size) {
    TunDevice_TcpSegmentsHeader(o->write_header, ip_header_len, headers_len, segment_size);
    int error;
    if (WriteWithHeader(o, data, len, &error)) return 1;
    LOG_WRITE_FAILURE(error);
    return 0;
}
