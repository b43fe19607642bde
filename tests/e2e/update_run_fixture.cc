#include "tests/e2e/update_run_fixture.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/file_system.h"

namespace {

const char* const kServerSnippet =
    "location /rel/ { gzip_static always; }\n"
    "location /rel/slow/ { limit_rate 100k; }\n";

long NowMs() {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count());
}

}  // namespace

bool WaitForPath(const std::string& strPath, int nSeconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(nSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (platform::FileExists(strPath)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void UpdateRunTest::SetUp() {
    NginxOptions options;
    options.strServerSnippet = std::string(kServerSnippet) + m_strExtraSnippet;
    ASSERT_TRUE(m_nginx.Start(options)) << m_nginx.Error();
    m_strRelease = m_nginx.DocRoot() + "/rel";
    ASSERT_EQ(RunShell("mkdir -p '" + m_strRelease + "'"), 0);
    MakeInstallation(m_nginx.Port());
}

void UpdateRunTest::MakeInstallation(int nPort) {
    m_strInstall = m_dir.Sub(m_strInstallName);
    ASSERT_EQ(RunShell("mkdir -p '" + m_strInstall + "/config' '" + m_dir.Sub("desktop") + "' '" +
                       m_dir.Sub("wine") + "'"),
              0);
    ASSERT_TRUE(platform::CopyFileOver(TIDEWELL_BINARY_DIR "/console/TidewellKiro",
                                       m_strInstall + "/TidewellKiro"));
    WriteIni(nPort);
    m_vecEnv = {"HOME=" + m_dir.Sub("home"),
                "XDG_DESKTOP_DIR=" + m_dir.Sub("desktop"),
                "XDG_DATA_HOME=" + m_dir.Sub("data"),
                "XDG_CONFIG_HOME=" + m_dir.Sub("xdgconfig"),
                "WINEPREFIX=" + m_dir.Sub("wine"),
                "PATH=/usr/bin:/bin",
                "LANG=C.UTF-8"};
}

void UpdateRunTest::WriteIni(int nPort, int nHttpsMode) {
    m_dir.WriteFile(m_strInstallName + "/config/Tidewell.ini",
                    "[TIDE]\r\nSVR_IP_ADDR=127.0.0.1\r\nSVR_PORT_NO=" + std::to_string(nPort) +
                        "\r\nDOWNLOAD_BASE_URL=rel\r\nLIST_FILE_NAME=_listfile.txt\r\n"
                        "SVR_HTTPS=" +
                        std::to_string(nHttpsMode) +
                        "\r\nTIME_CHECK_SPAN=5\r\nENCODE_URL_UTF=1\r\n"
                        "LAST_SETUP_DATE=2026-01-01 00:00:00\r\n");
}

std::string UpdateRunTest::WriteRelease(const std::string& strRel, const std::string& strData,
                                        bool bExecutable) {
    std::string strPath = m_nginx.WriteFile("rel/" + strRel, strData);
    if (bExecutable) chmod(strPath.c_str(), 0755);
    return strPath;
}

void UpdateRunTest::MakeList(const std::string& strExtraArgs) {
    ASSERT_EQ(RunShell("'" TIDEWELL_BINARY_DIR "/console/TidewellMakeList' " + strExtraArgs + " '" +
                       m_strRelease + "'"),
              0);
}

void UpdateRunTest::AppendToList(const std::string& strLines) {
    std::string strList = ReadWholeFile(m_strRelease + "/_listfile.txt") + strLines;
    m_nginx.WriteFile("rel/_listfile.txt", strList);
}

int UpdateRunTest::Start(const std::string& strArgs) {
    std::vector<std::string> vecArgs = {m_strInstall + "/TidewellKiro"};
    vecArgs.insert(vecArgs.end(), m_vecFrontEndArgs.begin(), m_vecFrontEndArgs.end());
    std::string strWord;
    for (char c : strArgs + " ") {
        if (c == ' ') {
            if (!strWord.empty()) vecArgs.push_back(strWord);
            strWord.clear();
        } else {
            strWord += c;
        }
    }
    return StartArgv(vecArgs, false);
}

int UpdateRunTest::StartArgv(std::vector<std::string> vecArgs, bool bSplitStdout) {
    std::string strOut = m_dir.Sub("run-output.txt");
    std::string strStdout = m_dir.Sub("run-stdout.txt");
    platform::DeleteFile(strStdout);
    m_nStartMs = NowMs();
    pid_t pid = fork();
    if (pid == 0) {
        int fdIn = open("/dev/null", O_RDONLY);
        int fdOut = open(strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int fdStdout = bSplitStdout ? open(strStdout.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                                    : fdOut;
        dup2(fdIn, 0);
        dup2(fdStdout, 1);
        dup2(fdOut, 2);
        if (m_nFileSizeLimit > 0) {
            rlimit limit{static_cast<rlim_t>(m_nFileSizeLimit), static_cast<rlim_t>(m_nFileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> argv;
        for (std::string& s : vecArgs) argv.push_back(s.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& s : m_vecEnv) envp.push_back(s.data());
        for (char** pp = environ; *pp != nullptr; ++pp) {
            std::string strVar = *pp;
            // Variables the test sets itself take the place of inherited ones.
            std::string strName = strVar.substr(0, strVar.find('=') + 1);
            bool bGiven = false;
            for (const std::string& s : m_vecEnv) bGiven = bGiven || s.rfind(strName, 0) == 0;
            if (!bGiven && (strVar.rfind("ASAN_", 0) == 0 || strVar.rfind("UBSAN_", 0) == 0 ||
                            strVar.rfind("LSAN_", 0) == 0 || strVar.rfind("TSAN_", 0) == 0 ||
                            strVar.rfind("TMPDIR=", 0) == 0)) {
                envp.push_back(*pp);
            }
        }
        envp.push_back(nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

RunResult UpdateRunTest::Wait(int nPid) {
    RunResult result;
    int nStatus = 0;
    rusage usage{};
    wait4(nPid, &nStatus, 0, &usage);
    result.nElapsedMs = NowMs() - m_nStartMs;
    result.nPeakRssKb = usage.ru_maxrss;
    result.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
    result.strOutput = ReadWholeFile(m_dir.Sub("run-output.txt"));
    return result;
}

RunResult UpdateRunTest::RunProgram(const std::vector<std::string>& vecArgv) {
    RunResult result = Wait(StartArgv(vecArgv, true));
    result.strStdout = ReadWholeFile(m_dir.Sub("run-stdout.txt"));
    return result;
}

RunResult UpdateRunTest::Run(const std::string& strArgs) { return Wait(Start(strArgs)); }

std::string UpdateRunTest::Log() const {
    std::vector<platform::DirEntry> entries;
    platform::ListDirectory(m_strInstall + "/log", &entries);
    std::string strLog;
    for (const platform::DirEntry& entry : entries) {
        strLog += ReadWholeFile(m_strInstall + "/log/" + entry.strName);
    }
    return strLog;
}

std::vector<NginxAccessEntry> UpdateRunTest::NewRequests(size_t nExpected) {
    std::vector<NginxAccessEntry> all = m_nginx.AccessLogFor("/rel/", m_nSeenRequests + nExpected);
    std::vector<NginxAccessEntry> fresh(all.begin() + static_cast<long>(std::min(m_nSeenRequests, all.size())),
                                        all.end());
    m_nSeenRequests = all.size();
    return fresh;
}
