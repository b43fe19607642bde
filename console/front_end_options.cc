#include "console/front_end_options.h"

#include <cstring>

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

bool ParseFrontEndOptions(int argc, char** argv, FrontEndOptions* pOptions,
                          std::vector<const char*>* pvecArgs, std::string* pstrError) {
    pvecArgs->clear();
    if (argc > 0)
        pvecArgs->push_back(argv[0]);
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--headless") == 0) {
            pOptions->bHeadless = true;
        } else if (strcmp(argv[i], "--assume-yes") == 0) {
            pOptions->bAssumeYes = true;
        } else if (strcmp(argv[i], "--assume-no") == 0) {
            pOptions->bAssumeNo = true;
        } else {
            pvecArgs->push_back(argv[i]);
        }
    }
    if (pOptions->bAssumeYes && pOptions->bAssumeNo) {
        *pstrError = "--assume-yes and --assume-no exclude each other";
        return false;
    }
    return true;
}
