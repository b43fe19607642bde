// The application shell: command words, the launcher's copy-and-restart,
// shortcuts and the start and end of a real process.
#include "app/tide_app.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "app/app_front_end.h"
#include "app/tide_globals.h"
#include "platform/file_system.h"
#include "tests/engine/launch_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

class CRecordingAppFrontEnd : public IAppFrontEnd {
public:
    int ShowMessageBox(const std::string& strText, const std::string& strCaption,
                       unsigned) override {
        m_vecBoxes.push_back(strCaption + "|" + strText);
        return 1;
    }
    int RunMainDialog(CTideApp&) override { return 0; }
    std::vector<std::string> m_vecBoxes;
};

std::string LogFileName(const std::string& strPrefix) {
    time_t now = time(nullptr);
    tm parts{};
    localtime_r(&now, &parts);
    char szDate[16];
    strftime(szDate, sizeof(szDate), "%Y%m%d", &parts);
    return strPrefix + "_" + szDate + ".log";
}

}  // namespace

// The run mode is the first word, the allowed types the second (commas
// and blanks inside it split it); empty types allow all, case matters.
TEST(CommandLine, RunModeAndAllowedTypes) {
    using S = std::set<std::string>;
    const char* argv[] = {"TidewellKiro", "3", "dll, ocx", "", "a\"b"};
    const struct {
        std::string strLine;
        const char* pszMode;
        S setTypes;
    } kCases[] = {
        {"3 dll,ocx", "3", {"dll", "ocx"}},
        {"3 dll, ocx", "3", {"dll"}},  // "dll," is the second word
        {"3 \"dll, ocx\"", "3", {"dll", "ocx"}},
        {JoinCommandLine(5, argv), "3", {"dll", "ocx"}},  // split back into the same words
        {"", "", {}},
    };
    for (const auto& c : kCases) {
        CTideApp app(nullptr);
        app.ParseCommandLine(c.strLine);
        EXPECT_EQ(app.m_strRunMode, c.pszMode) << c.strLine;
        EXPECT_EQ(app.m_mapAllowFileType, c.setTypes) << c.strLine;
    }
    CTideApp app(nullptr);
    EXPECT_EQ(app.IsAllowFileType("dll"), 1);
    app.ParseAllowFileType(" dll , ,ocx,, ");
    for (const char* pszType : {"dll", "ocx", ""})
        EXPECT_EQ(app.IsAllowFileType(pszType), 1) << pszType;
    for (const char* pszType : {"DLL", "exe"})
        EXPECT_EQ(app.IsAllowFileType(pszType), 0) << pszType;
}

TEST(AppFacts, LinkNamesTakeTheEdition) {
    UpdateLinkNames("Corvid5 Loomhall Kiro", "Beta");
    EXPECT_EQ(g_szLinkName, "Corvid5 Loomhall Kiro Beta");
    EXPECT_EQ(g_szFallbackLinkName, "Corvid Loomhall - 다운로드 장애시 Beta");
}

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_szBaseDir = m_dir.Path();
        m_strSource = m_dir.Sub("TidewellKiro");
        m_strRunCopy = m_dir.Sub("TidewellKiroRun1");
        m_strMarker = m_dir.Sub("started");
    }
    // A stand-in updater: a script that records the word it was started with.
    void WriteUpdater() {
        launchtest::WriteScript(m_dir, "TidewellKiro",
                                "# v1\necho \"$1\" > '" + m_strMarker + ".tmp' && mv '" +
                                    m_strMarker + ".tmp' '" + m_strMarker + "'\n");
    }
    CTempDir m_dir;
    CRecordingAppFrontEnd m_frontEnd;
    std::string m_strSource, m_strRunCopy, m_strMarker;
};

// The run-copy is made when missing and started with "1". One of the same
// size whose time is within a minute of the updater's counts as up to date
// and is started as it is; 61 seconds apart it is replaced.
TEST_F(LauncherTest, RunCopyIsMadeOrReplacedOnlyWhenOutOfDate) {
    for (int nOffset : {0, -60, 61}) {
        SCOPED_TRACE(nOffset);
        std::remove(m_strMarker.c_str());
        WriteUpdater();
        std::string strSource = ReadWholeFile(m_strSource);
        std::string strOther = strSource;
        strOther[strOther.find("v1") + 1] = '2';
        if (nOffset != 0) {
            std::ofstream(m_strRunCopy) << strOther;
            chmod(m_strRunCopy.c_str(), 0755);
            platform::FileStatus st;
            ASSERT_TRUE(platform::GetFileStatus(m_strSource, &st));
            platform::SetFileModifyTime(m_strRunCopy, st.nModifyTime + nOffset);
        }
        CTideApp app(&m_frontEnd);
        EXPECT_EQ(app.CopyAndRunSelf(), 0);
        ASSERT_TRUE(launchtest::WaitForFile(m_strMarker, 10000));
        EXPECT_EQ(ReadWholeFile(m_strMarker), "1\n");
        EXPECT_EQ(ReadWholeFile(m_strRunCopy), nOffset == -60 ? strOther : strSource);
    }
    EXPECT_TRUE(m_frontEnd.m_vecBoxes.empty());
}

// Without the updater the launcher goes on silently; a program that does
// not start is reported.
TEST_F(LauncherTest, MissingUpdaterOrProgram) {
    CTideApp app(&m_frontEnd);
    EXPECT_EQ(app.CopyAndRunSelf(), -1);
    EXPECT_TRUE(m_frontEnd.m_vecBoxes.empty());
    EXPECT_FALSE(platform::FileExists(m_strRunCopy));
    EXPECT_EQ(app.RunVersionProgram(m_dir.Sub("missing"), "1"), 0xFFFF);
    ASSERT_EQ(m_frontEnd.m_vecBoxes.size(), 1u);
    EXPECT_NE(
        m_frontEnd.m_vecBoxes[0].find("Can't Execute Version Management Program, ErrCode = 2"),
        std::string::npos);
}
TEST_F(LauncherTest, RunningOutOfDateCopyIsReportedAndNothingStarts) {
    // The run-copy is a running program; writing over it must fail.
    ASSERT_TRUE(platform::CopyFileOver("/bin/sleep", m_strRunCopy));
    pid_t pid = fork();
    if (pid == 0) {
        execl(m_strRunCopy.c_str(), m_strRunCopy.c_str(), "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    WriteUpdater();

    CTideApp app(&m_frontEnd);
    EXPECT_EQ(app.CopyAndRunSelf(), 0);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);

    ASSERT_EQ(m_frontEnd.m_vecBoxes.size(), 1u);
    const std::string& strBox = m_frontEnd.m_vecBoxes[0];
    EXPECT_NE(strBox.find("프로그램을 복사할 수 없습니다.\n기존에 실행중인 프로그램을 종료후 "
                          "다시시작하세요.\n에러 내용 : (26) Text file busy"),
              std::string::npos)
        << strBox;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(platform::FileExists(m_strMarker));
}

// The built executable, run as a person would run it.
class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_strInstall = m_dir.Sub("install");
        ASSERT_TRUE(platform::MakeDirectory(m_strInstall));
        ASSERT_TRUE(platform::MakeDirectory(m_dir.Sub("desktop")));
        m_strExe = m_strInstall + "/TidewellKiro";
        ASSERT_TRUE(platform::CopyFileOver(TIDEWELL_BINARY_DIR "/console/TidewellKiro", m_strExe));
        m_strEnv = "HOME='" + m_dir.Sub("home") + "' XDG_DESKTOP_DIR='" + m_dir.Sub("desktop") +
                   "' XDG_DATA_HOME='" + m_dir.Sub("data") + "' XDG_CONFIG_HOME='" +
                   m_dir.Sub("xdgconfig") + "' ";
    }
    int Run(const std::string& strArgs) {
        return RunShell(m_strEnv + "'" + m_strExe + "' " + strArgs + " </dev/null >" +
                        m_dir.Sub("out.txt") + " 2>&1");
    }
    CTempDir m_dir;
    std::string m_strInstall, m_strExe, m_strEnv;
};

// Without settings there is nothing to update from: a start failure, but the
// shell's own work is done all the same: log, folders, shortcuts, and "temp"
// emptied at the end (read-only folders in it too) and kept.
TEST_F(ProcessTest, RunCopyModeWritesLogFoldersAndShortcuts) {
    ASSERT_TRUE(platform::MakeDirectory(m_strInstall + "/temp"));
    ASSERT_TRUE(platform::MakeDirectory(m_strInstall + "/temp/sub"));
    std::ofstream(m_strInstall + "/temp/sub/a.txt") << "x";
    chmod((m_strInstall + "/temp/sub").c_str(), 0555);
    ASSERT_EQ(Run("1"), 1) << ReadWholeFile(m_dir.Sub("out.txt"));
    std::string strLog = ReadWholeFile(m_strInstall + "/log/" + LogFileName("Tidewell_1"));
    EXPECT_NE(strLog.find("DEBUG CTideApp::ExitInstance> Delete g_pMyLog."), std::string::npos)
        << strLog;
    std::vector<platform::DirEntry> entries;
    EXPECT_TRUE(platform::ListDirectory(m_strInstall + "/config", &entries));
    ASSERT_TRUE(platform::ListDirectory(m_strInstall + "/temp", &entries));
    EXPECT_TRUE(entries.empty());
    const std::string strGroup = "data/applications/Vellmark Corvid/";
    const std::pair<std::string, std::string> kLinks[] = {
        {"desktop/Corvid5 Loomhall Kiro.desktop", "Exec=\"" + m_strExe + "\"\n"},
        {strGroup + "Corvid5 Loomhall Kiro.desktop", "Categories=X-vellmark-corvid;"},
        {strGroup + "Corvid Loomhall - 다운로드 장애시.desktop",
         "Exec=\"" + m_strInstall + "/Corvid@LoomhallKiro\""},
        {"xdgconfig/menus/applications-merged/vellmark-corvid.menu",
         "<Category>X-vellmark-corvid</Category>"}};
    for (const auto& [strFile, strLine] : kLinks)
        EXPECT_NE(ReadWholeFile(m_dir.Sub(strFile)).find(strLine), std::string::npos) << strFile;
}

TEST_F(ProcessTest, ResourceModeCreatesNoShortcuts) {
    ASSERT_EQ(Run("3 dll,ocx"), 1);
    EXPECT_TRUE(platform::FileExists(m_strInstall + "/log/" + LogFileName("Tidewell_3")));
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("desktop/Corvid5 Loomhall Kiro.desktop")));
}
