#include "tests/e2e/update_run_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string_view>
#include <thread>

#include "platform/file_system.h"

namespace fs = std::filesystem;

const char* const kToolScript =
    "#!/bin/sh\nprintf '%s\\n' \"$1\" > \"$(dirname \"$0\")/tool-started.tmp\" && "
    "mv \"$(dirname \"$0\")/tool-started.tmp\" \"$(dirname \"$0\")/tool-started\"\n";

namespace {

// Drives a program on a pseudo-terminal: argv[1] pairs of {text, reply},
// then the program's argv. Ctrl-C goes through the terminal as a user's does.
const char* const kTerminalScript = R"PY(import os, pty, sys, time
n = int(sys.argv[1]); pairs = sys.argv[2:2 + 2 * n]; argv = sys.argv[2 + 2 * n:]
pid, fd = pty.fork()
if pid == 0:
    os.execv(argv[0], argv)
seen, step, replied = b"", 0, time.monotonic()
while True:
    try:
        data = os.read(fd, 4096)
    except OSError:
        break
    if not data:
        break
    sys.stdout.buffer.write(data); sys.stdout.flush()
    seen += data
    while step < n and pairs[2 * step].encode() in seen:
        text = pairs[2 * step].encode()
        seen = seen[seen.index(text) + len(text):]
        reply = pairs[2 * step + 1]
        os.write(fd, b"\x03" if reply == "^C" else reply.encode() + b"\n")
        step, replied = step + 1, time.monotonic()
_, status = os.waitpid(pid, 0)
print("\n[ended %d ms after the last reply]" % ((time.monotonic() - replied) * 1000))
sys.exit(os.WEXITSTATUS(status) if os.WIFEXITED(status) else 128 + os.WTERMSIG(status))
)PY";

long NowMs() {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count());
}

}  // namespace

bool WaitForPath(const std::string& strPath, int nSeconds) {
    for (long nEnd = NowMs() + nSeconds * 1000L; NowMs() < nEnd;) {
        if (platform::FileExists(strPath))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::map<std::string, std::string> TreeOf(const std::string& strRoot) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(strRoot)) {
        if (entry.is_regular_file())
            tree[fs::relative(entry.path(), strRoot).string()] = ReadWholeFile(entry.path());
    }
    return tree;
}

std::vector<std::string> Leftovers(const std::string& strRoot) {
    std::vector<std::string> vec;
    for (const auto& entry : fs::recursive_directory_iterator(strRoot)) {
        std::string strName = entry.path().filename().string();
        if (strName.find("tidewell-part") != std::string::npos ||
            strName.rfind(".unzip-", 0) == 0 || strName.find(".gztmp") != std::string::npos ||
            strName.find(".part") != std::string::npos)
            vec.push_back(entry.path().string());
    }
    return vec;
}

bool ShrinkDisk(const std::string& strDir, int nMiB, long* pnLimit) {
    if (geteuid() == 0 && RunShell("mount -t tmpfs -o size=" + std::to_string(nMiB) + "m tmpfs '" +
                                   strDir + "' 2>/dev/null") == 0)
        return true;
    *pnLimit = static_cast<long>(nMiB) << 20;
    return false;
}

void UpdateRunTest::SetUp() {
    NginxOptions options;
    options.strServerSnippet =
        "location /rel/ { gzip_static always; }\n"
        "location /rel/slow/ { limit_rate 100k; }\n";
    ASSERT_TRUE(m_nginx.Start(options)) << m_nginx.Error();
    m_strRelease = m_nginx.DocRoot() + "/rel";
    ASSERT_EQ(RunShell("mkdir -p '" + m_strRelease + "'"), 0);
    MakeInstallation(m_nginx.Port());
}

void UpdateRunTest::MakeInstallation(int nPort) {
    m_strInstall = m_dir.Sub(m_strInstallName);
    ASSERT_TRUE(fs::create_directories(m_strInstall + "/config"));
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
                        "\r\nDOWNLOAD_BASE_URL=rel\r\nLIST_FILE_NAME=_listfile.txt\r\nSVR_HTTPS=" +
                        std::to_string(nHttpsMode) +
                        "\r\nTIME_CHECK_SPAN=5\r\nENCODE_URL_UTF=1\r\n"
                        "LAST_SETUP_DATE=2026-01-01 00:00:00\r\n");
}

std::string UpdateRunTest::WriteRelease(const std::string& strRel, const std::string& strData,
                                        bool bExecutable) {
    std::string strPath = m_nginx.WriteFile("rel/" + strRel, strData);
    if (bExecutable)
        chmod(strPath.c_str(), 0755);
    return strPath;
}

void UpdateRunTest::MakeList(const std::string& strExtraArgs) {
    ASSERT_EQ(RunShell("'" TIDEWELL_BINARY_DIR "/console/TidewellMakeList' " + strExtraArgs + " '" +
                       m_strRelease + "'"),
              0);
}

void UpdateRunTest::AppendToList(const std::string& strLines) {
    m_nginx.WriteFile("rel/_listfile.txt",
                      ReadWholeFile(m_strRelease + "/_listfile.txt") + strLines);
}

void UpdateRunTest::WriteTool(bool bInstalled) {
    WriteRelease("Corvid@LoomhallKiro", kToolScript, true);
    if (bInstalled) {
        m_dir.WriteFile(m_strInstallName + "/Corvid@LoomhallKiro", kToolScript);
        chmod(Installed("Corvid@LoomhallKiro").c_str(), 0755);
    }
}

std::vector<std::string> UpdateRunTest::UpdaterArgv(const std::string& strArgs) const {
    std::vector<std::string> vecArgv = {m_strInstall + "/TidewellKiro"};
    vecArgv.insert(vecArgv.end(), m_vecFrontEndArgs.begin(), m_vecFrontEndArgs.end());
    std::istringstream words(strArgs);
    for (std::string strWord; words >> strWord;)
        vecArgv.push_back(strWord);
    return vecArgv;
}

int UpdateRunTest::StartArgv(std::vector<std::string> vecArgs, bool bSplitStdout) {
    std::string strOut = m_dir.Sub("run-output.txt");
    std::string strStdout = m_dir.Sub("run-stdout.txt");
    platform::DeleteFile(strStdout);
    // The child gets only these variables, and the sanitizers' own (the
    // first of a name counts, so these come first).
    std::vector<std::string> vecEnv = m_vecEnv;
    for (char** pp = environ; *pp != nullptr; ++pp) {
        for (const char* pszKept : {"ASAN_", "UBSAN_", "LSAN_", "TSAN_", "TMPDIR="}) {
            if (std::string_view(*pp).starts_with(pszKept))
                vecEnv.push_back(*pp);
        }
    }
    std::vector<char*> argv, envp;
    for (std::string& s : vecArgs)
        argv.push_back(s.data());
    for (std::string& s : vecEnv)
        envp.push_back(s.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    m_nStartMs = NowMs();
    pid_t pid = fork();
    if (pid == 0) {
        int fdOut = open(strOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int fdStdout =
            bSplitStdout ? open(strStdout.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644) : fdOut;
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(fdStdout, 1);
        dup2(fdOut, 2);
        if (m_nFileSizeLimit > 0) {
            rlimit limit{static_cast<rlim_t>(m_nFileSizeLimit),
                         static_cast<rlim_t>(m_nFileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

RunResult UpdateRunTest::Wait(int nPid, int nSeconds) {
    RunResult result;
    int nStatus = 0;
    rusage usage{};
    long nDeadline = NowMs() + nSeconds * 1000L;
    while (wait4(nPid, &nStatus, WNOHANG, &usage) == 0) {
        if (NowMs() > nDeadline) {
            kill(nPid, SIGKILL);
            wait4(nPid, &nStatus, 0, &usage);
            nStatus = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result.nElapsedMs = NowMs() - m_nStartMs;
    result.nPeakRssKb = usage.ru_maxrss;
    if (nStatus != -1)
        result.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
    result.strOutput = ReadWholeFile(m_dir.Sub("run-output.txt"));
    result.strStdout = ReadWholeFile(m_dir.Sub("run-stdout.txt"));
    return result;
}

RunResult UpdateRunTest::RunProgram(const std::vector<std::string>& vecArgv) {
    return Wait(StartArgv(vecArgv, true));
}

RunResult UpdateRunTest::RunOnTerminal(
    const std::string& strArgs,
    const std::vector<std::pair<std::string, std::string>>& vecReplies) {
    std::vector<std::string> vecArgv = {"/usr/bin/python3",
                                        m_dir.WriteFile("terminal.py", kTerminalScript),
                                        std::to_string(vecReplies.size())};
    for (const auto& [strText, strReply] : vecReplies) {
        vecArgv.push_back(strText);
        vecArgv.push_back(strReply);
    }
    std::vector<std::string> vecUpdater = UpdaterArgv(strArgs);
    vecArgv.insert(vecArgv.end(), vecUpdater.begin(), vecUpdater.end());
    return Wait(StartArgv(vecArgv, false), 60);
}

std::string UpdateRunTest::Log() const {
    std::string strLog;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(m_strInstall + "/log", ec))
        strLog += ReadWholeFile(entry.path());
    return strLog;
}

bool UpdateRunTest::ToolStarted(int nSeconds) const {
    return WaitForPath(Installed("tool-started"), nSeconds);
}

std::vector<std::string> UpdateRunTest::NewGets(size_t nExpected) {
    std::vector<NginxAccessEntry> all = m_nginx.AccessLogFor("/rel/", m_nSeenRequests + nExpected);
    std::vector<std::string> vecGets;
    for (size_t n = m_nSeenRequests; n < all.size(); ++n) {
        if (all[n].strMethod == "GET")
            vecGets.push_back(all[n].strUri);
    }
    m_nSeenRequests = all.size();
    return vecGets;
}
