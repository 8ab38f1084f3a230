#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/atomic_file.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Read(const std::filesystem::path& file, const std::string& section, const std::string& key) {
    std::string value = "<missing>";
    IniReadValue(file, section, key, &value);
    return value;
}

size_t EntriesIn(const std::filesystem::path& folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

}  // namespace

TEST(IniFile, ReadsHandWrittenFile) {
    TempDir dir;
    auto file = dir / "a.ini";
    WriteFile(file,
              "top=outside any section\n"
              "[Basic]\n"
              "  Name  =  spaced value  \n"
              "quoted=\"  kept inside  \"\n"
              "single='x'\n"
              "lonequote=\"\n"
              "mixed=\"a'\n"
              "empty=\n"
              "dup=first\n"
              "DUP=second\n"
              "eq=a=b\n"
              "noequals line\n"
              "[other]\n"
              "name=other section\n"
              "[BASIC]\n"
              "name=second basic section\n"
              "late=only in the second basic section\n");
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    } cases[] = {
        {"basic", "name", "spaced value"},
        {"BASIC", "NAME", "spaced value"},
        {"basic", "quoted", "  kept inside  "},
        {"basic", "single", "x"},
        {"basic", "lonequote", "\""},
        {"basic", "mixed", "\"a'"},
        {"basic", "empty", ""},
        {"basic", "dup", "first"},
        {"basic", "eq", "a=b"},
        {"basic", "noequals line", "<missing>"},
        {"basic", "top", "<missing>"},
        {"basic", "late", "<missing>"},  // only the first matching section is searched
        {"Other", "Name", "other section"},
        {"nosuch", "name", "<missing>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Read(file, c.section, c.key), c.expected) << c.section << "/" << c.key;
    }
    EXPECT_EQ(Read(dir / "missing.ini", "basic", "name"), "<missing>");
}

TEST(IniFile, WriteReplacesInPlaceAppendsToSectionAndAddsSectionAtEnd) {
    TempDir dir;
    auto file = dir / "a.ini";
    WriteFile(file,
              "; comment kept\n"
              "[Basic]\n"
              "Alpha = 1\n"
              "beta=2\n"
              "\n"
              "[next]\n"
              "gamma=3\n");
    ASSERT_TRUE(IniWriteValue(file, "BASIC", "ALPHA", "one"));
    ASSERT_TRUE(IniWriteValue(file, "basic", "delta", "4"));
    ASSERT_TRUE(IniWriteValue(file, "next", "epsilon", "5"));
    ASSERT_TRUE(IniWriteValue(file, "new", "zeta", "6"));
    EXPECT_EQ(ReadFile(file),
              "; comment kept\n"
              "[Basic]\n"
              "Alpha=one\n"
              "beta=2\n"
              "delta=4\n"
              "\n"
              "[next]\n"
              "gamma=3\n"
              "epsilon=5\n"
              "\n"
              "[new]\n"
              "zeta=6\n");
}

TEST(IniFile, MissingFileIsCreatedButNotItsFolder) {
    TempDir dir;
    auto file = dir / "new.ini";
    ASSERT_TRUE(IniWriteValue(file, "basic", "key", "value"));
    EXPECT_EQ(ReadFile(file), "[basic]\nkey=value\n");
    EXPECT_FALSE(IniWriteValue(dir / "nofolder" / "x.ini", "basic", "key", "value"));
    EXPECT_FALSE(std::filesystem::exists(dir / "nofolder"));
}

TEST(IniFile, LongValuesRoundTrip) {
    TempDir dir;
    auto file = dir / "a.ini";
    for (size_t len : {511u, 512u, 2000u, 100000u}) {
        std::string value(len, 'v');
        value[len / 2] = 'm';
        ASSERT_TRUE(IniWriteValue(file, "s", "k", value));
        EXPECT_EQ(Read(file, "s", "k"), value) << len;
    }
}

TEST(IniFile, LineBreaksInWrittenTextCannotInjectKeys) {
    TempDir dir;
    auto file = dir / "a.ini";
    ASSERT_TRUE(IniWriteValue(file, "basic", "user", "bob\r\nadmin=1\n[evil]\rx=y"));
    EXPECT_EQ(Read(file, "basic", "user"), "bob  admin=1 [evil] x=y");
    EXPECT_EQ(Read(file, "basic", "admin"), "<missing>");
    EXPECT_EQ(IniSectionNames(file), std::vector<std::string>{"basic"});
    ASSERT_TRUE(IniWriteValue(file, "basic\n[evil", "k\nadmin", "v"));
    EXPECT_EQ(Read(file, "basic", "admin"), "<missing>");
    EXPECT_EQ(IniSectionNames(file), (std::vector<std::string>{"basic", "basic [evil"}));
}

TEST(IniFile, ByteOrderMarksAreAcceptedAndRewrittenAsUtf8) {
    TempDir dir;
    auto utf8 = dir / "utf8.ini";
    WriteFile(utf8, "\xEF\xBB\xBF[basic]\r\nname=Zo\xC3\xAB\r\n");
    EXPECT_EQ(Read(utf8, "basic", "name"), "Zo\xC3\xAB");
    ASSERT_TRUE(IniWriteValue(utf8, "basic", "added", "1"));
    EXPECT_EQ(ReadFile(utf8), "\xEF\xBB\xBF[basic]\r\nname=Zo\xC3\xAB\r\nadded=1\r\n");

    // Text behind a UTF-8 mark that starts like a UTF-16 mark keeps its mark,
    // so that it is not read as UTF-16 after the write.
    auto lookalike = dir / "lookalike.ini";
    WriteFile(lookalike, "\xEF\xBB\xBF\xFF\xFEx\n[basic]\nk=1\n");
    ASSERT_TRUE(IniWriteValue(lookalike, "basic", "k", "2"));
    EXPECT_EQ(Read(lookalike, "basic", "k"), "2");
    EXPECT_EQ(ReadFile(lookalike), "\xEF\xBB\xBF\xFF\xFEx\n[basic]\nk=2\n");

    // [basic] name=Zoë 𝄞, then an unpaired surrogate, in UTF-16LE with its mark.
    std::u16string text = u"[basic]\r\nname=Zo\u00EB \U0001D11E\r\nbad=\xD800x\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t u : text) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    auto utf16 = dir / "utf16.ini";
    WriteFile(utf16, bytes);
    EXPECT_EQ(Read(utf16, "BASIC", "name"), "Zo\xC3\xAB \xF0\x9D\x84\x9E");
    EXPECT_EQ(Read(utf16, "basic", "bad"), "\xEF\xBF\xBDx");

    ASSERT_TRUE(IniWriteValue(utf16, "basic", "added", "1"));
    EXPECT_EQ(ReadFile(utf16),
              "[basic]\r\nname=Zo\xC3\xAB \xF0\x9D\x84\x9E\r\nbad=\xEF\xBF\xBDx\r\nadded=1\r\n");
}

TEST(IniFile, SectionNamesInFileOrder) {
    TempDir dir;
    auto file = dir / "a.ini";
    WriteFile(file, "x=1\n[ one ]\na=1\n[Two]\n[broken\n[one]\n");
    EXPECT_EQ(IniSectionNames(file), (std::vector<std::string>{"one", "Two", "one"}));
    EXPECT_TRUE(IniSectionNames(dir / "missing.ini").empty());
}

TEST(IniFile, FailedSaveKeepsOldFileAndLeavesNoTemporary) {
    TempDir dir;
    auto file = dir / "a.ini";
    const std::string original = "[basic]\nkey=old\n";
    WriteFile(file, original);

    // A file-size limit stands in for a full disk: the write past it fails.
    bool written;
    {
        testsupport::FileSizeLimit full(64);
        ASSERT_TRUE(full.active());
        written = IniWriteValue(file, "basic", "key", std::string(4096, 'n'));
    }

    EXPECT_FALSE(written);
    EXPECT_EQ(ReadFile(file), original);
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(AtomicFile, ReplacesContentsKeepsModeAndReportsFailures) {
    TempDir dir;
    auto file = dir / "data";
    WriteFile(file, "old contents that are longer");
    std::filesystem::permissions(file,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(WriteFileAtomically(file, "new"));
    EXPECT_EQ(ReadFile(file), "new");
    EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // A folder in the way: the rename fails, nothing is left behind.
    std::filesystem::create_directory(dir / "sub");
    EXPECT_FALSE(WriteFileAtomically(dir / "sub", "x"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "sub"));
    EXPECT_EQ(EntriesIn(dir.path()), 2u);

    // Not committed: the target is untouched.
    {
        AtomicFileWriter writer;
        ASSERT_TRUE(writer.Open(file));
        ASSERT_TRUE(writer.Write("abandoned"));
    }
    EXPECT_EQ(ReadFile(file), "new");
    EXPECT_EQ(EntriesIn(dir.path()), 2u);
}

TEST(AtomicFile, NewFilesFollowTheUmask) {
    // The settings file holds the user's credentials: a private umask keeps it private.
    TempDir dir;
    auto modeOf = [](const std::filesystem::path& p) {
        return static_cast<int>(std::filesystem::status(p).permissions());
    };
    for (mode_t mask : {077, 027, 022}) {
        auto file = dir / ("plain" + std::to_string(mask));
        auto ini = dir / ("ini" + std::to_string(mask));
        mode_t saved = umask(mask);
        bool written = WriteFileAtomically(file, "x");
        bool iniWritten = IniWriteValue(ini, "s", "k", "v");
        umask(saved);
        ASSERT_TRUE(written && iniWritten);
        EXPECT_EQ(modeOf(file), static_cast<int>(0666 & ~mask)) << std::oct << mask;
        EXPECT_EQ(modeOf(ini), static_cast<int>(0666 & ~mask)) << std::oct << mask;
    }
}

TEST(AtomicFile, SymbolicLinkKeepsPointingAtTheReplacedFile) {
    TempDir dir;
    WriteFile(dir / "real.ini", "[a]\nk=1\n");
    std::filesystem::create_symlink("real.ini", dir / "link.ini");
    ASSERT_TRUE(IniWriteValue(dir / "link.ini", "a", "k", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
    EXPECT_EQ(ReadFile(dir / "real.ini"), "[a]\nk=2\n");
}

TEST(IniFile, SectionFileReplacesTheWholeFileInOneWrite) {
    TempDir dir;
    auto file = dir / "list.ini";
    WriteFile(file, "[basic]\nold1=x\n[other]\nk=v\n");
    ASSERT_TRUE(
        IniWriteSectionFile(file, "basic", {{"b1", "two words"}, {"a1", "line\nbreak"}, {"b1", "again"}}));
    EXPECT_EQ(ReadFile(file), "[basic]\nb1=again\na1=line break\n");
    std::string value;
    EXPECT_FALSE(IniReadValue(file, "other", "k", &value));

    // A missing folder fails and creates nothing.
    EXPECT_FALSE(IniWriteSectionFile(dir / "missing" / "list.ini", "basic", {{"k", "v"}}));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST(IniFile, SeveralValuesGoInOneRewriteAllOrNone) {
    TempDir dir;
    auto file = dir / "a.ini";
    const std::string original = "[Basic]\nAlpha = 1\nbeta=2\n\n[next]\ngamma=3\n";
    WriteFile(file, original);
    // As the single writes would: in place, appended to the section, a
    // repeated key's last value in its first place, a new section at the end
    // of the file when the section is missing.
    ASSERT_TRUE(IniWriteValues(file, "basic", {{"ALPHA", "one"}, {"delta", "4"}, {"delta", "four"}}));
    ASSERT_TRUE(IniWriteValues(file, "new", {{"zeta", "6"}, {"eta", "line\nbreak"}}));
    EXPECT_EQ(ReadFile(file),
              "[Basic]\nAlpha=one\nbeta=2\ndelta=four\n\n[next]\ngamma=3\n\n[new]\nzeta=6\neta=line break\n");

    // A write that fails stores none of them.
    WriteFile(file, original);
    bool written;
    {
        testsupport::FileSizeLimit full(original.size() + 8);
        ASSERT_TRUE(full.active());
        written = IniWriteValues(file, "basic", {{"alpha", "x"}, {"long", std::string(4096, 'n')}});
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadFile(file), original);
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}
