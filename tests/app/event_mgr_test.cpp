// event.ini read and written, and firing: the notify action asks for each
// running process and refuses; the terminate action ends processes by
// executable name (in a pid namespace of the test's own, see the end).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/event_mgr.h"
#include "app/process_names.h"
#include "foundation/message_box.h"
#include "foundation/text_convert.h"
#include "tests/support/temp_dir.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

struct IniCase {
    const char* name;
    const char* ini;
    std::vector<EventRecord> expected;
};

TEST(EventMgr, LoadsNumberedEntriesUntilTheFirstGap) {
    const IniCase cases[] = {
        {"gap after 1",
         "[basic]\neventtype1=0\nactiontype1=0\nparam1=a.exe\neventtype3=1\nactiontype3=1\nparam3=b.exe\n",
         {{0, 0, L"a.exe"}}},
        {"empty values skipped, later ones read",
         "[basic]\neventtype1=0\nactiontype1=0\nparam1=\neventtype2=\nactiontype2=1\nparam2=x\n"
         "eventtype3=2\nactiontype3=1\nparam3=c\n",
         {{2, 1, L"c"}}},
        {"case-only duplicates load once",
         "[basic]\neventtype1=1\nactiontype1=0\nparam1=Firefox\neventtype2=1\nactiontype2=0\nparam2=firefox\n",
         {{1, 0, L"Firefox"}}},
        {"no file", nullptr, {}},
    };
    for (const IniCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::filesystem::create_directories(dir / "config");
        if (c.ini) WriteFile(dir / "config" / "event.ini", c.ini);
        CEventMgr::ReleaseInstance();
        CEventMgr* events = CEventMgr::GetInstance();
        EXPECT_EQ(events->Load(dir.path().wstring().c_str()), static_cast<int>(c.expected.size()));
        EXPECT_EQ(events->GetEvents(), c.expected);
        // Loading twice keeps one copy.
        EXPECT_EQ(events->Load(dir.path().wstring().c_str()), static_cast<int>(c.expected.size()));
    }
    CEventMgr::ReleaseInstance();
    EXPECT_EQ(CEventMgr::GetInstance()->Load(nullptr), 0);
    CEventMgr::ReleaseInstance();
}

TEST(EventMgr, SavesWholeAndAnEmptyListLeavesNoFile) {
    TempDir dir;
    std::filesystem::create_directories(dir / "config");
    CEventMgr::ReleaseInstance();
    CEventMgr* events = CEventMgr::GetInstance();
    events->Load(dir.path().wstring().c_str());
    events->AddEvent({0, 1, L"one"});
    events->AddEvent({3, 0, L"two"});
    events->AddEvent({3, 0, L"TWO"});
    events->Save();
    CEventMgr::ReleaseInstance();
    events = CEventMgr::GetInstance();
    EXPECT_EQ(events->Load(dir.path().wstring().c_str()), 2);
    EXPECT_EQ(events->GetEvents(), (std::vector<EventRecord>{{0, 1, L"one"}, {3, 0, L"two"}}));
    events->RemoveEvent({0, 1, L"ONE"});
    events->RemoveEvent({3, 0, L"two"});
    events->Save();
    EXPECT_FALSE(std::filesystem::exists(dir / "config" / "event.ini"));
    CEventMgr::ReleaseInstance();
}

TEST(EventMgr, NotifyAsksForEachRunningProcessAndRefuses) {
    // This test program itself is never matched; children running copies of
    // sleep under unique names are.
    TempDir dir;
    std::string base = "cdw-notify-" + std::to_string(getpid());
    std::vector<pid_t> children;
    for (std::string name : {base + "-a", base + "-b"}) {
        std::filesystem::copy_file("/bin/sleep", dir / name);
        pid_t child = fork();
        if (child == 0) {
            std::string path = (dir / name).string();
            execl(path.c_str(), name.c_str(), "30", static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(child, 0);
        children.push_back(child);
        for (int i = 0; i < 500 && FindProcessesByExeName(Utf8ToWideString(name)).empty(); ++i) usleep(10000);
    }

    std::vector<std::string> boxes;
    SetMessageBoxSink([&](const std::wstring& text, const std::wstring&, unsigned) {
        boxes.push_back(WideToUtf8String(text));
        return IDOK;
    });
    CEventMgr::ReleaseInstance();
    CEventMgr* events = CEventMgr::GetInstance();
    std::wstring upperA = Utf8ToWideString(base + "-A");
    events->AddEvent({EventBeforeConnect, EventActionNotifyTerminate, upperA});
    events->AddEvent({EventBeforeConnect, EventActionNotifyTerminate, Utf8ToWideString(base + "-gone")});
    events->AddEvent({EventBeforeConnect, EventActionNotifyTerminate, Utf8ToWideString(base + "-b")});
    EXPECT_EQ(events->FireEvent(EventAfterConnect), 1);  // no events of that type
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(events->FireEvent(EventBeforeConnect), 0);
    EXPECT_EQ(boxes, (std::vector<std::string>{"Please close this process: " + base + "-A",
                                                "Please close this process: " + base + "-b"}));
    SetMessageBoxSink(nullptr);
    CEventMgr::ReleaseInstance();
    for (pid_t child : children) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
}

// The terminate action signals by name, so it runs only inside a pid
// namespace of its own (unshare --pid --fork --mount-proc), where nothing
// but the test's own processes can match.
TEST(EventMgr, TerminateEndsProcessesByNameInsideAPidNamespace) {
    if (!std::getenv("CENDROW_IN_PID_NAMESPACE")) {
        if (geteuid() != 0 || access("/usr/bin/unshare", X_OK) != 0) GTEST_SKIP() << "needs root and unshare";
        std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        std::string cmd = "env CENDROW_IN_PID_NAMESPACE=1 /usr/bin/unshare --pid --fork --mount-proc " + self +
                          " --gtest_filter=EventMgr.TerminateEndsProcessesByNameInsideAPidNamespace";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return;
    }
    ASSERT_EQ(getpid(), 1);  // we are the namespace's first process
    TempDir dir;
    std::string name = "cdw-term-" + std::to_string(getppid());
    std::filesystem::copy_file("/bin/sleep", dir / name);
    std::vector<pid_t> children;
    for (int i = 0; i < 2; ++i) {
        pid_t child = fork();
        if (child == 0) {
            std::string path = (dir / name).string();
            execl(path.c_str(), name.c_str(), "30", static_cast<char*>(nullptr));
            _exit(127);
        }
        children.push_back(child);
    }
    for (int i = 0; i < 500 && FindProcessesByExeName(Utf8ToWideString(name)).size() < 2; ++i) usleep(10000);
    CEventMgr::ReleaseInstance();
    CEventMgr* events = CEventMgr::GetInstance();
    std::wstring upper = Utf8ToWideString(name);
    for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
    events->AddEvent({EventAfterDisconnect, EventActionTerminate, upper});
    EXPECT_EQ(events->FireEvent(EventAfterDisconnect), 1);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    }
    CEventMgr::ReleaseInstance();
}

}  // namespace
