#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/process.h"

extern char** environ;

namespace platform {

const char* const kExeSuffix = "";

namespace {

// A child whose exec failed reports the error and ends. It first closes every
// descriptor but the report pipe, so that whatever it inherited (the
// installation folder's lock among them) is free before the parent hears of
// the failure and perhaps starts the next run. Async-signal-safe.
[[noreturn]] void ReportExecFailure(int fdReport, int nErr) {
    if (fdReport > 3)
        syscall(SYS_close_range, 3U, static_cast<unsigned>(fdReport - 1), 0U);
    syscall(SYS_close_range, static_cast<unsigned>(fdReport + 1), ~0U, 0U);
    (void)!write(fdReport, &nErr, sizeof(nErr));
    _exit(127);
}

}  // namespace

bool InitSockets() {
    struct sigaction sa {};
    sa.sa_handler = SIG_IGN;
    sigemptyset(&sa.sa_mask);
    // A file-size limit makes the write fail (EFBIG) instead of killing the
    // process, so the download fails like one on a full disk.
    sigaction(SIGXFSZ, &sa, nullptr);
    return sigaction(SIGPIPE, &sa, nullptr) == 0;
}

void EndProcessNow(int nExitCode) {
    std::fflush(nullptr);
    _exit(nExitCode);
}

std::string GetExecutablePath() {
    char szPath[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", szPath, PATH_MAX);
    if (n <= 0)
        return std::string();
    return std::string(szPath, static_cast<size_t>(n));
}

int GetOsMajorVersion() {
    struct utsname name {};
    if (uname(&name) != 0)
        return 0;
    return atoi(name.release);
}

bool StartDetachedProcess(const std::string& strPath, const std::vector<std::string>& vecArgs,
                          const std::string& strWorkDir) {
    // exec failures must reach the caller, not just the child: a close-on-exec
    // pipe carries the child's errno back when exec does not happen.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(strPath.c_str()));
    for (const std::string& strArg : vecArgs)
        argv.push_back(const_cast<char*>(strArg.c_str()));
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0) {
        int nErr = errno;
        close(fds[0]);
        close(fds[1]);
        errno = nErr;
        return false;
    }
    if (pid == 0) {
        // Double fork so the program is not our child and never a zombie.
        close(fds[0]);
        setsid();
        pid_t pidGrand = fork();
        if (pidGrand != 0)
            _exit(pidGrand < 0 ? 1 : 0);
        if (!strWorkDir.empty() && chdir(strWorkDir.c_str()) != 0)
            ReportExecFailure(fds[1], errno);
        execve(strPath.c_str(), argv.data(), environ);
        ReportExecFailure(fds[1], errno);
    }
    close(fds[1]);
    int nChildErr = 0;
    ssize_t nRead;
    do {
        nRead = read(fds[0], &nChildErr, sizeof(nChildErr));
    } while (nRead < 0 && errno == EINTR);
    close(fds[0]);
    int nStatus = 0;
    while (waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) {
    }
    if (nRead == static_cast<ssize_t>(sizeof(nChildErr))) {
        errno = nChildErr;
        return false;
    }
    if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) {
        errno = EAGAIN;
        return false;
    }
    return true;
}

namespace {

// Checked the slow way when the kernel offers no pidfd.
constexpr int kProcPollMs = 10;

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

// True while /proc shows the process and it has not ended (zombie state).
bool ProcessAlive(pid_t pid) {
    char szPath[64];
    snprintf(szPath, sizeof(szPath), "/proc/%d/stat", static_cast<int>(pid));
    FILE* fp = fopen(szPath, "re");
    if (fp == nullptr)
        return false;
    char szStat[512] = {};
    size_t nRead = fread(szStat, 1, sizeof(szStat) - 1, fp);
    fclose(fp);
    szStat[nRead] = '\0';
    // The state follows the command name in parentheses, which may hold blanks.
    const char* pszClose = strrchr(szStat, ')');
    if (pszClose == nullptr || pszClose[1] == '\0' || pszClose[2] == '\0')
        return false;
    char cState = pszClose[2];
    return cState != 'Z' && cState != 'X';
}

bool ReadFull(int fd, void* pData, size_t nSize) {
    char* p = static_cast<char*>(pData);
    while (nSize > 0) {
        ssize_t n = read(fd, p, nSize);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        nSize -= static_cast<size_t>(n);
    }
    return true;
}

// Our environment with vecEnv's entries replacing or adding variables.
std::vector<std::string> MergeEnvironment(const std::vector<std::string>& vecEnv) {
    std::vector<std::string> vecOut;
    auto NameOf = [](const std::string& strEntry) {
        return strEntry.substr(0, strEntry.find('='));
    };
    for (char** pp = environ; pp != nullptr && *pp != nullptr; ++pp) {
        std::string strEntry = *pp;
        bool bReplaced = false;
        for (const std::string& strNew : vecEnv) {
            if (NameOf(strNew) == NameOf(strEntry))
                bReplaced = true;
        }
        if (!bReplaced)
            vecOut.push_back(std::move(strEntry));
    }
    vecOut.insert(vecOut.end(), vecEnv.begin(), vecEnv.end());
    return vecOut;
}

}  // namespace

CProcess::~CProcess() {
    Close();
}

CProcess::CProcess(CProcess&& other) noexcept : m_nPid(other.m_nPid), m_nHandle(other.m_nHandle) {
    other.m_nPid = -1;
    other.m_nHandle = -1;
}

CProcess& CProcess::operator=(CProcess&& other) noexcept {
    if (this != &other) {
        Close();
        m_nPid = other.m_nPid;
        m_nHandle = other.m_nHandle;
        other.m_nPid = -1;
        other.m_nHandle = -1;
    }
    return *this;
}

void CProcess::Close() {
    if (m_nHandle >= 0)
        close(m_nHandle);
    m_nHandle = -1;
    m_nPid = -1;
}

CProcess::WaitResult CProcess::Wait(int nTimeoutMs) {
    if (!IsValid()) {
        errno = EINVAL;
        return WaitResult::kFailed;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    auto RemainingMs = [&]() -> int {
        if (nTimeoutMs < 0)
            return -1;
        auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
                         deadline - std::chrono::steady_clock::now())
                         .count();
        return nLeft > 0 ? static_cast<int>(nLeft) : 0;
    };
    if (m_nHandle < 0) {
        for (;;) {
            if (!ProcessAlive(m_nPid))
                return WaitResult::kEnded;
            int nLeft = RemainingMs();
            if (nLeft == 0)
                return WaitResult::kTimeout;
            int nStep = nLeft < 0 || nLeft > kProcPollMs ? kProcPollMs : nLeft;
            std::this_thread::sleep_for(std::chrono::milliseconds(nStep));
        }
    }
    for (;;) {
        pollfd pfd{m_nHandle, POLLIN, 0};
        int nRet = poll(&pfd, 1, RemainingMs());
        if (nRet > 0)
            return WaitResult::kEnded;
        if (nRet == 0)
            return WaitResult::kTimeout;
        if (errno != EINTR)
            return WaitResult::kFailed;
    }
}

CProcess StartProcess(const std::string& strPath, const std::vector<std::string>& vecArgs,
                      const std::string& strWorkDir, const std::vector<std::string>& vecEnv) {
    // Everything the children need is built before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(strPath.c_str()));
    for (const std::string& strArg : vecArgs)
        argv.push_back(const_cast<char*>(strArg.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> vecEnvAll = MergeEnvironment(vecEnv);
    std::vector<char*> envp;
    for (std::string& strEntry : vecEnvAll)
        envp.push_back(strEntry.data());
    envp.push_back(nullptr);

    // errPipe carries the program's exec error back (closed on a good exec);
    // the socket pair carries its pid and holds the intermediate until the
    // pidfd is open.
    int errPipe[2];
    if (pipe2(errPipe, O_CLOEXEC) != 0)
        return CProcess();
    int sock[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sock) != 0) {
        int nErr = errno;
        close(errPipe[0]);
        close(errPipe[1]);
        errno = nErr;
        return CProcess();
    }

    pid_t pidMiddle = fork();
    if (pidMiddle < 0) {
        int nErr = errno;
        close(errPipe[0]);
        close(errPipe[1]);
        close(sock[0]);
        close(sock[1]);
        errno = nErr;
        return CProcess();
    }
    if (pidMiddle == 0) {
        close(errPipe[0]);
        close(sock[0]);
        // A session of its own: the program outlives us and our terminal.
        setsid();
        pid_t pid = fork();
        if (pid == 0) {
            close(sock[1]);
            struct sigaction sa {};
            sa.sa_handler = SIG_DFL;
            sigaction(SIGPIPE, &sa, nullptr);
            sigset_t setAll;
            sigemptyset(&setAll);
            sigprocmask(SIG_SETMASK, &setAll, nullptr);
            if (!strWorkDir.empty() && chdir(strWorkDir.c_str()) != 0)
                ReportExecFailure(errPipe[1], errno);
            execve(strPath.c_str(), argv.data(), envp.data());
            ReportExecFailure(errPipe[1], errno);
        }
        close(errPipe[1]);
        int nPid = static_cast<int>(pid);
        (void)!write(sock[1], &nPid, sizeof(nPid));
        // Wait until the parent has its pidfd (it closes its end).
        char c;
        while (read(sock[1], &c, 1) < 0 && errno == EINTR) {
        }
        _exit(0);
    }

    close(errPipe[1]);
    close(sock[1]);
    int nPid = -1;
    bool bGotPid = ReadFull(sock[0], &nPid, sizeof(nPid)) && nPid > 0;
    // A pidfd is close-on-exec from the start.
    int nHandle = bGotPid ? OpenPidFd(nPid) : -1;
    close(sock[0]);
    int nStatus = 0;
    while (waitpid(pidMiddle, &nStatus, 0) < 0 && errno == EINTR) {
    }

    int nChildErr = 0;
    bool bExecFailed = ReadFull(errPipe[0], &nChildErr, sizeof(nChildErr));
    close(errPipe[0]);
    if (!bGotPid || bExecFailed) {
        if (nHandle >= 0)
            close(nHandle);
        errno = bExecFailed ? nChildErr : EAGAIN;
        return CProcess();
    }
    return CProcess(nPid, nHandle);
}

std::string FindProgramInPath(const std::string& strName) {
    if (strName.empty())
        return std::string();
    if (strName.find('/') != std::string::npos) {
        return access(strName.c_str(), X_OK) == 0 ? strName : std::string();
    }
    const char* pszPath = getenv("PATH");
    std::string strPathList = pszPath != nullptr ? pszPath : "/usr/local/bin:/usr/bin:/bin";
    size_t nStart = 0;
    for (;;) {
        size_t nEnd = strPathList.find(':', nStart);
        size_t nLength = nEnd == std::string::npos ? strPathList.size() - nStart : nEnd - nStart;
        // An empty entry means the current folder.
        std::string strCandidate =
            nLength == 0 ? std::string(".") : strPathList.substr(nStart, nLength);
        strCandidate += '/';
        strCandidate += strName;
        struct stat st {};
        if (stat(strCandidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(strCandidate.c_str(), X_OK) == 0) {
            return strCandidate;
        }
        if (nEnd == std::string::npos)
            break;
        nStart = nEnd + 1;
    }
    return std::string();
}

bool MakeExecutable(const std::string& strPath) {
    struct stat st {};
    if (stat(strPath.c_str(), &st) != 0)
        return false;
    mode_t nMode = st.st_mode & 07777;
    mode_t nNew = nMode;
    if (nMode & S_IRUSR)
        nNew |= S_IXUSR;
    if (nMode & S_IRGRP)
        nNew |= S_IXGRP;
    if (nMode & S_IROTH)
        nNew |= S_IXOTH;
    if (nNew == nMode)
        return true;
    return chmod(strPath.c_str(), nNew) == 0;
}

}  // namespace platform
