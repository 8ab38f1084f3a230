#include "engine/base/blog.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

struct ChannelRow {
    const char* name;
    int level;
};

// Names of the rows the engine writes to; every other row is unused.
constexpr const char* KnownChannelName(int channel) {
    switch (channel) {
        case BLOG_CHANNEL_tun2socks:
            return "tun2socks";
        case BLOG_CHANNEL_BReactor:
            return "BReactor";
        case BLOG_CHANNEL_BSignal:
            return "BSignal";
        case BLOG_CHANNEL_BPredicate:
            return "BPredicate";
        case BLOG_CHANNEL_BSocksClient:
            return "BSocksClient";
        case BLOG_CHANNEL_PacketProtoDecoder:
            return "PacketProtoDecoder";
        case BLOG_CHANNEL_BTap:
            return "BTap";
        case BLOG_CHANNEL_UdpGwClient:
            return "UdpGwClient";
        case BLOG_CHANNEL_SocksUdpGwClient:
            return "SocksUdpGwClient";
        case BLOG_CHANNEL_BNetwork:
            return "BNetwork";
        case BLOG_CHANNEL_BConnection:
            return "BConnection";
        default:
            return "unused";
    }
}

constexpr int DefaultLevel(int channel) {
    return (channel == BLOG_CHANNEL_BReactor || channel == BLOG_CHANNEL_BSignal ||
            channel == BLOG_CHANNEL_BPredicate)
               ? BLOG_NOTICE
               : BLOG_INFO;
}

void EmptySink(int, int, const char*) {}
void EmptyRelease() {}

// Levels and the sink are read before the lock (so that a discarded message
// costs nothing) and written by the starting thread, hence atomics.
std::atomic<int> g_levels[BLOG_NUM_CHANNELS];
std::atomic<BLog_logfunc> g_sink{nullptr};  // null: not initialised
BLog_freefunc g_release = nullptr;
std::mutex g_mutex;
char g_buffer[BLOG_BUFFER_SIZE];
size_t g_used = 0;

bool ValidChannel(int channel) {
    return channel >= 0 && channel < BLOG_NUM_CHANNELS;
}

void AppendVarArg(const char* fmt, va_list ap) {
    size_t room = sizeof g_buffer - g_used;
    int n = vsnprintf(g_buffer + g_used, room, fmt, ap);
    if (n < 0) {
        g_buffer[g_used] = '\0';
        return;
    }
    if (static_cast<size_t>(n) >= room) {
        g_used = sizeof g_buffer - 1;  // cut; vsnprintf terminated it
    } else {
        g_used += static_cast<size_t>(n);
    }
}

void Deliver(int channel, int level) {
    BLog_logfunc sink = g_sink.load(std::memory_order_acquire);
    if (sink) sink(channel, level, g_buffer);
    g_used = 0;
    g_buffer[0] = '\0';
}

}  // namespace

void BLog_Init(BLog_logfunc sink, BLog_freefunc release) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (int i = 0; i < BLOG_NUM_CHANNELS; ++i) g_levels[i].store(DefaultLevel(i), std::memory_order_relaxed);
    g_used = 0;
    g_buffer[0] = '\0';
    g_release = release ? release : EmptyRelease;
    g_sink.store(sink ? sink : EmptySink, std::memory_order_release);
}

void BLog_InitEmpty(void) {
    BLog_Init(EmptySink, EmptyRelease);
}

void BLog_Free(void) {
    BLog_freefunc release;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_sink.load(std::memory_order_relaxed)) return;
        g_sink.store(nullptr, std::memory_order_release);
        release = g_release;
        g_release = nullptr;
    }
    if (release) release();
}

void BLog_SetChannelLevel(int channel, int level) {
    if (ValidChannel(channel)) g_levels[channel].store(level, std::memory_order_relaxed);
}

int BLog_GetChannelLevel(int channel) {
    return ValidChannel(channel) ? g_levels[channel].load(std::memory_order_relaxed) : 0;
}

const char* BLog_ChannelName(int channel) {
    return ValidChannel(channel) ? KnownChannelName(channel) : nullptr;
}

int BLog_WouldLog(int channel, int level) {
    if (!ValidChannel(channel)) return 0;
    BLog_logfunc sink = g_sink.load(std::memory_order_acquire);
    if (!sink || sink == EmptySink) return 0;
    return level <= g_levels[channel].load(std::memory_order_relaxed);
}

void BLog_WriteVarArg(int channel, int level, const char* fmt, va_list ap) {
    if (!BLog_WouldLog(channel, level)) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    AppendVarArg(fmt, ap);
    Deliver(channel, level);
}

void BLog_Write(int channel, int level, const char* fmt, ...) {
    if (!BLog_WouldLog(channel, level)) return;
    va_list ap;
    va_start(ap, fmt);
    BLog_WriteVarArg(channel, level, fmt, ap);
    va_end(ap);
}

void BLog_WriteClient(BLog_prefixfunc prefix, void* client, int level, const char* fmt, va_list ap) {
    if (!BLog_WouldLog(BLOG_CHANNEL_tun2socks, level)) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (prefix) prefix(client);
    AppendVarArg(fmt, ap);
    Deliver(BLOG_CHANNEL_tun2socks, level);
}

void BLog_AppendText(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    AppendVarArg(fmt, ap);
    va_end(ap);
}
