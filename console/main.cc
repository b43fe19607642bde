// TidewellKiro without a window: the terminal front end only. Front-end
// options are taken out of the command line first; the remaining words are
// the application's own.
#include <iostream>
#include <string>
#include <vector>

#include "app/tide_app.h"
#include "console/console_run.h"
#include "console/front_end_options.h"

int main(int argc, char** argv) {
    FrontEndOptions options;
    std::vector<const char*> vecArgs;
    std::string strError;
    if (!ParseFrontEndOptions(argc, argv, &options, &vecArgs, &strError)) {
        std::cerr << strError << "\n";
        return 1;
    }
    return RunConsoleApp(options,
                         JoinCommandLine(static_cast<int>(vecArgs.size()), vecArgs.data()));
}
