// Windows programs through Wine: names, paths, commands, and real runs in a
// scratch prefix when Wine is installed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <string>

#include "platform/system_error.h"
#include "platform/wine.h"
#include "tests/engine/launch_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using launchtest::CEnvVar;
using platform::CProcess;

TEST(WineNamesTest, WindowsProgramsAreKnownByTheirEnding) {
    for (const char* pszName : {"a.exe", "B.EXE", "x/run.bat", "setup.Cmd", "old.com"}) {
        EXPECT_TRUE(platform::IsWindowsProgram(pszName)) << pszName;
    }
    for (const char* pszName : {"run.sh", "exe", "a.exe.txt", "program", ".exe/x"}) {
        EXPECT_FALSE(platform::IsWindowsProgram(pszName)) << pszName;
    }
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
    std::string strExe = dir.WriteFile("setup.exe", "MZ");
    CProcess exe = platform::StartShellProgram(strExe, {});
    EXPECT_FALSE(exe.IsValid());
    EXPECT_EQ(platform::GetLastSystemError(), ENOENT);
    std::string strBat = dir.WriteFile("run.bat", "echo x\r\n");
    EXPECT_FALSE(platform::StartShellProgram(strBat, {}).IsValid());
    EXPECT_EQ(platform::GetLastSystemError(), ENOENT);
    EXPECT_FALSE(platform::StartRegeditImport(dir.WriteFile("a.reg", "")).IsValid());
    EXPECT_EQ(platform::GetLastSystemError(), ENOENT);
}

// Real Wine runs in the tests' shared prefix.
class WineRunTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_pPrefix = std::make_unique<launchtest::CWinePrefix>(); }
    static void TearDownTestSuite() { s_pPrefix.reset(); }
    void SetUp() override {
        if (!launchtest::HaveWine())
            GTEST_SKIP() << "wine is not installed";
        ASSERT_TRUE(s_pPrefix->Ready());
        m_pPrefixVar = std::make_unique<CEnvVar>("WINEPREFIX", s_pPrefix->Path());
    }

    static std::unique_ptr<launchtest::CWinePrefix> s_pPrefix;
    std::unique_ptr<CEnvVar> m_pPrefixVar;
    CTempDir m_dir;
};

std::unique_ptr<launchtest::CWinePrefix> WineRunTest::s_pPrefix;

TEST_F(WineRunTest, BatchFileRunsThroughCmdInItsWorkingFolder) {
    std::string strBat = m_dir.WriteFile("make marker.bat", "@echo off\r\necho %1> marker.txt\r\n");
    CProcess process = platform::StartShellProgram(strBat, {"hello"}, m_dir.Path());
    ASSERT_TRUE(process.IsValid());
    EXPECT_EQ(process.Wait(120000), CProcess::WaitResult::kEnded);
    EXPECT_EQ(ReadWholeFile(m_dir.Sub("marker.txt")), "hello\r\n");
}

TEST_F(WineRunTest, RegeditImportsIntoThePrefixRegistry) {
    std::string strValue = launchtest::UniqueText("imported-");
    std::string strReg =
        m_dir.WriteFile("tide probe.reg",
                        "Windows Registry Editor Version 5.00\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\TidewellProbe]\r\n\"Value\"=\"" +
                            strValue + "\"\r\n");
    CProcess process = platform::StartRegeditImport(strReg, m_dir.Path());
    ASSERT_TRUE(process.IsValid());
    EXPECT_EQ(process.Wait(120000), CProcess::WaitResult::kEnded);
    EXPECT_TRUE(s_pPrefix->WaitForUserRegistry("\"Value\"=\"" + strValue + "\"", 60000));
}

}  // namespace
