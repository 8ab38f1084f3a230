#pragma once
// The engine log: 147 numbered channels, each with its own level, one sink
// that receives every produced message, and one mutex so that messages from
// different threads never interleave. A message is produced only when its
// level is not above its channel's level and a sink other than the empty one
// is installed; otherwise nothing is formatted and no lock is taken.

#include <cstdarg>

enum {
    BLOG_ERROR = 1,
    BLOG_WARNING = 2,
    BLOG_NOTICE = 3,
    BLOG_INFO = 4,
    BLOG_DEBUG = 5,
};

#define BLOG_NUM_CHANNELS 147
#define BLOG_BUFFER_SIZE 2048

// The channels the engine writes to; the other rows exist so that these keep
// their numbers.
enum {
    BLOG_CHANNEL_tun2socks = 3,
    BLOG_CHANNEL_BReactor = 49,
    BLOG_CHANNEL_BSignal = 50,
    BLOG_CHANNEL_BPredicate = 52,
    BLOG_CHANNEL_BSocksClient = 57,
    BLOG_CHANNEL_PacketProtoDecoder = 65,
    BLOG_CHANNEL_BTap = 78,
    BLOG_CHANNEL_UdpGwClient = 89,
    BLOG_CHANNEL_SocksUdpGwClient = 90,
    BLOG_CHANNEL_BNetwork = 91,
    BLOG_CHANNEL_BConnection = 92,
};

// Receives one finished message; must not log itself.
typedef void (*BLog_logfunc)(int channel, int level, const char* msg);
// Called by BLog_Free to release the sink.
typedef void (*BLog_freefunc)(void);
// Appends a per-connection prefix with BLog_AppendText.
typedef void (*BLog_prefixfunc)(void* client);

// Starts the log with the empty sink (every message discarded) and the
// default channel levels (4, and 3 for BReactor, BSignal and BPredicate).
void BLog_InitEmpty(void);
// The same with a sink of the caller's choice.
void BLog_Init(BLog_logfunc sink, BLog_freefunc release);
// Stops the log and calls the sink's release function.
void BLog_Free(void);

void BLog_SetChannelLevel(int channel, int level);
int BLog_GetChannelLevel(int channel);
const char* BLog_ChannelName(int channel);

// True when a message of this level on this channel would reach a sink.
int BLog_WouldLog(int channel, int level);

void BLog_Write(int channel, int level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
void BLog_WriteVarArg(int channel, int level, const char* fmt, va_list ap);
// A message on the tun2socks channel behind the prefix that `prefix` appends for `client`.
void BLog_WriteClient(BLog_prefixfunc prefix, void* client, int level, const char* fmt, va_list ap);
// Only valid inside a prefix function (the log's lock is held there).
void BLog_AppendText(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Logs on the file's BLOG_CURRENT_CHANNEL with the calling function's name in
// front; the arguments are not evaluated when the message would be discarded.
#define BLog(level, fmt, ...)                                                                            \
    do {                                                                                                 \
        if (BLog_WouldLog(BLOG_CURRENT_CHANNEL, (level)))                                                \
            BLog_Write(BLOG_CURRENT_CHANNEL, (level), "[%s] " fmt, __func__ __VA_OPT__(, ) __VA_ARGS__); \
    } while (0)
