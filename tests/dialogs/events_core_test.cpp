// The events dialog's decisions: what Add and Delete do with the list and
// event.ini, the refused parameters, and a change that cannot be saved.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "dialogs/base/events_core.h"
#include "foundation/message_box.h"
#include "foundation/text_convert.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;

class EventsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir / "config");
        CEventMgr::ReleaseInstance();
        CEventMgr::GetInstance()->Load(dir.path().wstring().c_str());
        SetMessageBoxSink([this](const std::wstring& text, const std::wstring&, unsigned) {
            boxes.push_back(WideToUtf8String(text));
            return IDOK;
        });
    }
    void TearDown() override {
        SetMessageBoxSink(nullptr);
        CEventMgr::ReleaseInstance();
    }
    std::string Ini() {
        std::ifstream in(dir / "config" / "event.ini");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // What a fresh manager reads back from the folder.
    std::vector<EventRecord> Reloaded() {
        CEventMgr::ReleaseInstance();
        CEventMgr::GetInstance()->Load(dir.path().wstring().c_str());
        return CEventMgr::GetInstance()->GetEvents();
    }

    TempDir dir;
    std::vector<std::string> boxes;
};

struct AddCase {
    const char* name;
    int eventType, actionType;
    std::wstring typed;
    int result;
    std::vector<EventRecord> held;
    int boxes;
};

TEST_F(EventsDialog, AddTakesTrimmedNamesAndRefusesWhatCannotBeAName) {
    const AddCase cases[] = {
        {"plain", 3, 0, L"  firefox.exe\t", 1, {{3, 0, L"firefox.exe"}}, 0},
        {"spaces only", 3, 0, L"   ", 0, {}, 0},
        {"empty", 0, 1, L"", 0, {}, 0},
        {"no event type chosen", -1, 0, L"a.exe", 0, {}, 0},
        {"no action chosen", 0, -1, L"a.exe", 0, {}, 0},
        {"line break inside", 0, 0, L"a.exe\nparam2=b", -1, {}, 1},
        {"tab inside", 0, 0, L"a\tb", -1, {}, 1},
        {"slash", 1, 1, L"/usr/bin/firefox", -1, {}, 1},
        {"Chinese name", 2, 1, L"\x6D4F\x89C8\x5668", 1, {{2, 1, L"\x6D4F\x89C8\x5668"}}, 0},
    };
    for (const AddCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        boxes.clear();
        std::filesystem::remove(dir / "config" / "event.ini");
        SetUp();
        EXPECT_EQ(CDialogEventsMgrCore::Add(c.eventType, c.actionType, c.typed), c.result);
        EXPECT_EQ(CDialogEventsMgrCore::Rows(), c.held);
        EXPECT_EQ(static_cast<int>(boxes.size()), c.boxes);
        // event.ini holds exactly what the list holds.
        EXPECT_EQ(Reloaded(), c.held);
    }
}

TEST_F(EventsDialog, DuplicatesIgnoringCaseLeaveOneRowAndDeletingTheLastRemovesTheFile) {
    EXPECT_EQ(CDialogEventsMgrCore::Add(1, 0, L"Game.exe"), 1);
    EXPECT_EQ(CDialogEventsMgrCore::Add(1, 0, L"game.EXE"), 1);
    EXPECT_EQ(CDialogEventsMgrCore::Add(1, 0, L"Game.exe"), 1);
    EXPECT_EQ(CDialogEventsMgrCore::Add(1, 1, L"game.exe"), 1);
    EXPECT_EQ(CDialogEventsMgrCore::Rows(), (std::vector<EventRecord>{{1, 0, L"Game.exe"}, {1, 1, L"game.exe"}}));
    EXPECT_EQ(Ini(),
              "[basic]\neventtype1=1\nactiontype1=0\nparam1=Game.exe\neventtype2=1\nactiontype2=1\nparam2=game.exe\n");
    EXPECT_EQ(CDialogEventsMgrCore::Delete(nullptr), 0);
    std::vector<EventRecord> rows = CDialogEventsMgrCore::Rows();
    for (const EventRecord& row : rows) EXPECT_EQ(CDialogEventsMgrCore::Delete(&row), 1);
    EXPECT_TRUE(CDialogEventsMgrCore::Rows().empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "config" / "event.ini"));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(EventsDialog, AChangeThatCannotBeSavedIsUndoneAndTold) {
    EXPECT_EQ(CDialogEventsMgrCore::Add(0, 0, L"one.exe"), 1);
    EXPECT_EQ(CDialogEventsMgrCore::Add(2, 1, L"two.exe"), 1);
    EXPECT_EQ(CDialogEventsMgrCore::Add(3, 0, L"three.exe"), 1);
    const std::string saved = Ini();
    const std::vector<EventRecord> before = CDialogEventsMgrCore::Rows();
    {
        // A full disk: the file is rewritten whole, so even a smaller list
        // needs room for the temporary copy.
        testsupport::FileSizeLimit full(8);
        ASSERT_TRUE(full.active());
        EXPECT_EQ(CDialogEventsMgrCore::Add(1, 0, L"four.exe"), -1);
        EXPECT_EQ(CDialogEventsMgrCore::Rows(), before);
        const EventRecord middle = before[1];
        EXPECT_EQ(CDialogEventsMgrCore::Delete(&middle), -1);
        // Back in its place, not at the end.
        EXPECT_EQ(CDialogEventsMgrCore::Rows(), before);
    }
    EXPECT_EQ(boxes.size(), 2u);
    if (!boxes.empty()) {
        EXPECT_NE(boxes[0].find("event.ini"), std::string::npos) << boxes[0];
    }
    EXPECT_EQ(Ini(), saved);
    EXPECT_EQ(Reloaded(), before);
}

}  // namespace
