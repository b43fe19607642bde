// One update run per installation folder. The lock is the kernel's (flock
// on the folder itself), so no file is written for it and a process that
// dies, even by kill -9, releases it at once. The application object owns
// the lock for the whole process.
#pragma once

#include <string>

namespace platform {

class CFolderLock {
public:
    CFolderLock() = default;
    ~CFolderLock();
    CFolderLock(const CFolderLock&) = delete;
    CFolderLock& operator=(const CFolderLock&) = delete;

    // Takes the lock on strFolder without waiting; a lock handed over by
    // the launcher that started us is taken over instead. False when another
    // process holds it (GetLastSystemError() is kErrorLockHeld) or the
    // folder cannot be opened.
    bool TryLock(const std::string& strFolder);
    bool IsHeld() const { return m_nFd >= 0; }
    // Lets the next program this process starts inherit the lock; it takes
    // it over with TryLock. Only for the launcher, just before it starts the
    // run-copy and ends.
    void HandOverToChild();

private:
    int m_nFd = -1;
};

// The error TryLock leaves when the folder is locked by another process.
extern const int kErrorLockHeld;

}  // namespace platform
