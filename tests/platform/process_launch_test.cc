// Starting and waiting for programs: real shell scripts as programs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <utility>

#include "platform/folder_lock.h"
#include "platform/process.h"
#include "platform/system_error.h"
#include "tests/engine/launch_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using launchtest::IsAlive;
using launchtest::WaitForFile;
using launchtest::WriteScript;
using platform::CProcess;

class ProcessHandleTest : public ::testing::Test {
protected:
    CTempDir m_dir;
};

TEST_F(ProcessHandleTest, RunsProgramWithArgumentsFolderAndEnvironment) {
    std::string strOut = m_dir.Sub("out.txt");
    std::string strScript = WriteScript(
        m_dir, "show.sh",
        "{ echo \"$#\"; for a in \"$@\"; do echo \"[$a]\"; done; pwd; echo \"$TIDE_PROBE\"; } > '" +
            strOut + "'\n");
    std::string strWork = m_dir.Sub("work");
    mkdir(strWork.c_str(), 0755);
    // The entry replaces the variable we have ourselves.
    launchtest::CEnvVar probe("TIDE_PROBE", std::string("old"));
    CProcess process =
        platform::StartProcess(strScript, {"a b", "", "c"}, strWork, {"TIDE_PROBE=probe value"});
    ASSERT_TRUE(process.IsValid());
    EXPECT_GT(process.GetPid(), 0);
    EXPECT_EQ(process.Wait(-1), CProcess::WaitResult::kEnded);
    EXPECT_EQ(ReadWholeFile(strOut), "3\n[a b]\n[]\n[c]\n" + strWork + "\nprobe value\n");
    // An ended program stays ended.
    EXPECT_EQ(process.Wait(0), CProcess::WaitResult::kEnded);
}

TEST_F(ProcessHandleTest, StartFailuresAreReportedWithTheReason) {
    CProcess missing = platform::StartProcess(m_dir.Sub("no-such-program"), {});
    EXPECT_FALSE(missing.IsValid());
    EXPECT_EQ(platform::GetLastSystemError(), ENOENT);

    std::string strPlain = m_dir.WriteFile("plain.sh", "#!/bin/sh\nexit 0\n");
    chmod(strPlain.c_str(), 0644);
    CProcess notExecutable = platform::StartProcess(strPlain, {});
    EXPECT_FALSE(notExecutable.IsValid());
    EXPECT_EQ(platform::GetLastSystemError(), EACCES);

    std::string strOk = WriteScript(m_dir, "ok.sh", "exit 0\n");
    CProcess badFolder = platform::StartProcess(strOk, {}, m_dir.Sub("no-such-folder"));
    EXPECT_FALSE(badFolder.IsValid());
    EXPECT_EQ(platform::GetLastSystemError(), ENOENT);
    EXPECT_EQ(badFolder.Wait(0), CProcess::WaitResult::kFailed);
}

// A child whose exec failed must not hold the folder's lock on past the
// failure: the next run would be refused as "already running".
TEST_F(ProcessHandleTest, FailedStartLeavesNoCopyOfTheFolderLock) {
    std::string strFolder = m_dir.Sub("install");
    mkdir(strFolder.c_str(), 0755);
    for (int nRound = 0; nRound < 40; ++nRound) {
        {
            platform::CFolderLock lock;
            ASSERT_TRUE(lock.TryLock(strFolder));
            if (nRound % 2 == 0)
                EXPECT_FALSE(platform::StartProcess(m_dir.Sub("no-such-program"), {}).IsValid());
            else
                EXPECT_FALSE(platform::StartDetachedProcess(m_dir.Sub("no-such-program"), {}, ""));
        }
        platform::CFolderLock next;
        ASSERT_TRUE(next.TryLock(strFolder)) << "round " << nRound;
    }
}

TEST_F(ProcessHandleTest, ClosingTheHandleLeavesTheProgramRunningAndNoChildBehind) {
    std::string strPidFile = m_dir.Sub("pid");
    std::string strScript =
        WriteScript(m_dir, "sleeper.sh", "echo $$ > '" + strPidFile + "'\nexec sleep 30\n");
    CProcess started = platform::StartProcess(strScript, {});
    ASSERT_TRUE(started.IsValid());
    int nPid = started.GetPid();
    CProcess moved(std::move(started));  // the handle moves with its program
    EXPECT_FALSE(started.IsValid());     // NOLINT(bugprone-use-after-move): the moved-from state
    CProcess process;
    process = std::move(moved);
    EXPECT_FALSE(moved.IsValid());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(process.GetPid(), nPid);
    EXPECT_EQ(process.Wait(100), CProcess::WaitResult::kTimeout);
    ASSERT_TRUE(WaitForFile(strPidFile, 5000));
    EXPECT_EQ(std::stoi(ReadWholeFile(strPidFile)), nPid);

    process.Close();
    EXPECT_FALSE(process.IsValid());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(IsAlive(nPid));
    // The program is not our child: there is nothing of ours to reap, ever.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    kill(nPid, SIGKILL);
}

TEST_F(ProcessHandleTest, WaitSeesTheEndOfAProgramThatWasKilled) {
    std::string strScript = WriteScript(m_dir, "sleeper.sh", "exec sleep 30\n");
    CProcess process = platform::StartProcess(strScript, {});
    ASSERT_TRUE(process.IsValid());
    EXPECT_EQ(process.Wait(50), CProcess::WaitResult::kTimeout);
    kill(process.GetPid(), SIGKILL);
    EXPECT_EQ(process.Wait(5000), CProcess::WaitResult::kEnded);
}

TEST_F(ProcessHandleTest, FindsProgramsOnPathAndMakesFilesExecutable) {
    EXPECT_FALSE(platform::FindProgramInPath("sh").empty());
    EXPECT_EQ(platform::FindProgramInPath("tidewell-no-such-program"), "");

    std::string strTool = WriteScript(m_dir, "bin/tide-tool", "exit 0\n");
    launchtest::CEnvVar path("PATH", m_dir.Sub("empty") + "::" + m_dir.Sub("bin"));
    EXPECT_EQ(platform::FindProgramInPath("tide-tool"), strTool);
    // A folder of that name on PATH is no program.
    mkdir(m_dir.Sub("empty").c_str(), 0755);
    mkdir(m_dir.Sub("empty/tide-dir").c_str(), 0755);
    EXPECT_EQ(platform::FindProgramInPath("tide-dir"), "");

    std::string strDownloaded = m_dir.WriteFile("dl.sh", "#!/bin/sh\nexit 0\n");
    chmod(strDownloaded.c_str(), 0640);
    ASSERT_TRUE(platform::MakeExecutable(strDownloaded));
    struct stat st {};
    stat(strDownloaded.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
    EXPECT_FALSE(platform::MakeExecutable(m_dir.Sub("missing")));
}

}  // namespace
