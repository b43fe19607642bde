#include "tests/support/server_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace {

sockaddr_in LoopbackAddress(int nPort) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(nPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

}  // namespace

bool CChildProcess::Start(const std::vector<std::string>& vecArgv, const std::string& strLogPath,
                          bool bPipeStdout) {
    Stop();
    if (vecArgv.empty())
        return false;
    std::string strProgram = FindProgram(vecArgv[0]);
    if (strProgram.empty())
        return false;
    int anPipe[2] = {-1, -1};
    if (bPipeStdout && pipe2(anPipe, O_CLOEXEC) != 0)
        return false;
    int nLogFd = open(strLogPath.empty() ? "/dev/null" : strLogPath.c_str(),
                      O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    // Everything the child needs is prepared before fork: only async-signal
    // safe calls may follow it in a threaded process.
    std::vector<char*> vecPtrs;
    for (const std::string& str : vecArgv)
        vecPtrs.push_back(const_cast<char*>(str.c_str()));
    vecPtrs.push_back(nullptr);
    pid_t nParent = getpid();
    pid_t nPid = fork();
    if (nPid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != nParent)
            _exit(127);
        setpgid(0, 0);
        int nNull = open("/dev/null", O_RDONLY);
        if (nNull >= 0)
            dup2(nNull, 0);
        if (nLogFd >= 0) {
            dup2(nLogFd, 1);
            dup2(nLogFd, 2);
        }
        if (bPipeStdout)
            dup2(anPipe[1], 1);
        execv(strProgram.c_str(), vecPtrs.data());
        _exit(127);
    }
    if (nLogFd >= 0)
        close(nLogFd);
    if (bPipeStdout)
        close(anPipe[1]);
    if (nPid < 0) {
        if (bPipeStdout)
            close(anPipe[0]);
        return false;
    }
    m_nPid = nPid;
    m_nStdoutFd = bPipeStdout ? anPipe[0] : -1;
    m_strPending.clear();
    return true;
}

bool CChildProcess::ReadLine(std::string* pstrLine, int nTimeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        size_t nEnd = m_strPending.find('\n');
        if (nEnd != std::string::npos) {
            *pstrLine = m_strPending.substr(0, nEnd);
            m_strPending.erase(0, nEnd + 1);
            return true;
        }
        if (m_nStdoutFd < 0)
            return false;
        auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
                         deadline - std::chrono::steady_clock::now())
                         .count();
        if (nLeft <= 0)
            return false;
        pollfd pfd{m_nStdoutFd, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(nLeft)) <= 0)
            continue;
        char buf[512];
        ssize_t n = read(m_nStdoutFd, buf, sizeof(buf));
        if (n <= 0)
            return false;
        m_strPending.append(buf, static_cast<size_t>(n));
    }
}

void CChildProcess::Stop(int nSignal, int nGraceMs) {
    if (m_nStdoutFd >= 0) {
        close(m_nStdoutFd);
        m_nStdoutFd = -1;
    }
    if (m_nPid <= 0)
        return;
    kill(m_nPid, nSignal);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nGraceMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(m_nPid, nullptr, WNOHANG) == m_nPid) {
            m_nPid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(m_nPid, SIGKILL);
    waitpid(m_nPid, nullptr, 0);
    m_nPid = -1;
}

bool CChildProcess::IsRunning() {
    if (m_nPid <= 0)
        return false;
    if (waitpid(m_nPid, nullptr, WNOHANG) == m_nPid) {
        m_nPid = -1;
        return false;
    }
    return true;
}

int FindFreeLoopbackPort() {
    int nFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (nFd < 0)
        return -1;
    sockaddr_in addr = LoopbackAddress(0);
    socklen_t nLen = sizeof(addr);
    int nPort = -1;
    if (bind(nFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        getsockname(nFd, reinterpret_cast<sockaddr*>(&addr), &nLen) == 0) {
        nPort = ntohs(addr.sin_port);
    }
    close(nFd);
    return nPort;
}

bool WaitForLoopbackPort(int nPort, int nTimeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int nFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (nFd < 0)
            return false;
        sockaddr_in addr = LoopbackAddress(nPort);
        bool bOk = connect(nFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
        close(nFd);
        if (bOk)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string FindProgram(const std::string& strName, const std::string& strPreferred) {
    if (!strPreferred.empty() && access(strPreferred.c_str(), X_OK) == 0)
        return strPreferred;
    if (strName.find('/') != std::string::npos) {
        return access(strName.c_str(), X_OK) == 0 ? strName : std::string();
    }
    const char* pszPath = std::getenv("PATH");
    std::stringstream ss(pszPath != nullptr ? pszPath : "/usr/local/bin:/usr/bin:/bin");
    std::string strDir;
    while (std::getline(ss, strDir, ':')) {
        std::string strFull = (strDir.empty() ? "." : strDir) + "/" + strName;
        if (access(strFull.c_str(), X_OK) == 0)
            return strFull;
    }
    return std::string();
}
