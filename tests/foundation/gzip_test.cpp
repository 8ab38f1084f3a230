#include "foundation/gzip.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string SampleText() {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "10." + std::to_string(i % 256) + ".0.0/16\n";
    return text;
}

// `gzip -c` of the bytes, from the system's own gzip.
std::string SystemGzip(const TempDir& dir, const std::string& bytes) {
    WriteFile(dir / "plain.txt", bytes);
    std::string out;
    EXPECT_EQ(RunCommand({"gzip", "-c", (dir / "plain.txt").string()}, &out), 0);
    return out;
}

}  // namespace

TEST(Gzip, OwnStreamsAreReadBySystemGzipAndBack) {
    TempDir dir;
    std::string text = SampleText();
    auto gz = GzipCompress(text);
    ASSERT_TRUE(gz);
    EXPECT_LT(gz->size(), text.size() / 4);
    WriteFile(dir / "ours.gz", *gz);
    std::string unpacked;
    ASSERT_EQ(RunCommand({"gzip", "-dc", (dir / "ours.gz").string()}, &unpacked), 0);
    EXPECT_EQ(unpacked, text);
    EXPECT_EQ(GzipDecompress(*gz), text);
}

TEST(Gzip, ReadsSystemGzipStreamsWithFileNameHeader) {
    TempDir dir;
    std::string binary;
    for (int i = 0; i < 70000; ++i) binary += static_cast<char>((i * 7919) >> 3);
    for (const std::string& bytes : {SampleText(), binary, std::string("x")}) {
        std::string gz = SystemGzip(dir, bytes);
        ASSERT_GT(gz.size(), 10u);
        ASSERT_EQ(static_cast<unsigned char>(gz[3]) & 0x08, 0x08);  // the name field is there
        EXPECT_EQ(GzipDecompress(gz), bytes);
    }
}

TEST(Gzip, EmptyInputAndEmptyResultGiveNothing) {
    TempDir dir;
    EXPECT_FALSE(GzipCompress(""));
    EXPECT_FALSE(GzipDecompress(""));
    EXPECT_FALSE(GzipDecompress(SystemGzip(dir, "")));
}

TEST(Gzip, DamagedStreamsFail) {
    TempDir dir;
    std::string gz = SystemGzip(dir, SampleText());
    auto damaged = [&](size_t at, char x) {
        std::string s = gz;
        s[at] = static_cast<char>(s[at] ^ x);
        return s;
    };
    struct Case {
        const char* what;
        std::string stream;
    } cases[] = {
        {"bad magic", damaged(0, 1)},
        {"bad method", damaged(2, 1)},
        {"bad deflate data", damaged(gz.size() / 2, 0x55)},
        {"bad CRC", damaged(gz.size() - 8, 1)},
        {"bad length", damaged(gz.size() - 4, 1)},
        {"cut trailer", gz.substr(0, gz.size() - 3)},
        {"cut data", gz.substr(0, gz.size() / 2)},
        {"header only", gz.substr(0, 10)},
        {"not gzip", std::string("plain text, no gzip at all")},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(GzipDecompress(c.stream)) << c.what;
    }
}

TEST(Gzip, OutputCapStopsInflation) {
    std::string zeros(1 << 20, '\0');
    auto gz = GzipCompress(zeros);
    ASSERT_TRUE(gz);
    EXPECT_LT(gz->size(), 4096u);
    EXPECT_FALSE(GzipDecompress(*gz, zeros.size() - 1));
    EXPECT_EQ(GzipDecompress(*gz, zeros.size()), zeros);
    EXPECT_EQ(GzipDecompress(*gz), zeros);
}
