// The file access the zip reader needs: positioned reads from the archive
// and new member files written under a temporary name beside their target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zipfile {

// The process's current folder; false when it cannot be read.
bool GetCurrentFolder(std::string* pstrFolder);

// An archive opened for reading; closed when the object goes away.
class CZipInputFile {
public:
    CZipInputFile() = default;
    ~CZipInputFile();
    CZipInputFile(const CZipInputFile&) = delete;
    CZipInputFile& operator=(const CZipInputFile&) = delete;

    // Opens an existing regular file for reading and takes its size.
    bool Open(const std::string& strPath);
    void Close();
    uint64_t Size() const { return m_nSize; }
    // Reads exactly nLength bytes at nOffset; false on an error or when the
    // range does not lie inside the file.
    bool ReadAt(uint64_t nOffset, void* pData, size_t nLength) const;

private:
    int m_nFd = -1;
    uint64_t m_nSize = 0;
};

// A new file written under a unique temporary name in the folder of its
// target. Commit renames it onto the target; otherwise the temporary file
// is removed when the object goes away.
class CZipOutputFile {
public:
    CZipOutputFile() = default;
    ~CZipOutputFile();
    CZipOutputFile(const CZipOutputFile&) = delete;
    CZipOutputFile& operator=(const CZipOutputFile&) = delete;

    // Creates the temporary file with the permission bits nMode (subject to
    // the process's umask). False with the system error set on failure.
    bool Create(const std::string& strTarget, unsigned nMode);
    bool Write(const void* pData, size_t nLength);
    // Closes the file; false when data could not be written out.
    bool Finish();
    const std::string& TempPath() const { return m_strTempPath; }
    // Renames the finished file onto the target, replacing it.
    bool Commit();

private:
    int m_nFd = -1;
    bool m_bCommitted = false;
    std::string m_strTarget;
    std::string m_strTempPath;
};

}  // namespace zipfile
