#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/file_system.h"

namespace platform {

std::string JoinPath(const std::string& strDir, const std::string& strName) {
    std::string strPath = strDir;
    strPath += kPathSep;
    strPath += strName;
    return strPath;
}

bool GetFileStatus(const std::string& strPath, FileStatus* pStatus) {
    struct stat st {};
    if (stat(strPath.c_str(), &st) != 0) return false;
    pStatus->nSize = static_cast<uint64_t>(st.st_size);
    pStatus->nModifyTime = static_cast<int64_t>(st.st_mtime);
    pStatus->bDirectory = S_ISDIR(st.st_mode);
    pStatus->bRegular = S_ISREG(st.st_mode);
    pStatus->bReadOnly = (st.st_mode & S_IWUSR) == 0;
    pStatus->nDevice = static_cast<uint64_t>(st.st_dev);
    pStatus->nInode = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool FileExists(const std::string& strPath) {
    struct stat st {};
    return stat(strPath.c_str(), &st) == 0;
}

bool SetFileModifyTime(const std::string& strPath, int64_t nUnixSeconds) {
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(nUnixSeconds);
    times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, strPath.c_str(), times, 0) == 0;
}

bool SetReadOnly(const std::string& strPath, bool bReadOnly) {
    struct stat st {};
    if (stat(strPath.c_str(), &st) != 0) return false;
    mode_t nMode = st.st_mode & 07777;
    mode_t nNew = bReadOnly ? (nMode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH))
                            : (nMode | S_IWUSR);
    if (nNew == nMode) return true;
    return chmod(strPath.c_str(), nNew) == 0;
}

bool CopyFileMode(const std::string& strFrom, const std::string& strTo) {
    struct stat st {};
    if (stat(strFrom.c_str(), &st) != 0) return false;
    // Never hand on set-id bits through an update.
    return chmod(strTo.c_str(), st.st_mode & 0777) == 0;
}

bool MakeDirectory(const std::string& strPath) { return mkdir(strPath.c_str(), 0777) == 0; }

std::string MakePrivateTempFolder(const std::string& strPrefix) {
    const char* pszTemp = getenv("TMPDIR");
    std::string strTemplate = JoinPath(pszTemp != nullptr && *pszTemp != '\0' ? pszTemp : "/tmp",
                                       strPrefix + "XXXXXX");
    std::vector<char> buf(strTemplate.begin(), strTemplate.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        return std::string();
    return buf.data();
}

bool RemoveDirectory(const std::string& strPath) { return rmdir(strPath.c_str()) == 0; }

bool DeleteFile(const std::string& strPath) { return unlink(strPath.c_str()) == 0; }

bool MoveFileReplace(const std::string& strFrom, const std::string& strTo) {
    return rename(strFrom.c_str(), strTo.c_str()) == 0;
}

bool CopyFileOver(const std::string& strFrom, const std::string& strTo) {
    int fdIn = open(strFrom.c_str(), O_RDONLY | O_CLOEXEC);
    if (fdIn < 0) return false;
    struct stat st {};
    if (fstat(fdIn, &st) != 0) {
        int nErr = errno;
        close(fdIn);
        errno = nErr;
        return false;
    }
    // Opening a running executable for writing fails with ETXTBSY, as a
    // copy onto a running program fails on Windows.
    int fdOut = open(strTo.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777);
    if (fdOut < 0) {
        int nErr = errno;
        close(fdIn);
        errno = nErr;
        return false;
    }
    bool bOk = true;
    char buf[1 << 16];
    for (;;) {
        ssize_t n = read(fdIn, buf, sizeof(buf));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            bOk = false;
            break;
        }
        if (n == 0) break;
        for (ssize_t nDone = 0; nDone < n;) {
            ssize_t w = write(fdOut, buf + nDone, static_cast<size_t>(n - nDone));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) {
                bOk = false;
                break;
            }
            nDone += w;
        }
        if (!bOk) break;
    }
    int nErr = errno;
    if (bOk) fchmod(fdOut, st.st_mode & 07777);
    if (close(fdOut) != 0 && bOk) {
        bOk = false;
        nErr = errno;
    }
    close(fdIn);
    if (bOk) {
        timespec times[2] = {st.st_atim, st.st_mtim};
        utimensat(AT_FDCWD, strTo.c_str(), times, 0);
    }
    errno = nErr;
    return bOk;
}

bool SameFileContent(const std::string& strA, const std::string& strB) {
    FileStatus a, b;
    if (!GetFileStatus(strA, &a) || !GetFileStatus(strB, &b) || a.nSize != b.nSize) return false;
    std::FILE* fpA = std::fopen(strA.c_str(), "rbe");
    std::FILE* fpB = std::fopen(strB.c_str(), "rbe");
    bool bSame = fpA != nullptr && fpB != nullptr;
    static constexpr size_t kBlock = 1 << 16;
    std::vector<char> bufA(kBlock), bufB(kBlock);
    while (bSame) {
        size_t nA = std::fread(bufA.data(), 1, kBlock, fpA);
        size_t nB = std::fread(bufB.data(), 1, kBlock, fpB);
        bSame = nA == nB && std::memcmp(bufA.data(), bufB.data(), nA) == 0 && !std::ferror(fpA) &&
                !std::ferror(fpB);
        if (nA < kBlock) break;
    }
    if (fpA != nullptr) std::fclose(fpA);
    if (fpB != nullptr) std::fclose(fpB);
    return bSame;
}

bool SyncFileSystemOf(const std::string& strPath) {
    int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool bOk = syncfs(fd) == 0;
    int nErr = errno;
    close(fd);
    errno = nErr;
    return bOk;
}

bool ListDirectory(const std::string& strDir, std::vector<DirEntry>* pEntries) {
    pEntries->clear();
    DIR* pDir = opendir(strDir.c_str());
    if (pDir == nullptr) return false;
    while (dirent* pEnt = readdir(pDir)) {
        std::string strName = pEnt->d_name;
        if (strName == "." || strName == "..") continue;
        DirEntry entry;
        entry.strName = strName;
        if (pEnt->d_type == DT_DIR) {
            entry.bDirectory = true;
        } else if (pEnt->d_type == DT_LNK) {
            entry.bLink = true;
        } else if (pEnt->d_type == DT_UNKNOWN) {
            struct stat st {};
            if (lstat(JoinPath(strDir, strName).c_str(), &st) == 0) {
                entry.bDirectory = S_ISDIR(st.st_mode);
                entry.bLink = S_ISLNK(st.st_mode);
            }
        }
        pEntries->push_back(std::move(entry));
    }
    closedir(pDir);
    return true;
}

}  // namespace platform
