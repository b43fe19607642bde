#include "fuzz/fuzz_scratch.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

CFuzzScratch::CFuzzScratch() {
    const char* pszTmp = std::getenv("TMPDIR");
    std::string strTemplate = std::string(pszTmp != nullptr && *pszTmp ? pszTmp : "/tmp") +
                              "/tidewell-fuzz-XXXXXX";
    if (mkdtemp(strTemplate.data()) == nullptr)
        FuzzFail("cannot make the scratch folder", strTemplate);
    m_strPath = strTemplate;
}

CFuzzScratch::~CFuzzScratch() {
    RemoveTree(m_strPath);
}

std::string CFuzzScratch::Write(const std::string& strName, const uint8_t* pData,
                                size_t nSize) const {
    std::string strPath = Sub(strName);
    std::FILE* fp = std::fopen(strPath.c_str(), "wb");
    if (fp == nullptr || (nSize > 0 && std::fwrite(pData, 1, nSize, fp) != nSize) ||
        std::fclose(fp) != 0) {
        FuzzFail("cannot write the input file", strPath);
    }
    return strPath;
}

std::vector<std::string> FolderNames(const std::string& strDir) {
    std::vector<std::string> vecNames;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(strDir, ec))
        vecNames.push_back(entry.path().filename().string());
    std::sort(vecNames.begin(), vecNames.end());
    return vecNames;
}

void RemoveTree(const std::string& strDir) {
    std::error_code ec;
    if (fs::remove_all(strDir, ec) != static_cast<std::uintmax_t>(-1) && !ec)
        return;
    // A folder without write permission cannot be emptied: open them all up first.
    for (const auto& entry : fs::recursive_directory_iterator(strDir, ec)) {
        if (entry.is_directory(ec) && !entry.is_symlink(ec))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(strDir, ec);
}

void FuzzFail(const char* pszWhat, const std::string& strDetail) {
    std::fprintf(stderr, "fuzz check failed: %s %s\n", pszWhat, strDetail.c_str());
    std::abort();
}
