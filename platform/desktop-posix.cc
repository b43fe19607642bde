#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/desktop.h"
#include "platform/file_system.h"

namespace platform {

const char* const kShortcutExt = ".desktop";

namespace {

std::string EnvOr(const char* pszName, const std::string& strFallback) {
    const char* pszValue = getenv(pszName);
    return (pszValue != nullptr && *pszValue == '/') ? std::string(pszValue) : strFallback;
}

std::string HomeDir() {
    const char* pszHome = getenv("HOME");
    return pszHome != nullptr ? std::string(pszHome) : std::string();
}

std::string DataHome() { return EnvOr("XDG_DATA_HOME", HomeDir() + "/.local/share"); }

std::string ConfigHome() { return EnvOr("XDG_CONFIG_HOME", HomeDir() + "/.config"); }

// XDG_DESKTOP_DIR from user-dirs.dirs: XDG_DESKTOP_DIR="$HOME/Desktop".
std::string DesktopFromUserDirs() {
    std::ifstream in(ConfigHome() + "/user-dirs.dirs");
    std::string strLine;
    while (std::getline(in, strLine)) {
        const std::string strKey = "XDG_DESKTOP_DIR=";
        if (strLine.compare(0, strKey.size(), strKey) != 0) continue;
        std::string strValue = strLine.substr(strKey.size());
        if (strValue.size() >= 2 && strValue.front() == '"' && strValue.back() == '"') {
            strValue = strValue.substr(1, strValue.size() - 2);
        }
        if (strValue.compare(0, 5, "$HOME") == 0) strValue = HomeDir() + strValue.substr(5);
        if (!strValue.empty() && strValue[0] == '/') return strValue;
    }
    return std::string();
}

// Group names become a menu category and file names of their own.
std::string GroupId(const std::string& strGroup) {
    std::string strId;
    for (unsigned char c : strGroup) {
        strId += (isalnum(c) != 0) ? static_cast<char>(tolower(c)) : '-';
    }
    return strId;
}

// Quotes one word of an Exec line by the desktop entry rules, then escapes
// the backslashes once more for the file's own string syntax.
std::string QuoteExecWord(const std::string& strWord) {
    std::string strQuoted = "\"";
    for (char c : strWord) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') strQuoted += '\\';
        if (c == '%') strQuoted += '%';
        strQuoted += c;
    }
    strQuoted += '"';
    std::string strEscaped;
    for (char c : strQuoted) {
        if (c == '\\') strEscaped += '\\';
        strEscaped += c;
    }
    return strEscaped;
}

// A value on one line: line breaks would start new keys.
std::string EscapeValue(const std::string& strValue) {
    std::string strOut;
    for (char c : strValue) {
        if (c == '\\') {
            strOut += "\\\\";
        } else if (c == '\n') {
            strOut += "\\n";
        } else if (c == '\r') {
            strOut += "\\r";
        } else {
            strOut += c;
        }
    }
    return strOut;
}

bool WriteTextFile(const std::string& strPath, const std::string& strText, mode_t nMode) {
    std::string strTemp = strPath + ".tmp";
    FILE* fp = fopen(strTemp.c_str(), "wb");
    if (fp == nullptr) return false;
    bool bOk = fwrite(strText.data(), 1, strText.size(), fp) == strText.size();
    int nErr = errno;
    if (fclose(fp) != 0 && bOk) {
        bOk = false;
        nErr = errno;
    }
    if (bOk && chmod(strTemp.c_str(), nMode) != 0) {
        bOk = false;
        nErr = errno;
    }
    if (bOk && !MoveFileReplace(strTemp, strPath)) {
        bOk = false;
        nErr = errno;
    }
    if (!bOk) {
        DeleteFile(strTemp);
        errno = nErr;
    }
    return bOk;
}

bool MakeDirs(const std::string& strPath) {
    for (size_t nPos = 1; nPos <= strPath.size(); ++nPos) {
        if (nPos == strPath.size() || strPath[nPos] == '/') {
            std::string strDir = strPath.substr(0, nPos);
            if (!MakeDirectory(strDir) && errno != EEXIST) return false;
        }
    }
    return true;
}

}  // namespace

std::string GetSpecialFolderPath(SpecialFolder eFolder) {
    if (HomeDir().empty() && eFolder != SpecialFolder::kDesktop) {
        if (getenv(eFolder == SpecialFolder::kPrograms ? "XDG_DATA_HOME" : "XDG_CONFIG_HOME") ==
            nullptr) {
            return std::string();
        }
    }
    switch (eFolder) {
        case SpecialFolder::kDesktop: {
            const char* pszDesktop = getenv("XDG_DESKTOP_DIR");
            if (pszDesktop != nullptr && *pszDesktop == '/') return pszDesktop;
            std::string strDesktop = DesktopFromUserDirs();
            if (!strDesktop.empty()) return strDesktop;
            return HomeDir().empty() ? std::string() : HomeDir() + "/Desktop";
        }
        case SpecialFolder::kPrograms:
            return DataHome() + "/applications";
        case SpecialFolder::kStartup:
            return ConfigHome() + "/autostart";
    }
    return std::string();
}

std::string ShortcutFileName(const std::string& strName) {
    std::string strFile;
    for (unsigned char c : strName) strFile += (c == '/' || c < 0x20) ? '_' : static_cast<char>(c);
    if (strFile.empty() || strFile == "." || strFile == "..") strFile = "_" + strFile;
    return strFile;
}

bool WriteShortcut(const std::string& strLinkPath, const std::string& strName,
                   const std::string& strTarget, const std::string& strArgs,
                   const std::string& strGroup) {
    std::string strDir;
    size_t nSep = strTarget.rfind('/');
    if (nSep != std::string::npos) strDir = strTarget.substr(0, nSep);

    std::ostringstream out;
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Version=1.0\n"
        << "Name=" << EscapeValue(strName) << "\n"
        << "Exec=" << QuoteExecWord(strTarget);
    if (!strArgs.empty()) out << " " << EscapeValue(strArgs);
    out << "\n";
    if (!strDir.empty()) out << "Path=" << EscapeValue(strDir) << "\n";
    out << "Terminal=false\n";
    if (!strGroup.empty()) out << "Categories=X-" << GroupId(strGroup) << ";\n";
    // Desktops run only launchers that are marked executable.
    return WriteTextFile(strLinkPath, out.str(), 0755);
}

bool RegisterProgramGroup(const std::string& strGroup) {
    std::string strId = GroupId(strGroup);
    std::string strDirectories = DataHome() + "/desktop-directories";
    std::string strMenus = ConfigHome() + "/menus/applications-merged";
    if (!MakeDirs(strDirectories) || !MakeDirs(strMenus)) return false;
    std::string strDirectory = "[Desktop Entry]\nType=Directory\nName=" + EscapeValue(strGroup) + "\n";
    if (!WriteTextFile(strDirectories + "/" + strId + ".directory", strDirectory, 0644)) {
        return false;
    }
    std::string strMenu =
        "<!DOCTYPE Menu PUBLIC \"-//freedesktop//DTD Menu 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/menu-spec/menu-1.0.dtd\">\n"
        "<Menu>\n"
        "  <Name>Applications</Name>\n"
        "  <Menu>\n"
        "    <Name>" + strId + "</Name>\n"
        "    <Directory>" + strId + ".directory</Directory>\n"
        "    <Include><Category>X-" + strId + "</Category></Include>\n"
        "  </Menu>\n"
        "</Menu>\n";
    return WriteTextFile(strMenus + "/" + strId + ".menu", strMenu, 0644);
}

}  // namespace platform
