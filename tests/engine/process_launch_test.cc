// The engine's program starts: parameter words, waiting with and without
// the stop flag, and failures, with real shell scripts as programs.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "engine/sync_engine.h"
#include "tests/engine/launch_test_support.h"
#include "tests/support/recording_front_end.h"
#include "tests/support/temp_dir.h"

namespace {

using launchtest::IsAlive;
using launchtest::WaitForFile;
using launchtest::WriteScript;

const char* const kWaiting = "SetStatusText:실행된 파일이 종료 되기를 기다리는 중...";
const char* const kInterrupted = "SetStatusText:대기 상태가 중단 되었습니다.";

class ProcessLaunchTest : public ::testing::Test {
protected:
    void SetUp() override { m_engine.m_pDlg = &m_dlg; }

    // A script that writes its pid, then sleeps; returns the script's path.
    std::string Sleeper(const std::string& strName) {
        return WriteScript(m_dir, strName, "echo $$ > '" + PidFile() + "'\nexec sleep 30\n");
    }
    std::string PidFile() const { return m_dir.Sub("pid"); }
    int StartedPid() {
        EXPECT_TRUE(WaitForFile(PidFile(), 5000));
        return std::stoi(ReadWholeFile(PidFile()));
    }

    launchtest::CLogCapture m_log;
    CTempDir m_dir;
    CRecordingFrontEnd m_dlg;
    CSyncEngine m_engine;
};

TEST_F(ProcessLaunchTest, ParameterTextIsSplitIntoWords) {
    std::string strOut = m_dir.Sub("args.txt");
    std::string strScript = WriteScript(
        m_dir, "args.sh",
        "{ echo \"$#\"; for a in \"$@\"; do echo \"[$a]\"; done; } > '" + strOut + "'\n");

    platform::CProcess process =
        m_engine.GetProcessHandleByShellExecute(strScript, "/s  \"a b\" \"\" last");
    ASSERT_TRUE(process.IsValid());
    process.Wait(-1);
    EXPECT_EQ(ReadWholeFile(strOut), "4\n[/s]\n[a b]\n[]\n[last]\n");
    EXPECT_TRUE(m_log.Has("INFO", "CSyncEngine::GetProcessHandleByShellExecute> File=" + strScript +
                                      ", Parameters=/s  \"a b\" \"\" last"));

    // An empty text is no parameters at all, not one empty word.
    platform::CProcess none = m_engine.GetProcessHandleByShellExecute(strScript, "");
    ASSERT_TRUE(none.IsValid());
    none.Wait(-1);
    EXPECT_EQ(ReadWholeFile(strOut), "0\n");
}

TEST_F(ProcessLaunchTest, StartWithWaitReturnsAfterTheProgramEnded) {
    std::string strMarker = m_dir.Sub("marker");
    std::string strScript =
        WriteScript(m_dir, "slow.sh", "sleep 0.3\necho done > '" + strMarker + "'\n");
    EXPECT_EQ(m_engine.StartExeFileByShellExecute(strScript, "", 1), 0);
    EXPECT_EQ(ReadWholeFile(strMarker), "done\n");
    EXPECT_TRUE(
        m_log.Has("DEBUG", "CSyncEngine::StartExeFileByShellExecute> ShellExecuteEx() Success."));
    EXPECT_TRUE(m_log.Has(
        "DEBUG",
        "CSyncEngine::StartExeFileByShellExecute> WaitForSingleObject Return, RetVal = 0"));
}

TEST_F(ProcessLaunchTest, StartWithoutWaitReturnsWhileTheProgramRuns) {
    std::string strScript = Sleeper("sleeper.sh");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_engine.StartExeFileByShellExecute(strScript, "", 0, m_dir.Path()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    int nPid = StartedPid();
    EXPECT_TRUE(IsAlive(nPid));
    EXPECT_FALSE(m_log.Mentions("WaitForSingleObject"));
    kill(nPid, SIGKILL);
}

TEST_F(ProcessLaunchTest, MissingProgramIsNotStarted) {
    std::string strMissing = m_dir.Sub("missing.sh");
    EXPECT_EQ(m_engine.StartExeFileByShellExecute(strMissing, "x", 1), 1);
    EXPECT_TRUE(m_log.Has(
        "INFO", "CSyncEngine::GetProcessHandleByShellExecute> ShellExecuteEx() Fail, ErrNo = 2"));
    EXPECT_TRUE(
        m_log.Has("ERROR", "CSyncEngine::StartExeFileByShellExecute> ShellExecuteEx() Failed."));

    EXPECT_EQ(m_engine.StartExeFileByShellExecuteAndWaitClose(strMissing, ""), 1);
    EXPECT_TRUE(m_log.Has(
        "ERROR", "CSyncEngine::StartExeFileByShellExecuteAndWaitClose> ShellExecuteEx() Failed."));
    EXPECT_TRUE(m_dlg.Calls().empty());
}

TEST_F(ProcessLaunchTest, WindowsProgramWithoutWineIsNotStarted) {
    launchtest::CEnvVar path("PATH", m_dir.Sub("no-wine-here"));
    std::string strExe = m_dir.WriteFile("setup.exe", "MZ");
    EXPECT_EQ(m_engine.StartExeFileByShellExecuteAndWaitClose(strExe, "/quiet"), 1);
    EXPECT_TRUE(m_log.Has(
        "INFO", "CSyncEngine::GetProcessHandleByShellExecute> ShellExecuteEx() Fail, ErrNo = 2"));
}

TEST_F(ProcessLaunchTest, WaitCloseEndsWithTheProgram) {
    std::string strScript = WriteScript(m_dir, "quick.sh", "exit 0\n");
    EXPECT_EQ(m_engine.StartExeFileByShellExecuteAndWaitClose(strScript, ""), 0);
    EXPECT_EQ(m_dlg.Calls(), std::vector<std::string>{kWaiting});
    std::string strPrefix = "CSyncEngine::StartExeFileByShellExecuteAndWaitClose> ";
    EXPECT_TRUE(m_log.Has("DEBUG", strPrefix +
                                       "ShellExecuteEx() Success. And now wait for the process "
                                       "to terminate."));
    EXPECT_TRUE(m_log.Has("INFO", strPrefix + "WaitForSingleObject Return, nRet = WAIT_OBJECT_0"));
    EXPECT_TRUE(
        m_log.Has("DEBUG", strPrefix + "'" + strScript + "' > The process has been terminated."));
}

TEST_F(ProcessLaunchTest, StopRequestEndsTheWaitAndLeavesTheProgramRunning) {
    std::string strScript = Sleeper("long wait.sh");
    std::chrono::steady_clock::time_point stopTime;
    std::thread stopper([&] {
        StartedPid();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stopTime = std::chrono::steady_clock::now();
        m_engine.m_nRequestStopFlag = 1;
    });
    EXPECT_EQ(m_engine.StartExeFileByShellExecuteAndWaitClose(strScript, ""), 0);
    auto endTime = std::chrono::steady_clock::now();
    stopper.join();
    EXPECT_LT(endTime - stopTime, std::chrono::seconds(1));

    int nPid = StartedPid();
    EXPECT_TRUE(IsAlive(nPid));
    EXPECT_EQ(m_dlg.Calls(), (std::vector<std::string>{kWaiting, kInterrupted}));
    EXPECT_TRUE(m_log.Has("DEBUG", "CSyncEngine::StartExeFileByShellExecuteAndWaitClose> '" +
                                       strScript + "' > The end wait has been interrupted."));
    EXPECT_FALSE(m_log.Mentions("The process has been terminated."));
    kill(nPid, SIGKILL);
}

// The plain launcher's wait (regsvr32 with w=1) ends on a stop request too.
TEST_F(ProcessLaunchTest, StopRequestEndsThePlainWait) {
    std::string strScript = Sleeper("hung tool.sh");
    std::thread stopper([&] {
        StartedPid();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        m_engine.m_nRequestStopFlag = 1;
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_engine.StartExeFileByShellExecute(strScript, "", 1), 0);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    int nPid = StartedPid();
    EXPECT_TRUE(IsAlive(nPid));
    EXPECT_TRUE(m_log.Has(
        "DEBUG", "CSyncEngine::StartExeFileByShellExecute> WaitForSingleObject Return, RetVal = -1"));
    kill(nPid, SIGKILL);
}

TEST_F(ProcessLaunchTest, StopAlreadyRequestedReturnsAtOnce) {
    m_engine.m_nRequestStopFlag = 1;
    std::string strScript = Sleeper("sleeper.sh");
    EXPECT_EQ(m_engine.StartExeFileByShellExecuteAndWaitClose(strScript, ""), 0);
    int nPid = StartedPid();
    EXPECT_TRUE(IsAlive(nPid));
    EXPECT_EQ(m_dlg.Calls(), (std::vector<std::string>{kWaiting, kInterrupted}));
    kill(nPid, SIGKILL);
}

}  // namespace
