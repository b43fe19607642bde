// Starting programs for the engine: listed programs, the registration tools
// and the development tool. Windows programs go through Wine; there is no
// elevation on Linux, since the updater runs as the installation's owner.
#include "engine/sync_engine.h"
#include "log/my_log.h"
#include "platform/system_error.h"
#include "platform/wine.h"
#include "util/split_string.h"

namespace {

// How often the waiting operation looks at the stop flag.
constexpr int kStopPollMs = 50;

const char* const kWaitingText = "실행된 파일이 종료 되기를 기다리는 중...";
const char* const kWaitInterruptedText = "대기 상태가 중단 되었습니다.";

}  // namespace

platform::CProcess CSyncEngine::StartShellProgramLogged(const std::string& strFile,
                                                        const std::vector<std::string>& vecArgs,
                                                        const std::string& strWorkDir) {
    platform::CProcess process = platform::StartShellProgram(strFile, vecArgs, strWorkDir);
    if (!process.IsValid()) {
        int nError = platform::GetLastSystemError();
        TideLog(2, "CSyncEngine::GetProcessHandleByShellExecute> ShellExecuteEx() Fail, ErrNo = %d",
                nError);
        // Callers report the reason after their own lines.
        platform::SetLastSystemError(nError);
    }
    return process;
}

platform::CProcess CSyncEngine::GetProcessHandleByShellExecute(const std::string& strFile,
                                                               const std::string& strParameters,
                                                               const std::string& strWorkDir) {
    TideLog(2, "CSyncEngine::GetProcessHandleByShellExecute> File=%s, Parameters=%s",
            strFile.c_str(), strParameters.c_str());
    // The parameters come as one Windows-style text; the shared quote-aware
    // splitter turns it into words. An empty text gives no words at all.
    std::vector<std::string> vecArgs;
    if (!strParameters.empty())
        SplitString(&vecArgs, " ", strParameters);
    return StartShellProgramLogged(strFile, vecArgs, strWorkDir);
}

platform::CProcess CSyncEngine::GetProcessHandleByShellExecute(
    const std::string& strFile, const std::vector<std::string>& vecArgs,
    const std::string& strWorkDir) {
    std::string strParameters;
    for (const std::string& strArg : vecArgs)
        strParameters += (strParameters.empty() ? "" : " ") + strArg;
    TideLog(2, "CSyncEngine::GetProcessHandleByShellExecute> File=%s, Parameters=%s",
            strFile.c_str(), strParameters.c_str());
    return StartShellProgramLogged(strFile, vecArgs, strWorkDir);
}

short CSyncEngine::StartExeFileByShellExecute(const std::string& strFile,
                                              const std::string& strParameters, int bWait,
                                              const std::string& strWorkDir) {
    return WaitStarted(GetProcessHandleByShellExecute(strFile, strParameters, strWorkDir), bWait);
}

short CSyncEngine::StartExeFileByShellExecute(const std::string& strFile,
                                              const std::vector<std::string>& vecArgs, int bWait,
                                              const std::string& strWorkDir) {
    return WaitStarted(GetProcessHandleByShellExecute(strFile, vecArgs, strWorkDir), bWait);
}

short CSyncEngine::WaitStarted(platform::CProcess process, int bWait) {
    if (!process.IsValid()) {
        int nError = platform::GetLastSystemError();
        TideLog(4, "CSyncEngine::StartExeFileByShellExecute> ShellExecuteEx() Failed.");
        platform::SetLastSystemError(nError);
        return 1;
    }
    TideLog(1, "CSyncEngine::StartExeFileByShellExecute> ShellExecuteEx() Success.");
    if (bWait) {
        // Like WaitForSingleObject: 0 for the program's end, -1 for a failed
        // wait. A stop request ends the wait too (the program runs on), so a
        // hung program never holds the updater.
        platform::CProcess::WaitResult result = platform::CProcess::WaitResult::kTimeout;
        while (result == platform::CProcess::WaitResult::kTimeout && m_nRequestStopFlag == 0)
            result = process.Wait(kStopPollMs);
        int nRet = result == platform::CProcess::WaitResult::kEnded ? 0 : -1;
        TideLog(1,
                "CSyncEngine::StartExeFileByShellExecute> WaitForSingleObject Return, RetVal = %d",
                nRet);
    }
    return 0;
}

short CSyncEngine::StartExeFileByShellExecuteAndWaitClose(const std::string& strFile,
                                                          const std::string& strParameters) {
    platform::CProcess process = GetProcessHandleByShellExecute(strFile, strParameters);
    if (!process.IsValid()) {
        TideLog(4, "CSyncEngine::StartExeFileByShellExecuteAndWaitClose> ShellExecuteEx() Failed.");
        return 1;
    }
    TideLog(1,
            "CSyncEngine::StartExeFileByShellExecuteAndWaitClose> ShellExecuteEx() Success. And "
            "now wait for the process to terminate.");
    if (m_pDlg != nullptr)
        m_pDlg->SetStatusText(kWaitingText);
    for (;;) {
        if (m_nRequestStopFlag == 1) {
            // Only our hold on the program ends; the program goes on.
            process.Close();
            if (m_pDlg != nullptr)
                m_pDlg->SetStatusText(kWaitInterruptedText);
            TideLog(1,
                    "CSyncEngine::StartExeFileByShellExecuteAndWaitClose> '%s' > The end wait has "
                    "been interrupted.",
                    strFile.c_str());
            return 0;
        }
        // Short steps so that a stop request is seen within kStopPollMs.
        platform::CProcess::WaitResult result = process.Wait(kStopPollMs);
        if (result == platform::CProcess::WaitResult::kFailed) {
            TideLog(2,
                    "CSyncEngine::StartExeFileByShellExecuteAndWaitClose> WaitForSingleObject "
                    "Return, nRet = 0xFFFFFFFF");
            break;
        }
        if (result == platform::CProcess::WaitResult::kEnded) {
            TideLog(2,
                    "CSyncEngine::StartExeFileByShellExecuteAndWaitClose> WaitForSingleObject "
                    "Return, nRet = WAIT_OBJECT_0");
            break;
        }
    }
    TideLog(1,
            "CSyncEngine::StartExeFileByShellExecuteAndWaitClose> '%s' > The process has been "
            "terminated.",
            strFile.c_str());
    return 0;
}
