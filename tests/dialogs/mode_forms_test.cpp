// The proxy-mode windows' logic: the file name a mode gets, the editor's
// refusals in their order (nothing written after any of them), the action
// and DNS rows, the line counter, built-in modes, and an edit that replaces
// a mode only once its new file is written.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dialogs/base/proxy_mode_form.h"
#include "foundation/app_paths.h"
#include "foundation/message_box.h"
#include "foundation/text_convert.h"
#include "netconfig/proxy_mode.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

namespace {

class ModeForms : public ::testing::Test {
protected:
    void SetUp() override {
        InitAppPaths(dir.path() / "cendrow");
        CreateAppFolders();
        std::filesystem::create_directories(Rules());
        CProxyModeMgr::ReleaseInstance();
        // The built-in modes, and the folder new modes go to.
        Mgr()->LoadModes(GetAppDir(), 1);
        SetMessageBoxSink([this](const std::wstring& text, const std::wstring&, unsigned) {
            boxes.push_back(WideToUtf8String(text));
            return IDOK;
        });
    }
    void TearDown() override {
        SetMessageBoxSink(nullptr);
        CProxyModeMgr::ReleaseInstance();
    }
    static CProxyModeMgr* Mgr() { return CProxyModeMgr::GetInstance(); }
    static std::filesystem::path Rules() { return GetAppDir() / "rules"; }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(Rules())) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    static ProxyModeForm Form(const std::wstring& name, const std::wstring& rules, int action = 1, int dns = 0) {
        ProxyModeForm form;
        form.nameEn = name;
        form.rules = rules;
        form.actionRow = action;
        form.dnsRow = dns;
        return form;
    }
    CProxyMode* Find(const std::wstring& nameEn) const {
        for (const auto& m : Mgr()->GetModes())
            if (m->nameEn == nameEn) return m.get();
        return nullptr;
    }

    testsupport::TempDir dir{"cendrow-modeforms"};
    std::vector<std::string> boxes;
};

TEST(ModeFileNames, MadeFromTheEnglishName) {
    const struct {
        const wchar_t* name;
        const wchar_t* file;
    } cases[] = {
        {L"A/B", L"A-B.rules"},
        {L"A:B", L"A-B.rules"},
        {L"a b\\c?d\"e<f>g|h", L"a-b-c-d-e-f-g-h.rules"},
        {L"x.rules", L"x.rules"},
        {L"x.rulesy", L"x.rulesy.rules"},
        {L"\x4E2D\x56FD", L"\x4E2D\x56FD.rules"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ModeFileName(c.name), c.file) << WideToUtf8String(c.name);
        EXPECT_EQ(CheckModeFileName(ModeFileName(c.name)), nullptr) << WideToUtf8String(c.name);
    }
    EXPECT_NE(CheckModeFileName(ModeFileName(L".x")), nullptr);
    EXPECT_NE(CheckModeFileName(ModeFileName(std::wstring(300, L'a'))), nullptr);
    // 249 characters and ".rules" is the longest name a file may have.
    EXPECT_EQ(CheckModeFileName(ModeFileName(std::wstring(249, L'a'))), nullptr);
    EXPECT_NE(CheckModeFileName(ModeFileName(std::wstring(250, L'a'))), nullptr);
}

TEST(ModeRows, ActionFlagsAndCounter) {
    for (int row : {0, 1}) {
        int routeAll = -1, rulesDirect = -1;
        ActionRowFlags(row, &routeAll, &rulesDirect);
        EXPECT_EQ(routeAll, row == 0 ? 1 : 0);
        EXPECT_EQ(rulesDirect, row == 0 ? 1 : 0);
        CProxyMode mode;
        mode.routeAll = routeAll;
        mode.rulesDirect = rulesDirect;
        EXPECT_EQ(ActionRowOfMode(mode), row);
    }
    CProxyMode mixed;
    mixed.routeAll = 1;
    mixed.rulesDirect = 0;
    EXPECT_EQ(ActionRowOfMode(mixed), 1);
    EXPECT_EQ(LineCounterText(3), L"[3] lines");
}

TEST_F(ModeForms, RefusalsInOrderSaveNothing) {
    const std::wstring good = L"10.0.0.0/8\r\n192.168.1.0/24";
    ProxyModeForm remarkBreak = Form(L"R", good);
    remarkBreak.remarks = L"a,b";
    ProxyModeForm cnBreak = Form(L"R", good);
    cnBreak.nameCn = L"a,b";
    const struct {
        ProxyModeForm form;
        const char* box;
    } cases[] = {
        {Form(L"  ", good), "English name of rule can not be empty."},
        {Form(L"R", L" \r\n "), "Rules list can not be empty."},
        {Form(L"R", good, -1), "Please select action type."},
        {Form(L"R", good, 0, 3), "Please tell me how to process DNS reuqest."},
        {Form(L"a,b", good), "English name of rule can not contain a comma or a line break."},
        {cnBreak, "Chinese name of rule can not contain a comma or a line break."},
        {remarkBreak, "Remarks can not contain a comma or a line break."},
        {Form(L".hidden", good), "The file name of the rule can not start with a dot."},
        {Form(std::wstring(300, L'x'), good), "The file name of the rule is longer than 255 bytes."},
        // The names of a built-in mode (an empty Chinese name is the English one).
        {Form(L"Global wide", good), "Rule already exists, please choose a new name."},
        {Form(L"R", L"bad\r\n10.0.0.0/8\r\n\r\n10.0.0.0/8\r\n1.2.3.4/0\r\n1.2.3.0\\255.0.255.0\r\n9.9.9.9/33\r\n8.8.8.8/24"),
         "Some rules are not valid:\n"
         "line 1: bad (neither address/prefix nor address\\mask)\n"
         "line 4: 10.0.0.0/8 (network repeated)\n"
         "line 5: 1.2.3.4/0 (prefix length is not 1 to 32)\n"
         "line 6: 1.2.3.0\\255.0.255.0 (mask is not a dotted, contiguous, non-zero mask)\n"
         "line 7: 9.9.9.9/33 (prefix length is not 1 to 32)"},
    };
    const auto before = Files();
    const size_t modes = Mgr()->GetModes().size();
    for (const auto& c : cases) {
        boxes.clear();
        CDialogAddNewProxyModeCore editor(nullptr);
        EXPECT_EQ(editor.Save(c.form), 0) << c.box;
        ASSERT_EQ(boxes.size(), 1u) << c.box;
        EXPECT_EQ(boxes[0], c.box);
    }
    EXPECT_EQ(Files(), before);
    EXPECT_EQ(Mgr()->GetModes().size(), modes);
}

TEST_F(ModeForms, SavedModesReadBackAsTyped) {
    CDialogAddNewProxyModeCore first(nullptr);
    ASSERT_EQ(first.Save(Form(L"A/B", L"10.0.0.0/8\n192.168.1.0\\255.255.255.0\n", 0, 2)), 1);
    // A:B names the same file.
    CDialogAddNewProxyModeCore second(nullptr);
    EXPECT_EQ(second.Save(Form(L"A:B", L"1.0.0.0/8")), 0);
    EXPECT_EQ(boxes, std::vector<std::string>{"Rule already exists, please choose a new name."});
    boxes.clear();
    second.CheckNameOnLeave(L" A:B ");
    EXPECT_EQ(boxes.size(), 1u);

    CProxyMode* mode = Find(L"A/B");
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->nameCn, L"A/B");  // an empty Chinese name becomes the English one
    EXPECT_EQ(WideToPath(mode->path), Rules() / "A-B.rules");
    EXPECT_EQ(mode->routeAll, 1);
    EXPECT_EQ(mode->rulesDirect, 1);
    EXPECT_EQ(mode->dnsPolicy, ModeDnsProxify);
    EXPECT_EQ(mode->rules.size(), 2u);

    // What the next start reads.
    CProxyModeMgr::ReleaseInstance();
    Mgr()->LoadModes(GetAppDir(), 1);
    mode = Find(L"A/B");
    ASSERT_NE(mode, nullptr);
    CDialogAddNewProxyModeCore editor(mode);
    const ProxyModeForm form = editor.InitialForm();
    EXPECT_EQ(form.actionRow, 0);
    EXPECT_EQ(form.dnsRow, 2);
    EXPECT_EQ(form.rules, L"10.0.0.0/8\r\n192.168.1.0\\255.255.255.0\r\n");
}

TEST_F(ModeForms, BuiltInModesAreNeverChanged) {
    CDialogProxyModeManagementCore mgmt;
    const auto rows = CDialogProxyModeManagementCore::Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].name, L"Global wide");
    EXPECT_EQ(rows[0].remarks, L"Built-in rule");
    for (const ProxyModeRow& row : rows) {
        EXPECT_FALSE(CDialogProxyModeManagementCore::CanChange(row.mode));
        EXPECT_EQ(mgmt.Delete(row.mode), 0);
    }
    EXPECT_FALSE(CDialogProxyModeManagementCore::CanChange(nullptr));
    EXPECT_EQ(mgmt.IsChanged(), 0);
    EXPECT_EQ(CDialogProxyModeManagementCore::Rows().size(), 3u);

    CDialogAddNewProxyModeCore add(nullptr);
    ASSERT_EQ(add.Save(Form(L"Mine", L"10.0.0.0/8")), 1);
    CProxyMode* mine = Find(L"Mine");
    ASSERT_TRUE(CDialogProxyModeManagementCore::CanChange(mine));
    EXPECT_EQ(mgmt.Delete(mine), 1);
    EXPECT_EQ(mgmt.IsChanged(), 1);
    EXPECT_FALSE(std::filesystem::exists(Rules() / "Mine.rules"));
}

TEST_F(ModeForms, EditReplacesOnlyOnceTheNewFileIsWritten) {
    CDialogAddNewProxyModeCore add(nullptr);
    ASSERT_EQ(add.Save(Form(L"Old", L"10.0.0.0/8")), 1);
    ASSERT_EQ(add.Save(Form(L"Other", L"11.0.0.0/8")), 1);
    const auto oldText = [&] { return testsupport::ReadFile(Rules() / "Old.rules"); };
    const std::string saved = oldText();

    // A refused name: the old mode and file stay.
    {
        CDialogAddNewProxyModeCore edit(Find(L"Old"));
        EXPECT_EQ(edit.Save(Form(L"Other", L"12.0.0.0/8")), 0);
    }
    // A full disk: the new file cannot be written.
    for (const wchar_t* name : {L"Old", L"New"}) {
        CDialogAddNewProxyModeCore edit(Find(L"Old"));
        std::wstring many;
        for (int i = 1; i < 200; ++i) many += L"10." + std::to_wstring(i) + L".0.0/16\n";
        testsupport::FileSizeLimit full(64);
        ASSERT_TRUE(full.active());
        EXPECT_EQ(edit.Save(Form(name, many)), 0);
    }
    EXPECT_EQ(oldText(), saved);
    ASSERT_NE(Find(L"Old"), nullptr);
    EXPECT_EQ(Find(L"Old")->rules.size(), 1u);
    EXPECT_EQ(Find(L"New"), nullptr);
    EXPECT_EQ(boxes.back(), "Add proxy mode failed.");

    // The same name: its own file is rewritten, not deleted, and the mode comes last.
    {
        CDialogAddNewProxyModeCore edit(Find(L"Old"));
        ASSERT_EQ(edit.Save(Form(L"Old", L"12.0.0.0/8\n13.0.0.0/8")), 1);
    }
    EXPECT_EQ(Mgr()->GetModes().back()->nameEn, L"Old");
    EXPECT_EQ(Find(L"Old")->rules.size(), 2u);
    EXPECT_NE(oldText(), saved);
    // A new name: the new file, and the old one gone.
    {
        CDialogAddNewProxyModeCore edit(Find(L"Old"));
        ASSERT_EQ(edit.Save(Form(L"New", L"12.0.0.0/8")), 1);
    }
    EXPECT_EQ(Find(L"Old"), nullptr);
    ASSERT_NE(Find(L"New"), nullptr);
    EXPECT_EQ(Files(), (std::vector<std::string>{"New.rules", "Other.rules"}));
}

}  // namespace
