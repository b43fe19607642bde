// A scratch folder for the fuzz targets that work on real files, made once
// per process below $TMPDIR and removed at exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CFuzzScratch {
public:
    CFuzzScratch();
    ~CFuzzScratch();
    CFuzzScratch(const CFuzzScratch&) = delete;
    CFuzzScratch& operator=(const CFuzzScratch&) = delete;

    const std::string& Path() const { return m_strPath; }
    std::string Sub(const std::string& strName) const { return m_strPath + "/" + strName; }
    // Writes a file below the folder, replacing it; aborts when it cannot.
    std::string Write(const std::string& strName, const uint8_t* pData, size_t nSize) const;

private:
    std::string m_strPath;
};

// Names in a folder, sorted; "." and ".." left out.
std::vector<std::string> FolderNames(const std::string& strDir);
// Removes a folder and everything in it; links are removed, never followed.
void RemoveTree(const std::string& strDir);
// Stops the fuzzer with a message: the input broke a rule the code promises.
[[noreturn]] void FuzzFail(const char* pszWhat, const std::string& strDetail = std::string());
