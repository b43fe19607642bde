// TidewellMakeList: writes the list file of a release folder for the
// updater's server. Usage text below.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/list_writer.h"
#include "platform/file_system.h"

namespace {

const char* const kUsage =
    "usage: TidewellMakeList [options] RELEASE_DIR\n"
    "  -o FILE             write the list here (default RELEASE_DIR/_listfile.txt)\n"
    "  -n NAME             list file name to skip in the folder (default _listfile.txt)\n"
    "  --type GLOB=FIELD   type field for matching files, e.g. '*.dll=REG' or\n"
    "                      'bin/setup=EXE|w=1' (first match wins; defaults: *.reg REF,\n"
    "                      *.zip ZIP, *.ttf/*.ttc/*.otf/*.fon FNT)\n"
    "  --exclude GLOB      leave matching files out\n"
    "  --delete PATH       list PATH for deletion on the clients\n"
    "  --gzip-static       FILE.gz is the gzip-encoded form of FILE that the server sends\n";

bool WriteFile(const std::string& strPath, const std::string& strText) {
    std::string strTemp = strPath + ".tmp";
    FILE* fp = fopen(strTemp.c_str(), "wb");
    if (fp == nullptr) return false;
    bool bOk = fwrite(strText.data(), 1, strText.size(), fp) == strText.size();
    bOk = fclose(fp) == 0 && bOk;
    bOk = bOk && platform::MoveFileReplace(strTemp, strPath);
    if (!bOk) platform::DeleteFile(strTemp);
    return bOk;
}

}  // namespace

int main(int argc, char** argv) {
    ListWriterOptions options;
    std::string strOutput;
    for (int i = 1; i < argc; ++i) {
        std::string strArg = argv[i];
        bool bHasValue = i + 1 < argc;
        if (strArg == "-h" || strArg == "--help") {
            fputs(kUsage, stdout);
            return 0;
        } else if (strArg == "-o" && bHasValue) {
            strOutput = argv[++i];
        } else if (strArg == "-n" && bHasValue) {
            options.strListFileName = argv[++i];
        } else if (strArg == "--type" && bHasValue) {
            std::string strRule = argv[++i];
            size_t nEq = strRule.find('=');
            if (nEq == std::string::npos || nEq == 0) {
                fprintf(stderr, "--type wants GLOB=FIELD, got '%s'\n", strRule.c_str());
                return 2;
            }
            options.vecRules.push_back({strRule.substr(0, nEq), strRule.substr(nEq + 1)});
        } else if (strArg == "--exclude" && bHasValue) {
            options.vecExcludes.push_back(argv[++i]);
        } else if (strArg == "--delete" && bHasValue) {
            options.vecDeletes.push_back(argv[++i]);
        } else if (strArg == "--gzip-static") {
            options.bGzipStatic = true;
        } else if (!strArg.empty() && strArg[0] != '-' && options.strReleaseDir.empty()) {
            options.strReleaseDir = strArg;
        } else {
            fputs(kUsage, stderr);
            return 2;
        }
    }
    if (options.strReleaseDir.empty()) {
        fputs(kUsage, stderr);
        return 2;
    }
    if (strOutput.empty()) strOutput = platform::JoinPath(options.strReleaseDir, options.strListFileName);

    std::string strList, strError;
    if (!BuildListFile(options, &strList, &strError)) {
        fprintf(stderr, "TidewellMakeList: %s\n", strError.c_str());
        return 1;
    }
    if (!WriteFile(strOutput, strList)) {
        fprintf(stderr, "TidewellMakeList: cannot write %s\n", strOutput.c_str());
        return 1;
    }
    return 0;
}
