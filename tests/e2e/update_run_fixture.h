// End-to-end runs of the built updater against a real nginx on loopback:
// a release folder served below /rel/, a scratch installation folder with
// its config/Tidewell.ini, and the executable run as a user would run it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/nginx_server.h"
#include "tests/support/temp_dir.h"

struct RunResult {
    int nExit = -1;
    std::string strOutput;  // stderr, and stdout unless kept apart
    std::string strStdout;  // stdout when kept apart
    long nPeakRssKb = 0;  // the run's largest resident set
    long nElapsedMs = 0;
};

class UpdateRunTest : public ::testing::Test {
protected:
    // Starts nginx and makes the installation that points at it.
    void SetUp() override;
    // The scratch installation with the executable, its config/Tidewell.ini
    // naming 127.0.0.1:nPort, and the run's environment.
    void MakeInstallation(int nPort);

    // Writes a release file served as /rel/<rel>.
    std::string WriteRelease(const std::string& strRel, const std::string& strData,
                             bool bExecutable = false);
    // Writes the list with the publisher's tool; extra arguments as given.
    void MakeList(const std::string& strExtraArgs = "");
    // Appends raw lines to the served list.
    void AppendToList(const std::string& strLines);
    // Runs the updater with the given words; stdin is /dev/null.
    RunResult Run(const std::string& strArgs);
    // Starts the updater in the background; returns its pid.
    int Start(const std::string& strArgs);
    RunResult Wait(int nPid);
    // Runs any program (argv[0] a path) as the updater is run, with its
    // stdout kept apart.
    RunResult RunProgram(const std::vector<std::string>& vecArgv);
    int StartArgv(std::vector<std::string> vecArgv, bool bSplitStdout);

    std::string Installed(const std::string& strRel) const { return m_strInstall + "/" + strRel; }
    std::string Log() const;
    // Requests that reached /rel/ since the last call.
    std::vector<NginxAccessEntry> NewRequests(size_t nExpected = 0);
    // Writes config/Tidewell.ini for a server on 127.0.0.1 (SVR_HTTPS as given).
    void WriteIni(int nPort, int nHttpsMode = 0);

    // Set before SetUp: more nginx directives, the installation's folder name.
    std::string m_strExtraSnippet;
    std::string m_strInstallName = "install";
    // A file-size limit (bytes) for the runs; 0 for none.
    long m_nFileSizeLimit = 0;

    CTempDir m_dir;
    CNginxServer m_nginx;
    std::string m_strInstall;
    std::string m_strRelease;
    size_t m_nSeenRequests = 0;
    std::vector<std::string> m_vecEnv;
    // Words put before the run's own: the terminal unless a test wants the window.
    std::vector<std::string> m_vecFrontEndArgs = {"--headless"};

private:
    long m_nStartMs = 0;
};

// Waits up to nSeconds for a file to exist.
bool WaitForPath(const std::string& strPath, int nSeconds);
