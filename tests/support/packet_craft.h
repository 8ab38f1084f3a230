#pragma once
// Building and reading IPv4/IPv6, TCP and ICMP packets byte by byte, for
// scripted peers in tests and benchmarks. Header-only and independent of the
// stack's own code, so it can check the stack's checksums and fields.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace craft {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kFin = 0x01, kSyn = 0x02, kRst = 0x04, kPsh = 0x08, kAck = 0x10;

constexpr uint32_t Ip4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return (uint32_t(a) << 24) | (uint32_t(b) << 16) | (uint32_t(c) << 8) | d;
}

struct Ip6 {
    uint8_t b[16] = {};
    static Ip6 Parse(const std::string& groups) {  // "fd00:0:0:0:0:0:0:1" form, eight groups
        Ip6 a;
        size_t pos = 0;
        for (int i = 0; i < 8; ++i) {
            size_t end = groups.find(':', pos);
            unsigned v = std::stoul(groups.substr(pos, end - pos), nullptr, 16);
            a.b[2 * i] = uint8_t(v >> 8);
            a.b[2 * i + 1] = uint8_t(v);
            pos = end + 1;
        }
        return a;
    }
    bool operator==(const Ip6& o) const { return std::memcmp(b, o.b, 16) == 0; }
};

inline void Put16(Bytes& v, size_t off, uint16_t x) {
    v[off] = uint8_t(x >> 8);
    v[off + 1] = uint8_t(x);
}
inline void Put32(Bytes& v, size_t off, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[off + i] = uint8_t(x >> (24 - 8 * i));
}
inline uint16_t Get16(const Bytes& v, size_t off) {
    return uint16_t((v[off] << 8) | v[off + 1]);
}
inline uint32_t Get32(const Bytes& v, size_t off) {
    return (uint32_t(v[off]) << 24) | (uint32_t(v[off + 1]) << 16) | (uint32_t(v[off + 2]) << 8) | v[off + 3];
}

// Plain RFC 1071 sum, one byte pair at a time.
inline uint32_t SumBytes(const uint8_t* d, size_t n, uint32_t sum = 0) {
    for (size_t i = 0; i + 1 < n; i += 2) sum += (uint32_t(d[i]) << 8) | d[i + 1];
    if (n & 1) sum += uint32_t(d[n - 1]) << 8;
    return sum;
}
inline uint16_t Finish(uint32_t sum) {
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return uint16_t(~sum);
}

inline uint32_t Pseudo4(uint32_t src, uint32_t dst, uint8_t proto, size_t len) {
    return (src >> 16) + (src & 0xffff) + (dst >> 16) + (dst & 0xffff) + proto + uint32_t(len);
}
inline uint32_t Pseudo6(const Ip6& src, const Ip6& dst, uint8_t proto, size_t len) {
    return SumBytes(src.b, 16, SumBytes(dst.b, 16)) + proto + uint32_t(len >> 16) + uint32_t(len & 0xffff);
}

inline Bytes Ipv4(uint32_t src, uint32_t dst, uint8_t proto, const Bytes& payload, uint16_t id = 1,
                  uint16_t frag = 0, uint8_t ttl = 64, const Bytes& options = {}) {
    size_t hl = 20 + options.size();
    Bytes v(hl + payload.size());
    v[0] = uint8_t(0x40 | (hl / 4));
    Put16(v, 2, uint16_t(v.size()));
    Put16(v, 4, id);
    Put16(v, 6, frag);
    v[8] = ttl;
    v[9] = proto;
    Put32(v, 12, src);
    Put32(v, 16, dst);
    if (!options.empty()) std::memcpy(v.data() + 20, options.data(), options.size());
    Put16(v, 10, Finish(SumBytes(v.data(), hl)));
    if (!payload.empty()) std::memcpy(v.data() + hl, payload.data(), payload.size());
    return v;
}

inline Bytes Ipv6(const Ip6& src, const Ip6& dst, uint8_t nexth, const Bytes& payload, uint8_t hoplim = 64) {
    Bytes v(40 + payload.size());
    v[0] = 0x60;
    Put16(v, 4, uint16_t(payload.size()));
    v[6] = nexth;
    v[7] = hoplim;
    std::memcpy(v.data() + 8, src.b, 16);
    std::memcpy(v.data() + 24, dst.b, 16);
    if (!payload.empty()) std::memcpy(v.data() + 40, payload.data(), payload.size());
    return v;
}

struct TcpFields {
    uint16_t sport = 0, dport = 0;
    uint32_t seq = 0, ack = 0;
    uint8_t flags = 0;
    uint16_t wnd = 65535;
    Bytes options;
    Bytes payload;
};

inline Bytes TcpSegment(const TcpFields& f) {
    size_t hl = 20 + f.options.size();
    Bytes v(hl + f.payload.size());
    Put16(v, 0, f.sport);
    Put16(v, 2, f.dport);
    Put32(v, 4, f.seq);
    Put32(v, 8, f.ack);
    v[12] = uint8_t((hl / 4) << 4);
    v[13] = f.flags;
    Put16(v, 14, f.wnd);
    if (!f.options.empty()) std::memcpy(v.data() + 20, f.options.data(), f.options.size());
    if (!f.payload.empty()) std::memcpy(v.data() + hl, f.payload.data(), f.payload.size());
    return v;
}

inline Bytes Tcp4(uint32_t src, uint32_t dst, const TcpFields& f) {
    Bytes seg = TcpSegment(f);
    Put16(seg, 16, Finish(SumBytes(seg.data(), seg.size(), Pseudo4(src, dst, 6, seg.size()))));
    return Ipv4(src, dst, 6, seg);
}

inline Bytes Tcp6(const Ip6& src, const Ip6& dst, const TcpFields& f) {
    Bytes seg = TcpSegment(f);
    Put16(seg, 16, Finish(SumBytes(seg.data(), seg.size(), Pseudo6(src, dst, 6, seg.size()))));
    return Ipv6(src, dst, 6, seg);
}

inline Bytes Icmp4Echo(uint32_t src, uint32_t dst, uint16_t id, uint16_t seq, const Bytes& data,
                       const Bytes& ip_options = {}) {
    Bytes m(8 + data.size());
    m[0] = 8;
    Put16(m, 4, id);
    Put16(m, 6, seq);
    if (!data.empty()) std::memcpy(m.data() + 8, data.data(), data.size());
    Put16(m, 2, Finish(SumBytes(m.data(), m.size())));
    return Ipv4(src, dst, 1, m, 7, 0, 64, ip_options);
}

inline Bytes Icmp6(const Ip6& src, const Ip6& dst, uint8_t type, uint8_t code, const Bytes& body,
                   uint8_t hoplim = 255) {
    Bytes m(4 + body.size());
    m[0] = type;
    m[1] = code;
    if (!body.empty()) std::memcpy(m.data() + 4, body.data(), body.size());
    Put16(m, 2, Finish(SumBytes(m.data(), m.size(), Pseudo6(src, dst, 58, m.size()))));
    return Ipv6(src, dst, 58, m, hoplim);
}

// A packet as seen on the wire, with every field the tests look at.
struct Packet {
    int version = 0;
    bool ip_checksum_ok = false;
    uint32_t src4 = 0, dst4 = 0;
    Ip6 src6, dst6;
    uint8_t proto = 0, ttl = 0;
    uint16_t ip_id = 0, frag = 0, ip_len = 0;
    size_t ip_hlen = 0;
    bool l4_checksum_ok = false;
    // TCP
    uint16_t sport = 0, dport = 0;
    uint32_t seq = 0, ack = 0;
    uint8_t flags = 0;
    uint16_t wnd = 0;
    Bytes options, payload;
    // ICMP / ICMPv6
    uint8_t icmp_type = 0, icmp_code = 0;
    Bytes raw;

    int MssOption() const {
        for (size_t i = 0; i + 1 < options.size();) {
            if (options[i] == 0) break;
            if (options[i] == 1) {
                ++i;
                continue;
            }
            if (options[i] == 2 && options[i + 1] == 4 && i + 4 <= options.size())
                return Get16(options, i + 2);
            if (options[i + 1] == 0) break;
            i += options[i + 1];
        }
        return -1;
    }
};

inline Packet Parse(const Bytes& v) {
    Packet p;
    p.raw = v;
    if (v.empty()) return p;
    p.version = v[0] >> 4;
    size_t l4 = 0, l4len = 0;
    uint32_t pseudo = 0;
    if (p.version == 4 && v.size() >= 20) {
        p.ip_hlen = size_t(v[0] & 15) * 4;
        p.ip_len = Get16(v, 2);
        p.ip_id = Get16(v, 4);
        p.frag = Get16(v, 6);
        p.ttl = v[8];
        p.proto = v[9];
        p.src4 = Get32(v, 12);
        p.dst4 = Get32(v, 16);
        p.ip_checksum_ok = p.ip_hlen <= v.size() && Finish(SumBytes(v.data(), p.ip_hlen)) == 0;
        l4 = p.ip_hlen;
        l4len = p.ip_len > l4 ? p.ip_len - l4 : 0;
        pseudo = Pseudo4(p.src4, p.dst4, p.proto, l4len);
    } else if (p.version == 6 && v.size() >= 40) {
        p.proto = v[6];
        p.ttl = v[7];
        std::memcpy(p.src6.b, v.data() + 8, 16);
        std::memcpy(p.dst6.b, v.data() + 24, 16);
        p.ip_hlen = 40;
        p.ip_len = uint16_t(40 + Get16(v, 4));
        p.ip_checksum_ok = true;
        l4 = 40;
        l4len = Get16(v, 4);
        pseudo = Pseudo6(p.src6, p.dst6, p.proto, l4len);
    } else {
        return p;
    }
    if (l4 + l4len > v.size() || (p.frag & 0x3fff) != 0) return p;
    const uint8_t* d = v.data() + l4;
    if (p.proto == 1) {
        p.l4_checksum_ok = Finish(SumBytes(d, l4len)) == 0;
    } else {
        p.l4_checksum_ok = Finish(SumBytes(d, l4len, pseudo)) == 0;
    }
    if (p.proto == 6 && l4len >= 20) {
        Bytes seg(d, d + l4len);
        p.sport = Get16(seg, 0);
        p.dport = Get16(seg, 2);
        p.seq = Get32(seg, 4);
        p.ack = Get32(seg, 8);
        size_t hl = size_t(seg[12] >> 4) * 4;
        p.flags = seg[13];
        p.wnd = Get16(seg, 14);
        if (hl >= 20 && hl <= l4len) {
            p.options.assign(seg.begin() + 20, seg.begin() + hl);
            p.payload.assign(seg.begin() + hl, seg.end());
        }
    } else if ((p.proto == 1 || p.proto == 58) && l4len >= 4) {
        p.icmp_type = d[0];
        p.icmp_code = d[1];
        p.payload.assign(d + 4, d + l4len);
    }
    return p;
}

}  // namespace craft
