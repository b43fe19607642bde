// The zip reader as the engine uses it: open the archive, read every
// member's record, make its folders and extract it into a scratch folder.
// Nothing may be written outside that folder, and no link may be made.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_scratch.h"
#include "platform/file_system.h"
#include "util/file_util.h"
#include "zip/unzip.h"

namespace {

namespace fs = std::filesystem;

// The extraction folder sits this deep below the scratch folder, so that a
// name climbing out with ".." lands in a level that is checked.
constexpr const char* kLevels[] = {"a", "b", "c", "d"};

// One walk over the scratch folder: the archive, the levels down to the
// extraction folder and what is below it; nothing else, and no links.
void CheckNothingEscaped(const CFuzzScratch& scratch, const std::string& strOut) {
    std::set<std::string> setAllowed = {scratch.Sub("archive.zip")};
    std::string strLevel = scratch.Path();
    for (const char* pszLevel : kLevels) {
        strLevel += std::string("/") + pszLevel;
        setAllowed.insert(strLevel);
    }
    std::string strOutPrefix = strOut + "/";
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(scratch.Path(), ec)) {
        std::string strPath = entry.path().string();
        if (entry.is_symlink(ec))
            FuzzFail("extraction made a link", strPath);
        if (strPath != strOut && strPath.compare(0, strOutPrefix.size(), strOutPrefix) != 0 &&
            setAllowed.count(strPath) == 0) {
            FuzzFail("a file was written outside the extraction folder", strPath);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    static CFuzzScratch s_scratch;
    std::string strArchive = s_scratch.Write("archive.zip", pData, nSize);
    static const std::string s_strOut = [] {
        std::string strDir = s_scratch.Path();
        for (const char* pszLevel : kLevels) {
            strDir += std::string("/") + pszLevel;
            platform::MakeDirectory(strDir);
        }
        return strDir + "/out";
    }();
    const std::string& strOut = s_strOut;
    platform::MakeDirectory(strOut);

    ZipHandle hZip = OpenZipFile(strArchive.c_str(), 0, kZipKindFileName, strOut.c_str());
    if (hZip != nullptr) {
        ZipEntry ze;
        if (GetZipItem(hZip, -1, &ze) != kZipOk)
            FuzzFail("the member count cannot be read from an open archive");
        int nCount = ze.index;
        for (int i = 0; i < nCount; ++i) {
            if (GetZipItem(hZip, i, &ze) != kZipOk)
                continue;
            // As the engine extracts: a full path below the folder, its folders made first.
            std::string strTarget = platform::JoinPath(strOut, ze.name);
            unsigned dwError = 0;
            if (CFileUtil::CreateDirectories(strTarget, &dwError) < 0)
                continue;
            UnzipItem(hZip, i, strTarget.c_str(), 0, kZipKindFileName);
            // And once more by the relative name, which the reader places itself.
            UnzipItem(hZip, i, ze.name, 0, kZipKindFileName);
        }
        if (CloseZipFile(hZip) != kZipOk)
            FuzzFail("closing an open archive failed");
    }
    CheckNothingEscaped(s_scratch, strOut);
    RemoveTree(strOut);
    return 0;
}
