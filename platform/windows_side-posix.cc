#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/windows_side.h"

namespace platform {

namespace {

std::string HomeFolder() {
    const char* pszHome = getenv("HOME");
    if (pszHome != nullptr && *pszHome != '\0')
        return pszHome;
    long nSize = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(nSize > 0 ? static_cast<size_t>(nSize) : 16384);
    passwd pw{};
    passwd* pResult = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &pResult) == 0 && pResult != nullptr &&
        pResult->pw_dir != nullptr) {
        return pResult->pw_dir;
    }
    return std::string();
}

// A folder below the prefix, or empty when the prefix is unknown.
std::string BelowPrefix(const char* pszRel) {
    std::string strPrefix = GetWinePrefix();
    if (strPrefix.empty())
        return strPrefix;
    return strPrefix + "/" + pszRel;
}

}  // namespace

std::string GetWinePrefix() {
    std::string strPrefix;
    const char* pszPrefix = getenv("WINEPREFIX");
    if (pszPrefix != nullptr && *pszPrefix != '\0') {
        strPrefix = pszPrefix;
    } else {
        std::string strHome = HomeFolder();
        if (strHome.empty())
            return strHome;
        strPrefix = strHome + "/.wine";
    }
    while (strPrefix.size() > 1 && strPrefix.back() == '/')
        strPrefix.pop_back();
    return strPrefix;
}

std::string GetWindowsFolder() {
    return BelowPrefix("drive_c/windows");
}
std::string GetSystemFolder() {
    return BelowPrefix("drive_c/windows/system32");
}
std::string GetSysWow64Folder() {
    return BelowPrefix("drive_c/windows/syswow64");
}
std::string GetFontsFolder() {
    return BelowPrefix("drive_c/windows/Fonts");
}
std::string GetProgramFilesFolder() {
    return BelowPrefix("drive_c/Program Files");
}
std::string GetProgramFilesX86Folder() {
    return BelowPrefix("drive_c/Program Files (x86)");
}

bool IsWindowsDrivePath(const std::string& strPath) {
    if (strPath.size() < 2 || strPath[1] != ':')
        return false;
    char c = strPath[0];
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string MapWindowsDrivePath(const std::string& strPath) {
    if (!IsWindowsDrivePath(strPath))
        return strPath;
    std::string strPrefix = GetWinePrefix();
    char cDrive = strPath[0];
    if (cDrive >= 'A' && cDrive <= 'Z')
        cDrive = static_cast<char>(cDrive - 'A' + 'a');
    std::string strRest = strPath.substr(2);
    for (char& c : strRest) {
        if (c == '\\')
            c = '/';
    }
    // "C:x" is relative to the drive's current folder; Wine starts at its root.
    if (!strRest.empty() && strRest.front() != '/')
        strRest.insert(strRest.begin(), '/');
    std::string strRoot =
        cDrive == 'c' ? strPrefix + "/drive_c" : strPrefix + "/dosdevices/" + cDrive + ":";
    return strRoot + strRest;
}

}  // namespace platform
