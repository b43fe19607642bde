// Windows programs through Wine: names, paths and commands (real runs are
// the post-processing tests').
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/system_error.h"
#include "platform/windows_side.h"
#include "platform/wine.h"
#include "tests/engine/launch_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using launchtest::CEnvVar;

TEST(WineNamesTest, WindowsProgramsAreKnownByTheirEnding) {
    for (const char* pszName : {"a.exe", "B.EXE", "x/run.bat", "setup.Cmd", "old.com"})
        EXPECT_TRUE(platform::IsWindowsProgram(pszName)) << pszName;
    for (const char* pszName : {"run.sh", "exe", "a.exe.txt", ".exe/x"})
        EXPECT_FALSE(platform::IsWindowsProgram(pszName)) << pszName;
}

TEST(WinePathTest, PrefixDriveCBecomesCAndTheRestZ) {
    CEnvVar prefix("WINEPREFIX", std::string("/home/u/pfx"));
    EXPECT_EQ(platform::ToWineWindowsPath("/home/u/pfx/drive_c/windows/system32/x.dll"),
              "C:\\windows\\system32\\x.dll");
    EXPECT_EQ(platform::ToWineWindowsPath("/home/u/pfx/drive_c"), "C:\\");
    EXPECT_EQ(platform::ToWineWindowsPath("/home/u/pfx/drive_cx/a"),
              "Z:\\home\\u\\pfx\\drive_cx\\a");
    EXPECT_EQ(platform::ToWineWindowsPath("/opt/app/a b.reg"), "Z:\\opt\\app\\a b.reg");
    EXPECT_EQ(platform::ToWineWindowsPath("rel/x.dll"), "rel\\x.dll");
}

// The way back: a Windows drive path names a folder in the prefix.
TEST(WinePathTest, DrivePathsMapIntoThePrefix) {
    CEnvVar prefix("WINEPREFIX", std::string("/p"));
    EXPECT_EQ(platform::MapWindowsDrivePath("c:\\Windows\\x.dll"), "/p/drive_c/Windows/x.dll");
    EXPECT_EQ(platform::MapWindowsDrivePath("D:dir\\f"), "/p/dosdevices/d:/dir/f");
    EXPECT_EQ(platform::MapWindowsDrivePath("rel\\x"), "rel\\x");
}

TEST(WineCommandTest, ProgramsDirectlyScriptsThroughCmd) {
    CEnvVar prefix("WINEPREFIX", std::string("/p"));
    EXPECT_EQ(platform::BuildWineCommand("/usr/bin/wine", "/opt/a/setup.exe", {"/S", "x y"}),
              (std::vector<std::string>{"/usr/bin/wine", "/opt/a/setup.exe", "/S", "x y"}));
    EXPECT_EQ(platform::BuildWineCommand("wine", "/opt/a/Run.BAT", {"1"}),
              (std::vector<std::string>{"wine", "cmd", "/c", "Z:\\opt\\a\\Run.BAT", "1"}));
    EXPECT_EQ(platform::WineEnvironment(), std::vector<std::string>{"WINEPREFIX=/p"});
}

TEST(WineMissingTest, WindowsProgramsFailToStartWithoutWine) {
    CTempDir dir;
    CEnvVar path("PATH", dir.Path());
    ASSERT_EQ(platform::FindWine(), "");
    for (const char* pszName : {"setup.exe", "run.bat"}) {
        EXPECT_FALSE(platform::StartShellProgram(dir.WriteFile(pszName, "MZ"), {}).IsValid());
        EXPECT_EQ(platform::GetLastSystemError(), ENOENT) << pszName;
    }
    EXPECT_FALSE(platform::StartRegeditImport(dir.WriteFile("a.reg", "")).IsValid());
    EXPECT_EQ(platform::GetLastSystemError(), ENOENT);
}

}  // namespace
