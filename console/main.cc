// TidewellKiro: the updater's executable. Front-end options are taken out of
// the command line; the rest goes to the application as its command line.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/tide_app.h"
#include "console/console_front_end.h"

int main(int argc, char** argv) {
    ConsoleOptions options;
    std::vector<const char*> vecArgs;
    vecArgs.push_back(argv[0]);
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--headless") == 0) continue;
        if (strcmp(argv[i], "--assume-yes") == 0) {
            options.bAssumeYes = true;
        } else if (strcmp(argv[i], "--assume-no") == 0) {
            options.bAssumeNo = true;
        } else {
            vecArgs.push_back(argv[i]);
        }
    }
    if (options.bAssumeYes && options.bAssumeNo) {
        std::cerr << "--assume-yes and --assume-no exclude each other\n";
        return 1;
    }
    CConsoleFrontEnd frontEnd(options);
    CTideApp app(&frontEnd);
    app.InitInstance(JoinCommandLine(static_cast<int>(vecArgs.size()), vecArgs.data()));
    return app.ExitInstance();
}
