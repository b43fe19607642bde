// The terminal front end: runs the main dialog's flow without a window.
// Shows the status, a progress bar and the stage counter on stderr, prints
// message boxes with their captions and asks the questions on the terminal.
// main() owns it; the engine's worker calls its ISyncFrontEnd side.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "app/app_front_end.h"
#include "engine/run_controller.h"
#include "engine/sync_front_end.h"

struct ConsoleOptions {
    bool bAssumeYes = false;
    bool bAssumeNo = false;
    // Plan only and print the plan on stdout (--plan).
    bool bPlan = false;
};

// Exit statuses of a console run.
enum : int {
    kExitDone = 0,          // finished (end code 0)
    kExitStartFailure = 1,  // the run could not start
    kExitNoListFile = 2,    // end code 2
    kExitUserAbort = 3,     // end code 3
    kExitNoEnd = 4,         // ended without an end code (stop, cancelled prompt)
};

class CConsoleFrontEnd : public IAppFrontEnd, public ISyncFrontEnd {
public:
    explicit CConsoleFrontEnd(const ConsoleOptions& options);
    ~CConsoleFrontEnd() override;

    // IAppFrontEnd
    int ShowMessageBox(const std::string& strText, const std::string& strCaption,
                       unsigned nStyle) override;
    int RunMainDialog(CTideApp& app) override;

    // ISyncFrontEnd, called from the engine's worker.
    void SetStatusText(const std::string& strText) override;
    void SetProgress(int nCurrent, int nTotal) override;
    void AdvanceStage() override;
    void ResetProgress() override;
    void OnButtonStop() override;
    int AskUpdate() override;
    void HideWindow() override;
    void PostSyncEnd(int nCode) override;
    const SpecialDirMap& GetSpecialDirMap() override { return m_run.GetSpecialDirMap(); }

    // Asks the running update to stop, as the window's Stop button does.
    void RequestStop();

private:
    // Waits for the end code or the worker's end; the code or -1.
    int WaitForRunEnd();
    int StartDevelopmentTool(CTideApp& app);
    void Redraw();  // under m_mutex
    std::string AskLine(const std::string& strPrompt);

    ConsoleOptions m_options;
    bool m_bInteractive;
    bool m_bTerminalOut;
    CRunController m_run;

    std::mutex m_mutex;
    std::condition_variable m_cvEnd;
    int m_nSyncEnd = -1;
    std::string m_strStatus;
    int m_nProgress = 0;
    int m_nStep = 1;
    bool m_bLineOpen = false;
    std::atomic<int> m_bStopRequested{0};
    // Set once a stop request has been handed to the run.
    std::atomic<int> m_bStopping{0};
};
