// What the about box and the action-log window show.
#include <gtest/gtest.h>

#include "dialogs/base/about_core.h"
#include "nodes/edition/vantor_authorization.h"

namespace {

TEST(AboutBox, BuildTimeAndPort) {
    EXPECT_EQ(AboutBuildText("09:05:01", "Mar  7 2026", 16666), "09:05:01 Mar  7 2026.16666");
    // This build's text: "hh:mm:ss Mmm dd yyyy" and the default port.
    const std::string text = AboutBuildText();
    ASSERT_EQ(text.size(), 26u) << text;
    EXPECT_EQ(text.substr(text.size() - 6), ".16666");
    EXPECT_EQ(text[2], ':');
    EXPECT_EQ(text[8], ' ');
    // Never more than 100 characters.
    EXPECT_EQ(AboutBuildText(std::string(200, 'x').c_str(), "", 1).size(), 100u);
}

TEST(AboutBox, LinksWithoutAUrlAreHidden) {
    CVantorAuthorization::ReleaseInstance();
    std::vector<AboutLink> links = AboutLinks();
    ASSERT_EQ(links.size(), 5u);
    for (const AboutLink& link : links) EXPECT_FALSE(link.shown) << link.id;
    CVantorAuthorization::GetInstance()->SetLink(CVantorAuthorization::kWebsite, "https://cendrow.example/");
    CVantorAuthorization::GetInstance()->SetLink(CVantorAuthorization::kTelegramChannel, "https://t.example/c");
    links = AboutLinks();
    EXPECT_EQ(links[0].id, 1015);
    EXPECT_TRUE(links[0].shown);
    EXPECT_EQ(links[0].url, L"https://cendrow.example/");
    EXPECT_EQ(links[0].tooltip, L"https://cendrow.example/");
    EXPECT_FALSE(links[1].shown);
    EXPECT_EQ(links[4].id, 1055);
    EXPECT_TRUE(links[4].shown);
    EXPECT_EQ(links[4].tooltip, L"Telegram channel");
    CVantorAuthorization::ReleaseInstance();
}

TEST(ActionLogWindow, LinesAreJoinedWithABreakAfterEach) {
    EXPECT_EQ(JoinLogLines({}), L"");
    EXPECT_EQ(JoinLogLines({L"one", L"", L"\x8FDE\x63A5"}), L"one\n\n\x8FDE\x63A5\n");
}

}  // namespace
