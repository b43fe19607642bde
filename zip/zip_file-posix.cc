#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "platform/file_system.h"
#include "zip/zip_file.h"

namespace zipfile {

namespace {

// Attempts at a free temporary name before giving up.
constexpr int kMaxTempNameTries = 100;

std::atomic<unsigned> g_nTempSerial{0};

std::string FolderOf(const std::string& strPath) {
    size_t nSep = strPath.rfind('/');
    if (nSep == std::string::npos)
        return ".";
    if (nSep == 0)
        return "/";
    return strPath.substr(0, nSep);
}

}  // namespace

bool GetCurrentFolder(std::string* pstrFolder) {
    char szPath[PATH_MAX];
    if (getcwd(szPath, sizeof(szPath)) == nullptr)
        return false;
    *pstrFolder = szPath;
    return true;
}

CZipInputFile::~CZipInputFile() {
    Close();
}

bool CZipInputFile::Open(const std::string& strPath) {
    Close();
    int nFd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (nFd < 0)
        return false;
    struct stat st {};
    if (fstat(nFd, &st) != 0 || !S_ISREG(st.st_mode)) {
        // A folder or a device is no archive.
        int nErr = S_ISREG(st.st_mode) || st.st_mode == 0 ? errno : EISDIR;
        close(nFd);
        errno = nErr;
        return false;
    }
    m_nFd = nFd;
    m_nSize = static_cast<uint64_t>(st.st_size);
    return true;
}

void CZipInputFile::Close() {
    if (m_nFd >= 0)
        close(m_nFd);
    m_nFd = -1;
    m_nSize = 0;
}

bool CZipInputFile::ReadAt(uint64_t nOffset, void* pData, size_t nLength) const {
    if (m_nFd < 0 || nOffset > m_nSize || nLength > m_nSize - nOffset)
        return false;
    auto* p = static_cast<char*>(pData);
    while (nLength > 0) {
        ssize_t n = pread(m_nFd, p, nLength, static_cast<off_t>(nOffset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        nLength -= static_cast<size_t>(n);
        nOffset += static_cast<uint64_t>(n);
    }
    return true;
}

CZipOutputFile::~CZipOutputFile() {
    if (m_nFd >= 0)
        close(m_nFd);
    if (!m_bCommitted && !m_strTempPath.empty())
        platform::DeleteFile(m_strTempPath);
}

bool CZipOutputFile::Create(const std::string& strTarget, unsigned nMode) {
    m_strTarget = strTarget;
    // A short name of our own keeps clear of the file-name length limit,
    // whatever the target is called; the dot keeps it out of listings.
    std::string strFolder = FolderOf(strTarget);
    for (int nTry = 0; nTry < kMaxTempNameTries; ++nTry) {
        char szName[64];
        std::snprintf(szName, sizeof(szName), ".unzip-%ld-%u.part", static_cast<long>(getpid()),
                      g_nTempSerial.fetch_add(1));
        std::string strPath = platform::JoinPath(strFolder, szName);
        int nFd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                       static_cast<mode_t>(nMode & 0777));
        if (nFd >= 0) {
            m_nFd = nFd;
            m_strTempPath = strPath;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool CZipOutputFile::Write(const void* pData, size_t nLength) {
    const auto* p = static_cast<const char*>(pData);
    while (nLength > 0) {
        ssize_t n = write(m_nFd, p, nLength);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        p += n;
        nLength -= static_cast<size_t>(n);
    }
    return true;
}

bool CZipOutputFile::Finish() {
    if (m_nFd < 0)
        return false;
    int nResult = close(m_nFd);
    m_nFd = -1;
    return nResult == 0;
}

bool CZipOutputFile::Commit() {
    if (m_nFd >= 0 || m_strTempPath.empty())
        return false;
    if (!platform::MoveFileReplace(m_strTempPath, m_strTarget))
        return false;
    m_bCommitted = true;
    return true;
}

}  // namespace zipfile
