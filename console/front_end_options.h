// Front-end options of the updater's executable, taken out of argv before
// the remaining words become the application's command line.
#pragma once

#include <string>
#include <vector>

struct FrontEndOptions {
    bool bHeadless = false;
    bool bAssumeYes = false;
    bool bAssumeNo = false;
};

// Fills options and the words left for the application (argv[0] first).
// False with strError set when the options contradict each other.
bool ParseFrontEndOptions(int argc, char** argv, FrontEndOptions* pOptions,
                          std::vector<const char*>* pvecArgs, std::string* pstrError);
// The options as words again, for the run-copy the launcher starts.
std::vector<std::string> FrontEndOptionWords(const FrontEndOptions& options);
