// Windows programs through Wine: names, paths and commands (real runs, and
// starts without Wine, are the post-processing tests').
#include <gtest/gtest.h>

#include <string>

#include "platform/windows_side.h"
#include "platform/wine.h"
#include "tests/engine/launch_test_support.h"

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

}  // namespace
