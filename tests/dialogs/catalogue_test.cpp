// Every message id the windows and the application shell show has its
// Simplified Chinese translation: the ids are extracted from the sources
// (the translation call and the main window's Fail and Status) and compared
// with the catalogue, untranslated entries counting as missing.

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

    testsupport::TempDir dir{"cendrow-catalogue"};
    const std::string pot = (dir / "ids.pot").string();
    std::vector<std::string> xgettext = {"xgettext",
                                         "--from-code=UTF-8",
                                         "--language=C++",
                                         "--keyword",
                                         "--keyword=Translate",
                                         "--keyword=N_",
                                         "--keyword=TranslatedText",
                                         "--keyword=Fail",
                                         "--keyword=Status",
                                         "--directory=" + root.string(),
                                         "-o",
                                         pot};
    xgettext.insert(xgettext.end(), files.begin(), files.end());
    std::string out;
    ASSERT_EQ(testsupport::RunCommand(xgettext, &out), 0) << out;
    ASSERT_TRUE(std::filesystem::exists(pot)) << "no message id found";

    const std::string catalogue = (root / "resources/lang/zh_CN/LC_MESSAGES/vokt.po").string();
    out.clear();
    EXPECT_EQ(testsupport::RunCommand({"msgcmp", catalogue, pot}, &out), 0)
        << "ids without a translation (the .pot lines name them):\n"
        << out;
}

}  // namespace
