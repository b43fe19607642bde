// File-system calls the core needs, on the platform's own paths.
// Every call that fails leaves its reason in GetLastSystemError().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

#ifdef _WIN32
constexpr char kPathSep = '\\';
#else
constexpr char kPathSep = '/';
#endif

// "%s<sep>%s": the one way paths are joined.
std::string JoinPath(const std::string& strDir, const std::string& strName);

struct FileStatus {
    uint64_t nSize = 0;
    int64_t nModifyTime = 0;  // Unix seconds
    bool bDirectory = false;
    bool bRegular = false;   // a plain file: not a folder, fifo, socket or device
    bool bReadOnly = false;  // no write permission for the owner
    uint64_t nDevice = 0;    // the file system that holds it
    uint64_t nInode = 0;     // with nDevice, names the file whatever path reached it
};

// Follows symbolic links: the status is that of the file a link names.
bool GetFileStatus(const std::string& strPath, FileStatus* pStatus);
bool FileExists(const std::string& strPath);
bool SetFileModifyTime(const std::string& strPath, int64_t nUnixSeconds);
bool SetReadOnly(const std::string& strPath, bool bReadOnly);

// Gives strTo the permission bits of strFrom (nothing to do where files
// carry no such bits).
bool CopyFileMode(const std::string& strFrom, const std::string& strTo);

// Creates one folder with the process's normal permissions.
bool MakeDirectory(const std::string& strPath);
// Creates a new folder only this user can enter, in the system's scratch
// space ($TMPDIR, else /tmp), named strPrefix plus a unique ending. Its
// path, or empty when it cannot be made. The caller removes it.
std::string MakePrivateTempFolder(const std::string& strPrefix);
bool RemoveDirectory(const std::string& strPath);
bool DeleteFile(const std::string& strPath);
// Renames, replacing an existing target.
bool MoveFileReplace(const std::string& strFrom, const std::string& strTo);
// Copies contents, permission bits and modification time, overwriting the target.
bool CopyFileOver(const std::string& strFrom, const std::string& strTo);
// True when both files can be read and hold the same bytes.
bool SameFileContent(const std::string& strA, const std::string& strB);
// Writes everything cached for the file system that holds strPath to the
// disk (syncfs), so that what a run reports done survives a power cut.
bool SyncFileSystemOf(const std::string& strPath);

struct DirEntry {
    std::string strName;
    bool bDirectory = false;  // a folder itself, not a link to one
    bool bLink = false;       // a symbolic link, whatever it names
};
// Entries of a folder without "." and ".."; false when it cannot be read.
bool ListDirectory(const std::string& strDir, std::vector<DirEntry>* pEntries);

}  // namespace platform
