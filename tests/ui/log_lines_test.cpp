// Log lines: the pieces of a line by level and time prefix, and lines from
// several threads arriving whole and in order.
#include <gtest/gtest.h>

#include <cwctype>
#include <thread>

#include "ui/base/log_line_queue.h"
#include "ui/log_views.h"

namespace {

TEST(LogLines, PiecesByLevelAndTime) {
    const struct {
        int level;
        COLORREF colour;
    } levels[] = {{1, RGB(0, 0, 0)}, {2, RGB(0, 200, 0)}, {3, RGB(255, 0, 0)}, {0, RGB(0, 0, 0)}, {9, RGB(0, 0, 0)}};
    for (const auto& l : levels) {
        const LogLine line = CTestingLogRichedit::BuildLine(L"step", l.level, false, 0);
        ASSERT_EQ(line.size(), 2u) << l.level;
        EXPECT_EQ(line[0].text, L"step");
        EXPECT_EQ(line[0].colour, l.colour) << l.level;
        EXPECT_EQ(line[1].text, L"\n");
        EXPECT_EQ(line[1].colour, RGB(0, 0, 0));
    }
    // With the time: minutes and seconds in brackets and two blanks, in black.
    const LogLine timed = CTestingLogRichedit::BuildLine(L"passed", 2, true, 3 * 60 + 7);
    ASSERT_EQ(timed.size(), 3u);
    const std::wstring& prefix = timed[0].text;
    ASSERT_EQ(prefix.size(), 9u);
    EXPECT_TRUE(prefix[0] == L'[' && iswdigit(prefix[1]) && iswdigit(prefix[2]) && prefix.substr(3) == L":07]  ")
        << std::string(prefix.begin(), prefix.end());
    EXPECT_EQ(timed[0].colour, RGB(0, 0, 0));
    EXPECT_EQ(timed[1].colour, RGB(0, 200, 0));
    // A null text is an empty line, never a crash.
    EXPECT_EQ(CTestingLogRichedit::BuildLine(nullptr, 1, false, 0)[0].text, L"");
}

TEST(LogLines, TwoThreadsDeliverWholeLinesInOrder) {
    LogLineQueue queue;
    std::vector<LogLine> delivered;
    std::atomic<int> asks{0};
    constexpr int kLines = 2000;
    auto writer = [&](wchar_t tag) {
        for (int i = 0; i < kLines; ++i) {
            LogLine line = {{std::wstring(1, tag) + std::to_wstring(i), RGB(0, 200, 0)}, {L"\n", 0}};
            if (queue.Push(std::move(line))) ++asks;
        }
    };
    std::thread a(writer, L'a'), b(writer, L'b');
    // The window's thread takes batches meanwhile.
    for (int i = 0; i < 200; ++i) {
        for (auto& line : queue.Take()) delivered.push_back(std::move(line));
        std::this_thread::yield();
    }
    a.join();
    b.join();
    for (auto& line : queue.Take()) delivered.push_back(std::move(line));

    ASSERT_EQ(delivered.size(), 2u * kLines);
    int next[2] = {0, 0};
    for (const LogLine& line : delivered) {
        ASSERT_EQ(line.size(), 2u);
        const int who = line[0].text[0] == L'a' ? 0 : 1;
        EXPECT_EQ(line[0].text.substr(1), std::to_wstring(next[who]++));
        EXPECT_EQ(line[1].text, L"\n");
    }
    EXPECT_GE(asks.load(), 1);
    EXPECT_LE(asks.load(), 2 * kLines);
    queue.Push({{L"x", 0}});
    queue.Clear();
    EXPECT_TRUE(queue.Take().empty());

    // A delivery in batches: the oldest lines first, the rest stay queued
    // (and a Push then does not ask again: the one who took must).
    for (int i = 0; i < 5; ++i) queue.Push({{std::to_wstring(i), 0}});
    const auto first = queue.Take(2);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[1][0].text, L"1");
    EXPECT_FALSE(queue.Push({{L"5", 0}}));
    const auto rest = queue.Take(10);
    ASSERT_EQ(rest.size(), 4u);
    EXPECT_EQ(rest.front()[0].text, L"2");
    EXPECT_EQ(rest.back()[0].text, L"5");
    EXPECT_TRUE(queue.Push({{L"6", 0}})) << "emptied: the next line asks";
}

}  // namespace
