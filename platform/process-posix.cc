#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/process.h"

extern char** environ;

namespace platform {

const char* const kExeSuffix = "";

bool InitSockets() {
    struct sigaction sa {};
    sa.sa_handler = SIG_IGN;
    sigemptyset(&sa.sa_mask);
    return sigaction(SIGPIPE, &sa, nullptr) == 0;
}

std::string GetExecutablePath() {
    char szPath[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", szPath, PATH_MAX);
    if (n <= 0) return std::string();
    return std::string(szPath, static_cast<size_t>(n));
}

int GetOsMajorVersion() {
    struct utsname name {};
    if (uname(&name) != 0) return 0;
    return atoi(name.release);
}

bool StartDetachedProcess(const std::string& strPath, const std::vector<std::string>& vecArgs,
                          const std::string& strWorkDir) {
    // exec failures must reach the caller, not just the child: a close-on-exec
    // pipe carries the child's errno back when exec does not happen.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(strPath.c_str()));
    for (const std::string& strArg : vecArgs) argv.push_back(const_cast<char*>(strArg.c_str()));
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
        if (pidGrand != 0) _exit(pidGrand < 0 ? 1 : 0);
        if (!strWorkDir.empty() && chdir(strWorkDir.c_str()) != 0) {
            int nErr = errno;
            (void)!write(fds[1], &nErr, sizeof(nErr));
            _exit(127);
        }
        execve(strPath.c_str(), argv.data(), environ);
        int nErr = errno;
        (void)!write(fds[1], &nErr, sizeof(nErr));
        _exit(127);
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

}  // namespace platform
