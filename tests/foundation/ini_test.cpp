#include "foundation/ini.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

class IniTest : public ::testing::Test {
protected:
    IniTest() : ini(dir / "test.ini") {}
    TempDir dir;
    CIni ini;
};

const std::string kSixtyZeros(60, '0');

}  // namespace

TEST_F(IniTest, StringsOfAnyLengthAreReadWhole) {
    for (size_t len : {511u, 512u, 2000u}) {
        std::wstring value(len, L'x');
        value.back() = L'y';
        ASSERT_EQ(ini.WriteString(L"s", L"k", value.c_str()), 1);
        EXPECT_EQ(ini.GetString(L"s", L"k", nullptr), value) << len;
        wchar_t* copy = ini.GetStringNew(L"s", L"k", nullptr);
        EXPECT_EQ(std::wstring(copy), value);
        delete[] copy;
    }
    // Non-ASCII text goes to the file as UTF-8.
    ASSERT_EQ(ini.WriteString(L"s", L"k", L"Zo\u00EB \u4E2D"), 1);
    EXPECT_EQ(ini.GetString(L"S", L"K", nullptr), L"Zo\u00EB \u4E2D");
    EXPECT_NE(ReadFile(ini.GetPathName()).find("k=Zo\xC3\xAB \xE4\xB8\xAD\n"), std::string::npos);
}

TEST_F(IniTest, MissingValuesGiveTheDefault) {
    EXPECT_EQ(ini.GetString(L"s", L"k", L"def"), L"def");
    EXPECT_EQ(ini.GetString(L"s", L"k", nullptr), L"");
    wchar_t* copy = ini.GetStringNew(L"s", L"k", nullptr);
    EXPECT_EQ(std::wstring(copy), L"");
    delete[] copy;
    ASSERT_EQ(ini.WriteString(L"s", L"k", L"v"), 1);
    EXPECT_EQ(ini.GetString(nullptr, L"k", L"def"), L"def");
    EXPECT_EQ(ini.GetString(L"s", nullptr, L"def"), L"def");
}

TEST_F(IniTest, StringToBufferTruncatesToTheBuffer) {
    ASSERT_EQ(ini.WriteString(L"s", L"k", L"abcdefgh"), 1);
    wchar_t buf[5];
    std::wmemset(buf, L'#', 5);
    EXPECT_EQ(ini.GetStringToBuffer(L"s", L"k", nullptr, buf, 5), 4);
    EXPECT_EQ(std::wstring(buf), L"abcd");
    wchar_t fits[9];
    EXPECT_EQ(ini.GetStringToBuffer(L"s", L"k", nullptr, fits, 9), 8);
    EXPECT_EQ(std::wstring(fits), L"abcdefgh");
    EXPECT_EQ(ini.GetStringToBuffer(L"s", L"missing", L"dflt", fits, 9), 4);
    EXPECT_EQ(std::wstring(fits), L"dflt");
    EXPECT_EQ(ini.GetStringToBuffer(L"s", L"k", nullptr, buf, 0), 0);
    EXPECT_EQ(buf[0], L'a');  // untouched
}

TEST_F(IniTest, GetIntFollowsUnsignedConversionRules) {
    WriteFile(ini.GetPathName(),
              "[n]\n"
              "empty=\n"
              "hex=0x10\n"
              "hexbare=ff\n"
              "trail=12abc\n"
              "minus=-1\n"
              "minus5=-5\n"
              "plus=  +7\n"
              "bin=101\n"
              "seven=19\n"
              "max=4294967295\n"
              "over=4294967296\n"
              "negover=-99999999999\n"
              "junk=abc\n"
              "long=" +
                  kSixtyZeros + "0042\n");
    struct Case {
        const wchar_t* key;
        int base;
        int expected;
    } cases[] = {
        {L"missing", 10, 77}, {L"empty", 10, 77},   {L"hex", 16, 16},   {L"hexbare", 16, 255},
        {L"hex", 10, 0},      {L"trail", 10, 12},   {L"minus", 10, -1}, {L"minus5", 10, -5},
        {L"plus", 10, 7},     {L"bin", 2, 5},       {L"seven", 7, 19},  {L"max", 10, -1},
        {L"over", 10, -1},    {L"negover", 10, -1}, {L"junk", 10, 0},   {L"long", 10, 42},
        {L"long", 8, 34},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ini.GetInt(L"n", c.key, 77, c.base), c.expected) << c.key << " base " << c.base;
    }
}

TEST_F(IniTest, GetBoolWordsAndNumbers) {
    WriteFile(ini.GetPathName(),
              "[b]\n"
              "a=YES\nb=True\nc=1\nd=-3\ne=2\n"
              "f=no\ng=false\nh=0\ni=abc\nj=\n"
              "long=" +
                  kSixtyZeros + "00001\n");
    struct Case {
        const wchar_t* key;
        int def;
        int expected;
    } cases[] = {
        {L"a", 0, 1},       {L"b", 0, 1},       {L"c", 0, 1},    {L"d", 0, 1}, {L"e", 0, 1},
        {L"f", 1, 0},       {L"g", 1, 0},       {L"h", 1, 0},    {L"i", 1, 0}, {L"j", 1, 1},
        {L"missing", 1, 1}, {L"missing", 0, 0}, {L"long", 0, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ini.GetBool(L"b", c.key, c.def), c.expected) << c.key;
    }
}

TEST_F(IniTest, KeyExistenceUsesTheSentinel) {
    std::string sentinel = "{63788286-AE30-4D6B-95DF-3B451C1C79F9}";
    WriteFile(ini.GetPathName(), "[s]\nempty=\nsentinel=" + sentinel + "\nother=x\n");
    EXPECT_EQ(ini.IsKeyExist(L"s", L"empty"), 1);
    EXPECT_EQ(ini.IsKeyExist(L"S", L"OTHER"), 1);
    EXPECT_EQ(ini.IsKeyExist(L"s", L"missing"), 0);
    EXPECT_EQ(ini.IsKeyExist(L"s", L"sentinel"), 0);
    EXPECT_EQ(ini.IsKeyExist(nullptr, L"other"), 0);
    EXPECT_EQ(ini.IsKeyExist(L"s", nullptr), 0);
}

TEST_F(IniTest, WrittenNumberFormats) {
    struct Case {
        const wchar_t* key;
        int (*write)(const CIni&, const wchar_t*);
        const char* expected;
    } cases[] = {
        {L"a", [](const CIni& i, const wchar_t* k) { return i.WriteInt(L"w", k, 255, 16); }, "FF"},
        {L"b", [](const CIni& i, const wchar_t* k) { return i.WriteInt(L"w", k, 255, 8); }, "377"},
        {L"c", [](const CIni& i, const wchar_t* k) { return i.WriteInt(L"w", k, 255, 10); }, "255"},
        {L"d", [](const CIni& i, const wchar_t* k) { return i.WriteInt(L"w", k, 5, 2); }, "101"},
        {L"e", [](const CIni& i, const wchar_t* k) { return i.WriteInt(L"w", k, -1, 10); }, "-1"},
        {L"f", [](const CIni& i, const wchar_t* k) { return i.WriteInt(L"w", k, -1, 7); }, "-1"},
        {L"g", [](const CIni& i, const wchar_t* k) { return i.WriteInt(L"w", k, -1, 16); }, "FFFFFFFF"},
        {L"h", [](const CIni& i, const wchar_t* k) { return i.WriteUInt(L"w", k, 0, 2); }, "0"},
        {L"i", [](const CIni& i, const wchar_t* k) { return i.WriteUInt(L"w", k, 4294967295u, 10); },
         "4294967295"},
        {L"j", [](const CIni& i, const wchar_t* k) { return i.WriteUInt(L"w", k, 0x80000000u, 2); },
         "10000000000000000000000000000000"},
        {L"k", [](const CIni& i, const wchar_t* k) { return i.WriteBool(L"w", k, 5); }, "1"},
        {L"l", [](const CIni& i, const wchar_t* k) { return i.WriteBool(L"w", k, 0); }, "0"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.write(ini, c.key), 1);
    }
    std::string expected = "[w]\n";
    for (const auto& c : cases) {
        expected += static_cast<char>(c.key[0]);
        expected += std::string("=") + c.expected + "\n";
    }
    EXPECT_EQ(ReadFile(ini.GetPathName()), expected);
    // Negative numbers read back through the unsigned conversion.
    EXPECT_EQ(ini.GetInt(L"w", L"g", 0, 16), -1);
    EXPECT_EQ(ini.GetInt(L"w", L"i", 0, 10), -1);
}

TEST_F(IniTest, NullValueWritesAnEmptyKeyAndNullNamesWriteNothing) {
    ASSERT_EQ(ini.WriteString(L"s", L"k", nullptr), 1);
    EXPECT_EQ(ini.IsKeyExist(L"s", L"k"), 1);
    EXPECT_EQ(ini.WriteString(nullptr, L"k", L"v"), 0);
    EXPECT_EQ(ini.WriteString(L"s", nullptr, L"v"), 0);
    EXPECT_EQ(ReadFile(ini.GetPathName()), "[s]\nk=\n");
}

TEST_F(IniTest, SectionsAreFoundWithoutRegardToCase) {
    EXPECT_EQ(ini.IsSectionExist(L"basic"), 0);
    EXPECT_EQ(ini.GetSectionNamesLength(), 2);
    WriteFile(ini.GetPathName(), "[basic]\n[other]\n");
    EXPECT_EQ(ini.IsSectionExist(L"BASIC"), 1);
    EXPECT_EQ(ini.IsSectionExist(L"Other"), 1);
    EXPECT_EQ(ini.IsSectionExist(L"none"), 0);
    EXPECT_EQ(ini.IsSectionExist(nullptr), 0);
    EXPECT_EQ(ini.GetSectionNamesLength(), 13);  // "basic\0other\0\0"
}

TEST_F(IniTest, FailedWriteIsReported) {
    CIni nowhere(dir / "no" / "such" / "folder.ini");
    EXPECT_EQ(nowhere.WriteString(L"s", L"k", L"v"), 0);
    EXPECT_EQ(nowhere.GetString(L"s", L"k", L"def"), L"def");
}

TEST_F(IniTest, SectionFileReplacesTheWholeFile) {
    ASSERT_EQ(ini.WriteString(L"old", L"stale1", L"x"), 1);
    ASSERT_EQ(
        ini.WriteSectionFile(L"basic", {{L"name1", L"Zo\u00EB"}, {L"url1", L"a\r\nb"}, {L"name2", L""}}), 1);
    EXPECT_EQ(ReadFile(ini.GetPathName()), "[basic]\nname1=Zo\xC3\xAB\nurl1=a  b\nname2=\n");
    EXPECT_EQ(ini.IsKeyExist(L"old", L"stale1"), 0);
    EXPECT_EQ(ini.WriteSectionFile(nullptr, {{L"k", L"v"}}), 0);
    EXPECT_EQ(CIni(dir / "missing" / "list.ini").WriteSectionFile(L"basic", {{L"k", L"v"}}), 0);
    EXPECT_EQ(ini.GetString(L"basic", L"name1", nullptr), L"Zo\u00EB")
        << "a failed write left the file alone";
}

TEST(Ini, PathSettingAndProgramFolderFiles) {
    CIni ini;
    EXPECT_TRUE(ini.GetPathName().empty());
    EXPECT_EQ(ini.GetString(L"s", L"k", L"def"), L"def");
    EXPECT_EQ(ini.WriteString(L"s", L"k", L"v"), 0);
    ini.SetPathName(L"/some/file.ini");
    EXPECT_EQ(ini.GetPathName(), "/some/file.ini");
    // Wide paths reach the file system as UTF-8, whatever the locale.
    ini.SetPathName(L"/home/zo\u00EB/\u4E2D.ini");
    EXPECT_EQ(ini.GetPathName(), "/home/zo\xC3\xAB/\xE4\xB8\xAD.ini");
    ini.SetPathName(static_cast<const wchar_t*>(nullptr));
    EXPECT_TRUE(ini.GetPathName().empty());

    EXPECT_EQ(CIniNembril("/opt/prog", L"dns.ini").GetPathName(), "/opt/prog/config/dns.ini");
    EXPECT_TRUE(CIniNembril("", L"dns.ini").GetPathName().empty());
    EXPECT_TRUE(CIniNembril("/opt/prog", L"").GetPathName().empty());
}

TEST(Ini, IntToTextBase) {
    EXPECT_EQ(IntToTextBase(0, 2), L"0");
    EXPECT_EQ(IntToTextBase(6, 2), L"110");
    EXPECT_EQ(IntToTextBase(0xFFFFFFFFu, 2), std::wstring(32, L'1'));
    EXPECT_EQ(IntToTextBase(8, 8), L"10");
    EXPECT_EQ(IntToTextBase(0xabcdefu, 16), L"ABCDEF");
    EXPECT_EQ(IntToTextBase(4294967295u, 3), L"4294967295");
}
