// TidewellMakeList: writes the list file of a release folder for the
// updater's server. Usage text below; the manual page is made from it.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/version.h"
#include "engine/list_writer.h"
#include "platform/file_system.h"

namespace {

const char* const kProgramName = "TidewellMakeList";

const char* const kUsage =
    "Usage: TidewellMakeList [OPTION]... RELEASE_DIR\n"
    "Write the list file of a release folder for the updater's server: one line\n"
    "per file with its type, GMT time and size, so that clients need no extra\n"
    "request per file.\n"
    "\n"
    "Options:\n"
    "  -o FILE            write the list here (default RELEASE_DIR/_listfile.txt)\n"
    "  -n NAME            list file name to skip in the folder (default _listfile.txt)\n"
    "  --type GLOB=FIELD  type field for matching files, e.g. '*.dll=REG' or\n"
    "                     'bin/setup=EXE|w=1' (first match wins; defaults: *.reg REF,\n"
    "                     *.zip ZIP, *.ttf/*.ttc/*.otf/*.fon FNT)\n"
    "  --exclude GLOB     leave matching files out\n"
    "  --delete PATH      list PATH for deletion on the clients\n"
    "  --gzip-static      FILE.gz is the gzip-encoded form of FILE that the server\n"
    "                     sends (nginx gzip_static always); it is listed as FILE\n"
    "  -h, --help         show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0  the list was written\n"
    "  1  bad command line\n"
    "  2  the folder could not be read or the list not written\n";

// A one-line reason and the usage hint; the exit status of a bad command line.
int CommandLineError(const std::string& strError) {
    fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kProgramName,
            strError.c_str(), kProgramName);
    return 1;
}

bool WriteFile(const std::string& strPath, const std::string& strText) {
    std::string strTemp = strPath + ".tmp";
    FILE* fp = fopen(strTemp.c_str(), "wb");
    if (fp == nullptr)
        return false;
    bool bOk = fwrite(strText.data(), 1, strText.size(), fp) == strText.size();
    bOk = fclose(fp) == 0 && bOk;
    bOk = bOk && platform::MoveFileReplace(strTemp, strPath);
    if (!bOk)
        platform::DeleteFile(strTemp);
    return bOk;
}

}  // namespace

int main(int argc, char** argv) {
    ListWriterOptions options;
    std::string strOutput;
    for (int i = 1; i < argc; ++i) {
        std::string strArg = argv[i];
        if (strArg == "-h" || strArg == "--help") {
            fputs(kUsage, stdout);
            return 0;
        }
        if (strArg == "--version") {
            printf("%s %d.%d.%d.%d\n", kProgramName, TIDEWELL_VERSION_MAJOR, TIDEWELL_VERSION_MINOR,
                   TIDEWELL_VERSION_PATCH, TIDEWELL_VERSION_TWEAK);
            return 0;
        }
        bool bTakesValue = strArg == "-o" || strArg == "-n" || strArg == "--type" ||
                           strArg == "--exclude" || strArg == "--delete";
        if (bTakesValue && i + 1 >= argc)
            return CommandLineError("option '" + strArg + "' needs a value");
        if (strArg == "-o") {
            strOutput = argv[++i];
        } else if (strArg == "-n") {
            options.strListFileName = argv[++i];
        } else if (strArg == "--type") {
            std::string strRule = argv[++i];
            size_t nEq = strRule.find('=');
            if (nEq == std::string::npos || nEq == 0)
                return CommandLineError("--type wants GLOB=FIELD, got '" + strRule + "'");
            options.vecRules.push_back({strRule.substr(0, nEq), strRule.substr(nEq + 1)});
        } else if (strArg == "--exclude") {
            options.vecExcludes.push_back(argv[++i]);
        } else if (strArg == "--delete") {
            options.vecDeletes.push_back(argv[++i]);
        } else if (strArg == "--gzip-static") {
            options.bGzipStatic = true;
        } else if (!strArg.empty() && strArg[0] == '-') {
            return CommandLineError("unknown option '" + strArg + "'");
        } else if (options.strReleaseDir.empty()) {
            options.strReleaseDir = strArg;
        } else {
            return CommandLineError("more than one release folder ('" + strArg + "')");
        }
    }
    if (options.strReleaseDir.empty())
        return CommandLineError("no release folder given");
    if (strOutput.empty())
        strOutput = platform::JoinPath(options.strReleaseDir, options.strListFileName);

    std::string strList, strError;
    if (!BuildListFile(options, &strList, &strError)) {
        fprintf(stderr, "%s: %s\n", kProgramName, strError.c_str());
        return 2;
    }
    if (!WriteFile(strOutput, strList)) {
        fprintf(stderr, "%s: cannot write %s\n", kProgramName, strOutput.c_str());
        return 2;
    }
    return 0;
}
