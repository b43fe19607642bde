// Whole runs of the built updater: the first install and the run after it,
// the exit codes, the launcher, and the terminal front end's own behaviour.
#include <signal.h>

#include <ctime>
#include <functional>

#include "engine/run_controller.h"
#include "platform/file_system.h"
#include "tests/e2e/update_run_fixture.h"

// A program waited for, a deletion and a left part through the process;
// the tool gets the installation folder (blanks, quotes, a backslash) as one
// word; the second run fetches the list only, over one kept-alive
// connection, also for a gzip-encoded file whose record gives no size
// (HEAD's size is the encoded one).
TEST_F(UpdateRunTest, FirstInstallThenASecondRunThatFetchesNothing) {
    WriteRelease("app/readme.txt", "hello reader\n");
    WriteRelease("tools/hello.sh", "#!/bin/sh\necho ran > \"$(dirname \"$0\")/hello.out\"\n", true);
    WriteTool();
    MakeList("--type 'tools/hello.sh=EXE|w=1' --delete old/obsolete.txt");
    m_dir.WriteFile(m_strInstallName + "/old/obsolete.txt", "stale");
    m_dir.WriteFile(m_strInstallName + "/app/.cut.txt.tidewell-part", "from a cut-off run");
    WriteRelease("unsized.txt", std::string(5000, 'u'));
    ASSERT_EQ(RunShell("gzip -9 '" + m_strRelease + "/unsized.txt'"), 0);
    AppendToList("unsized.txt\n");
    // A list changed this very second gives no validator to ask with.
    platform::SetFileModifyTime(m_strRelease + "/_listfile.txt", time(nullptr) - 1000);

    RunResult run = Run("1");
    ASSERT_EQ(run.nExit, 0) << run.strOutput << Log();
    EXPECT_EQ(ReadWholeFile(Installed("unsized.txt")), std::string(5000, 'u'));
    EXPECT_EQ(ReadWholeFile(Installed("tools/hello.out")), "ran\n");
    EXPECT_FALSE(platform::FileExists(Installed("old/obsolete.txt")));
    EXPECT_EQ(Leftovers(m_strInstall), std::vector<std::string>{});
    ASSERT_TRUE(ToolStarted()) << run.strOutput;
    EXPECT_EQ(ReadWholeFile(Installed("tool-started")), m_strInstall + "\n");
    NewGets(5);

    RunResult again = Run("1");
    ASSERT_EQ(again.nExit, 0) << again.strOutput;
    size_t nFirst = m_nSeenRequests;
    EXPECT_EQ(NewGets(2), std::vector<std::string>{"/rel/_listfile.txt"});
    std::vector<NginxAccessEntry> vecAll = m_nginx.AccessLog();
    for (size_t n = nFirst; n < vecAll.size(); ++n) {
        EXPECT_EQ(vecAll[n].nConnection, vecAll[nFirst].nConnection) << vecAll[n].strRequest;
        if (vecAll[n].strMethod == "GET") {
            EXPECT_EQ(vecAll[n].nStatus, 304);  // the list: not modified
        }
    }

    // A local copy that is not the one fetched last is fetched whole again.
    std::string strList = ReadWholeFile(m_strRelease + "/_listfile.txt");
    m_dir.WriteFile(m_strInstallName + "/_listfile.txt", strList + "x.txt\n");
    ASSERT_EQ(Run("1").nExit, 0);
    EXPECT_EQ(m_nginx.AccessLogFor("/rel/_listfile.txt", 0).back().nStatus, 200);
    EXPECT_EQ(ReadWholeFile(Installed("_listfile.txt")), strList);
}

// {what the run meets} -> the exit code and the one line that says so.
TEST_F(UpdateRunTest, ExitCodes) {
    WriteRelease("good.txt", "good");
    MakeList();
    struct Case {
        const char* pszName;
        std::function<void()> fnBefore;
        const char* pszArgs;
        int nExit;
        const char* pszOutput;
    } const kCases[] = {
        {"a file fails, no terminal: the question's default, No",
         [&] {
             MakeList();
             AppendToList("missing/a.bin,,,,20240101000000,10\n");
         },
         "1", 3, "일부 다운로드에 실패한 파일들이 있습니다."},
        {"no settings file", [&] { platform::DeleteFile(Installed("config/Tidewell.ini")); }, "1",
         1, "설정 파일이 없습니다"},
        {"a key that is not 32 bytes",
         [&] {
             m_dir.WriteFile(
                 m_strInstallName + "/config/Tidewell.ini",
                 ReadWholeFile(Installed("config/Tidewell.ini")) + "LIST_PUBLIC_KEY=not-a-key\r\n");
         },
         "1", 1, "LIST_PUBLIC_KEY"},
        {"the server is down", [&] { m_nginx.Stop(); }, "1", 2,
         "리스트 파일 정보를 가져오는 도중에 오류가 발생했습니다."},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszName);
        WriteIni(m_nginx.Port());
        c.fnBefore();
        RunResult run = Run(c.pszArgs);
        EXPECT_EQ(run.nExit, c.nExit) << run.strOutput << Log();
        EXPECT_NE(run.strOutput.find(c.pszOutput), std::string::npos) << run.strOutput;
    }
}

// The launcher hands --assume-yes on to the run-copy: with a display named
// (one nobody could see), the copy uses the terminal and answers yes.
TEST_F(UpdateRunTest, LauncherPassesTheFrontEndOptionsOn) {
    WriteTool();
    MakeList();
    AppendToList("missing/a.bin,,,,20240101000000,10\n");
    m_vecFrontEndArgs.clear();
    m_vecEnv.push_back("DISPLAY=:99");
    RunResult launcher = Run("--assume-yes");
    EXPECT_EQ(launcher.nExit, 0) << launcher.strOutput;
    ASSERT_TRUE(ToolStarted(20)) << Log();
}

// The terminal front end: {answers typed, options} -> exit code, whether the
// file came and the tool started. The questions start on a line of their
// own, and the progress bar stays out of the log.
TEST_F(UpdateRunTest, QuestionsAnsweredOnTheTerminal) {
    WriteRelease("a.txt", "aaa");
    WriteTool(true);
    const std::string kAsk = "[1] ";
    const std::string kFailed = "(y/N) ";
    struct Case {
        const char* pszName;
        bool bMissingFile;
        const char* pszArgs;
        std::vector<std::pair<std::string, std::string>> vecReplies;
        int nExit;
        bool bFetched;
        bool bToolStarted;
        bool bAtOnce = false;  // ends well before a stopped run is given up on
    } const kCases[] = {
        {"enter: update now", false, "1", {{kAsk, ""}}, 0, true, true},
        {"a wrong answer is asked again", false, "1", {{kAsk, "x"}, {kAsk, "1"}}, 0, true, true},
        {"not now", false, "1", {{kAsk, "2"}}, 0, false, true},
        {"cancel", false, "1", {{kAsk, "3"}}, 4, false, false},
        {"Ctrl-C in the question", false, "1", {{kAsk, "^C"}}, 4, false, false, true},
        {"failure question: yes", true, "1", {{kAsk, ""}, {kFailed, "y"}}, 0, true, true},
        {"failure question: enter is No", true, "1", {{kAsk, ""}, {kFailed, ""}}, 3, true, false},
        {"--assume-no asks nothing", false, "--assume-no 1", {}, 0, false, true},
        {"--assume-yes answers both", true, "--assume-yes 1", {}, 0, true, true},
        {"resource mode: no question, no tool", false, "3", {}, 0, true, false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszName);
        MakeList();
        if (c.bMissingFile)
            AppendToList("missing/a.bin,,,,20240101000000,10\n");
        platform::DeleteFile(Installed("a.txt"));
        platform::DeleteFile(Installed("tool-started"));
        RunResult run = RunOnTerminal(c.pszArgs, c.vecReplies);
        EXPECT_EQ(run.nExit, c.nExit) << run.strOutput;
        EXPECT_EQ(platform::FileExists(Installed("a.txt")), c.bFetched);
        EXPECT_EQ(ToolStarted(c.bToolStarted ? 10 : 1), c.bToolStarted);
        if (!c.vecReplies.empty()) {
            EXPECT_NE(run.strOutput.find("\n업데이트할 파일이 있습니다."), std::string::npos)
                << run.strOutput;
        }
        if (c.bAtOnce) {
            size_t nAt = run.strOutput.rfind("[ended ");
            ASSERT_NE(nAt, std::string::npos) << run.strOutput;
            EXPECT_LT(std::atoi(run.strOutput.c_str() + nAt + 7),
                      CRunController::kEndRunWaitMs / 2);
        }
        EXPECT_EQ(run.strOutput.find("(y/N)") != std::string::npos,
                  c.bMissingFile && c.vecReplies.size() > 1);
    }
    std::string strLog = Log();
    EXPECT_NE(strLog.find("Start, Version"), std::string::npos);
    EXPECT_EQ(strLog.find_first_of("\r\033"), std::string::npos) << strLog;
}
