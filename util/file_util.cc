#include "util/file_util.h"

#include <vector>

#include "platform/file_system.h"
#include "platform/system_error.h"

namespace {

constexpr const char* kBlanks = " \t\n\v\f\r";

std::string Trim(const std::string& strText) {
    size_t nFirst = strText.find_first_not_of(kBlanks);
    if (nFirst == std::string::npos)
        return std::string();
    size_t nLast = strText.find_last_not_of(kBlanks);
    return strText.substr(nFirst, nLast - nFirst + 1);
}

// Creates one folder of a chain; the first one made goes through
// CreateDirectory_GrantAccess, the rest are made plainly. Returns 0 or the
// system error. A folder that already exists counts as made, but a file of
// that name does not: the caller could not put anything into it.
unsigned MakeChainFolder(const std::string& strFolder, bool* pbFirstDone) {
    unsigned dwError = 0;
    if (!*pbFirstDone) {
        *pbFirstDone = true;
        CFileUtil::CreateDirectory_GrantAccess(strFolder, &dwError);
    } else if (!platform::MakeDirectory(strFolder)) {
        dwError = static_cast<unsigned>(platform::GetLastSystemError());
    }
    if (dwError == static_cast<unsigned>(platform::kErrorAlreadyExists)) {
        platform::FileStatus status;
        if (platform::GetFileStatus(strFolder, &status) && status.bDirectory)
            return 0;
    }
    return dwError;
}

bool EndsWithSeparator(const std::string& strPath) {
    return !strPath.empty() && (strPath.back() == platform::kPathSep || strPath.back() == '/');
}

// Removes every entry below strFolder; the folder itself must already be
// writable. Only real folders are entered: a link to a folder is listed as
// a plain entry and removed as a link, so nothing outside the tree is
// touched.
void EmptyFolder(const std::string& strFolder) {
    std::vector<platform::DirEntry> vecEntries;
    if (!platform::ListDirectory(strFolder, &vecEntries))
        return;
    std::string strBase = strFolder;
    if (EndsWithSeparator(strBase))
        strBase.pop_back();
    for (const platform::DirEntry& entry : vecEntries) {
        std::string strPath = platform::JoinPath(strBase, entry.strName);
        if (entry.bDirectory) {
            // A folder without write permission keeps its entries; open it
            // first, then empty and remove it.
            platform::SetReadOnly(strPath, false);
            EmptyFolder(strPath);
            platform::RemoveDirectory(strPath);
        } else {
            // Removing a name needs only the folder's permission. The
            // file's own mode is left alone: changing it would follow a link
            // to its target.
            platform::DeleteFile(strPath);
        }
    }
}

}  // namespace

bool CFileUtil::CreateDirectory_GrantAccess(const std::string& strPath, unsigned* pdwError) {
    unsigned dwError = 0;
    if (strPath.empty()) {
        dwError = static_cast<unsigned>(platform::kErrorPathNotFound);
    } else if (!platform::MakeDirectory(strPath)) {
        // Created with the normal permissions only: a folder that anyone
        // may write to would let any local user replace programs others run.
        dwError = static_cast<unsigned>(platform::GetLastSystemError());
    }
    if (pdwError != nullptr)
        *pdwError = dwError;
    return dwError == 0;
}

int CFileUtil::CreateDirectories(const std::string& strFilePath, unsigned* pdwError) {
    unsigned dwUnused = 0;
    unsigned* pdwOut = pdwError != nullptr ? pdwError : &dwUnused;
    *pdwOut = 0;

    std::string strPath = Trim(strFilePath);
    if (strPath.empty())
        return -2;
    size_t nLastSep = strPath.rfind(platform::kPathSep);
    if (nLastSep == std::string::npos)
        return -3;
    // The last component names the file and is not created.
    std::string strFolder = strPath.substr(0, nLastSep);
    // A file directly below the root needs no folder.
    if (strFolder.empty())
        return 1;

    bool bFirstDone = false;
    // The root separator is skipped; every later one ends a folder to make,
    // which also covers relative paths.
    for (size_t nPos = strFolder.find(platform::kPathSep, 1); nPos != std::string::npos;
         nPos = strFolder.find(platform::kPathSep, nPos + 1)) {
        unsigned dwError = MakeChainFolder(strFolder.substr(0, nPos), &bFirstDone);
        if (dwError != 0) {
            *pdwOut = dwError;
            return -1;
        }
    }
    unsigned dwError = MakeChainFolder(strFolder, &bFirstDone);
    if (dwError != 0) {
        *pdwOut = dwError;
        return -1;
    }
    return 1;
}

bool CFileUtil::DeleteDirectory(const std::string& strFolder, bool bKeepFolder) {
    if (strFolder.empty())
        return false;
    std::string strBase = strFolder;
    while (strBase.size() > 1 && EndsWithSeparator(strBase))
        strBase.pop_back();

    // Entries of a folder can only be removed while the folder is writable.
    platform::FileStatus status;
    bool bWasReadOnly = platform::GetFileStatus(strBase, &status) && status.bReadOnly;
    if (bWasReadOnly)
        platform::SetReadOnly(strBase, false);

    EmptyFolder(strBase);

    if (bKeepFolder) {
        // The kept folder keeps its own setting.
        if (bWasReadOnly)
            platform::SetReadOnly(strBase, true);
        return true;
    }
    return platform::RemoveDirectory(strBase);
}

int CFileUtil::ClearReadOnly(const std::string& strFilePath) {
    platform::FileStatus status;
    if (!platform::GetFileStatus(strFilePath, &status))
        return -1;
    if (status.bReadOnly)
        platform::SetReadOnly(strFilePath, false);
    return 0;
}
