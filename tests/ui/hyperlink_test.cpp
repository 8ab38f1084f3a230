// Following a hyperlink: a notification to the dialog's target, or the URL
// handed to xdg-open (a fake one first in PATH records its argument vector).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "foundation/message_box.h"
#include "foundation/text_convert.h"
#include "platform/open_url.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "ui/base/hyperlink_model.h"

namespace {

class HyperLink : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = SetMessageBoxSink([this](const std::wstring& text, const std::wstring&, unsigned) {
            boxes_.push_back(text);
            return IDOK;
        });
    }
    void TearDown() override { SetMessageBoxSink(previous_); }

    // A fake xdg-open that writes one argument per line and exits with `code`.
    void InstallFakeOpener(int code) {
        const auto script = dir_ / "xdg-open";
        testsupport::WriteFile(script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                                           (dir_ / "args").string() + "\"\necho $# >> \"" +
                                           (dir_ / "args").string() + "\"\nexit " + std::to_string(code) +
                                           "\n");
        chmod(script.c_str(), 0755);
        path_.emplace("PATH", (dir_.path().string() + ":/usr/bin:/bin").c_str());
    }
    std::string Recorded() const {
        return std::filesystem::exists(dir_ / "args") ? testsupport::ReadFile(dir_ / "args") : "";
    }

    testsupport::TempDir dir_{"cendrow-link"};
    std::optional<testsupport::ScopedEnv> path_;
    std::vector<std::wstring> boxes_;
    MessageBoxSink previous_;
};

TEST_F(HyperLink, NotifyTargetGetsTheUrlAndFive) {
    InstallFakeOpener(0);
    HyperLinkModel link;
    link.SetURL(L"http://example.invalid/account");
    std::wstring got;
    int code = 0;
    link.SetNotifyTarget([&](const std::wstring& url, int c) {
        got = url;
        code = c;
    });
    EXPECT_GT(link.FollowLink(), 32);
    EXPECT_EQ(got, L"http://example.invalid/account");
    EXPECT_EQ(code, 5);
    EXPECT_TRUE(link.visited);
    EXPECT_EQ(Recorded(), "") << "no browser is started";
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(HyperLink, OpensHttpAndHttpsAsOneArgument) {
    InstallFakeOpener(0);
    for (const std::wstring url :
         {L"https://example.invalid/a b?x=1&y=\"2\";$(id)", L"HTTP://example.invalid/"}) {
        HyperLinkModel link;
        link.SetURL(url);
        EXPECT_GT(link.FollowLink(), 32);
        EXPECT_TRUE(link.visited);
        EXPECT_EQ(Recorded(), WideToUtf8String(url) + "\n1\n")
            << "exactly one argument, unquoted and unexpanded";
    }
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(HyperLink, Failures) {
    const struct {
        const char* name;
        const wchar_t* url;
        int exit;  // of the fake opener; -1: no opener in PATH
        int code;
        bool runs;
    } cases[] = {
        {"other scheme", L"file:///etc/passwd", 0, 31, false},
        {"javascript", L"javascript:alert(1)", 0, 31, false},
        {"empty", L"", 0, 31, false},
        {"no host part", L"http://", 0, 31, false},
        {"control character", L"http://a\nb", 0, 31, false},
        {"nothing handles it", L"http://example.invalid/", 3, 31, true},
        {"file not found", L"http://example.invalid/", 2, 2, true},
        {"other failure", L"http://example.invalid/", 4, 1, true},
        {"xdg-open missing", L"http://example.invalid/", -1, 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir_ / "args");
        boxes_.clear();
        if (c.exit >= 0) {
            InstallFakeOpener(c.exit);
        } else {
            std::filesystem::remove(dir_ / "xdg-open");
            path_.emplace("PATH", dir_.path().c_str());
        }
        bool beeped = false;
        HyperLinkModel link;
        link.SetBeep([&] { beeped = true; });
        link.SetURL(c.url);
        EXPECT_EQ(link.FollowLink(), c.code);
        EXPECT_FALSE(link.visited);
        EXPECT_TRUE(beeped);
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0], L"Can not open link:\n\n" + LinkErrorText(c.code));
        EXPECT_EQ(!Recorded().empty(), c.runs);
    }
}

TEST(LinkErrorText, Table) {
    EXPECT_EQ(LinkErrorText(2), L"指定文件找不到.");
    EXPECT_EQ(LinkErrorText(31), L"指定文件扩展名没有应用程序关联.");
    EXPECT_EQ(LinkErrorText(1), L"发生未知错误 (1) .");
}

}  // namespace
