#include "nodes/subscriptions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "foundation/app_paths.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// A program folder with its config folder, as the program lays it out.
class ProgramFolder {
public:
    ProgramFolder() { std::filesystem::create_directory(dir_ / "config"); }
    const std::filesystem::path& path() const { return dir_.path(); }
    std::filesystem::path file() const { return dir_ / "config/ssrsubscriptions.ini"; }

private:
    TempDir dir_;
};

std::unique_ptr<CNodeInfo> UpdateProxy() {
    auto node = std::make_unique<CNodeInfo>();
    node->type = NodeTypeSSR;
    node->host = "proxy.example";
    node->port = 8388;
    node->user = "user";
    node->password = "p\xc3\xa4ss:word";
    node->method = "aes-256-cfb";
    node->protocol = "auth_chain_a";
    node->obfs = "http_simple";
    node->obfsParam = "cdn.example.com";
    node->protocolParam = "42:key";
    return node;
}

void ExpectProxyOf(const SubscriptionGroup& g, const CNodeInfo& node) {
    EXPECT_EQ(g.proxyType, node.type);
    EXPECT_EQ(g.proxyServer, node.host);
    EXPECT_EQ(g.proxyPort, node.port);
    EXPECT_EQ(g.proxyUser, node.user);
    EXPECT_EQ(g.proxyPassword, node.password);
    EXPECT_EQ(g.proxyMethod, node.method);
    EXPECT_EQ(g.proxyProtocol, node.protocol);
    EXPECT_EQ(g.proxyObfs, node.obfs);
    EXPECT_EQ(g.proxyObfsParam, node.obfsParam);
    EXPECT_EQ(g.proxyProtocolParam, node.protocolParam);
}

void ExpectNoProxy(const SubscriptionGroup& g) {
    EXPECT_EQ(g.proxyType, NodeTypeSocks5);
    EXPECT_EQ(g.proxyPort, 0);
    EXPECT_TRUE(g.proxyServer.empty() && g.proxyUser.empty() && g.proxyPassword.empty() &&
                g.proxyMethod.empty() && g.proxyProtocol.empty() && g.proxyObfs.empty() &&
                g.proxyObfsParam.empty() && g.proxyProtocolParam.empty());
}

std::vector<const SubscriptionGroup*> Groups(const CSubscriptionStore& store) {
    std::vector<const SubscriptionGroup*> out;
    for (const auto& g : store.GetGroups()) out.push_back(g.get());
    return out;
}

// The program's own store, through the program folder: records written by
// an earlier run (non-ASCII names), then added, edited and removed, survive
// a save and a fresh load byte for byte.
TEST(Subscriptions, RoundTripThroughTheProgramFolder) {
    ProgramFolder prog;
    ASSERT_EQ(InitAppPaths(prog.path() / "cendrow"), 1);
    WriteFile(prog.file(),
              "[basic]\n"
              "groupname1=\xe6\x97\xa5\xe6\x9c\xac \xe3\x82\xb0\xe3\x83\xab\xe3\x83\xbc\xe3\x83\x97\n"
              "url1=https://sub.example/jp\n"
              "recently_updated1=1700000000\n"
              "frequency1=3\n"
              "default_params_of_obfs1=\xd0\xbf\xd0\xb0\xd1\x80\xd0\xb0\xd0\xbc\n"
              "groupname2=\xd0\x93\xd1\x80\xd1\x83\xd0\xbf\xd0\xbf\xd0\xb0 \xf0\x9f\x9a\x80\n"
              "url2=https://sub.example/ru\n"
              "recently_updated2=0\n");
    LoadSubscriptions();
    ASSERT_EQ(GetSubscriptionGroups().size(), 2u);
    EXPECT_EQ(GetSubscriptionGroups().front()->groupName, L"\u65e5\u672c \u30b0\u30eb\u30fc\u30d7");
    EXPECT_EQ(GetSubscriptionGroups().back()->groupName, L"\u0413\u0440\u0443\u043f\u043f\u0430 \U0001F680");
    EXPECT_EQ(HasSubscriptionUrl(L"HTTPS://SUB.EXAMPLE/RU"), 1);

    auto proxy = UpdateProxy();
    EXPECT_EQ(AddSubscriptionGroup(proxy.get(), L"https://sub.example/\u00e9t\u00e9", 1, L"obfs=\u00fc"), 1);
    EXPECT_EQ(EditSubscriptionGroup(nullptr, L"https://SUB.example/jp", 0, L"edited"), 1);
    EXPECT_EQ(RemoveSubscriptionGroup(L"https://sub.example/ru"), 1);
    const std::string saved = ReadFile(prog.file());

    CSubscriptionStore again(prog.path());
    again.Load();
    auto groups = Groups(again);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0]->groupName, L"\u65e5\u672c \u30b0\u30eb\u30fc\u30d7");
    EXPECT_EQ(groups[0]->url, L"https://sub.example/jp");
    EXPECT_EQ(groups[0]->recentlyUpdated, 1700000000);
    EXPECT_EQ(groups[0]->frequency, 0);
    EXPECT_EQ(groups[0]->defaultObfsParams, L"edited");
    ExpectNoProxy(*groups[0]);
    EXPECT_EQ(groups[1]->groupName, L"");
    EXPECT_EQ(groups[1]->url, L"https://sub.example/\u00e9t\u00e9");
    EXPECT_EQ(groups[1]->frequency, 1);
    EXPECT_EQ(groups[1]->defaultObfsParams, L"obfs=\u00fc");
    ExpectProxyOf(*groups[1], *proxy);

    ASSERT_EQ(again.Save(), 1);
    EXPECT_EQ(ReadFile(prog.file()), saved);
}

TEST(Subscriptions, FreshFileHoldsEveryKeyInOrder) {
    ProgramFolder prog;
    CSubscriptionStore store(prog.path());
    store.Load();
    auto proxy = UpdateProxy();
    proxy->obfs = "plain";
    proxy->obfsParam.clear();
    proxy->password = "pw";
    store.Add(proxy.get(), L"https://sub.example/a", 2, L"");
    store.Add(nullptr, L"https://sub.example/b", 0, L"x=1");
    EXPECT_EQ(ReadFile(prog.file()),
              "[basic]\n"
              "groupname1=\nurl1=https://sub.example/a\nrecently_updated1=0\nfrequency1=2\n"
              "default_params_of_obfs1=\np_type1=6\np_server1=proxy.example\np_server_port1=8388\n"
              "p_username1=user\np_password1=cHc=\np_protocol1=auth_chain_a\np_protocolparam1=NDI6a2V5\n"
              "p_obfs1=plain\np_obfsparam1=\np_method1=aes-256-cfb\n"
              "groupname2=\nurl2=https://sub.example/b\nrecently_updated2=0\nfrequency2=0\n"
              "default_params_of_obfs2=x=1\np_type2=5\np_server2=\np_server_port2=0\n"
              "p_username2=\np_password2=\np_protocol2=\np_protocolparam2=\n"
              "p_obfs2=\np_obfsparam2=\np_method2=\n");
}

TEST(Subscriptions, LoadingToleratesGapsRepeatsAndBadNumbers) {
    ProgramFolder prog;
    WriteFile(prog.file(),
              "[basic]\n"
              // 1: no frequency, no p_type, an update proxy without a port.
              "groupname1=a\nurl1=https://a.example\nrecently_updated1=4294967295\n"
              "p_server1=proxy.example\np_username1=u\np_password1=cHc=\n"
              // 2: an empty URL is skipped, the walk goes on.
              "groupname2=b\nurl2=\nrecently_updated2=1\n"
              // 3: the same URL in other letters is dropped.
              "groupname3=c\nurl3=HTTPS://A.EXAMPLE\nrecently_updated3=1\n"
              // 4: a full update proxy; the recent time is beyond 32 bits.
              "groupname4=d\nurl4=https://d.example\nrecently_updated4=99999999999\nfrequency4=2\n"
              "p_type4=3\np_server4=proxy.example\np_server_port4=3128\np_username4=u\np_password4=cHc=\n"
              // 5: a port beyond 16 bits is no port.
              "groupname5=e\nurl5=https://e.example\nrecently_updated5=0\n"
              "p_server5=proxy.example\np_server_port5=65536\n"
              // 6 is missing its URL: the walk ends, 7 is never read.
              "groupname6=f\nrecently_updated6=0\n"
              "groupname7=g\nurl7=https://g.example\nrecently_updated7=0\n");
    CSubscriptionStore store(prog.path());
    store.Load();
    auto groups = Groups(store);
    ASSERT_EQ(groups.size(), 3u);

    EXPECT_EQ(groups[0]->url, L"https://a.example");
    EXPECT_EQ(groups[0]->recentlyUpdated, -1);
    EXPECT_EQ(groups[0]->frequency, 0);
    ExpectNoProxy(*groups[0]);

    EXPECT_EQ(groups[1]->url, L"https://d.example");
    EXPECT_EQ(groups[1]->recentlyUpdated, -1);
    EXPECT_EQ(groups[1]->frequency, 2);
    EXPECT_EQ(groups[1]->proxyType, NodeTypeHttp);
    EXPECT_EQ(groups[1]->proxyPort, 3128);
    EXPECT_EQ(groups[1]->proxyUser, "u");
    EXPECT_EQ(groups[1]->proxyPassword, "pw");
    EXPECT_EQ(groups[1]->proxyMethod, "");

    EXPECT_EQ(groups[2]->url, L"https://e.example");
    ExpectNoProxy(*groups[2]);

    // Written back, a time of -1 reads 4294967295 again.
    ASSERT_EQ(store.Save(), 1);
    EXPECT_NE(ReadFile(prog.file()).find("recently_updated1=4294967295\n"), std::string::npos);
    EXPECT_EQ(ReadFile(prog.file()).find("url4"), std::string::npos);
}

// Records the list did not take are never lost: hand-written records
// without "recently_updated" load, an unchanged list is not written at quit,
// and a file whose list ends before its last record is kept aside, once,
// before its first rewrite.
TEST(Subscriptions, RecordsTheListDidNotTakeSurviveARewrite) {
    auto record = [](int n, bool withTime = true) {
        std::string k = std::to_string(n);
        return "groupname" + k + "=g" + k + "\nurl" + k + "=https://s.example/" + k + "\n" +
               (withTime ? "recently_updated" + k + "=5\n" : "") + "frequency" + k + "=2\n";
    };
    struct Case {
        const char* name;
        std::string file;
        size_t loaded;
        bool keptAside;
    } cases[] = {
        {"one record without a time", "[basic]\n" + record(1, false), 1, false},
        {"the middle of three without a time", "[basic]\n" + record(1) + record(2, false) + record(3), 3, false},
        {"a gap in the numbering", "[basic]\n" + record(1) + record(2) + record(4), 2, true},
        {"the list's last record without a URL",
         "[basic]\n" + record(1) + "groupname2=g2\nrecently_updated2=1\n", 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder prog;
        WriteFile(prog.file(), c.file);
        CSubscriptionStore store(prog.path());
        testing::internal::CaptureStderr();
        store.Load();
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(store.GetGroups().size(), c.loaded);
        // The quit's save finds nothing changed and writes nothing.
        EXPECT_EQ(store.SaveIfChanged(), 1);
        EXPECT_EQ(ReadFile(prog.file()), c.file);

        testing::internal::CaptureStderr();
        ASSERT_EQ(store.Add(nullptr, L"https://new.example", 1, L""), 1);
        log += testing::internal::GetCapturedStderr();
        std::filesystem::path backup = prog.file().string() + ".bak";
        EXPECT_EQ(std::filesystem::exists(backup), c.keptAside);
        std::string kept = ReadFile(prog.file()) + (c.keptAside ? ReadFile(backup) : "");
        for (int n = 1; n <= 4; ++n) {
            std::string url = "url" + std::to_string(n) + "=https://s.example/" + std::to_string(n);
            if (c.file.find(url) != std::string::npos) {
                EXPECT_NE(kept.find("https://s.example/" + std::to_string(n)), std::string::npos) << n;
            }
        }
        if (c.keptAside) {
            EXPECT_EQ(ReadFile(backup), c.file);
            EXPECT_NE(log.find("not loaded"), std::string::npos) << log;
            EXPECT_NE(log.find(".bak"), std::string::npos) << log;
            // A later run's rewrite leaves the first copy as it is.
            WriteFile(prog.file(), c.file);
            CSubscriptionStore later(prog.path());
            testing::internal::CaptureStderr();
            later.Load();
            EXPECT_EQ(later.Remove(L"https://s.example/1"), 1);
            testing::internal::GetCapturedStderr();
            EXPECT_EQ(ReadFile(backup), c.file);
        }
    }
}

TEST(Subscriptions, ChangesSaveOnlyWhenSomethingChanged) {
    ProgramFolder prog;
    CSubscriptionStore store(prog.path());
    store.Load();
    auto proxy = UpdateProxy();
    ASSERT_EQ(store.Add(proxy.get(), L"https://a.example", 1, L""), 1);
    const std::string first = ReadFile(prog.file());

    // An existing URL changes nothing, in the list or the file.
    EXPECT_EQ(store.Add(nullptr, L"HTTPS://A.EXAMPLE", 3, L"other"), 1);
    EXPECT_EQ(store.GetGroups().size(), 1u);
    EXPECT_EQ(ReadFile(prog.file()), first);

    // Unknown or empty URLs are not edited and nothing is written.
    std::filesystem::remove(prog.file());
    EXPECT_EQ(store.Edit(nullptr, L"https://b.example", 1, L""), 0);
    EXPECT_EQ(store.Edit(nullptr, L"", 1, L""), 0);
    EXPECT_EQ(store.Remove(L"https://b.example"), 0);
    EXPECT_FALSE(std::filesystem::exists(prog.file()));

    // Editing with a node sets the update proxy, without one clears it.
    EXPECT_EQ(store.Edit(proxy.get(), L"https://A.example", 3, L"p"), 1);
    ExpectProxyOf(*store.GetGroups().front(), *proxy);
    EXPECT_EQ(store.Edit(nullptr, L"https://a.example", 3, L"p"), 1);
    ExpectNoProxy(*store.GetGroups().front());
    EXPECT_EQ(store.GetGroups().front()->frequency, 3);
    EXPECT_TRUE(std::filesystem::exists(prog.file()));

    // Removing the last record deletes the file; saving again leaves it gone.
    EXPECT_EQ(store.Remove(L"https://a.example"), 1);
    EXPECT_FALSE(std::filesystem::exists(prog.file()));
    EXPECT_EQ(store.Save(), 1);
    EXPECT_FALSE(std::filesystem::exists(prog.file()));
}

TEST(Subscriptions, AFileThatWasNotLoadedIsNeverSavedOver) {
    ProgramFolder prog;
    const std::string kept = "[basic]\ngroupname1=a\nurl1=https://a.example\nrecently_updated1=0\n";
    WriteFile(prog.file(), kept);

    // Saved at exit without ever loading: the user's file stays.
    {
        CSubscriptionStore store(prog.path());
        EXPECT_EQ(store.Save(), 0);
        // A change that cannot be saved is not kept either.
        EXPECT_EQ(store.Add(nullptr, L"https://b.example", 1, L""), 0);
        EXPECT_TRUE(store.GetGroups().empty());
        EXPECT_EQ(ReadFile(prog.file()), kept);
        // Once loaded, the file may be written.
        store.Load();
        EXPECT_EQ(store.Add(nullptr, L"https://b.example", 1, L""), 1);
        EXPECT_EQ(store.GetGroups().size(), 2u);
    }
    CSubscriptionStore reread(prog.path());
    reread.Load();
    EXPECT_EQ(reread.GetGroups().size(), 2u);

    // A file that cannot be read loads nothing and is left alone, even by
    // the save of an empty list that would otherwise delete it.
    ProgramFolder other;
    std::filesystem::create_directory(other.file());
    CSubscriptionStore store(other.path());
    store.Load();
    EXPECT_TRUE(store.GetGroups().empty());
    EXPECT_EQ(store.Save(), 0);
    EXPECT_TRUE(std::filesystem::is_directory(other.file()));
}

// The file is replaced whole or not at all: a change that cannot be written
// (here a full disk) reports 0, is undone in the list and leaves the user's
// file as it was, so that list and file still agree.
TEST(Subscriptions, AChangeTheDiskRefusesIsUndone) {
    ProgramFolder prog;
    const std::string kept =
        "[basic]\ngroupname1=\xe9\xbb\x84\xe9\x87\x91\nurl1=https://a.example\nrecently_updated1=0\n"
        "groupname2=c\nurl2=https://c.example\nrecently_updated2=0\n";
    WriteFile(prog.file(), kept);
    CSubscriptionStore store(prog.path());
    store.Load();
    ASSERT_EQ(store.GetGroups().size(), 2u);
    const int32_t frequency = store.GetGroups().front()->frequency;
    auto proxy = UpdateProxy();
    {
        testsupport::FileSizeLimit full(64);
        ASSERT_TRUE(full.active());
        EXPECT_EQ(store.Add(nullptr, L"https://b.example", 1, L""), 0);
        EXPECT_EQ(store.Edit(proxy.get(), L"https://a.example", 3, L"changed"), 0);
        EXPECT_EQ(store.Remove(L"https://c.example"), 0);
        EXPECT_EQ(store.Save(), 0);
    }
    auto groups = Groups(store);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[1]->url, L"https://c.example");
    EXPECT_EQ(groups[0]->groupName, L"\u9ec4\u91d1");
    EXPECT_EQ(groups[0]->frequency, frequency);
    EXPECT_EQ(groups[0]->defaultObfsParams, L"");
    ExpectNoProxy(*groups[0]);
    EXPECT_EQ(ReadFile(prog.file()), kept);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(prog.file().parent_path()),
                            std::filesystem::directory_iterator()),
              1);
    // Once the disk has room again, changes are written.
    ASSERT_EQ(store.Add(nullptr, L"https://b.example", 1, L""), 1);
    CSubscriptionStore reread(prog.path());
    reread.Load();
    ASSERT_EQ(reread.GetGroups().size(), 3u);
    EXPECT_EQ(reread.GetGroups().front()->groupName, L"\u9ec4\u91d1");
}

}  // namespace
