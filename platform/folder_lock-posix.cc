#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace platform {

namespace {

// Names the inherited descriptor of a lock handed over to a run-copy.
constexpr char kHandOverVariable[] = "TIDEWELL_LOCK_FD";

// The descriptor a launcher handed over, when it really is a lock on
// strFolder; -1 otherwise.
int TakeHandedOverLock(const std::string& strFolder) {
    const char* pszFd = std::getenv(kHandOverVariable);
    if (pszFd == nullptr)
        return -1;
    char* pEnd = nullptr;
    long nFd = std::strtol(pszFd, &pEnd, 10);
    unsetenv(kHandOverVariable);
    if (pEnd == pszFd || *pEnd != '\0' || nFd < 3 || nFd > 65535)
        return -1;
    int fd = static_cast<int>(nFd);
    struct stat stFd {}, stFolder {};
    if (fstat(fd, &stFd) != 0 || stat(strFolder.c_str(), &stFolder) != 0 ||
        !S_ISDIR(stFd.st_mode) || stFd.st_dev != stFolder.st_dev ||
        stFd.st_ino != stFolder.st_ino) {
        return -1;
    }
    // Ours already, through the shared open file: this cannot block.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return -1;
    // Programs we start must not keep the folder locked after we end.
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

}  // namespace

const int kErrorLockHeld = EWOULDBLOCK;

CFolderLock::~CFolderLock() {
    if (m_nFd >= 0)
        close(m_nFd);
}

bool CFolderLock::TryLock(const std::string& strFolder) {
    if (m_nFd >= 0)
        return true;
    m_nFd = TakeHandedOverLock(strFolder);
    if (m_nFd >= 0)
        return true;
    int fd = open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int nErr = errno;
        close(fd);
        errno = nErr;
        return false;
    }
    m_nFd = fd;
    return true;
}

void CFolderLock::HandOverToChild() {
    if (m_nFd < 0)
        return;
    fcntl(m_nFd, F_SETFD, 0);
    setenv(kHandOverVariable, std::to_string(m_nFd).c_str(), 1);
}

}  // namespace platform
