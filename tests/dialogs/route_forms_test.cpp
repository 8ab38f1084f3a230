// The additional-routes window's logic: Add's checks, the worker's lookup
// and add (a name answering with an address no route may take is refused),
// rows and their order, and saves that fail undone in memory.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "dialogs/base/additional_route_form.h"
#include "foundation/app_paths.h"
#include "foundation/message_box.h"
#include "foundation/text_convert.h"
#include "netconfig/additional_route.h"
#include "tests/support/temp_dir.h"

namespace {

class RouteForms : public ::testing::Test {
protected:
    void SetUp() override {
        InitAppPaths(dir.path() / "cendrow");
        CreateAppFolders();
        CAdditionalRouteMgr::ReleaseInstance();
        SetMessageBoxSink([this](const std::wstring& text, const std::wstring&, unsigned) {
            boxes.push_back(WideToUtf8String(text));
            return IDOK;
        });
        core.SetResolver([this](std::string_view host, std::string* address) {
            auto it = names.find(std::string(host));
            if (it == names.end()) return 0;
            *address = it->second;
            return 1;
        });
    }
    void TearDown() override {
        SetMessageBoxSink(nullptr);
        CAdditionalRouteMgr::ReleaseInstance();
    }
    static CAdditionalRouteMgr* Mgr() { return CAdditionalRouteMgr::GetInstance(); }
    static std::filesystem::path File() { return GetAppDir() / "config" / "additionalroute.ini"; }
    // Add as the window runs it: the checks, then the worker's step.
    std::string Add(const std::wstring& text, int action) {
        boxes.clear();
        if (!core.BeginAdd(text, action)) return boxes.empty() ? "(no box)" : boxes[0];
        const char* message = core.ResolveAndAdd();
        return message ? message : "";
    }

    testsupport::TempDir dir{"cendrow-routeforms"};
    std::vector<std::string> boxes;
    std::map<std::string, std::string> names = {
        {"host.test", "203.0.113.7"}, {"loop.test", "127.0.0.2"}, {"zero.test", "0.0.0.9"}, {"dup.test", "10.0.0.1"}};
    CDialogAdditionalRouteMgrCore core;
};

TEST_F(RouteForms, AddChecksAndLookups) {
    const struct {
        const wchar_t* text;
        int action;
        const char* result;  // "" added
    } cases[] = {
        {L"", 0, "IP Address can not be empty"},
        {L"  \t ", 0, "IP Address can not be empty"},
        {L"127.0.0.1", 0, "You can not add a loopback IP address."},
        {L"0.1.2.3", 0, "Invalid IP address"},
        {L"10.1", 0, "Invalid IP address"},
        {L"::1", 0, "Invalid IP address"},
        {L"10.0.0.1", -1, "Please select action"},
        {L" 10.0.0.1 ", 1, ""},
        {L"10.0.0.1", 0, "This route already exists"},
        {L"999.1.1.1", 0, "Can not resolve your domain name."},
        {L"host.test", 0, ""},
        {L"dup.test", 0, "This route already exists"},
        {L"loop.test", 0, "You can not add a loopback IP address."},
        {L"zero.test", 0, "Invalid IP address"},
        {L"9.9.9.9", 0, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Add(c.text, c.action), c.result) << WideToUtf8String(c.text);

    const auto rows = CDialogAdditionalRouteMgrCore::Rows();
    ASSERT_EQ(rows.size(), 3u);
    // Ordered by text: 10.0.0.1 before 9.9.9.9.
    EXPECT_EQ(rows[0].address, L"10.0.0.1");
    EXPECT_EQ(rows[0].action, L"Proxify");
    EXPECT_EQ(rows[1].address, L"203.0.113.7");
    EXPECT_EQ(rows[2].address, L"9.9.9.9");
    EXPECT_EQ(rows[2].action, L"Direct");
    EXPECT_EQ(CDialogAdditionalRouteMgrCore::ActionText(5), L"N/A");

    // What the next start reads.
    CAdditionalRouteMgr::ReleaseInstance();
    EXPECT_EQ(Mgr()->Load(), 3);
    EXPECT_EQ(Mgr()->GetRoutes().at(L"10.0.0.1"), AdditionalRouteProxify);
}

TEST_F(RouteForms, DeletingTheLastRouteLeavesNoFile) {
    ASSERT_EQ(Add(L"10.0.0.1", 0), "");
    ASSERT_TRUE(std::filesystem::exists(File()));
    EXPECT_EQ(core.Delete(L"10.0.0.2"), 0);
    EXPECT_EQ(core.Delete(L"10.0.0.1"), 1);
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(std::filesystem::exists(File()));
    EXPECT_TRUE(CDialogAdditionalRouteMgrCore::Rows().empty());
}

TEST_F(RouteForms, FailedSavesAreReportedAndUndone) {
    ASSERT_EQ(Add(L"10.0.0.1", 0), "");
    // The file's place taken by a folder that cannot be replaced or removed.
    std::filesystem::remove(File());
    std::filesystem::create_directories(File() / "keep");

    EXPECT_EQ(Add(L"10.0.0.2", 1), "The additional routes could not be saved.");
    EXPECT_FALSE(Mgr()->Exists(L"10.0.0.2"));
    boxes.clear();
    EXPECT_EQ(core.Delete(L"10.0.0.1"), 0);
    EXPECT_EQ(boxes, std::vector<std::string>{"The additional routes could not be saved."});
    EXPECT_TRUE(Mgr()->Exists(L"10.0.0.1"));
    // Emptying the list must delete the file; a folder in its place stays, and that is a failure too.
    Mgr()->RemoveRoute(L"10.0.0.1");
    EXPECT_EQ(Mgr()->Save(), 0);
}

}  // namespace
