#include "console/command_line.h"

#include <cstdio>
#include <cstring>

#include "app/client_setup.h"
#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace {

const char* const kProgramName = "TidewellKiro";

const char* const kUsage =
    "Usage: TidewellKiro [OPTION]... [1 | 3 [EXT,...]]\n"
    "  or:  TidewellKiro --plan [3 [EXT,...]]\n"
    "  or:  TidewellKiro --init DIR --server URL [--public-key KEY] [--parallel N]\n"
    "Keep the installation folder that holds this program in step with its update\n"
    "server, then start the program it updates (Corvid@LoomhallKiro).\n"
    "\n"
    "Command words:\n"
    "  (none)               copy this program to TidewellKiroRun1 in the same folder\n"
    "                       and start that copy with 1, so this file can be updated\n"
    "                       too\n"
    "  1                    do the update (the word the copy is started with)\n"
    "  3 [EXT,...]          update only files of the listed types, e.g. 3 dll,ocx\n"
    "                       (and the types of [RESOURCE] ALLOW_FILE_TYPE); no\n"
    "                       shortcuts, the program is not started\n"
    "\n"
    "Options:\n"
    "  --headless           use the terminal even where a display exists\n"
    "  --assume-yes         answer every question with yes (in the terminal)\n"
    "  --assume-no          answer every question with no (in the terminal)\n"
    "  --plan               download the list file and check every file against the\n"
    "                       server, then print what an update would do as one JSON\n"
    "                       object on stdout: download (path, target, size, reason:\n"
    "                       missing, size, time or unreadable), delete,\n"
    "                       post_processing, unchecked, total_bytes and up_to_date\n"
    "                       (nothing to download or delete). Nothing in the\n"
    "                       installation changes; only the log log/Tidewell_plan_* is\n"
    "                       written when log/ exists\n"
    "  --init DIR           prepare a new installation in DIR: create it, copy this\n"
    "                       program into it and write config/Tidewell.ini; the server\n"
    "                       is not contacted. Refused when DIR holds other settings\n"
    "  --server URL         with --init: the release folder on the server,\n"
    "                       http[s]://HOST[:PORT]/PATH/ or .../PATH/LISTFILE (the\n"
    "                       list file name is _listfile.txt unless the URL ends in a\n"
    "                       file name); https verifies the server's certificate\n"
    "  --public-key KEY     with --init: the base64 key (32 bytes) that signs the\n"
    "                       list file, written as LIST_PUBLIC_KEY\n"
    "  --parallel N         with --init: requests at a time (1-16, default 1),\n"
    "                       written as PARALLEL_TRANSFERS. Above 1 the files are\n"
    "                       checked and downloaded N at a time: as streams of one\n"
    "                       HTTP/2 connection where the server offers it over\n"
    "                       https, otherwise on up to N connections\n"
    "  -h, --help           show this help and exit\n"
    "  --version            show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0                    finished (also: help, version, --init done, --plan\n"
    "                       printed)\n"
    "  1                    could not start: bad command line, no\n"
    "                       config/Tidewell.ini, the folder is busy with another run,\n"
    "                       --init refused\n"
    "  2                    the list file could not be had\n"
    "  3                    the user chose not to go on after failed downloads\n"
    "  4                    the run ended without a result (stopped)\n"
    "\n"
    "Files:\n"
    "  config/Tidewell.ini  the settings. Section [TIDE]: SVR_IP_ADDR, SVR_PORT_NO,\n"
    "                       DOWNLOAD_BASE_URL, LIST_FILE_NAME, SVR_HTTPS (0 http, 1\n"
    "                       https ignoring certificate errors, 2 https asking about\n"
    "                       them), TIME_CHECK_SPAN, LINK_APPEND_NAME,\n"
    "                       LIST_PUBLIC_KEY, PARALLEL_TRANSFERS; section\n"
    "                       [RESOURCE]: ALLOW_FILE_TYPE\n"
    "  log/                 the daily log\n"
    "  temp/                scratch space, emptied at the end of a run\n"
    "\n"
    "Environment:\n"
    "  DISPLAY              the window is used when DISPLAY, WAYLAND_DISPLAY or\n"
    "                       QT_QPA_PLATFORM is set; otherwise the terminal\n"
    "  http_proxy           proxy for the server, with https_proxy and no_proxy\n"
    "  TIDEWELL_CA_BUNDLE   PEM file of extra certificate authorities to trust\n"
    "  WINEPREFIX           where Windows programs and fonts go (default ~/.wine)\n"
    "  XDG_DESKTOP_DIR      where the desktop shortcut goes; XDG_DATA_HOME and\n"
    "                       XDG_CONFIG_HOME: where the menu group goes\n";

// Options that take a value, as "--name VALUE" or "--name=VALUE".
struct ValueOption {
    const char* pszName;
    std::string ParsedCommandLine::*pValue;
};
const ValueOption kValueOptions[] = {
    {"--init", &ParsedCommandLine::strInitDir},
    {"--server", &ParsedCommandLine::strServerUrl},
    {"--public-key", &ParsedCommandLine::strPublicKey},
    {"--parallel", &ParsedCommandLine::strParallel},
};

bool ParseFlag(const std::string& strArg, FrontEndOptions* pOptions) {
    const struct {
        const char* pszName;
        bool FrontEndOptions::*pFlag;
    } kFlags[] = {
        {"--headless", &FrontEndOptions::bHeadless},
        {"--assume-yes", &FrontEndOptions::bAssumeYes},
        {"--assume-no", &FrontEndOptions::bAssumeNo},
        {"--plan", &FrontEndOptions::bPlan},
    };
    for (const auto& flag : kFlags) {
        if (strArg == flag.pszName) {
            pOptions->*flag.pFlag = true;
            return true;
        }
    }
    return false;
}

// Checks the combination once every word is read.
bool CheckCombination(const ParsedCommandLine& parsed, std::string* pstrError) {
    const FrontEndOptions& options = parsed.options;
    if (options.bAssumeYes && options.bAssumeNo) {
        *pstrError = "--assume-yes and --assume-no exclude each other";
        return false;
    }
    bool bInit = !parsed.strInitDir.empty();
    if (!bInit && (!parsed.strServerUrl.empty() || !parsed.strPublicKey.empty() ||
                   !parsed.strParallel.empty())) {
        *pstrError = "--server, --public-key and --parallel go with --init";
        return false;
    }
    if (!bInit)
        return true;
    if (parsed.strServerUrl.empty()) {
        *pstrError = "--init needs --server URL";
        return false;
    }
    if (options.bPlan || parsed.vecArgs.size() > 1) {
        *pstrError = "--init takes neither --plan nor command words";
        return false;
    }
    if (!parsed.strPublicKey.empty() && !IsValidListPublicKey(parsed.strPublicKey)) {
        *pstrError = "--public-key wants the base64 text of 32 bytes";
        return false;
    }
    int nParallel = 1;
    if (!parsed.strParallel.empty() && !ParseParallelTransfers(parsed.strParallel, &nParallel)) {
        *pstrError = "--parallel wants a number from 1 to " + std::to_string(kMaxParallelTransfers);
        return false;
    }
    return true;
}

void PrintError(const std::string& strError) {
    fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgramName,
            strError.c_str(), kProgramName);
}

std::string FolderOf(const std::string& strPath) {
    size_t nSep = strPath.rfind(platform::kPathSep);
    return nSep == std::string::npos ? std::string(".") : strPath.substr(0, nSep);
}

int RunInit(const ParsedCommandLine& parsed) {
    ClientSettings settings;
    settings.strPublicKey = parsed.strPublicKey;
    if (!parsed.strParallel.empty())
        ParseParallelTransfers(parsed.strParallel, &settings.nParallelTransfers);
    std::string strError;
    if (!ParseServerUrl(parsed.strServerUrl, &settings, &strError)) {
        PrintError("cannot use the URL '" + parsed.strServerUrl + "': " + strError);
        return 1;
    }
    std::string strSelf = platform::GetExecutablePath();
    std::string strMessage;
    int nExit = InitClientInstallation(parsed.strInitDir, settings, strSelf, &strMessage);
    fprintf(nExit == 0 ? stdout : stderr, "%s: %s\n", kProgramName, strMessage.c_str());
    return nExit;
}

}  // namespace

const char* UpdaterUsage() {
    return kUsage;
}

std::vector<std::string> FrontEndOptionWords(const FrontEndOptions& options) {
    std::vector<std::string> vecWords;
    if (options.bHeadless)
        vecWords.push_back("--headless");
    if (options.bAssumeYes)
        vecWords.push_back("--assume-yes");
    if (options.bAssumeNo)
        vecWords.push_back("--assume-no");
    return vecWords;
}

bool ParseUpdaterCommandLine(int argc, char** argv, ParsedCommandLine* pParsed,
                             std::string* pstrError) {
    pParsed->vecArgs.clear();
    if (argc > 0)
        pParsed->vecArgs.push_back(argv[0]);
    for (int i = 1; i < argc; ++i) {
        std::string strArg = argv[i];
        if (strArg == "-h" || strArg == "--help" || strArg == "--version") {
            pParsed->eAction =
                strArg == "--version" ? CommandAction::kVersion : CommandAction::kHelp;
            return true;
        }
        if (strArg.empty() || strArg[0] != '-') {
            pParsed->vecArgs.push_back(argv[i]);
            continue;
        }
        if (ParseFlag(strArg, &pParsed->options))
            continue;
        bool bKnown = false;
        for (const ValueOption& option : kValueOptions) {
            size_t nName = strlen(option.pszName);
            if (strArg.compare(0, nName, option.pszName) != 0 ||
                (strArg.size() > nName && strArg[nName] != '=')) {
                continue;
            }
            bKnown = true;
            std::string strValue;
            if (strArg.size() > nName) {
                strValue = strArg.substr(nName + 1);
            } else if (i + 1 < argc) {
                strValue = argv[++i];
            }
            if (strValue.empty()) {
                *pstrError = std::string("option '") + option.pszName + "' needs a value";
                return false;
            }
            pParsed->*option.pValue = strValue;
        }
        if (!bKnown) {
            // Any other dash word: the command words never start with one.
            *pstrError = "unknown option '" + strArg + "'";
            return false;
        }
    }
    if (!pParsed->strInitDir.empty())
        pParsed->eAction = CommandAction::kInit;
    return CheckCombination(*pParsed, pstrError);
}

int HandleCommandLine(int argc, char** argv, ParsedCommandLine* pParsed) {
    std::string strError;
    if (!ParseUpdaterCommandLine(argc, argv, pParsed, &strError)) {
        PrintError(strError);
        return 1;
    }
    switch (pParsed->eAction) {
        case CommandAction::kHelp:
            fputs(kUsage, stdout);
            return 0;
        case CommandAction::kVersion: {
            std::string strVersion;
            CTideApp::GetAppVersion(strVersion);
            printf("%s %s\n", kProgramName, strVersion.c_str());
            return 0;
        }
        case CommandAction::kInit:
            return RunInit(*pParsed);
        case CommandAction::kRun:
            break;
    }
    // The packaged copy is only the template for --init: a run there would
    // turn a system folder into an installation.
    std::string strSelf = platform::GetExecutablePath();
    std::string strFolder = FolderOf(strSelf);
    if (platform::FileExists(platform::JoinPath(strFolder, kTemplateMarkerName))) {
        PrintError(strFolder +
                   " holds the packaged template, which updates nothing itself; "
                   "prepare an installation with --init DIR --server URL");
        return 1;
    }
    return -1;
}
