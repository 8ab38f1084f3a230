#include "foundation/message_box.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <deque>

#include "foundation/program_log.h"
#include "tests/support/temp_dir.h"

namespace {

// Answers boxes from a script and records what they showed.
class ScriptedAnswers {
public:
    explicit ScriptedAnswers(std::deque<int> answers) : answers_(std::move(answers)) {
        previous_ =
            SetMessageBoxSink([this](const std::wstring& text, const std::wstring& caption, unsigned style) {
                shown.push_back({text, caption, style});
                int a = answers_.front();
                answers_.pop_front();
                return a;
            });
    }
    ~ScriptedAnswers() { SetMessageBoxSink(std::move(previous_)); }

    struct Shown {
        std::wstring text, caption;
        unsigned style;
    };
    std::vector<Shown> shown;

private:
    std::deque<int> answers_;
    MessageBoxSink previous_;
};

}  // namespace

TEST(MessageBox, SinkSeesWideTextCaptionAndStyle) {
    ScriptedAnswers script({IDNO, IDOK, IDOK});
    EXPECT_EQ(AppMessageBox("Quitter\xE2\x80\xAF? \xE4\xBD\xA0\xE5\xA5\xBD", MB_YESNO | MB_ICONQUESTION),
              IDNO);
    EXPECT_EQ(AppMessageBox(nullptr, MB_OK), IDOK);
    EXPECT_EQ(AppMessageBox("bad \xFF byte", MB_OK), IDOK);
    ASSERT_EQ(script.shown.size(), 3u);
    EXPECT_EQ(script.shown[0].text, L"Quitter\u202F? \u4F60\u597D");
    EXPECT_EQ(script.shown[0].caption, L"Cendrow");
    EXPECT_EQ(script.shown[0].style, unsigned(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(script.shown[1].text, L"");
    EXPECT_EQ(script.shown[2].text, L"bad \uFFFD byte");
}

TEST(MessageBox, DefaultSinkPrintsAndAnswersTheDefaultButton) {
    struct Case {
        unsigned style;
        int answer;
    };
    const Case cases[] = {
        {MB_OK, IDOK},
        {MB_OK | MB_DEFBUTTON3, IDOK},  // no third button: the first is the default
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_YESNO, IDYES},
        {MB_YESNO | MB_DEFBUTTON2 | MB_ICONWARNING, IDNO},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDRETRY},
        {MB_RETRYCANCEL, IDRETRY},
        {MB_CANCELTRYCONTINUE | MB_DEFBUTTON3, IDCONTINUE},
        {MB_YESNO | MB_DEFBUTTON4, IDYES},
        {0xE, IDOK},  // an unknown type has an OK button
    };
    for (const auto& c : cases) EXPECT_EQ(DefaultMessageBoxButton(c.style), c.answer) << std::hex << c.style;

    testing::internal::CaptureStderr();
    int answer = AppMessageBox(
        "Connexion \xC3\xA9"
        "chou\xC3\xA9"
        "e.",
        MB_YESNO | MB_DEFBUTTON2 | MB_ICONERROR);
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(printed,
              "Cendrow: error: Connexion \xC3\xA9"
              "chou\xC3\xA9"
              "e.\n");
}

TEST(MessageBox, DefaultSinkLeavesEachBoxInTheProgramLog) {
    testsupport::TempDir dir;
    std::filesystem::create_directory(dir / "log");
    InitLogging(dir.path(), "log", "Cendrow", 0, 1);
    testing::internal::CaptureStderr();
    AppMessageBox("first", MB_OK);
    AppMessageBox("second \xC3\xA9", MB_OK | MB_ICONWARNING);
    testing::internal::GetCapturedStderr();

    // Each line: the local time (19 characters), a space, then what stderr showed.
    std::string log = testsupport::ReadFile(dir / "log" / "Cendrow");
    const std::string lines[] = {"Cendrow: first", "Cendrow: warning: second \xC3\xA9"};
    size_t at = 0;
    for (const auto& line : lines) {
        ASSERT_LE(at + 20, log.size()) << log;
        EXPECT_EQ(log[at + 4], '-');
        EXPECT_EQ(log.substr(at + 19, line.size() + 2), " " + line + "\n");
        at += 20 + line.size() + 1;
    }
    EXPECT_EQ(at, log.size());
}

TEST(ProgramLog, InitLoggingPreparesThePathAndLocaleAndWritesNothing) {
    testsupport::TempDir dir;
    const char* oldAll = std::getenv("LC_ALL");
    std::string savedAll = oldAll ? oldAll : "";
    setenv("LC_ALL", "C.UTF-8", 1);
    InitLogging(dir.path(), "log", "Cendrow", 0, 1);
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C.UTF-8");
    ProgramLogState state = GetProgramLogState();
    EXPECT_TRUE(state.initialised);
    EXPECT_EQ(state.path, dir.path() / "log" / "Cendrow");
    EXPECT_EQ(state.setting1, 0);
    EXPECT_EQ(state.setting2, 1);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

    // An environment naming no usable locale still gives UTF-8 conversions.
    setenv("LC_ALL", "xx_NOWHERE.bogus", 1);
    std::setlocale(LC_CTYPE, "C");
    InitLogging(dir.path(), "log", "Cendrow", 0, 1);
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C.UTF-8");

    if (oldAll)
        setenv("LC_ALL", savedAll.c_str(), 1);
    else
        unsetenv("LC_ALL");
    std::setlocale(LC_CTYPE, "C");
}
