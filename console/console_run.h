// Runs the application with the terminal front end: the whole life of a
// headless process, used by both executables' main().
#pragma once

#include <string>

#include "console/command_line.h"

// strCmdLine is the command line left after the front-end options.
// Returns the process exit status.
int RunConsoleApp(const FrontEndOptions& options, const std::string& strCmdLine);
