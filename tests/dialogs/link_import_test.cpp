// Share links typed into the link popup and the batch dialog: trimming,
// separators, links longer than any fixed buffer, and the count of pieces
// that could not be read.

#include <gtest/gtest.h>

#include "dialogs/base/link_import.h"
#include "foundation/app_paths.h"
#include "foundation/base64.h"
#include "nodes/node_mgr.h"
#include "tests/support/temp_dir.h"

namespace {

const char* kSsr = "ssr://1.2.3.4:443:auth_sha1_v4:rc4-md5:http_simple:eA";
const char* kSs = "ss://YWVzLTI1Ni1nY206cHc@5.6.7.8:8388";  // aes-256-gcm:pw

class LinkImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitAppPaths(dir.path() / "cendrow");
        CNodeMgr::ReleaseInstance();
    }
    void TearDown() override { CNodeMgr::ReleaseInstance(); }
    static std::string Id(const DialogMessage& m) { return m.id ? m.id : "(none)"; }
    testsupport::TempDir dir{"cendrow-links"};
};

TEST_F(LinkImportTest, PopupParsesTrimmedTextAndReportsTheRest) {
    struct Case {
        std::wstring text;
        const char* message;
    } cases[] = {
        {L"ssr://1.2.3.4:443:auth_sha1_v4:rc4-md5:http_simple:eA\r\n", "(none)"},
        {L"  \t\r\n ", "Please enter the proxy link( Support shadowsocks link )."},
        {L"vmess://abc", "Can not resolve this link."},
        {L"ssr://1.2.3.4:443:origin:rc4-md5:plain:eA\r\nssr://x", "Can not resolve this link."},
    };
    for (const Case& c : cases) {
        LinkParseResult r = ParseLinkText(c.text);
        EXPECT_EQ(Id(r.message), c.message);
        EXPECT_EQ(r.node != nullptr, r.message.id == nullptr);
    }
    // The popup never adds to the list.
    EXPECT_EQ(CNodeMgr::GetInstance()->GetNodeCount(), 0u);
}

TEST_F(LinkImportTest, LinkLongerThanFourKilobytesIsReadWhole) {
    const std::string remarks(5000, 'r');
    std::string encoded = Base64Encode(remarks.data(), remarks.size());
    for (char& c : encoded) c = c == '+' ? '-' : c == '/' ? '_' : c;
    while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
    const std::string link = std::string(kSsr) + "/?remarks=" + encoded + "&udpport=53";
    ASSERT_GT(link.size(), 4096u);
    LinkParseResult r = ParseLinkText(std::wstring(link.begin(), link.end()));
    ASSERT_NE(r.node, nullptr) << Id(r.message);
    EXPECT_EQ(r.node->remarks, remarks);
    EXPECT_EQ(r.node->udpPort, 53);
    // The same link in a batch.
    BatchAddResult b = BatchAddLinks(std::wstring(link.begin(), link.end()));
    EXPECT_EQ(b.added, 1);
    ASSERT_EQ(CNodeMgr::GetInstance()->GetNodes().size(), 1u);
    EXPECT_EQ(CNodeMgr::GetInstance()->GetNodes()[0]->remarks.size(), remarks.size());
}

TEST_F(LinkImportTest, BatchSplitsAtEverySeparator) {
    const std::wstring a(kSsr, kSsr + strlen(kSsr)), b(kSs, kSs + strlen(kSs));
    EXPECT_EQ(SplitBatchLinks(a + L"," + b + L" | " + a + L"\r\n\r\n" + b + L"\n"),
              (std::vector<std::string>{kSsr, kSs, kSsr, kSs}));
    EXPECT_TRUE(SplitBatchLinks(L" ,|, | ").empty());
}

TEST_F(LinkImportTest, BatchCountsAddedAndUnreadPieces) {
    const std::wstring a(kSsr, kSsr + strlen(kSsr)), b(kSs, kSs + strlen(kSs));
    struct Case {
        std::wstring text;
        bool finished;
        int added, unread;
        std::string shown;
    } cases[] = {
        {a + L"," + b + L" | " + a, true, 3, 0, ""},
        {L",|,|", true, 0, 0, ""},
        {L" \r\n\t ", false, 0, 0, ""},
        {a + L" ss://broken " + std::wstring(150, L'x') + L" " + b, true, 2, 2, "ss://broken"},
        {std::wstring(150, L'y'), true, 0, 1, std::string(100, 'y') + "..."},
    };
    for (const Case& c : cases) {
        CNodeMgr::ReleaseInstance();
        BatchAddResult r = BatchAddLinks(c.text);
        EXPECT_EQ(r.finished, c.finished);
        EXPECT_EQ(r.added, c.added);
        EXPECT_EQ(r.unread, c.unread);
        EXPECT_EQ(CNodeMgr::GetInstance()->GetNodeCount(), static_cast<size_t>(c.added));
        if (!c.finished) {
            EXPECT_EQ(Id(r.message), "Input shadowsocks server link please.");
        } else if (c.unread == 0) {
            EXPECT_FALSE(r.message);
        } else {
            EXPECT_EQ(r.message.Text(), std::to_string(c.added) + " links were added. " + std::to_string(c.unread) +
                                            " pieces could not be read; the first: " + c.shown);
        }
    }
}

}  // namespace
