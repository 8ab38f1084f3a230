// Resources by type and id in a program folder.
#include "platform/resources_by_id.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

TEST(ResourcesById, PathsAndReads) {
    testsupport::TempDir dir("cendrow-res");
    EXPECT_EQ(ResourceFilePath(dir.path(), "GIF", 225), dir.path() / "res" / "gif" / "225.gif");
    EXPECT_EQ(ResourceFilePath(dir.path(), "Bitmap", 243), dir.path() / "res" / "bitmap" / "243.bmp");
    EXPECT_EQ(ResourceFilePath(dir.path(), "icon", 149), dir.path() / "res" / "icon" / "149.png");
    EXPECT_TRUE(ResourceFilePath(dir.path(), "CURSOR", 1).empty());
    EXPECT_TRUE(ResourceFilePath(dir.path(), "GIF", -1).empty());
    EXPECT_TRUE(ResourceFilePath(dir.path(), "../GIF", 1).empty());

    std::string bytes;
    EXPECT_FALSE(LoadResourceBytes(dir.path(), "GIF", 225, bytes));
    std::filesystem::create_directories(dir.path() / "res" / "gif");
    testsupport::WriteFile(dir.path() / "res" / "gif" / "225.gif", "GIF89a...");
    ASSERT_TRUE(LoadResourceBytes(dir.path(), "gif", 225, bytes));
    EXPECT_EQ(bytes, "GIF89a...");
    EXPECT_FALSE(LoadResourceBytes(dir.path(), "gif", 225, bytes, 4)) << "larger than the limit";
    EXPECT_TRUE(bytes.empty());
    testsupport::WriteFile(dir.path() / "res" / "gif" / "1.gif", "");
    EXPECT_FALSE(LoadResourceBytes(dir.path(), "gif", 1, bytes)) << "empty";
}
