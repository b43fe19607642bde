#include "app/tide_app.h"

#include <cstdlib>
#include <memory>

#include "app/app_front_end.h"
#include "app/message_box.h"
#include "app/tide_globals.h"
#include "app/version.h"
#include "log/my_log.h"
#include "platform/desktop.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/system_error.h"
#include "util/file_util.h"
#include "util/split_string.h"

const char* const kRunCopyName = "TidewellKiroRun1";
const char* const kProgramGroupName = "Vellmark Corvid";
const char* const kFallbackLinkBaseName = "Corvid Loomhall - 다운로드 장애시";

namespace {

CTideApp* g_pTideApp = nullptr;

const char* const kAppTitle = "Corvid5@LoomhallKiro 업데이트";
// Two run-copy files count as the same when their times are this close.
constexpr int64_t kSameFileWindowSeconds = 60;

std::string Trim(const std::string& str) {
    size_t nBegin = str.find_first_not_of(" \t\r\n");
    if (nBegin == std::string::npos) return std::string();
    size_t nEnd = str.find_last_not_of(" \t\r\n");
    return str.substr(nBegin, nEnd - nBegin + 1);
}

std::string RemoveAll(std::string str, char c) {
    std::erase(str, c);
    return str;
}

}  // namespace

CTideApp* GetTideApp() { return g_pTideApp; }

std::string JoinCommandLine(int argc, const char* const* argv) {
    std::string strLine;
    for (int i = 1; i < argc; ++i) {
        std::string strWord = argv[i];
        if (!strLine.empty()) strLine += ' ';
        if (!strWord.empty() && strWord.find_first_of(" \t\"") == std::string::npos) {
            strLine += strWord;
            continue;
        }
        strLine += '"';
        for (char c : strWord) {
            if (c == '"' || c == '\\') strLine += '\\';
            strLine += c;
        }
        strLine += '"';
    }
    return strLine;
}

CTideApp::CTideApp(IAppFrontEnd* pFrontEnd)
    : m_strExeName(std::string("TidewellKiro") + platform::kExeSuffix),
      m_strToolExeName(std::string("Corvid@Loomhall") + platform::kExeSuffix),
      m_pFrontEnd(pFrontEnd) {
    g_pTideApp = this;
}

CTideApp::~CTideApp() {
    if (g_pTideApp == this) g_pTideApp = nullptr;
}

int CTideApp::ShowMessageBox(const std::string& strText, unsigned nStyle) {
    if (m_pFrontEnd == nullptr) return kIdOk;
    return m_pFrontEnd->ShowMessageBox(strText, kAppTitle, nStyle);
}

void CTideApp::ParseCommandLine(const std::string& strCmdLine) {
    m_strRunMode.clear();
    m_mapAllowFileType.clear();
    if (strCmdLine.empty()) return;
    std::vector<std::string> vecWords;
    SplitString(&vecWords, " ", strCmdLine);
    if (!vecWords.empty()) m_strRunMode = vecWords[0];
    if (vecWords.size() >= 2) ParseAllowFileType(vecWords[1]);
}

void CTideApp::ParseAllowFileType(const std::string& strList) {
    std::string strTypes = RemoveAll(Trim(strList), ' ');
    if (strTypes.empty()) return;
    std::vector<std::string> vecPieces;
    SplitString(&vecPieces, ",", strTypes);
    for (const std::string& strPiece : vecPieces) {
        std::string strType = RemoveAll(Trim(strPiece), ',');
        if (!strType.empty()) m_mapAllowFileType.insert(strType);
    }
}

int CTideApp::IsAllowFileType(const std::string& strExt) const {
    if (m_mapAllowFileType.empty() || strExt.empty()) return 1;
    return m_mapAllowFileType.count(strExt) != 0 ? 1 : 0;
}

int CTideApp::IsCertificateError(int nErrorCode) {
    switch (nErrorCode) {
        case 12037:  // certificate date invalid
        case 12038:  // certificate name invalid
        case 12045:  // invalid certificate authority
        case 12055:  // certificate errors
        case 12056:  // no revocation check
        case 12057:  // revocation check failed
        case 12169:  // invalid certificate
        case 12170:  // certificate revoked
            return 1;
        default:
            return 0;
    }
}

void CTideApp::GetAppVersion(std::string& strVersion) {
    strVersion = std::to_string(TIDEWELL_VERSION_MAJOR) + "." +
                 std::to_string(TIDEWELL_VERSION_MINOR) + "." +
                 std::to_string(TIDEWELL_VERSION_PATCH) + "." +
                 std::to_string(TIDEWELL_VERSION_TWEAK);
}

int CTideApp::GetOsMajorVersion() { return platform::GetOsMajorVersion(); }

void CTideApp::SetBaseDirPath(const std::string& strExePath) {
    std::string strPath = strExePath.empty() ? platform::GetExecutablePath() : strExePath;
    size_t nSep = strPath.rfind(platform::kPathSep);
    g_szBaseDir = nSep == std::string::npos ? std::string() : strPath.substr(0, nSep);
    if (m_bPlanMode != 0)
        return;

    std::string strLogDir = platform::JoinPath(g_szBaseDir, "log");
    unsigned dwError = 0;
    // The trailing separator makes the log folder itself part of the chain.
    int nRet = CFileUtil::CreateDirectories(strLogDir + platform::kPathSep, &dwError);
    if (nRet == 1) return;
    char szText[1024];
    if (nRet == -2) {
        snprintf(szText, sizeof(szText), "CTideApp::SetBaseDirPath> '%s' >> Directory path unknown.",
                 strLogDir.c_str());
    } else if (nRet == -3) {
        snprintf(szText, sizeof(szText), "CTideApp::SetBaseDirPath> '%s' >> Invalid directory path.",
                 strLogDir.c_str());
    } else {
        snprintf(szText, sizeof(szText),
                 "CTideApp::SetBaseDirPath> '%s' >> Directory creation(or exists) failed. "
                 "(GetLastError() is %d)",
                 strLogDir.c_str(), static_cast<int>(dwError));
    }
    ShowMessageBox(szText, kMbOk);
}

void CTideApp::CreateWorkDirectories() {
    platform::MakeDirectory(g_szBaseDir);
    platform::MakeDirectory(platform::JoinPath(g_szBaseDir, "log"));
    platform::MakeDirectory(platform::JoinPath(g_szBaseDir, "config"));
    m_strTempDir = platform::JoinPath(g_szBaseDir, "temp");
    platform::MakeDirectory(m_strTempDir);
}

int CTideApp::CopyAndRunSelf() {
    std::string strDest = platform::JoinPath(g_szBaseDir, kRunCopyName);
    std::string strSource = platform::JoinPath(g_szBaseDir, m_strExeName);

    bool bSame = false;
    platform::FileStatus source, dest;
    if (platform::GetFileStatus(strSource, &source) && platform::GetFileStatus(strDest, &dest) &&
        source.nSize == dest.nSize) {
        int64_t nGap = source.nModifyTime - dest.nModifyTime;
        bSame = (nGap < 0 ? -nGap : nGap) <= kSameFileWindowSeconds;
    }
    if (!bSame) bSame = platform::CopyFileOver(strSource, strDest);
    if (!bSame) {
        int nError = platform::GetLastSystemError();
        if (nError == platform::kErrorFileNotFound) return -1;
        std::string strSystemText;
        char szText[2048];
        if (platform::FormatSystemMessage(nError, &strSystemText)) {
            snprintf(szText, sizeof(szText),
                     "프로그램을 복사할 수 없습니다.\n기존에 실행중인 프로그램을 종료후 "
                     "다시시작하세요.\n에러 내용 : (%d) %s",
                     nError, strSystemText.c_str());
        } else {
            snprintf(szText, sizeof(szText),
                     "프로그램을 복사할 수 없습니다.\n기존에 실행중인 프로그램을 종료후 "
                     "다시시작하세요.\n에러 내용 : %d",
                     nError);
        }
        ShowMessageBox(szText, kMbOk);
        return 0;
    }
    // The run-copy takes the folder's lock over, so no other run slips in.
    m_folderLock.HandOverToChild();
    if (GetOsMajorVersion() > 5) {
        RunVersionProgramAsAdmin(strDest, "1");
    } else {
        RunVersionProgram(strDest, "1");
    }
    return 0;
}

int CTideApp::RunVersionProgram(const std::string& strPath, const std::string& strArg) {
    std::vector<std::string> vecArgs = m_vecFrontEndArgs;
    vecArgs.push_back(strArg);
    if (platform::StartDetachedProcess(strPath, vecArgs)) return 0;
    char szText[256];
    snprintf(szText, sizeof(szText), "Can't Execute Version Management Program, ErrCode = %d",
             platform::GetLastSystemError());
    ShowMessageBox(szText, kMbOk);
    return 0xFFFF;
}

int CTideApp::RunVersionProgramAsAdmin(const std::string& strPath, const std::string& strArg) {
    // The updater runs as the user who owns the installation: no elevation.
    return RunVersionProgram(strPath, strArg);
}

void CTideApp::CreateLinks() {
    std::string strTarget = platform::JoinPath(g_szBaseDir, m_strExeName);
    std::string strTool = platform::JoinPath(g_szBaseDir, m_strToolExeName);
    CreateDesktopLink(g_szLinkName, strTarget, "");
    CreateProgramLink(kProgramGroupName, g_szLinkName, strTarget, "");
    CreateProgramLink(kProgramGroupName, g_szFallbackLinkName, strTool, "");
}

int CTideApp::CreateDesktopLink(const std::string& strName, const std::string& strTarget,
                                const std::string& strArgs) {
    std::string strDesktop = platform::GetSpecialFolderPath(platform::SpecialFolder::kDesktop);
    if (strDesktop.empty()) return 0;
    std::string strLink = platform::JoinPath(strDesktop, platform::ShortcutFileName(strName)) +
                          platform::kShortcutExt;
    if (!platform::WriteShortcut(strLink, strName, strTarget, strArgs)) {
        TideLog(4, "CTideApp::CreateDesktopLink> Failed to create link on the desktop. (%s)",
                strLink.c_str());
    } else {
        TideLog(1,
                "CTideApp::CreateDesktopLink> Create link generation successfully on the desktop. "
                "(%s)",
                strLink.c_str());
    }
    return 0;
}

int CTideApp::CreateProgramLink(const std::string& strGroup, const std::string& strName,
                                const std::string& strTarget, const std::string& strArgs) {
    std::string strPrograms = platform::GetSpecialFolderPath(platform::SpecialFolder::kPrograms);
    if (strPrograms.empty()) return -1;
    std::string strGroupDir = platform::JoinPath(strPrograms, strGroup);
    unsigned dwError = 0;
    if (CFileUtil::CreateDirectories(strGroupDir + platform::kPathSep, &dwError) != 1) return -1;
    platform::RegisterProgramGroup(strGroup);
    std::string strLink = platform::JoinPath(strGroupDir, platform::ShortcutFileName(strName)) +
                          platform::kShortcutExt;
    if (!platform::WriteShortcut(strLink, strName, strTarget, strArgs, strGroup)) {
        TideLog(4, "CTideApp::CreateProgramLink> Failed to create link on the desktop. (%s)",
                strLink.c_str());
    } else {
        TideLog(1,
                "CTideApp::CreateProgramLink> Create link generation successfully on the desktop. "
                "(%s)",
                strLink.c_str());
    }
    return 0;
}

bool CTideApp::InitInstance(const std::string& strCmdLine) {
    ParseCommandLine(strCmdLine);
    GetAppVersion(m_strVersion);
    m_strVersion = RemoveAll(m_strVersion, ' ');
    SetBaseDirPath();
    if (!m_folderLock.TryLock(g_szBaseDir)) {
        // Another run (launcher or run-copy, window or terminal) is updating
        // this folder: say so and leave every file alone.
        m_bFolderBusy = true;
        g_bCreateLinks = 0;
        m_nExitCode = 1;
        ShowMessageBox("이 폴더에서 업데이트가 이미 실행 중입니다.\n" + g_szBaseDir, kMbOk);
        return false;
    }
    if (m_bPlanMode != 0) {
        // A plan changes nothing in the installation and starts no copy.
        g_bCreateLinks = 0;
        m_bResourceMode = m_strRunMode == "3" ? 1 : 0;
    } else {
        CreateWorkDirectories();
        if (m_strRunMode.empty()) {
            if (CopyAndRunSelf() == 0) {
                g_bCreateLinks = 0;
                return false;
            }
        } else if (m_strRunMode == "3") {
            g_bCreateLinks = 0;
            m_bResourceMode = 1;
        }
    }

    std::string strLogDir = platform::JoinPath(g_szBaseDir, "log");
    std::string strPrefix = m_bPlanMode != 0        ? std::string("Tidewell_plan")
                            : m_strRunMode.empty() ? std::string("Tidewell")
                                                   : "Tidewell_" + m_strRunMode;
    platform::FileStatus logStatus;
    if (m_bPlanMode == 0 || platform::GetFileStatus(strLogDir, &logStatus)) {
        g_pMyLog = new CMyLog(10, strLogDir, strPrefix);
        g_pMyLog->SetLevel(1);
        g_pMyLog->Log(2, "%s", std::string(86, '=').c_str());
        g_pMyLog->Log(2,
                      "CTideApp::InitInstance> Tidewell(Corvid5@LoomhallKiro) Start, Version = %s",
                      m_strVersion.c_str());
    }

    if (!platform::InitSockets()) {
        ShowMessageBox("Windows 소켓 초기화에 실패하였습니다.", kMbOk);
        m_nExitCode = 1;
        return false;
    }
    if (m_pFrontEnd != nullptr) m_nExitCode = m_pFrontEnd->RunMainDialog(*this);
    return false;
}

int CTideApp::ExitInstance() {
    if (m_bFolderBusy) return m_nExitCode;
    if (!m_strTempDir.empty()) CFileUtil::DeleteDirectory(m_strTempDir, true);
    if (g_bCreateLinks == 1) CreateLinks();
    if (g_pMyLog != nullptr) {
        g_pMyLog->Log(1, "CTideApp::ExitInstance> Delete g_pMyLog.");
        CMyLog* pLog = g_pMyLog;
        g_pMyLog = nullptr;
        delete pLog;
    }
    return m_nExitCode;
}

void UpdateLinkNames(const std::string& strProductName, const std::string& strLinkAppendName) {
    g_szLinkAppendName = strLinkAppendName;
    if (strLinkAppendName.empty()) {
        g_szLinkName = strProductName;
        g_szFallbackLinkName = kFallbackLinkBaseName;
    } else {
        g_szLinkName = strProductName + " " + strLinkAppendName;
        g_szFallbackLinkName = std::string(kFallbackLinkBaseName) + " " + strLinkAppendName;
    }
}
