// Shared helpers of the zip reader tests: the archives made by Python's
// zipfile (make_archives.py, run by the build), file facts, and an archive
// wrapper that closes itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/unzip.h"

// Runs the process, and the tools it starts, in a zone nine hours east of
// GMT, so that DOS (local) times differ from GMT ones.
void UseKoreanTimeZone();

// Full path of an archive made by make_archives.py.
std::string PythonArchive(const std::string& strName);

struct FileFacts {
    bool bExists = false;
    bool bDirectory = false;
    unsigned nMode = 0;  // permission bits
    int64_t nModifyTime = 0;
};
FileFacts FactsOf(const std::string& strPath);

// Every path below the folder, relative and sorted; folders end in "/".
std::vector<std::string> ListTree(const std::string& strFolder);

// An open archive, closed when the object goes away.
class CTestArchive {
public:
    explicit CTestArchive(const std::string& strPath, const char* pszRoot = nullptr);
    ~CTestArchive();
    CTestArchive(const CTestArchive&) = delete;
    CTestArchive& operator=(const CTestArchive&) = delete;

    ZipHandle Handle() const { return m_hZip; }
    int Count() const;
    // Index of the member with the name, -1 when there is none.
    int Find(const std::string& strName) const;
    ZipResult Entry(int nIndex, ZipEntry* pEntry) const {
        return GetZipItem(m_hZip, nIndex, pEntry);
    }
    ZipResult Unzip(int nIndex, const std::string& strOut) const {
        return UnzipItem(m_hZip, nIndex, strOut.c_str(), 0, kZipKindFileName);
    }
    // Extracts every member to strFolder/name the way the engine does: the
    // member's folders first, then the member. Returns the first failure.
    ZipResult ExtractAll(const std::string& strFolder) const;

private:
    ZipHandle m_hZip = nullptr;
};
