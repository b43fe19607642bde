#include <cctype>
#include <cerrno>

#include "platform/windows_side.h"
#include "platform/wine.h"

namespace platform {

namespace {

std::string LowerCase(std::string str) {
    for (char& c : str)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return str;
}

bool EndsWith(const std::string& str, const char* pszEnd) {
    std::string strEnd = pszEnd;
    return str.size() >= strEnd.size() &&
           str.compare(str.size() - strEnd.size(), strEnd.size(), strEnd) == 0;
}

std::string BackSlashes(std::string str) {
    for (char& c : str) {
        if (c == '/')
            c = '\\';
    }
    return str;
}

}  // namespace

std::string FindWine() {
    return FindProgramInPath("wine");
}

bool IsWindowsProgram(const std::string& strPath) {
    std::string strLower = LowerCase(strPath);
    return EndsWith(strLower, ".exe") || EndsWith(strLower, ".com") || EndsWith(strLower, ".bat") ||
           EndsWith(strLower, ".cmd");
}

std::string ToWineWindowsPath(const std::string& strPath) {
    if (strPath.empty() || strPath.front() != '/')
        return BackSlashes(strPath);
    std::string strDriveC = GetWinePrefix();
    if (!strDriveC.empty()) {
        strDriveC += "/drive_c";
        if (strPath == strDriveC)
            return "C:\\";
        if (strPath.compare(0, strDriveC.size() + 1, strDriveC + "/") == 0) {
            return "C:" + BackSlashes(strPath.substr(strDriveC.size()));
        }
    }
    return "Z:" + BackSlashes(strPath);
}

std::vector<std::string> BuildWineCommand(const std::string& strWine, const std::string& strProgram,
                                          const std::vector<std::string>& vecArgs) {
    std::vector<std::string> vecCommand{strWine};
    std::string strLower = LowerCase(strProgram);
    if (EndsWith(strLower, ".bat") || EndsWith(strLower, ".cmd")) {
        // cmd reads "/..." as a switch, so the script goes by its Windows path.
        vecCommand.insert(vecCommand.end(), {"cmd", "/c", ToWineWindowsPath(strProgram)});
    } else {
        vecCommand.push_back(strProgram);
    }
    vecCommand.insert(vecCommand.end(), vecArgs.begin(), vecArgs.end());
    return vecCommand;
}

std::vector<std::string> WineEnvironment() {
    std::string strPrefix = GetWinePrefix();
    if (strPrefix.empty())
        return {};
    return {"WINEPREFIX=" + strPrefix};
}

namespace {

CProcess StartThroughWine(const std::string& strProgram, const std::vector<std::string>& vecArgs,
                          const std::string& strWorkDir) {
    std::string strWine = FindWine();
    if (strWine.empty()) {
        errno = ENOENT;
        return CProcess();
    }
    std::vector<std::string> vecCommand = BuildWineCommand(strWine, strProgram, vecArgs);
    std::vector<std::string> vecRest(vecCommand.begin() + 1, vecCommand.end());
    return StartProcess(strWine, vecRest, strWorkDir, WineEnvironment());
}

}  // namespace

CProcess StartShellProgram(const std::string& strProgram, const std::vector<std::string>& vecArgs,
                           const std::string& strWorkDir) {
    if (IsWindowsProgram(strProgram))
        return StartThroughWine(strProgram, vecArgs, strWorkDir);
    return StartProcess(strProgram, vecArgs, strWorkDir);
}

CProcess StartRegeditImport(const std::string& strRegFile, const std::string& strWorkDir) {
    // "regedit" has no suffix, so it is named explicitly rather than guessed.
    std::string strWine = FindWine();
    if (strWine.empty()) {
        errno = ENOENT;
        return CProcess();
    }
    return StartProcess(strWine, {"regedit", "-s", ToWineWindowsPath(strRegFile)}, strWorkDir,
                        WineEnvironment());
}

}  // namespace platform
