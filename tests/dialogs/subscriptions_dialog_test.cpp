// The subscription dialogs and the proxy chooser without their windows: row
// texts, the URL check, the update proxy through Add and Edit, and changes
// the disk refuses.

#include <gtest/gtest.h>

#include "dialogs/base/subscriptions_core.h"

#include <memory>
#include "foundation/app_paths.h"
#include "nodes/node_mgr.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

namespace {

class SubscriptionDialogTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directory(dir / "config"); }
    static std::string Id(const DialogMessage& m) { return m.id ? m.id : "(none)"; }
    static std::unique_ptr<CNodeInfo> Proxy() {
        auto node = std::make_unique<CNodeInfo>();
        node->type = NodeTypeSSR;
        node->host = "proxy.example";
        node->port = 8388;
        node->password = "pw";
        node->method = "aes-256-gcm";
        node->protocol = "auth_chain_a";
        return node;
    }
    testsupport::TempDir dir{"cendrow-subscription-dialog"};
    CSubscriptionStore store{dir.path()};
};

TEST_F(SubscriptionDialogTest, FrequencyTextsAndRowTexts) {
    EXPECT_EQ(GetFrequencyText(0), "Every time");
    EXPECT_EQ(GetFrequencyText(3), "3 days");
    EXPECT_EQ(GetFrequencyText(7), "1 day");
    EXPECT_EQ(GetFrequencyText(-1), "1 day");
    SubscriptionGroup g;
    g.groupName = L"\u9ec4\u91d1";
    g.url = L"https://sub.example/a";
    g.frequency = 2;
    g.defaultObfsParams = L"cdn.example";
    EXPECT_EQ(SubscriptionRowTexts(g), (std::vector<std::wstring>{L"\u9ec4\u91d1", L"https://sub.example/a",
                                                                   L"2 days", L"-", L"cdn.example", L""}));
    g.proxyServer = "p.example";
    g.proxyPort = 1080;
    g.recentlyUpdated = 1700000000;
    std::vector<std::wstring> row = SubscriptionRowTexts(g);
    EXPECT_EQ(row[5], L"p.example:1080");
    EXPECT_EQ(row[3].size(), 19u);  // "%Y-%m-%d %H:%M:%S"
}

TEST_F(SubscriptionDialogTest, UrlCheck) {
    struct Case {
        std::wstring url;
        bool good;
    } cases[] = {
        {L"https://sub.example/path?x=1", true}, {L"HTTP://sub.example", true},
        {L"http://user@sub.example:8080/", true}, {L"ftp://sub.example", false},
        {L"sub.example/path", false},            {L"https:///path", false},
        {L"https://", false},                    {L"https://a.example/p q", false},
        {L"https://a.example/\r\nX", false},     {L"https://a.example/\u3000", false},
        {L"http://:80/", false},
    };
    for (const Case& c : cases) EXPECT_EQ(!CheckSubscriptionUrl(c.url), c.good);
}

TEST_F(SubscriptionDialogTest, AddEditAndRemoveThroughTheStore) {
    CSubscriptionsCore core(store);
    EXPECT_FALSE(core.Add(L"   ", 2, L"").done);
    EXPECT_EQ(core.IsChanged(), 0);
    CSubscriptionsCore::Outcome bad = core.Add(L"sub.example", 2, L"");
    EXPECT_EQ(Id(bad.message), "Enter an http or https address with a host name.");
    EXPECT_TRUE(store.GetGroups().empty());

    auto proxy = Proxy();
    core.ChooseProxy(proxy.get());
    ASSERT_TRUE(core.Add(L" https://sub.example/a ", -1, L" obfs ").done);
    EXPECT_EQ(core.GetChosenProxy(), nullptr);
    EXPECT_EQ(core.IsChanged(), 1);
    const SubscriptionGroup& g = *store.GetGroups().front();
    EXPECT_EQ(g.url, L"https://sub.example/a");
    EXPECT_EQ(g.frequency, 1);
    EXPECT_EQ(g.defaultObfsParams, L"obfs");
    EXPECT_EQ(g.proxyServer, "proxy.example");
    EXPECT_EQ(g.proxyProtocol, "auth_chain_a");

    // A URL already held changes nothing in the store but counts as done.
    EXPECT_TRUE(core.Add(L"HTTPS://SUB.EXAMPLE/A", 0, L"").done);
    EXPECT_EQ(store.GetGroups().size(), 1u);

    // Only the frequency changed: the update proxy stays.
    CEditSubscriptionCore edit(g);
    EXPECT_EQ(edit.ProxyText(), L"proxy.example:8388");
    edit.OnFrequencyChosen();
    edit.OnSave(3, L" obfs ");
    ASSERT_TRUE(core.ApplyEdit(g, edit).done);
    EXPECT_EQ(g.frequency, 3);
    EXPECT_EQ(g.proxyServer, "proxy.example");
    EXPECT_EQ(g.proxyMethod, "aes-256-gcm");
    EXPECT_EQ(g.proxyProtocol, "auth_chain_a");

    // Remove proxy and Save clear it.
    CEditSubscriptionCore cleared(g);
    cleared.OnRemoveProxy();
    cleared.OnSave(3, L"obfs");
    EXPECT_EQ(cleared.IsChanged(), 1);
    ASSERT_TRUE(core.ApplyEdit(g, cleared).done);
    EXPECT_FALSE(SubscriptionHasProxy(g));

    ASSERT_TRUE(core.Remove(L"https://sub.example/a").done);
    EXPECT_TRUE(store.GetGroups().empty());
}

TEST_F(SubscriptionDialogTest, EditDialogState) {
    SubscriptionGroup g;
    g.url = L"https://s.example";
    g.defaultObfsParams = L"p";
    CEditSubscriptionCore noName(g);
    EXPECT_EQ(noName.UrlText(), L"https://s.example");
    EXPECT_FALSE(noName.HasProxy());
    noName.OnParamsEdited(L" p ");
    EXPECT_EQ(noName.IsChanged(), 0);
    noName.OnParamsEdited(L"q");
    EXPECT_EQ(noName.IsChanged(), 1);
    g.groupName = L"\u9ec4";
    EXPECT_EQ(CEditSubscriptionCore(g).UrlText(), L"[\u9ec4] https://s.example");
    auto proxy = Proxy();
    CEditSubscriptionCore picked(g);
    picked.OnProxyChosen(proxy.get());
    EXPECT_EQ(picked.IsChanged(), 1);
    EXPECT_EQ(picked.GetChosenProxy(), proxy.get());
}

// A change the disk refuses is reported and undone: memory and file agree.
TEST_F(SubscriptionDialogTest, FullDiskIsReportedAndNothingChanges) {
    CSubscriptionsCore core(store);
    ASSERT_TRUE(core.Add(L"https://\u9ec4.example/a", 1, L"").done);
    ASSERT_TRUE(core.Add(L"https://c.example/", 1, L"").done);
    const std::string before = testsupport::ReadFile(store.GetFilePath());
    {
        testsupport::FileSizeLimit full(16);
        ASSERT_TRUE(full.active());
        CSubscriptionsCore::Outcome add = core.Add(L"https://b.example", 1, std::wstring(200, L'p'));
        EXPECT_FALSE(add.done);
        EXPECT_EQ(Id(add.message), "The subscriptions could not be saved; nothing was changed.");
        EXPECT_FALSE(core.Remove(L"https://\u9ec4.example/a").done);
    }
    ASSERT_EQ(store.GetGroups().size(), 2u);
    EXPECT_EQ(testsupport::ReadFile(store.GetFilePath()), before);
}

TEST_F(SubscriptionDialogTest, ChooserRowTexts) {
    CNodeInfo s5;
    s5.type = NodeTypeSocks5;
    s5.host = "s5.example";
    s5.port = 1080;
    EXPECT_EQ(ProxyChooserRowText(s5, false), L"[S5] Default Group -> s5.example:1080");
    EXPECT_EQ(ProxyChooserRowText(s5, true), L"[-] -:-");
    s5.remarks = "\xE4\xB8\x9C\xE4\xBA\xAC";
    s5.group = "G";
    EXPECT_EQ(ProxyChooserRowText(s5, true), L"[S5] G -> \u4e1c\u4eac");
}

}  // namespace
