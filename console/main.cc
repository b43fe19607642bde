// TidewellKiro: the updater's executable. Front-end options are taken out of
// the command line first; the remaining words are the application's own.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "app/tide_app.h"
#include "console/console_front_end.h"
#include "console/front_end_options.h"

namespace {

CConsoleFrontEnd* g_pConsole = nullptr;

// Ctrl-C asks the run to stop as the window's Stop button does; a second
// one ends the process.
void OnInterrupt(int) {
    static volatile sig_atomic_t s_nCount = 0;
    s_nCount = s_nCount + 1;
    if (s_nCount > 1 || g_pConsole == nullptr) {
        signal(SIGINT, SIG_DFL);
        raise(SIGINT);
        return;
    }
    g_pConsole->RequestStop();
}

}  // namespace

int main(int argc, char** argv) {
    FrontEndOptions parsed;
    std::vector<const char*> vecArgs;
    std::string strError;
    if (!ParseFrontEndOptions(argc, argv, &parsed, &vecArgs, &strError)) {
        std::cerr << strError << "\n";
        return 1;
    }
    ConsoleOptions options;
    options.bAssumeYes = parsed.bAssumeYes;
    options.bAssumeNo = parsed.bAssumeNo;
    CConsoleFrontEnd frontEnd(options);
    g_pConsole = &frontEnd;
    signal(SIGINT, OnInterrupt);
    CTideApp app(&frontEnd);
    app.InitInstance(JoinCommandLine(static_cast<int>(vecArgs.size()), vecArgs.data()));
    int nExit = app.ExitInstance();
    g_pConsole = nullptr;
    return nExit;
}
