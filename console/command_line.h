// The updater's command line. Options are taken out of argv first; the words
// left are the application's own (none, "1", "3 EXT,..."). Both executables'
// main() call HandleCommandLine before anything is created, so help,
// version, --init and a refused command line never touch a folder.
#pragma once

#include <string>
#include <vector>

// Options that shape how a run is shown and answered.
struct FrontEndOptions {
    bool bHeadless = false;
    bool bAssumeYes = false;
    bool bAssumeNo = false;
    // Check only and print the plan; always in the terminal.
    bool bPlan = false;
};

enum class CommandAction { kRun, kHelp, kVersion, kInit };

struct ParsedCommandLine {
    CommandAction eAction = CommandAction::kRun;
    FrontEndOptions options;
    std::string strInitDir;
    std::string strServerUrl;
    std::string strPublicKey;
    std::string strParallel;  // --parallel N, as given
    // argv[0] and the words left for the application.
    std::vector<const char*> vecArgs;
};

// False with a one-line strError for an unknown option, a missing value or
// options that do not go together.
bool ParseUpdaterCommandLine(int argc, char** argv, ParsedCommandLine* pParsed,
                             std::string* pstrError);

// The options as words again, for the run-copy the launcher starts.
std::vector<std::string> FrontEndOptionWords(const FrontEndOptions& options);

// The usage text that --help prints.
const char* UpdaterUsage();

// Parses and does what needs no application: help, version, --init, a
// refused command line, a run asked of the packaged template. Returns the
// exit status, or -1 when the caller is to run the application with
// pParsed's options and words.
int HandleCommandLine(int argc, char** argv, ParsedCommandLine* pParsed);
