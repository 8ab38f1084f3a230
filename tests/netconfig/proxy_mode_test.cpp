// Proxy modes and rules files: rule lines (accepted forms, every refused form
// with its line number), headers, plain and encoded files, saving and
// reading back, SaveMode's refusals and in-place update, the load order and
// the current mode.
#include "netconfig/proxy_mode.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "foundation/file_builder.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

TEST(RuleLine, AcceptedForms) {
    struct Case {
        const char* line;
        uint32_t network;  // host order
        int prefix;
        const char* mask;
        const char* address;
    } cases[] = {
        {"1.2.16.0/20", 0x01021000, 20, "255.255.240.0", "1.2.16.0"},
        {"10.0.0.0\\255.0.0.0", 0x0a000000, 0, "255.0.0.0", "10.0.0.0"},
        {"8.8.8.8/32", 0x08080808, 32, "255.255.255.255", "8.8.8.8"},
        {"  192.168.0.0/16\t", 0xc0a80000, 16, "255.255.0.0", "192.168.0.0"},
        {"128.0.0.0/1", 0x80000000, 1, "128.0.0.0", "128.0.0.0"},
        {"172.16.0.0\\255.240.0.0", 0xac100000, 0, "255.240.0.0", "172.16.0.0"},
    };
    for (const Case& c : cases) {
        CProxyModeRule rule;
        std::string reason;
        ASSERT_TRUE(ParseRuleLine(c.line, &rule, &reason)) << c.line << ": " << reason;
        EXPECT_EQ(rule.network, c.network) << c.line;
        EXPECT_EQ(rule.prefixLength, c.prefix) << c.line;
        EXPECT_EQ(rule.maskText, c.mask) << c.line;
        EXPECT_EQ(rule.mask, inet_addr(c.mask)) << c.line;
        EXPECT_EQ(rule.addressText, c.address) << c.line;
    }
}

TEST(RuleLine, RefusedForms) {
    const char* lines[] = {
        "10.0.0.0\\0.0.0.0",        // mask 0
        "10.1.0.0/0",               // would route everything
        "0.0.0.0/0",                //
        "10.1.0.0/33",              // prefix out of range
        "10.1.0.0/-1",              //
        "10.1.0.0/abc",             // not a number
        "10.1.0.0/",                //
        "10.1.0.0/08",              // leading zero
        "10.1.0.0/16x",             //
        "010.1.0.0/16",             // octal form
        "1.2.3/24",                 // short form
        "0x0a.0.0.0/8",             //
        "256.1.1.0/24",             //
        "1.2.3.4",                  // no separator
        "/24",                      // no address
        "\\255.0.0.0",              //
        "10.0.0.0\\255.0.255.0",    // mask not contiguous
        "10.0.0.0\\255.0.0",        // short mask
        "10.1.2.0/16",              // bits outside the mask
        "10.0.0.1\\255.255.255.0",  //
        "10.0.0.0 / 8 extra",       //
    };
    for (const char* line : lines) {
        CProxyModeRule rule;
        std::string reason;
        EXPECT_FALSE(ParseRuleLine(line, &rule, &reason)) << line;
        EXPECT_FALSE(reason.empty()) << line;
    }
    std::string longLine = "10.0.0.0/8" + std::string(95, ' ') + "x";
    CProxyModeRule rule;
    std::string reason;
    EXPECT_FALSE(ParseRuleLine(longLine, &rule, &reason));
    EXPECT_EQ(GetRuleForm("1.2.3.4"), -1);
    EXPECT_EQ(GetRuleForm("1.2.3.4\\255.0.0.0/8"), 1);
    EXPECT_EQ(ParseRulePrefix("1.2.3.0/24"), 24);
    EXPECT_EQ(ParseRuleMask("1.2.0.0\\255.255.0.0"), inet_addr("255.255.0.0"));
}

TEST(ProxyModeRules, ParsingKeepsTheFirstOfARepeatedNetworkAndListsEveryRefusal) {
    CProxyMode mode;
    int added = mode.ParseRules(
        "1.2.3.0/24\r\n"
        "\n"
        "1.2.3.0\\255.255.255.128\n"
        "1.2.3\n"
        "9.9.9.0\\255.255.255.0\r\n"
        "10.1.0.0/0\n"
        "bare-text\n",
        2);
    EXPECT_EQ(added, 2);
    ASSERT_EQ(mode.rules.size(), 2u);
    EXPECT_EQ(mode.rules.at(0x01020300).prefixLength, 24);
    EXPECT_EQ(mode.HasNetwork(0x09090900), 1);
    EXPECT_EQ(mode.HasNetwork(0x0a010000), 0);
    ASSERT_EQ(mode.rejectedRules.size(), 4u);
    int numbers[] = {4, 5, 7, 8};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(mode.rejectedRules[i].lineNumber, numbers[i]);
    EXPECT_EQ(mode.rejectedRules[0].reason, "network repeated");
    EXPECT_EQ(mode.rejectedRules[3].text, "bare-text");

    std::wstring text;
    mode.FormatRules(text);
    EXPECT_EQ(text, L"1.2.3.0/24\r\n9.9.9.0\\255.255.255.0\r\n");
    mode.ClearRules();
    EXPECT_TRUE(mode.rules.empty());
    EXPECT_TRUE(mode.rejectedRules.empty());
}

// A program folder with its rules folder, and a fresh mode manager.
class ModeFiles : public ::testing::Test {
protected:
    void SetUp() override {
        CProxyModeMgr::ReleaseInstance();
        std::filesystem::create_directory(dir_ / "rules");
    }
    void TearDown() override { CProxyModeMgr::ReleaseInstance(); }
    CProxyModeMgr* Mgr() { return CProxyModeMgr::GetInstance(); }
    std::filesystem::path Rules(const std::string& name) { return dir_ / ("rules/" + name); }

    TempDir dir_;
};

TEST_F(ModeFiles, BuiltInModesComeFirst) {
    const auto& modes = Mgr()->GetModes();
    ASSERT_EQ(modes.size(), 3u);
    EXPECT_EQ(modes[0]->nameEn, L"Global wide");
    EXPECT_EQ(modes[0]->IsGlobalMode(), 1);
    EXPECT_EQ(modes[0]->routeAll, 1);
    EXPECT_EQ(modes[1]->type, ProxyModeBrowser);
    EXPECT_EQ(modes[2]->type, ProxyModeBrowserPac);
    for (const auto& m : modes) {
        EXPECT_EQ(m->builtIn, 1);
        EXPECT_EQ(m->IsSystemProxyMode(), m->type >= 3);
        EXPECT_EQ(m->LoadRules(), 0);
    }
    EXPECT_LT(modes[0]->id, modes[1]->id);
}

TEST_F(ModeFiles, HeaderFields) {
    struct Case {
        const char* header;
        bool read;
        int type = 0, routeAll = 0, rulesDirect = 0, builtIn = 0, dns = 0;
        const wchar_t* remarks = L"";
    } cases[] = {
        {"#A,B,1,0,2,0", true, 2, 1, 0, 0, 0, L""},
        {"#A,B,1,0,7,0,1,2,xyz", true, 1, 1, 0, 1, 2, L"xyz"},
        {"#A,B,0,1,1,0,1,5,r\r", true, 1, 0, 1, 1, 0, L"r"},
        {"#A,B,yes,1 ,1,0,1,1", true, 1, 0, 0, 0, 0, L""},  // 8 fields: no built-in, policy, remarks
        {"#A,B,1,0,1,0,1,1,r,extra", true, 1, 1, 0, 0, 0, L""},
        {"#A,,1,0,1,0", false},
        {"#,B,1,0,1,0", false},
        {"#A,B,1,0,1", false},
        {"A,B,1,0,1,0,0,0,x", false},
        {"#", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::filesystem::path file = Rules("h" + std::to_string(n++) + ".rules");
        WriteFile(file, std::string(c.header) + "\n1.2.3.0/24\n");
        CProxyModeMgr::ReleaseInstance();
        CProxyMode* mode = Mgr()->ReadModeFile(file);
        ASSERT_EQ(mode != nullptr, c.read) << c.header;
        if (!mode) {
            EXPECT_EQ(Mgr()->GetModes().size(), 3u);
            continue;
        }
        EXPECT_EQ(mode->encoded, 0);
        EXPECT_EQ(mode->nameEn, L"A");
        EXPECT_EQ(mode->nameCn, L"B");
        EXPECT_EQ(mode->type, c.type) << c.header;
        EXPECT_EQ(mode->routeAll, c.routeAll) << c.header;
        EXPECT_EQ(mode->rulesDirect, c.rulesDirect) << c.header;
        EXPECT_EQ(mode->builtIn, c.builtIn) << c.header;
        EXPECT_EQ(mode->dnsPolicy, c.dns) << c.header;
        EXPECT_EQ(mode->remarks, c.remarks) << c.header;
        EXPECT_EQ(mode->rules.size(), 0u) << "rules are read on demand";
        EXPECT_EQ(mode->LoadRules(), 1);
    }
    WriteFile(Rules("nolf.rules"), "#A,B,1,0,1,0,0,0,x");
    EXPECT_EQ(Mgr()->ReadModeFile(Rules("nolf.rules")), nullptr);
    EXPECT_EQ(Mgr()->ReadModeFile(Rules("missing.rules")), nullptr);
}

TEST_F(ModeFiles, SameNamesInAnyCaseAddNoSecondMode) {
    WriteFile(Rules("a.rules"), "#Mode,Zh,1,0,1,0\n1.2.3.0/24\n");
    WriteFile(Rules("b.rules"), "#MODE,zh,1,0,1,0\n5.6.7.0/24\n");
    EXPECT_NE(Mgr()->ReadModeFile(Rules("a.rules")), nullptr);
    EXPECT_EQ(Mgr()->ReadModeFile(Rules("b.rules")), nullptr);
    EXPECT_EQ(Mgr()->GetModes().size(), 4u);
    EXPECT_EQ(Mgr()->HasModeNamed(L"mode", L"ZH"), 1);
    EXPECT_EQ(Mgr()->HasModeNamed(L"mode", L"other"), 0);
}

TEST_F(ModeFiles, SavedPlainFileReadsBackAndEndsLinesWithLfOnly) {
    ASSERT_EQ(Mgr()->SaveMode(L"plain.rules", 1, L"Plain \u00e9", L"\u4e2d\u6587", 0, 1,
                              L"1.2.16.0/20\r\n10.0.0.0\\255.0.0.0\r\n10.1.0.0/0\r\n1.2.3\r\n", 1, 0, 2,
                              L"remark \u00fc", 0, dir_.path()),
              1);
    std::string text = ReadFile(Rules("plain.rules"));
    EXPECT_EQ(text,
              "#Plain \xc3\xa9,\xe4\xb8\xad\xe6\x96\x87,0,1,1,0,0,2,remark \xc3\xbc\n"
              "1.2.16.0/20\n10.0.0.0\\255.0.0.0\n");
    CProxyMode* saved = Mgr()->FindModeByPath(Mgr()->GetModes().back()->path);
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->rejectedRules.size(), 2u);

    CProxyModeMgr::ReleaseInstance();
    CProxyMode* mode = Mgr()->ReadModeFile(Rules("plain.rules"));
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->nameEn, L"Plain \u00e9");
    EXPECT_EQ(mode->nameCn, L"\u4e2d\u6587");
    EXPECT_EQ(mode->remarks, L"remark \u00fc");
    EXPECT_EQ(mode->dnsPolicy, 2);
    EXPECT_EQ(mode->rulesDirect, 1);
    EXPECT_EQ(mode->LoadRules(), 2);
    std::wstring rules;
    mode->FormatRules(rules);
    EXPECT_EQ(rules, L"1.2.16.0/20\r\n10.0.0.0\\255.0.0.0\r\n");
    EXPECT_TRUE(mode->rejectedRules.empty());
}

TEST_F(ModeFiles, SavedEncodedFileIsAContainerAndReadsBack) {
    ASSERT_EQ(
        Mgr()->SaveMode(L"enc.rules", 1, L"Enc", L"E", 1, 0, L"8.8.8.0/24\n", 1, 1, 1, L"", 0, dir_.path()),
        1);
    std::string raw = ReadFile(Rules("enc.rules"));
    EXPECT_EQ(raw.find("8.8.8.0"), std::string::npos);
    EXPECT_EQ(Mgr()->IsEncodedModeFile(Rules("enc.rules")), 1);
    CFileBuilderCompressBase64 reader(Rules("enc.rules"));
    ASSERT_EQ(reader.Open(1, 0), 1);
    const char* plain = reader.Read();
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(std::string(plain), "#Enc,E,1,0,1,1,0,1,\n8.8.8.0/24\n");

    CProxyModeMgr::ReleaseInstance();
    CProxyMode* mode = Mgr()->ReadModeFile(Rules("enc.rules"));
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->encoded, 1);
    EXPECT_EQ(mode->LoadRules(), 1);
    EXPECT_EQ(mode->HasNetwork(0x08080800), 1);

    // A file that is neither a plain header nor a container loads nothing.
    WriteFile(Rules("junk.rules"), "not a rules file at all");
    EXPECT_EQ(Mgr()->ReadModeFile(Rules("junk.rules")), nullptr);
}

TEST_F(ModeFiles, SaveRefusesWhatWouldBreakTheFileAndKeepsTheList) {
    struct Case {
        const wchar_t* file;
        const wchar_t* en;
        const wchar_t* cn;
        const wchar_t* remarks;
    } cases[] = {
        {L"x.rules", L"A,B", L"C", L""},
        {L"x.rules", L"A", L"C\r", L""},
        {L"x.rules", L"A", L"C", L"line\nnext"},
        {L"x.rules", L"", L"C", L""},
        {L"x.rules", L"A", L"", L""},
        {L"../x.rules", L"A", L"C", L""},
        {L"", L"A", L"C", L""},
        {L"sub/x.rules", L"A", L"C", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            Mgr()->SaveMode(c.file, 1, c.en, c.cn, 1, 0, L"1.2.3.0/24", 1, 0, 0, c.remarks, 0, dir_.path()),
            0)
            << c.file << " " << c.en << " " << c.cn;
    }
    EXPECT_EQ(Mgr()->GetModes().size(), 3u);
    EXPECT_FALSE(std::filesystem::exists(Rules("x.rules")));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "x.rules"));

    // The rules folder is a file: nothing can be written there.
    TempDir other;
    WriteFile(other / "rules", "in the way");
    EXPECT_EQ(Mgr()->SaveMode(L"y.rules", 1, L"Y", L"Y", 1, 0, L"", 1, 0, 0, L"", 0, other.path()), 0);
    EXPECT_EQ(Mgr()->GetModes().size(), 3u);
    // No folder given and none loaded.
    EXPECT_EQ(Mgr()->SaveMode(L"z.rules", 1, L"Z", L"Z", 1, 0, L"", 1, 0, 0, L"", 0), 0);
}

TEST_F(ModeFiles, SavingTheSamePathUpdatesTheModeInPlace) {
    ASSERT_EQ(Mgr()->SaveMode(L"m.rules", 1, L"M", L"M", 1, 0, L"1.2.3.0/24", 1, 0, 0, L"", 0, dir_.path()),
              1);
    CProxyMode* mode = Mgr()->GetModes().back().get();
    int id = mode->id;
    ASSERT_EQ(Mgr()->SaveMode(L"m.rules", 2, L"M2", L"N2", 0, 1, L"5.6.0.0/16\n7.0.0.0/8", 1, 0, 1, L"r", 0,
                              dir_.path()),
              1);
    ASSERT_EQ(Mgr()->GetModes().size(), 4u);
    EXPECT_EQ(Mgr()->GetModes().back().get(), mode);
    EXPECT_EQ(mode->id, id);
    EXPECT_EQ(mode->nameEn, L"M2");
    EXPECT_EQ(mode->type, 2);
    EXPECT_EQ(mode->routeAll, 0);
    EXPECT_EQ(mode->rulesDirect, 1);
    EXPECT_EQ(mode->dnsPolicy, 1);
    EXPECT_EQ(mode->rules.size(), 2u);
    EXPECT_EQ(mode->HasNetwork(0x01020300), 0);

    EXPECT_EQ(Mgr()->DeleteMode(id), 1);
    EXPECT_FALSE(std::filesystem::exists(Rules("m.rules")));
    EXPECT_EQ(Mgr()->GetModes().size(), 3u);
    EXPECT_EQ(Mgr()->DeleteMode(id), 0);
}

TEST_F(ModeFiles, LoadModesOnceInNameOrderWithoutRegardToCase) {
    WriteFile(Rules("b.rules"), "#B,B,1,0,1,0\n2.0.0.0/8\n");
    WriteFile(Rules("A.rules"), "#A,A,1,0,1,0\n1.0.0.0/8\n");
    WriteFile(Rules("c.RULES"), "#C,C,1,0,1,0\n3.0.0.0/8\n");
    WriteFile(Rules("broken.rules"), "garbage");
    WriteFile(Rules("notes.txt"), "#N,N,1,0,1,0\n");
    std::filesystem::create_directory(Rules("dir.rules"));
    EXPECT_EQ(Mgr()->LoadModes(dir_.path(), 1), 6);
    const auto& modes = Mgr()->GetModes();
    EXPECT_EQ(modes[3]->nameEn, L"A");
    EXPECT_EQ(modes[4]->nameEn, L"B");
    EXPECT_EQ(modes[5]->nameEn, L"C");
    EXPECT_EQ(modes[5]->rules.size(), 1u) << "rules loaded with the flag";
    EXPECT_EQ(Mgr()->LoadModes(dir_.path(), 1), 0) << "once per process";
    EXPECT_EQ(Mgr()->LoadModes({}, 1), 0);

    // Saving without a folder uses the loaded one.
    EXPECT_EQ(Mgr()->SaveMode(L"d.rules", 1, L"D", L"D", 1, 0, L"", 1, 0, 0, L"", 0), 1);
    EXPECT_TRUE(std::filesystem::exists(Rules("d.rules")));
}

TEST_F(ModeFiles, CurrentModeFallsBackToTheFirst) {
    for (int i = 0; i < 2; ++i) {
        std::wstring name = L"m" + std::to_wstring(i);
        ASSERT_EQ(Mgr()->SaveMode(name + L".rules", 1, name, name, 1, 0, L"", 1, 0, 0, L"", 0, dir_.path()),
                  1);
    }
    ASSERT_EQ(Mgr()->GetModes().size(), 5u);
    Mgr()->SetCurrentIndex(4);
    EXPECT_EQ(Mgr()->GetCurrentMode()->nameEn, L"m1");
    Mgr()->SetCurrentIndex(7);
    Mgr()->SetCurrentIndex(-1);
    EXPECT_EQ(Mgr()->GetCurrentIndex(), 4);
    // The list shrinks under the index.
    Mgr()->DeleteMode(Mgr()->GetModes()[4]->id);
    Mgr()->DeleteMode(Mgr()->GetModes()[3]->id);
    EXPECT_EQ(Mgr()->GetCurrentMode(), Mgr()->GetModes()[0].get());
    EXPECT_EQ(Mgr()->GetCurrentIndex(), 0);
}

}  // namespace
