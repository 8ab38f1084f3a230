#include "engine/base/blog.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/blog_capture.h"

using testsupport::BLogCapture;

namespace {

void PrefixHundred(void*) {
    BLog_AppendText("%s", std::string(100, 'p').c_str());
}

void WriteClient(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    BLog_WriteClient(PrefixHundred, nullptr, BLOG_INFO, fmt, ap);
    va_end(ap);
}

int g_evaluated = 0;
int Evaluate() {
    ++g_evaluated;
    return 7;
}

}  // namespace

TEST(BLog, DefaultLevelsAndChannelNames) {
    BLogCapture log;
    BLog_InitEmpty();  // restart with the defaults
    EXPECT_EQ(BLog_GetChannelLevel(BLOG_CHANNEL_tun2socks), BLOG_INFO);
    EXPECT_EQ(BLog_GetChannelLevel(BLOG_CHANNEL_BReactor), BLOG_NOTICE);
    EXPECT_EQ(BLog_GetChannelLevel(BLOG_CHANNEL_BSignal), BLOG_NOTICE);
    EXPECT_EQ(BLog_GetChannelLevel(BLOG_CHANNEL_BPredicate), BLOG_NOTICE);
    EXPECT_EQ(BLog_GetChannelLevel(146), BLOG_INFO);
    EXPECT_STREQ(BLog_ChannelName(BLOG_CHANNEL_UdpGwClient), "UdpGwClient");
    EXPECT_STREQ(BLog_ChannelName(BLOG_CHANNEL_BConnection), "BConnection");
    EXPECT_EQ(BLog_ChannelName(BLOG_NUM_CHANNELS), nullptr);
}

TEST(BLog, LevelFilterAndFunctionPrefix) {
    BLogCapture log(BLOG_INFO);
#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_BTap
    BLog(BLOG_INFO, "opened %d", 3);
    g_evaluated = 0;
    BLog(BLOG_DEBUG, "never %d", Evaluate());
#undef BLOG_CURRENT_CHANNEL
    EXPECT_EQ(g_evaluated, 0) << "a discarded message must not evaluate its arguments";
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].channel, BLOG_CHANNEL_BTap);
    EXPECT_EQ(lines[0].level, BLOG_INFO);
    EXPECT_EQ(lines[0].text, "[TestBody] opened 3");
}

TEST(BLog, EmptySinkFormatsNothing) {
    BLog_InitEmpty();
    EXPECT_FALSE(BLog_WouldLog(BLOG_CHANNEL_tun2socks, BLOG_ERROR));
    BLog_Free();
    EXPECT_FALSE(BLog_WouldLog(BLOG_CHANNEL_tun2socks, BLOG_ERROR));
    BLog_Write(BLOG_CHANNEL_tun2socks, BLOG_ERROR, "after free");  // harmless
}

TEST(BLog, LongMessageIsCutAndNextStartsEmpty) {
    BLogCapture log;
    std::string body(2000, 'x');
    WriteClient("%s", body.c_str());
    BLog_Write(BLOG_CHANNEL_tun2socks, BLOG_INFO, "short");
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].channel, BLOG_CHANNEL_tun2socks);
    ASSERT_EQ(lines[0].text.size(), 2047u);
    EXPECT_EQ(lines[0].text.substr(0, 100), std::string(100, 'p'));
    EXPECT_EQ(lines[0].text.substr(100), std::string(1947, 'x'));
    EXPECT_EQ(lines[1].text, "short");
}

TEST(BLog, ReleaseFunctionRunsOnFree) {
    static int released = 0;
    released = 0;
    BLog_Init([](int, int, const char*) {}, [] { ++released; });
    BLog_Free();
    BLog_Free();
    EXPECT_EQ(released, 1);
}
