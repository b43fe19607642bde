#include "console/console_run.h"

#include <csignal>

#include "app/tide_app.h"
#include "console/console_front_end.h"

namespace {

CConsoleFrontEnd* g_pConsole = nullptr;

// Ctrl-C, or SIGTERM from a logout or a service manager, asks the run to
// stop as the window's Stop button does; a second one ends the process.
void OnStopSignal(int nSignal) {
    static volatile sig_atomic_t s_nCount = 0;
    s_nCount = s_nCount + 1;
    if (s_nCount > 1 || g_pConsole == nullptr) {
        signal(nSignal, SIG_DFL);
        raise(nSignal);
        return;
    }
    g_pConsole->RequestStop();
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM};

}  // namespace

int RunConsoleApp(const FrontEndOptions& options, const std::string& strCmdLine) {
    ConsoleOptions consoleOptions;
    consoleOptions.bAssumeYes = options.bAssumeYes;
    consoleOptions.bAssumeNo = options.bAssumeNo;
    consoleOptions.bPlan = options.bPlan;
    CConsoleFrontEnd frontEnd(consoleOptions);
    g_pConsole = &frontEnd;
    for (int nSignal : kStopSignals)
        signal(nSignal, OnStopSignal);
    CTideApp app(&frontEnd);
    app.m_vecFrontEndArgs = FrontEndOptionWords(options);
    app.m_bPlanMode = options.bPlan ? 1 : 0;
    app.InitInstance(strCmdLine);
    int nExit = app.ExitInstance();
    for (int nSignal : kStopSignals)
        signal(nSignal, SIG_DFL);
    g_pConsole = nullptr;
    return nExit;
}
