// The one application object: decides the process's role from the command
// line, sets up folders and the log, runs the main dialog through the front
// end, and at exit empties "temp" and creates the shortcuts. main() owns it;
// the engine reads it through GetTideApp().
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/folder_lock.h"

class IAppFrontEnd;

// Name of the copy that the launcher starts to run the update.
extern const char* const kRunCopyName;
// Folder of the menu group that holds the shortcuts.
extern const char* const kProgramGroupName;
extern const char* const kFallbackLinkBaseName;

class CTideApp {
public:
    explicit CTideApp(IAppFrontEnd* pFrontEnd);
    virtual ~CTideApp();
    CTideApp(const CTideApp&) = delete;
    CTideApp& operator=(const CTideApp&) = delete;

    // Start-up; strCmdLine is the command line after the program name.
    // Always false: the process ends when this returns.
    bool InitInstance(const std::string& strCmdLine);
    int ExitInstance();

    void ParseCommandLine(const std::string& strCmdLine);
    void ParseAllowFileType(const std::string& strList);
    int IsAllowFileType(const std::string& strExt) const;
    static int IsCertificateError(int nErrorCode);
    static void GetAppVersion(std::string& strVersion);
    static int GetOsMajorVersion();

    // Base folder from the running executable (or strExePath for tests), and
    // the log folder below it (not when planning); failures are shown in a
    // message box.
    void SetBaseDirPath(const std::string& strExePath = std::string());
    void CreateWorkDirectories();
    // 0: the run-copy was started (or the copy failed and was reported);
    // -1: the updater executable itself is missing.
    int CopyAndRunSelf();
    int RunVersionProgram(const std::string& strPath, const std::string& strArg);
    int RunVersionProgramAsAdmin(const std::string& strPath, const std::string& strArg);
    void CreateLinks();
    int CreateDesktopLink(const std::string& strName, const std::string& strTarget,
                          const std::string& strArgs);
    int CreateProgramLink(const std::string& strGroup, const std::string& strName,
                          const std::string& strTarget, const std::string& strArgs);

    int ShowMessageBox(const std::string& strText, unsigned nStyle);
    IAppFrontEnd* GetFrontEnd() const { return m_pFrontEnd; }
    int GetExitCode() const { return m_nExitCode; }

    uint32_t m_dwConnectTimeOut = 1800000;
    uint32_t m_dwSendTimeOut = 1800000;
    uint32_t m_dwRecvTimeOut = 1800000;
    std::string m_strVersion;
    std::string m_strExeName;
    std::string m_strTempDir;
    std::string m_strProductName = "Corvid5 Loomhall Kiro";
    std::string m_strToolExeName;
    std::string m_strRunMode;
    // Front-end options (--headless and the like) handed on to the run-copy.
    std::vector<std::string> m_vecFrontEndArgs;
    // Set before InitInstance for --plan: no folder is created and no copy
    // started, the log is written only where log/ exists, and nothing is
    // removed or created at exit.
    int m_bPlanMode = 0;
    // Allowed extensions of the resource update mode (values are empty).
    std::set<std::string> m_mapAllowFileType;
    // Written by the engine's worker when the user accepts a certificate error.
    std::atomic<int> m_bIgnoreCertError{0};
    int m_bResourceMode = 0;

private:
    IAppFrontEnd* m_pFrontEnd;
    int m_nExitCode = 0;
    // One run per installation folder; held for the whole process.
    platform::CFolderLock m_folderLock;
    // Another run holds the folder: this process touches nothing.
    bool m_bFolderBusy = false;
};

// The application object; null when none exists.
CTideApp* GetTideApp();

// Joins argv words into one command line, quoting words that hold blanks so
// that the splitter gives the same words back.
std::string JoinCommandLine(int argc, const char* const* argv);

// Fills the three shortcut-name globals from the product name and the
// configured LINK_APPEND_NAME.
void UpdateLinkNames(const std::string& strProductName, const std::string& strLinkAppendName);
