#include "engine/base/engine_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/temp_dir.h"

TEST(EngineUtil, StrDupAndJoin) {
    EXPECT_EQ(Engine_StrDup(nullptr), nullptr);
    char* d = Engine_StrDup("abc");
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d, "abc");
    std::free(d);
    const char* parts[] = {"user", "@", "10.0.0.1:80"};
    char* j = Engine_JoinStrings(3, parts);
    ASSERT_NE(j, nullptr);
    EXPECT_STREQ(j, "user@10.0.0.1:80");
    std::free(j);
    char* empty = Engine_JoinStrings(0, parts);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    std::free(empty);
}

TEST(EngineUtil, ReadPasswordFileGrowsBuffer) {
    testsupport::TempDir dir;
    for (size_t size : {size_t{0}, size_t{127}, size_t{128}, size_t{129}, size_t{1000}}) {
        std::string content(size, 'k');
        if (size) content[size - 1] = '\0';  // binary content is kept as is
        testsupport::WriteFile(dir / "pw", content);
        size_t len = 99;
        uint8_t* buf = Engine_ReadPasswordFile((dir / "pw").c_str(), &len);
        ASSERT_NE(buf, nullptr) << size;
        EXPECT_EQ(len, size);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), content);
        std::free(buf);
    }
    size_t len;
    EXPECT_EQ(Engine_ReadPasswordFile((dir / "missing").c_str(), &len), nullptr);
}
