#include "tests/support/server_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <sstream>
#include <thread>

#include "platform/process.h"
#include "tests/support/temp_dir.h"

namespace {

sockaddr_in LoopbackAddress(int nPort) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(nPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

}  // namespace

bool CChildProcess::Start(const std::vector<std::string>& vecArgv, const std::string& strLogPath) {
    Stop();
    std::string strProgram = vecArgv.empty() ? "" : platform::FindProgramInPath(vecArgv[0]);
    if (strProgram.empty())
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
        execv(strProgram.c_str(), vecPtrs.data());
        _exit(127);
    }
    if (nLogFd >= 0)
        close(nLogFd);
    m_nPid = nPid;
    return nPid > 0;
}

void CChildProcess::Stop(int nSignal, int nGraceMs) {
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

bool WaitForNumberLine(const std::string& strPath, const std::string& strPrefix, int nTimeoutMs,
                       std::string* pstrRest) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    do {
        std::istringstream in(ReadWholeFile(strPath));
        // Only lines ended by a line feed: the server may be writing the last.
        for (std::string strLine; std::getline(in, strLine) && !in.eof();) {
            if (strLine.size() > strPrefix.size() && strLine.rfind(strPrefix, 0) == 0 &&
                isdigit(static_cast<unsigned char>(strLine[strPrefix.size()]))) {
                *pstrRest = strLine.substr(strPrefix.size());
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}
