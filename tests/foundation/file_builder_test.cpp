#include "foundation/file_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "foundation/gzip.h"
#include "foundation/message_box.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// The container's fixed key material, restated here so that a change to it
// in the program breaks these tests: files already written would become
// unreadable.
const std::string kPassPhrase = "G?B-2%#&5B-5AUpUvwdBapWl<lL3YfdmqbCzjUfS-UA7e8>02BV;KcGfrEu6";
const std::string kDigits = "087685228668689178506566644365518733507177316620215620684017206";
const std::string kGuidText1 =
    "<Guid(1E5A358E-036A-4169-B7D9-DE3206B239E0)>{FB82DFB4-1B54-48DE-B516-B6A04A2F31AD}";
const std::string kGuidText2 =
    "<Guid(1E626BB9-19EE-4DFE-9644-E11D2F5188BB)>{0CFAC757-981B-4D5E-9172-C32CB854CA60}";
const std::string kBinary =
    "\x46\xf0\x24\x76\x0a\x3c\x6a\xda\x8a\x6c\x6b\x41\xfe\x1f\x8c\xcf"
    "\xc7\x81\x18\x6e\x82\x55\x25\x26\x97\x32\x26\x27\x1c\x91\x58\x5e";

const std::string kText = "{\"api\":\"https://example.net/v1\",\"name\":\"Zo\xC3\xAB\",\"n\":[1,2,3]}\n";

std::filesystem::path GoldenDir() {
    return std::filesystem::path(__FILE__).parent_path() / "data";
}

std::string ToHex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string FromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// Everything below goes through the system's own tools.
class Tools {
public:
    std::string Md5Hex(const std::string& bytes) {
        auto in = Put(bytes);
        std::string out;
        EXPECT_EQ(RunCommand({"md5sum", in.string()}, &out), 0);
        return out.substr(0, 32);
    }

    std::string Cfb(bool decrypt, const std::string& key, const std::string& iv, const std::string& bytes) {
        auto in = Put(bytes);
        auto out = dir_ / "cfb.out";
        std::vector<std::string> argv = {"openssl", "enc", "-aes-128-cfb", "-K",   ToHex(key),  "-iv",
                                         ToHex(iv), "-in", in.string(),    "-out", out.string()};
        if (decrypt) argv.push_back("-d");
        EXPECT_EQ(RunCommand(argv), 0);
        return ReadFile(out);
    }

    std::string Run(const std::vector<std::string>& tool, const std::string& bytes) {
        auto in = Put(bytes);
        std::vector<std::string> argv = tool;
        argv.push_back(in.string());
        std::string out;
        EXPECT_EQ(RunCommand(argv, &out), 0);
        return out;
    }

    // Key and IV of a container version, derived as the format prescribes.
    std::pair<std::string, std::string> KeyFor(int v0) {
        if (v0 == 1) return {kPassPhrase.substr(0, 16), kDigits.substr(0, 16)};
        if (v0 == 2) return {Md5Hex(kGuidText1).substr(0, 16), Md5Hex(kGuidText2).substr(0, 16)};
        std::string keyMaterial = kPassPhrase + std::string(8, '\0') + kGuidText1.substr(0, 14) + kBinary;
        std::string ivMaterial = kBinary.substr(0, 16) + kGuidText1;
        EXPECT_EQ(keyMaterial.size(), 114u);
        EXPECT_EQ(ivMaterial.size(), 98u);
        return {Md5Hex(keyMaterial).substr(0, 16), Md5Hex(ivMaterial).substr(0, 16)};
    }

    // A container of `payload`, whose digest covers `plaintext`.
    std::string Container(const std::string& version, const std::string& plaintext,
                          const std::string& payload, const std::string& tag = "ferrik-archive#") {
        auto [key, iv] = KeyFor(static_cast<unsigned char>(version[0]));
        std::string cipher = Cfb(false, key, iv, payload);
        std::string out = "MC##" + version + tag + FromHex(Md5Hex(plaintext));
        uint32_t n = static_cast<uint32_t>(cipher.size());
        for (int i = 0; i < 4; ++i) out += static_cast<char>(n >> (8 * i));
        return out + cipher + std::string("#MC\0", 4);
    }

    std::string Base64Container(const std::string& version, const std::string& plaintext) {
        return Run({"base64", "-w0"}, Container(version, plaintext, Run({"gzip", "-c"}, plaintext)));
    }

    // Undoes a Base64 container with the tools: the container and its gunzipped payload.
    std::string OpenBase64Container(const std::string& text, std::string* container) {
        *container = Run({"base64", "-d"}, text);
        EXPECT_GE(container->size(), 47u);
        auto [key, iv] = KeyFor(static_cast<unsigned char>((*container)[4]));
        std::string gz = Cfb(true, key, iv, container->substr(43, container->size() - 47));
        return Run({"gzip", "-dc"}, gz);
    }

    const TempDir& dir() const { return dir_; }

private:
    std::filesystem::path Put(const std::string& bytes) {
        auto p = dir_ / ("in" + std::to_string(counter_++));
        WriteFile(p, bytes);
        return p;
    }

    TempDir dir_;
    int counter_ = 0;
};

std::string Version(int v0, int v1 = 1, int v2 = 1, int v3 = 1) {
    return {static_cast<char>(v0), static_cast<char>(v1), static_cast<char>(v2), static_cast<char>(v3)};
}

template <class Builder>
std::string ReadWith(const std::filesystem::path& path, int* error, int plain = 0) {
    Builder b(path);
    b.SetPlainMode(plain);
    b.Open(1, 0);
    const char* text = b.Read();
    *error = b.GetError();
    if (!text) return "<null>";
    EXPECT_EQ(text[b.GetPayloadLength()], '\0');
    return std::string(text, b.GetPayloadLength());
}

std::string ReadBinary(const std::filesystem::path& path, int* error) {
    return ReadWith<CFileBuilder>(path, error);
}

std::string ReadBase64(const std::filesystem::path& path, int* error) {
    return ReadWith<CFileBuilderCompressBase64>(path, error);
}

}  // namespace

TEST(FileBuilder, ReadsContainersBuiltWithSystemTools) {
    Tools tools;
    TempDir dir;
    struct Case {
        std::string version;
        std::string tag;
    } cases[] = {
        {Version(1), "ferrik-archive#"}, {Version(2), "ferrik-archive#"},   {Version(2), "FERRIK-Archive#"},
        {Version(3), "ferrik-archive#"}, {Version(200), "ferrik-archive#"},
    };
    for (const auto& c : cases) {
        WriteFile(dir / "f.dat", tools.Container(c.version, kText, kText, c.tag));
        int error = -1;
        EXPECT_EQ(ReadBinary(dir / "f.dat", &error), kText) << int(c.version[0]) << " " << c.tag;
        EXPECT_EQ(error, FB_SUCCESS);
    }
}

TEST(FileBuilder, ReadsBase64ContainersBuiltWithSystemTools) {
    Tools tools;
    TempDir dir;
    std::string rules;
    for (int i = 0; i < 500; ++i) rules += "10." + std::to_string(i % 256) + ".0.0/16\n";
    for (int v0 : {1, 2}) {
        for (const std::string& text : {kText, rules}) {
            WriteFile(dir / "f.rules", tools.Base64Container(Version(v0), text));
            int error = -1;
            EXPECT_EQ(ReadBase64(dir / "f.rules", &error), text) << v0;
            EXPECT_EQ(error, FB_SUCCESS);
        }
    }
}

TEST(FileBuilder, WrittenContainersOpenWithSystemTools) {
    Tools tools;
    TempDir dir;
    {
        CFileBuilderCompressBase64 b(dir / "w.rules");
        ASSERT_EQ(b.Open(0, 0), 1);
        ASSERT_EQ(b.Write(kText.data(), kText.size()), FB_SUCCESS);
        EXPECT_EQ(b.GetError(), FB_SUCCESS);
        EXPECT_EQ(b.GetPayloadLength(), kText.size());
        EXPECT_EQ(b.GetTotalSize(), std::filesystem::file_size(dir / "w.rules"));
    }
    std::string text = ReadFile(dir / "w.rules");
    EXPECT_EQ(text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
              std::string::npos);
    std::string container;
    EXPECT_EQ(tools.OpenBase64Container(text, &container), kText);
    EXPECT_EQ(container.substr(0, 23), "MC##" + Version(2) + "ferrik-archive#");
    EXPECT_EQ(ToHex(container.substr(23, 16)), tools.Md5Hex(kText));

    {
        CFileBuilder b(dir / "w.dat");
        ASSERT_EQ(b.Open(0, 0), 1);
        ASSERT_EQ(b.Write(kText.data(), kText.size()), FB_SUCCESS);
        EXPECT_EQ(b.GetTotalSize(), kText.size() + 47);
    }
    container = ReadFile(dir / "w.dat");
    ASSERT_EQ(container.size(), kText.size() + 47);
    EXPECT_EQ(container, tools.Container(Version(2), kText, kText));
}

TEST(FileBuilder, GoldenFilesStayReadable) {
    // Written once by this program; every later build must read them.
    int error = -1;
    EXPECT_EQ(ReadBase64(GoldenDir() / "golden.rules", &error), kText);
    EXPECT_EQ(error, FB_SUCCESS);
    EXPECT_EQ(ReadBinary(GoldenDir() / "golden.dat", &error), kText);
    EXPECT_EQ(error, FB_SUCCESS);
}

TEST(FileBuilder, EachDamageHasItsErrorCode) {
    Tools tools;
    TempDir dir;
    const std::string good = tools.Container(Version(2), kText, kText);
    auto with = [&](size_t at, const std::string& bytes) {
        std::string s = good;
        s.replace(at, bytes.size(), bytes);
        return s;
    };
    auto lengthField = [](int32_t n) {
        std::string s;
        for (int i = 0; i < 4; ++i) s += static_cast<char>(static_cast<uint32_t>(n) >> (8 * i));
        return s;
    };
    std::string flipped = good;
    flipped[50] = static_cast<char>(flipped[50] ^ 0x01);
    struct Case {
        const char* what;
        std::string file;
        int error;
    } cases[] = {
        {"empty file", "", FB_NOT_OPEN},
        {"shorter than the frame", good.substr(0, 46), FB_MAGIC_MISSING},
        {"magic", with(0, "MC#!"), FB_MAGIC_MISSING},
        {"version byte 3", with(4, Version(2, 1, 1, 2)), FB_BAD_VERSION},
        {"version byte 1", with(4, Version(2, 0, 1, 1)), FB_BAD_VERSION},
        {"tag", with(8, "ferrik-archive!"), FB_TAG_MISMATCH},
        {"last byte cut", good.substr(0, good.size() - 1), FB_TRAILER_MISSING},
        {"bytes appended", good + "xyz", FB_TRAILER_MISSING},
        {"digest", with(23, "0000"), FB_DIGEST_MISMATCH},
        {"ciphertext bit", flipped, FB_DIGEST_MISMATCH},
        {"length zero", with(39, lengthField(0)), FB_BAD_LENGTH},
        {"length negative", with(39, lengthField(-5)), FB_BAD_LENGTH},
        {"length past the data", with(39, lengthField(static_cast<int32_t>(kText.size() + 1))),
         FB_BAD_LENGTH},
        {"length huge", with(39, lengthField(INT32_MAX)), FB_BAD_LENGTH},
    };
    for (const auto& c : cases) {
        WriteFile(dir / "bad.dat", c.file);
        int error = -1;
        EXPECT_EQ(ReadBinary(dir / "bad.dat", &error), "<null>") << c.what;
        EXPECT_EQ(error, c.error) << c.what;
    }

    // Bytes after the trailer are accepted when they end in a trailer again.
    WriteFile(dir / "tail.dat", good + std::string("junk#MC\0", 8));
    int error = -1;
    EXPECT_EQ(ReadBinary(dir / "tail.dat", &error), kText);
    EXPECT_EQ(error, FB_SUCCESS);

    CFileBuilder notOpen(dir / "tail.dat");
    EXPECT_EQ(notOpen.Read(), nullptr);
    EXPECT_EQ(notOpen.GetError(), FB_NOT_OPEN);
    CFileBuilder missing(dir / "missing.dat");
    EXPECT_EQ(missing.Open(1, 0), 0);
    EXPECT_EQ(missing.GetError(), FB_NOT_OPEN);
    CFileBuilder folder(dir.path());
    EXPECT_EQ(folder.Open(1, 0), 0);
}

TEST(FileBuilder, Base64VariantErrorCodes) {
    Tools tools;
    TempDir dir;
    std::string notGzip = tools.Run({"base64", "-w0"}, tools.Container(Version(2), kText, kText));
    std::string gz = tools.Run({"gzip", "-c"}, kText);
    std::string badCrc = gz;
    badCrc[badCrc.size() - 8] = static_cast<char>(badCrc[badCrc.size() - 8] ^ 1);
    struct Case {
        const char* what;
        std::string file;
        int error;
    } cases[] = {
        {"no alphabet characters", "!!!! ???? ....", FB_BASE64_EMPTY},
        {"version 3 refused here", tools.Base64Container(Version(3), kText), FB_BAD_VERSION},
        {"version 2,1,1,2", tools.Base64Container(Version(2, 1, 1, 2), kText), FB_BAD_VERSION},
        {"payload not gzip", notGzip, FB_GZIP_FAILED},
        {"gzip CRC broken", tools.Run({"base64", "-w0"}, tools.Container(Version(2), kText, badCrc)),
         FB_GZIP_FAILED},
        {"digest of other text", tools.Run({"base64", "-w0"}, tools.Container(Version(2), "other", gz)),
         FB_DIGEST_MISMATCH},
        {"too short once decoded", "TUMjIwIBAQE=", FB_MAGIC_MISSING},
    };
    for (const auto& c : cases) {
        WriteFile(dir / "bad.rules", c.file);
        int error = -1;
        EXPECT_EQ(ReadBase64(dir / "bad.rules", &error), "<null>") << c.what;
        EXPECT_EQ(error, c.error) << c.what;
    }
    // Decoding stops at the first zero byte.
    WriteFile(dir / "z.rules", tools.Base64Container(Version(2), kText) + std::string("\0garbage", 8));
    int error = -1;
    EXPECT_EQ(ReadBase64(dir / "z.rules", &error), kText);
}

TEST(FileBuilder, InflationPastTheCapIsAGzipError) {
    // A small file that would inflate to more than the cap allows.
    Tools tools;
    TempDir dir;
    auto bomb = GzipCompress(std::string(kGzipMaxOutput + 1, '\0'));
    ASSERT_TRUE(bomb);
    ASSERT_LT(bomb->size(), 1u << 20);
    WriteFile(dir / "bomb.rules", tools.Run({"base64", "-w0"}, tools.Container(Version(2), "", *bomb)));
    int error = -1;
    EXPECT_EQ(ReadBase64(dir / "bomb.rules", &error), "<null>");
    EXPECT_EQ(error, FB_GZIP_FAILED);
}

TEST(FileBuilder, FailedReadDropsThePreviousPlaintext) {
    Tools tools;
    TempDir dir;
    WriteFile(dir / "f.dat", tools.Container(Version(2), kText, kText));
    CFileBuilder b(dir / "f.dat");
    ASSERT_EQ(b.Open(1, 0), 1);
    ASSERT_NE(b.Read(), nullptr);
    ASSERT_NE(b.Read(), nullptr);  // the same open file reads again from its start
    EXPECT_EQ(b.GetPayloadLength(), kText.size());
    WriteFile(dir / "f.dat", "MC##garbage that is long enough to hold a whole frame.....");
    ASSERT_EQ(b.Open(1, 0), 1);
    EXPECT_EQ(b.Read(), nullptr);
    EXPECT_EQ(b.GetError(), FB_BAD_VERSION);
    EXPECT_EQ(b.GetPayloadLength(), 0u);
}

TEST(FileBuilder, WriterAlwaysUsesVersionTwoWhateverItRead) {
    Tools tools;
    TempDir dir;
    WriteFile(dir / "f.dat", tools.Container(Version(3), kText, kText));
    CFileBuilder b(dir / "f.dat");
    ASSERT_EQ(b.Open(1, 0), 1);
    ASSERT_NE(b.Read(), nullptr);
    EXPECT_EQ(b.GetVersion()[0], 3);
    ASSERT_EQ(b.Open(0, 0), 1);
    ASSERT_EQ(b.Write("new", 3), FB_SUCCESS);
    EXPECT_EQ(ReadFile(dir / "f.dat").substr(4, 4), Version(2));
    int error = -1;
    EXPECT_EQ(ReadBinary(dir / "f.dat", &error), "new");
}

TEST(FileBuilder, PlainModeKeepsBytesAsTheyAre) {
    TempDir dir;
    const std::string looksLikeContainer = std::string("MC##\x02\x01\x01\x01", 8) + "not really\0inside";
    for (const std::string& bytes : {std::string("plain,text\n#header"), looksLikeContainer}) {
        WriteFile(dir / "p", bytes);
        int error = -1;
        EXPECT_EQ(ReadWith<CFileBuilder>(dir / "p", &error, 1), bytes);
        EXPECT_EQ(ReadWith<CFileBuilderCompressBase64>(dir / "p", &error, 1), bytes);
        EXPECT_EQ(error, FB_SUCCESS);
    }
    for (int base64 : {0, 1}) {
        CFileBuilder plain(dir / "out");
        CFileBuilderCompressBase64 plain64(dir / "out");
        CFileBuilder& b = base64 ? plain64 : plain;
        b.SetPlainMode(1);
        ASSERT_EQ(b.Open(0, 0), 1);
        EXPECT_EQ(b.Write(looksLikeContainer.data(), looksLikeContainer.size()), FB_SUCCESS);
        EXPECT_EQ(ReadFile(dir / "out"), looksLikeContainer);
    }
}

TEST(FileBuilder, WriteFailuresAreReportedAndKeepTheOldFile) {
    TempDir dir;
    {
        CFileBuilderCompressBase64 notOpen(dir / "x");
        EXPECT_EQ(notOpen.Write("abc", 3), FB_NO_DATA);
        EXPECT_EQ(notOpen.GetError(), FB_NO_DATA);
        CFileBuilder binary(dir / "x");
        ASSERT_EQ(binary.Open(0, 0), 1);
        EXPECT_EQ(binary.Write(nullptr, 3), FB_NO_DATA);
        EXPECT_EQ(binary.GetError(), FB_SUCCESS);  // left as Open set it

        // Empty text has no gzip stream: nothing is written.
        CFileBuilderCompressBase64 empty(dir / "x");
        ASSERT_EQ(empty.Open(0, 0), 1);
        EXPECT_EQ(empty.Write("", 0), FB_GZIP_FAILED);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "x"));

    // Opening for writing does not touch the file; an abandoned write keeps it.
    WriteFile(dir / "keep.rules", "old contents");
    {
        CFileBuilderCompressBase64 b(dir / "keep.rules");
        ASSERT_EQ(b.Open(0, 0), 1);
    }
    EXPECT_EQ(ReadFile(dir / "keep.rules"), "old contents");

    // A full disk (a file-size limit here) fails the write and keeps the old file.
    std::string big;
    for (int i = 0; i < 20000; ++i) big += std::to_string(i * 2654435761u) + "\n";
    int result = -1, error = -1;
    {
        CFileBuilderCompressBase64 b(dir / "keep.rules");
        ASSERT_EQ(b.Open(0, 0), 1);
        testsupport::FileSizeLimit full(1024);
        ASSERT_TRUE(full.active());
        result = b.Write(big.data(), big.size());
        error = b.GetError();
    }
    EXPECT_EQ(result, FB_WRITE_FAILED);
    EXPECT_EQ(error, FB_WRITE_FAILED);
    EXPECT_EQ(ReadFile(dir / "keep.rules"), "old contents");

    // A folder in the way of the file.
    std::filesystem::create_directory(dir / "folder");
    CFileBuilder b(dir / "folder");
    ASSERT_EQ(b.Open(0, 0), 1);
    EXPECT_EQ(b.Write("abc", 3), FB_WRITE_FAILED);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));

    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 2u);  // keep.rules and folder: no temporary files left
}

TEST(FileBuilder, LargeTextRoundTrips) {
    TempDir dir;
    std::string text;
    for (int i = 0; i < 100000; ++i) text += std::to_string(i) + ".0.0.0/8\n";
    {
        CFileBuilderCompressBase64 b(dir / "big.rules");
        ASSERT_EQ(b.Open(0, 0), 1);
        ASSERT_EQ(b.Write(text.data(), text.size()), FB_SUCCESS);
    }
    int error = -1;
    EXPECT_EQ(ReadBase64(dir / "big.rules", &error), text);
}

TEST(FileBuilder, OpenFailureShowsABoxOnlyWhenAsked) {
    TempDir dir;
    std::vector<std::pair<std::wstring, std::wstring>> shown;
    MessageBoxSink previous =
        SetMessageBoxSink([&](const std::wstring& text, const std::wstring& caption, unsigned) {
            shown.emplace_back(text, caption);
            return IDOK;
        });
    CFileBuilder quiet(dir / "missing.dat");
    EXPECT_EQ(quiet.Open(1, 0), 0);
    EXPECT_TRUE(shown.empty());
    CFileBuilder loud(dir / "missing.dat");
    EXPECT_EQ(loud.Open(1, 1), 0);
    CFileBuilder noFolder(dir / "no" / "file.dat");
    EXPECT_EQ(noFolder.Open(0, 1), 0);
    SetMessageBoxSink(std::move(previous));

    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].first, L"Open file " + (dir / "missing.dat").wstring() +
                                  L" error, error msg: No such file or directory");
    EXPECT_EQ(shown[0].second, L"Open file in CFileBuilder::Open");
    EXPECT_EQ(shown[1].first, L"Open file " + (dir / "no" / "file.dat").wstring() +
                                  L" error, error msg: No such file or directory");
}
