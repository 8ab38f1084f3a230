#include "foundation/os_version.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <filesystem>

TEST(OsVersion, DescriptionFromOsReleaseAndUname) {
    const char* debian =
        "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"
        "VERSION=\"12 (bookworm)\"\nID=debian\n";
    struct Case {
        const char* osRelease;
        const char* machine;
        const char* expected;
    };
    const Case cases[] = {
        {debian, "x86_64", "Debian GNU/Linux 12 (bookworm) Linux 6.1.0-18-amd64 #1 SMP x64"},
        {"NAME=Alpine\nVERSION='3.19 \\'edge\\''\n", "i686",
         "Alpine 3.19 'edge' Linux 6.1.0-18-amd64 #1 SMP x32"},
        {"NAME=Plain\n", "aarch64", "Plain Linux 6.1.0-18-amd64 #1 SMP x64"},
        {"", "armv7l", "Linux 6.1.0-18-amd64 #1 SMP x32"},
        {"PRETTY_NAME = \"Spaced\" \r\n", "x86_64", "Spaced Linux 6.1.0-18-amd64 #1 SMP x64"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DescribeOperatingSystem(c.osRelease, "Linux", "6.1.0-18-amd64", "#1 SMP", c.machine),
                  c.expected)
            << c.osRelease;
    }
    EXPECT_EQ(OsReleaseValue(debian, "ID"), "debian");
    EXPECT_EQ(OsReleaseValue(debian, "VERSION_CODENAME"), "");

    // This machine: its kernel release and architecture appear.
    utsname u{};
    ASSERT_EQ(uname(&u), 0);
    std::string text = CGetWindowsVer().GetDescription();
    EXPECT_NE(text.find(u.release), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 3), sizeof(void*) == 8 ? "x64" : "x32");
}

TEST(OsVersion, OnlyTheProgramsOwnExecutableHasAVersion) {
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(GetProductVersionText(self), kProductVersion);
    EXPECT_EQ(GetProductVersionText(self, 3), "2.6");
    EXPECT_EQ(GetProductVersionText("/bin/sh"), "Unknown");
    EXPECT_EQ(GetProductVersionText("/no/such/file"), "Unknown");
    EXPECT_EQ(GetProductVersionText("/no/such/file", 3), "Unk");

    ModuleVersion mv;
    ASSERT_TRUE(ReadModuleVersion(self, &mv));
    EXPECT_EQ(mv.product, "Cendrow");
    EXPECT_EQ(mv.fileVersion[0], 2);
    EXPECT_EQ(mv.productVersion[1], 6);
    EXPECT_FALSE(ReadModuleVersion("/bin/sh", &mv));
    EXPECT_EQ(mv.product, "");
    EXPECT_EQ(mv.fileVersion[0], 0);

    CFileVersionInfo info;
    ASSERT_TRUE(ReadFileVersionInfo(self, &info));
    EXPECT_EQ(info.productVersion, kProductVersion);
    EXPECT_GT(info.lastModified, 0);
    EXPECT_FALSE(ReadFileVersionInfo("/bin/sh", &info));
    EXPECT_EQ(info.productVersion, "");
    EXPECT_GT(info.lastModified, 0);  // the file's time even without version information
    EXPECT_FALSE(ReadFileVersionInfo("/no/such/file", &info));
    EXPECT_EQ(info.lastModified, 0);
}
