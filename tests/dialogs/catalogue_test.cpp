// Every message id the windows and the application shell show has its
// Simplified Chinese translation: the ids are extracted from the sources
// (the translation call, the main window's Fail and Status, and the node
// tests' lines that the test window shows) and compared with the
// catalogue, untranslated entries counting as missing.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(Catalogue, EveryMessageIdOfTheWindowsIsTranslated) {
    const char* source = std::getenv("CENDROW_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "run through ctest";
    const std::filesystem::path root(source);
    std::vector<std::string> files;
    for (const char* folder : {"app", "dialogs"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
            const std::string ext = entry.path().extension().string();
            if (entry.is_regular_file() && (ext == ".cpp" || ext == ".h"))
                files.push_back(std::filesystem::relative(entry.path(), root).string());
        }
    }
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    // The node tests log through Log, LogFormat and LogOutcome (whose
    // second and third arguments are both ids).
    const std::vector<std::string> testFiles = {"proxy/node_testing.cpp", "proxy/ssr_client_testing.cpp",
                                                "proxy/s45_client_testing.cpp"};
    files.insert(files.end(), testFiles.begin(), testFiles.end());

    testsupport::TempDir dir{"cendrow-catalogue"};
    const std::string pot = (dir / "ids.pot").string();
    std::vector<std::string> xgettext = {"xgettext",
                                         "--from-code=UTF-8",
                                         "--language=C++",
                                         "--keyword",
                                         "--keyword=Translate",
                                         "--keyword=N_",
                                         "--keyword=TranslatedText",
                                         "--keyword=Tr",
                                         "--keyword=Fail",
                                         "--keyword=Status",
                                         "--keyword=Log:2",
                                         "--keyword=LogFormat:2",
                                         "--keyword=LogOutcome:2",
                                         "--directory=" + root.string(),
                                         "-o",
                                         pot};
    xgettext.insert(xgettext.end(), files.begin(), files.end());
    std::string out;
    ASSERT_EQ(testsupport::RunCommand(xgettext, &out), 0) << out;
    ASSERT_TRUE(std::filesystem::exists(pot)) << "no message id found";
    // One keyword takes one argument per run: the failure texts of
    // LogOutcome join in a second run.
    std::vector<std::string> outcomes = {"xgettext",         "--from-code=UTF-8",
                                         "--language=C++",   "--keyword",
                                         "--keyword=LogOutcome:3", "--join-existing",
                                         "--directory=" + root.string(), "-o",
                                         pot};
    outcomes.insert(outcomes.end(), testFiles.begin(), testFiles.end());
    out.clear();
    ASSERT_EQ(testsupport::RunCommand(outcomes, &out), 0) << out;

    const std::string catalogue = (root / "resources/lang/zh_CN/LC_MESSAGES/vokt.po").string();
    out.clear();
    EXPECT_EQ(testsupport::RunCommand({"msgcmp", catalogue, pot}, &out), 0)
        << "ids without a translation (the .pot lines name them):\n"
        << out;
}

}  // namespace
