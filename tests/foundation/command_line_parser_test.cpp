#include "foundation/command_line_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Takes the options this program knows, as the application's parser does.
class RecordingParser : public CCommandLineParser {
public:
    std::vector<std::wstring> seen;

protected:
    int ParseParam(const wchar_t* option) override {
        seen.emplace_back(option);
        std::wstring o = option;
        if (o == L"-quitall") SetContinue(0);
        return o == L"-hideicon" || o == L"-quitall" || o == L"ab" || o == L"-\u00c9t\u00e9";
    }
};

}  // namespace

TEST(CommandLineParser, PassesOptionsWithoutTheirFirstDashInLowerCase) {
    struct Case {
        std::vector<std::string> args;
        bool result;
        std::vector<std::wstring> seen;
        int taken;
    };
    const Case cases[] = {
        {{"prog"}, false, {}, 0},
        {{}, false, {}, 0},
        {{"prog", "-a", "--", "x", "hideicon"}, false, {}, 0},
        {{"prog", "-ab"}, true, {L"ab"}, 1},
        {{"prog", "--HideIcon", "--unknown"}, true, {L"-hideicon", L"-unknown"}, 1},
        {{"prog", "--hide icon"}, false, {L"-hide icon"}, 0},             // one argument, spaces and all
        {{"prog", "--\xC3\x89t\xC3\xA9"}, true, {L"-\u00c9t\u00e9"}, 1},  // only ASCII is lowered
    };
    for (const auto& c : cases) {
        RecordingParser p;
        EXPECT_EQ(p.Parse(c.args), c.result) << c.args.size();
        EXPECT_EQ(p.seen, c.seen);
        EXPECT_EQ(p.GetOptionsTaken(), c.taken);
        EXPECT_EQ(p.GetArgumentCount(), static_cast<int>(c.args.size()));
        EXPECT_EQ(p.GetContinue(), 1);
    }
}

TEST(CommandLineParser, ArgvFormContinueFlagAndCountOverLife) {
    RecordingParser p;
    const char* argv[] = {"prog", "--quitall", "--hideicon", nullptr};
    EXPECT_TRUE(p.Parse(3, argv));
    EXPECT_EQ(p.GetContinue(), 0);
    EXPECT_EQ(p.GetOptionsTaken(), 2);
    // The taken count is never reset: a later parse with nothing taken still says true.
    const char* none[] = {"prog", "--other"};
    EXPECT_TRUE(p.Parse(2, none));
    EXPECT_EQ(p.GetArgumentCount(), 2);
}

TEST(CommandLineParser, ReadsTheProcessCommandLine) {
    RecordingParser p;
    p.Parse();
    EXPECT_GE(p.GetArgumentCount(), 1);
}
