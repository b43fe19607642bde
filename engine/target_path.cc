#include "engine/target_path.h"

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
    if (strPath.size() < 3) {
        TideLog(4, "CSyncEngine::AdjustTargetFilePath> Invalid TargetFile path. (%s)",
                strPath.c_str());
        return;
    }
    // Lists are written with either separator; the platform knows only one.
    for (char& c : strPath) {
        if (c == '/' || c == '\\')
            c = platform::kPathSep;
    }

    // "_KEY/rest": the folder of the key, then the rest from the separator on.
    // An unknown key (also one in another letter case) leaves a relative path.
    size_t nSep = strPath.find(platform::kPathSep);
    if (strPath[0] == '_' && nSep != std::string::npos && m_pDlg != nullptr) {
        const SpecialDirMap& mapDirs = m_pDlg->GetSpecialDirMap();
        auto it = mapDirs.find(strPath.substr(0, nSep));
        if (it != mapDirs.end())
            strPath = it->second + strPath.substr(nSep);
    }

    ReplaceAll(strPath, kSystemDirPlaceholder, g_szSystemDir);
    ReplaceAll(strPath, kSystemRootPlaceholder, g_szWindowsDir);

    if (platform::IsWindowsDrivePath(strPath)) {
        // A Windows absolute path names a place on the Windows side.
        strPath = platform::MapWindowsDrivePath(strPath);
    } else if (strPath[0] == platform::kPathSep) {
        // Taken from the root of the installation's drive.
#ifdef _WIN32
        size_t nColon = strBaseDir.find(':');
        strPath =
            (nColon == std::string::npos ? strBaseDir : strBaseDir.substr(0, nColon + 1)) + strPath;
#endif
    } else {
        strPath = strBaseDir + strPath;
    }
    item.m_strTargetFile = strPath;
}
