// TidewellKiro without a window: the terminal front end only. The command
// line is handled first; the remaining words are the application's own.
#include <string>

#include "app/tide_app.h"
#include "console/command_line.h"
#include "console/console_run.h"

int main(int argc, char** argv) {
    ParsedCommandLine parsed;
    int nExit = HandleCommandLine(argc, argv, &parsed);
    if (nExit >= 0)
        return nExit;
    return RunConsoleApp(parsed.options, JoinCommandLine(static_cast<int>(parsed.vecArgs.size()),
                                                         parsed.vecArgs.data()));
}
