#include "tests/zip/zip_test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "tests/support/temp_dir.h"
#include "util/file_util.h"

void UseKoreanTimeZone() {
    setenv("TZ", "KST-9", 1);
    tzset();
}

std::string PythonArchive(const std::string& strName) {
    return std::string(ZIP_TEST_ARCHIVES) + "/" + strName;
}

FileFacts FactsOf(const std::string& strPath) {
    FileFacts facts;
    struct stat st {};
    if (lstat(strPath.c_str(), &st) != 0)
        return facts;
    facts.bExists = true;
    facts.bDirectory = S_ISDIR(st.st_mode);
    facts.nMode = st.st_mode & 07777;
    facts.nModifyTime = st.st_mtime;
    return facts;
}

std::vector<std::string> ListTree(const std::string& strFolder) {
    std::vector<std::string> vecPaths;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(strFolder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::string strPath = std::filesystem::relative(it->path(), strFolder).string();
        if (it->is_directory())
            strPath += "/";
        vecPaths.push_back(strPath);
    }
    std::sort(vecPaths.begin(), vecPaths.end());
    return vecPaths;
}

CTestArchive::CTestArchive(const std::string& strPath, const char* pszRoot)
    : m_hZip(OpenZipFile(strPath.c_str(), 0, kZipKindFileName, pszRoot)) {}

CTestArchive::~CTestArchive() {
    if (m_hZip != nullptr) {
        EXPECT_EQ(CloseZipFile(m_hZip), kZipOk);
    }
}

int CTestArchive::Count() const {
    ZipEntry entry;
    if (GetZipItem(m_hZip, -1, &entry) != kZipOk)
        return -1;
    return entry.index;
}

int CTestArchive::Find(const std::string& strName) const {
    for (int i = 0; i < Count(); ++i) {
        ZipEntry entry;
        if (GetZipItem(m_hZip, i, &entry) == kZipOk && strName == entry.name)
            return i;
    }
    return -1;
}

ZipResult CTestArchive::ExtractAll(const std::string& strFolder) const {
    for (int i = 0; i < Count(); ++i) {
        ZipEntry entry;
        ZipResult nResult = GetZipItem(m_hZip, i, &entry);
        if (nResult != kZipOk)
            return nResult;
        std::string strOut = strFolder + "/" + entry.name;
        unsigned dwError = 0;
        if (CFileUtil::CreateDirectories(strOut, &dwError) != 1)
            return kZipNoFile;
        nResult = UnzipItem(m_hZip, i, strOut.c_str(), 0, kZipKindFileName);
        if (nResult != kZipOk)
            return nResult;
    }
    return kZipOk;
}
