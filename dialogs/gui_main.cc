// TidewellKiro with both front ends: the window where a display is present,
// the terminal with --headless, --plan, --assume-yes/no or without one. The command line is
// handled first; the remaining words are the application's.
#include <QApplication>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/tide_app.h"
#include "console/command_line.h"
#include "console/console_run.h"
#include "controls/corvid_theme.h"
#include "dialogs/qt_front_end.h"

namespace {

bool HasDisplay() {
    for (const char* pName : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* pValue = getenv(pName);
        if (pValue != nullptr && *pValue != '\0')
            return true;
    }
    return false;
}

int RunWindow(int argc, char** argv, const FrontEndOptions& options,
              const std::string& strCmdLine) {
    QApplication qapp(argc, argv);
    // The main dialog runs its own loop; hiding it must not end the process.
    QApplication::setQuitOnLastWindowClosed(false);
    const std::map<std::string, std::string> mapNoOverrides;
    g_CorvidTheme.SetTheme(false, &mapNoOverrides);
    CQtFrontEnd frontEnd;
    CTideApp app(&frontEnd);
    app.m_vecFrontEndArgs = FrontEndOptionWords(options);
    app.InitInstance(strCmdLine);
    return app.ExitInstance();
}

}  // namespace

int main(int argc, char** argv) {
    ParsedCommandLine parsed;
    int nExit = HandleCommandLine(argc, argv, &parsed);
    if (nExit >= 0)
        return nExit;
    std::string strCmdLine =
        JoinCommandLine(static_cast<int>(parsed.vecArgs.size()), parsed.vecArgs.data());
    // Answers given in advance mean nobody is watching: a window would still
    // ask, and wait for ever where no one sees it.
    const FrontEndOptions& o = parsed.options;
    if (o.bHeadless || o.bPlan || o.bAssumeYes || o.bAssumeNo || !HasDisplay())
        return RunConsoleApp(parsed.options, strCmdLine);
    // Qt sees only the program's name: the remaining words are ours.
    int nQtArgc = 1;
    return RunWindow(nQtArgc, argv, parsed.options, strCmdLine);
}
