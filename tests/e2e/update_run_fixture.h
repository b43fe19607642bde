// The one runner of the built executables for every end-to-end test: a
// release folder served by nginx below /rel/, a scratch installation with
// its config/Tidewell.ini, and the updater run there as a user would run it
// (arguments, environment, a terminal when asked), waited for with a bound,
// stopped with real signals; exit code, output, log and peak RSS read back.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"

struct RunResult {
    int nExit = -1;         // 128 + signal when killed; -1 when it outlived its bound
    std::string strOutput;  // stderr, and stdout unless kept apart
    std::string strStdout;  // stdout when kept apart
    long nPeakRssKb = 0;
    long nElapsedMs = 0;
};

// Writes the folder it is started with ($1) to tool-started, atomically.
extern const char* const kToolScript;

class UpdateRunTest : public ::testing::Test {
protected:
    void SetUp() override;
    // The installation with the executable and the settings naming 127.0.0.1:nPort.
    void MakeInstallation(int nPort);
    void WriteIni(int nPort, int nHttpsMode = 0);

    // A release file served as /rel/<rel>; the list made by the publisher's tool.
    std::string WriteRelease(const std::string& strRel, const std::string& strData,
                             bool bExecutable = false);
    void MakeList(const std::string& strExtraArgs = "");
    void AppendToList(const std::string& strLines);
    // The development tool in the release (and in the installation too).
    void WriteTool(bool bInstalled = false);

    // The updater with m_vecFrontEndArgs and these blank-separated words.
    RunResult Run(const std::string& strArgs) { return Wait(Start(strArgs)); }
    int Start(const std::string& strArgs) { return StartArgv(UpdaterArgv(strArgs), false); }
    std::vector<std::string> UpdaterArgv(const std::string& strArgs) const;
    // Any program, stdout kept apart.
    RunResult RunProgram(const std::vector<std::string>& vecArgv);
    int StartArgv(std::vector<std::string> vecArgv, bool bSplitStdout);
    // Waits at most nSeconds, then kills with SIGKILL (nExit -1).
    RunResult Wait(int nPid, int nSeconds = 200);
    // The updater on a terminal: each {text, reply} waits for text in the
    // output, then types reply and a line feed; reply "^C" is Ctrl-C. The
    // output ends with "[ended N ms after the last reply]".
    RunResult RunOnTerminal(const std::string& strArgs,
                            const std::vector<std::pair<std::string, std::string>>& vecReplies);

    std::string Installed(const std::string& strRel) const { return m_strInstall + "/" + strRel; }
    std::string Log() const;
    bool ToolStarted(int nSeconds = 10) const;
    // GET targets below /rel/ since the last call, waiting for nExpected requests.
    std::vector<std::string> NewGets(size_t nExpected = 0);

    // Blanks, quotes and a backslash: the folder reaches the tool as one word.
    std::string m_strInstallName = "inst dir \"q\" \\b";
    long m_nFileSizeLimit = 0;  // RLIMIT_FSIZE for the runs; 0 for none

    CTempDir m_dir;
    CNginxServer m_nginx;
    std::string m_strInstall;
    std::string m_strRelease;
    size_t m_nSeenRequests = 0;
    std::vector<std::string> m_vecEnv;
    std::vector<std::string> m_vecFrontEndArgs = {"--headless"};

private:
    long m_nStartMs = 0;
};

bool WaitForPath(const std::string& strPath, int nSeconds);
// Regular files below strRoot with their bytes, by relative path.
std::map<std::string, std::string> TreeOf(const std::string& strRoot);
// Temporary files (parts, unzip and gzip scratch) left below strRoot.
std::vector<std::string> Leftovers(const std::string& strRoot);
// Mounts a tmpfs of nMiB on strDir when run as root; else sets *pnLimit
// (the runs' file-size limit) to nMiB. True when mounted (umount -l after).
bool ShrinkDisk(const std::string& strDir, int nMiB, long* pnLimit);
