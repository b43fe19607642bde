#include "engine/target_path.h"

#include <vector>

#include "app/tide_globals.h"
#include "engine/sync_engine.h"
#include "log/my_log.h"
#include "platform/desktop.h"
#include "platform/file_system.h"
#include "platform/windows_side.h"

namespace {

constexpr char kSystemDirPlaceholder[] = "%SystemDir%";
constexpr char kSystemRootPlaceholder[] = "%SystemRoot%";

void ReplaceAll(std::string& strText, const std::string& strFrom, const std::string& strTo) {
    size_t nPos = 0;
    while ((nPos = strText.find(strFrom, nPos)) != std::string::npos) {
        strText.replace(nPos, strFrom.size(), strTo);
        nPos += strTo.size();
    }
}

// Folds the "." and ".." segments of a path below a folder (strRest starts
// at the folder's end). False when a ".." would climb above the folder. A
// path without such segments comes back exactly as it was.
bool FoldDotSegments(const std::string& strRest, std::string* pstrOut) {
    const char cSep = platform::kPathSep;
    std::vector<std::string> vecParts;
    bool bDots = false;
    size_t nStart = 0;
    while (nStart <= strRest.size()) {
        size_t nEnd = strRest.find(cSep, nStart);
        if (nEnd == std::string::npos)
            nEnd = strRest.size();
        std::string strPart = strRest.substr(nStart, nEnd - nStart);
        if (strPart == "..") {
            if (vecParts.empty())
                return false;
            vecParts.pop_back();
            bDots = true;
        } else if (strPart == ".") {
            bDots = true;
        } else if (!strPart.empty()) {
            vecParts.push_back(strPart);
        }
        nStart = nEnd + 1;
    }
    if (!bDots) {
        *pstrOut = strRest;
        return true;
    }
    pstrOut->clear();
    for (const std::string& strPart : vecParts) {
        if (!pstrOut->empty() || strRest.front() == cSep)
            *pstrOut += cSep;
        *pstrOut += strPart;
    }
    return true;
}

}  // namespace

SpecialDirMap LoadSpecialDirMap() {
    SpecialDirMap mapDirs;
    mapDirs["_FONTS"] = platform::GetFontsFolder();
    mapDirs["_WINDOWS"] = platform::GetWindowsFolder();
    mapDirs["_DESKTOPDIRECTORY"] =
        platform::GetSpecialFolderPath(platform::SpecialFolder::kDesktop);
    mapDirs["_PROGRAMS"] = platform::GetSpecialFolderPath(platform::SpecialFolder::kPrograms);
    mapDirs["_STARTUP"] = platform::GetSpecialFolderPath(platform::SpecialFolder::kStartup);
    mapDirs["_SYSTEM"] = platform::GetSystemFolder();
    mapDirs["_PROGRAM_FILES"] = platform::GetProgramFilesFolder();

    // 32-bit files live in syswow64 and "Program Files (x86)" of a 64-bit
    // prefix; a 32-bit prefix has only the ordinary folders.
    std::string strWow64 = platform::GetSysWow64Folder();
    mapDirs["_SYSTEM_32BIT"] = !strWow64.empty() && platform::FileExists(strWow64)
                                   ? strWow64
                                   : platform::GetSystemFolder();
    std::string strX86 = platform::GetProgramFilesX86Folder();
    mapDirs["_PROGRAM_FILES_32BIT"] = !strX86.empty() && platform::FileExists(strX86)
                                          ? strX86
                                          : platform::GetProgramFilesFolder();

    for (const auto& [strKey, strDir] : mapDirs) {
        TideLog(1, "CTideDlg::LoadSpecialDirMap> %s = [%s]", strKey.c_str(), strDir.c_str());
    }
    return mapDirs;
}

void CSyncEngine::AdjustTargetFilePath(FileItem& item, const std::string& strBaseDir) {
    std::string strPath = item.m_strTargetFile;
    // A name of one or two bytes is as good as any other: only no name at all is invalid.
    if (strPath.empty()) {
        TideLog(4, "CSyncEngine::AdjustTargetFilePath> Invalid TargetFile path. (%s)",
                strPath.c_str());
        return;
    }
    // Lists are written with either separator; the platform knows only one.
    for (char& c : strPath) {
        if (c == '/' || c == '\\')
            c = platform::kPathSep;
    }

    // The folder the path is resolved against; ".." may not climb above it.
    std::string strRoot;
    // "_KEY/rest": the folder of the key, then the rest from the separator on.
    // An unknown key (also one in another letter case) leaves a relative path.
    size_t nSep = strPath.find(platform::kPathSep);
    if (strPath[0] == '_' && nSep != std::string::npos && m_pDlg != nullptr) {
        const SpecialDirMap& mapDirs = m_pDlg->GetSpecialDirMap();
        auto it = mapDirs.find(strPath.substr(0, nSep));
        if (it != mapDirs.end()) {
            strRoot = it->second;
            strPath = it->second + strPath.substr(nSep);
        }
    }
    if (strRoot.empty()) {
        if (strPath.rfind(kSystemDirPlaceholder, 0) == 0)
            strRoot = g_szSystemDir;
        else if (strPath.rfind(kSystemRootPlaceholder, 0) == 0)
            strRoot = g_szWindowsDir;
    }

    ReplaceAll(strPath, kSystemDirPlaceholder, g_szSystemDir);
    ReplaceAll(strPath, kSystemRootPlaceholder, g_szWindowsDir);

    if (platform::IsWindowsDrivePath(strPath)) {
        // A Windows absolute path names a place on the Windows side.
        strRoot = platform::MapWindowsDrivePath(strPath.substr(0, 2));
        strPath = platform::MapWindowsDrivePath(strPath);
    } else if (strRoot.empty()) {
        // Without a drive letter a path is the installation folder's, also
        // one that starts with a separator (never the Linux root).
        strRoot = strBaseDir;
        bool bBaseEndsInSep = !strBaseDir.empty() && strBaseDir.back() == platform::kPathSep;
        if (strPath[0] == platform::kPathSep && bBaseEndsInSep)
            strPath.erase(0, 1);
        strPath = strBaseDir + strPath;
    }

    std::string strRest;
    if (!FoldDotSegments(strPath.substr(strRoot.size()), &strRest)) {
        TideLog(4,
                "CSyncEngine::AdjustTargetFilePath> '%s' >> The path climbs out of its folder "
                "(%s), refused.",
                item.m_strTargetFile.c_str(), strRoot.c_str());
        item.m_bUnsafeTarget = 1;
        return;
    }
    item.m_strTargetFile = strPath.substr(0, strRoot.size()) + strRest;
}
