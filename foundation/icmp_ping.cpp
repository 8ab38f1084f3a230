#include "foundation/icmp_ping.h"

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t kPayloadByte = 'E';
constexpr size_t kIcmpHeader = 8;

// Every request of the process carries a distinct (id, sequence) pair, so
// concurrent pings, each seeing every ICMP packet on its raw socket, pick out
// their own reply.
std::atomic<uint32_t> g_sequence{0};

bool ResolveIPv4(const char* host, in_addr* out) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &list) != 0 || !list) return false;
    *out = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr;
    freeaddrinfo(list);
    return true;
}

struct Outcome {
    enum Kind { kNone, kReply, kBadReply, kError } kind = kNone;
    int error = 0;
};

// Reads one ICMP packet (with its IP header) and says what it means for our request.
Outcome Classify(const uint8_t* pkt, size_t len, uint32_t target, uint16_t id, uint16_t seq,
                 uint8_t payloadSize) {
    if (len < sizeof(iphdr)) return {};
    const auto* ip = reinterpret_cast<const iphdr*>(pkt);
    size_t ihl = ip->ihl * 4u;
    if (ihl < sizeof(iphdr) || len < ihl + kIcmpHeader) return {};
    const uint8_t* icmp = pkt + ihl;
    size_t icmpLen = len - ihl;
    uint8_t type = icmp[0];
    auto idOf = [](const uint8_t* h) { return static_cast<uint16_t>(h[4] << 8 | h[5]); };
    auto seqOf = [](const uint8_t* h) { return static_cast<uint16_t>(h[6] << 8 | h[7]); };

    if (type == ICMP_ECHOREPLY) {
        if (ip->saddr != target || idOf(icmp) != id || seqOf(icmp) != seq) return {};
        if (IcmpChecksum(icmp, icmpLen) != 0) return {};  // damaged on the way: not our reply
        size_t dataLen = icmpLen - kIcmpHeader;
        bool intact = dataLen == payloadSize;
        for (size_t i = 0; intact && i < dataLen; ++i) intact = icmp[kIcmpHeader + i] == kPayloadByte;
        return {intact ? Outcome::kReply : Outcome::kBadReply, intact ? 0 : EBADMSG};
    }
    if (type == ICMP_DEST_UNREACH || type == ICMP_TIME_EXCEEDED || type == ICMP_PARAMETERPROB) {
        // The error quotes our request: its IP header and the first 8 bytes.
        const uint8_t* inner = icmp + kIcmpHeader;
        size_t innerLen = icmpLen - kIcmpHeader;
        if (innerLen < sizeof(iphdr)) return {};
        const auto* innerIp = reinterpret_cast<const iphdr*>(inner);
        size_t innerIhl = innerIp->ihl * 4u;
        if (innerIhl < sizeof(iphdr) || innerLen < innerIhl + kIcmpHeader) return {};
        const uint8_t* quoted = inner + innerIhl;
        if (innerIp->protocol != IPPROTO_ICMP || innerIp->daddr != target || quoted[0] != ICMP_ECHO ||
            idOf(quoted) != id || seqOf(quoted) != seq)
            return {};
        int error = EHOSTUNREACH;
        if (type == ICMP_DEST_UNREACH && icmp[1] == ICMP_NET_UNREACH) error = ENETUNREACH;
        return {Outcome::kError, error};
    }
    return {};
}

}  // namespace

uint16_t IcmpChecksum(const uint8_t* data, size_t len) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < len; i += 2) sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (len & 1) sum += static_cast<uint32_t>(data[len - 1] << 8);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

bool IcmpLoad() {
    return true;
}

bool IcmpPing(PingResult* result, uint8_t ttl, uint32_t timeoutMs, uint8_t payloadSize, const char* host) {
    if (!result || !host) {
        errno = EINVAL;
        return false;
    }
    in_addr target{};
    target.s_addr = inet_addr(host);
    if (target.s_addr == INADDR_NONE && !ResolveIPv4(host, &target)) {
        errno = EHOSTUNREACH;
        return false;
    }

    int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return false;
    if (ttl > 0) {
        int value = ttl;
        setsockopt(fd, IPPROTO_IP, IP_TTL, &value, sizeof value);
    }
    // Only echo replies and the errors that can be about a request reach us.
    icmp_filter filter{~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_TIME_EXCEEDED) |
                         (1u << ICMP_PARAMETERPROB))};
    setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);

    uint32_t serial = g_sequence.fetch_add(1, std::memory_order_relaxed);
    uint16_t id = static_cast<uint16_t>((static_cast<uint32_t>(getpid()) ^ (serial >> 16)) & 0xFFFF);
    uint16_t seq = static_cast<uint16_t>(serial & 0xFFFF);
    std::vector<uint8_t> request(kIcmpHeader + payloadSize, kPayloadByte);
    request[0] = ICMP_ECHO;
    request[1] = 0;
    request[2] = request[3] = 0;
    request[4] = static_cast<uint8_t>(id >> 8);
    request[5] = static_cast<uint8_t>(id);
    request[6] = static_cast<uint8_t>(seq >> 8);
    request[7] = static_cast<uint8_t>(seq);
    uint16_t sum = IcmpChecksum(request.data(), request.size());
    request[2] = static_cast<uint8_t>(sum >> 8);
    request[3] = static_cast<uint8_t>(sum);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = target;
    auto start = std::chrono::steady_clock::now();
    auto deadline = start + std::chrono::milliseconds(timeoutMs);
    if (sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
        int err = errno;
        close(fd);
        errno = err;
        return false;
    }

    Outcome outcome;
    uint8_t packet[4096];  // our replies are small; anything longer is not ours
    while (outcome.kind == Outcome::kNone) {
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        int waitMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, waitMs);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        ssize_t n = recv(fd, packet, sizeof packet, MSG_DONTWAIT);
        if (n > 0) outcome = Classify(packet, static_cast<size_t>(n), target.s_addr, id, seq, payloadSize);
    }
    auto elapsed = std::chrono::steady_clock::now() - start;
    close(fd);

    if (outcome.kind != Outcome::kReply) {
        errno = outcome.kind == Outcome::kNone ? ETIMEDOUT : outcome.error;
        return false;
    }
    result->address = target.s_addr;
    result->roundTripMs =
        static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
    return true;
}

std::string ResolveHostToIp(const char* host) {
    if (!host || !host[0]) return {};
    in_addr address{};
    if (!ResolveIPv4(host, &address)) return {};
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &address, text, sizeof text) ? text : std::string();
}
