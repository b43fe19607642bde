// The quote-aware splitter and the command line built on it. Input: one
// byte choosing the separators, then the text. The tokens are pieces of the
// text in order; and argv words joined into a command line split back into
// the same words (words holding a double quote or a backslash excepted:
// the splitter keeps backslashes, so those cannot come back unchanged).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/tide_app.h"
#include "fuzz/fuzz_scratch.h"
#include "util/split_string.h"

namespace {

constexpr std::string_view kSeparatorSets[] = {" ", ",", "\n", " ,", " \t"};
constexpr size_t kMaxWords = 8;

void CheckTokens(std::string_view strSeparators, std::string_view strText) {
    std::vector<std::string> vecTokens = {"before"};
    int nAdded = SplitString(&vecTokens, strSeparators, strText);
    if (nAdded < 0 || vecTokens.size() != static_cast<size_t>(nAdded) + 1 ||
        vecTokens[0] != "before") {
        FuzzFail("count or earlier tokens wrong");
    }
    size_t nPos = 0;
    for (size_t i = 1; i < vecTokens.size(); ++i) {
        size_t nFound = strText.find(vecTokens[i], nPos);
        if (nFound == std::string_view::npos)
            FuzzFail("token is not a piece of the text in order", vecTokens[i]);
        nPos = nFound + vecTokens[i].size();
    }
}

void CheckCommandLine(std::string_view strText) {
    std::vector<std::string> vecWords = {"TidewellKiro"};
    size_t nStart = 0;
    while (nStart <= strText.size() && vecWords.size() <= kMaxWords) {
        size_t nEnd = strText.find('\0', nStart);
        if (nEnd == std::string_view::npos)
            nEnd = strText.size();
        std::string strWord(strText.substr(nStart, nEnd - nStart));
        if (strWord.find_first_of("\"\\") != std::string::npos)
            return;
        vecWords.push_back(strWord);
        nStart = nEnd + 1;
    }
    std::vector<const char*> vecArgv;
    for (const std::string& strWord : vecWords)
        vecArgv.push_back(strWord.c_str());
    std::string strLine = JoinCommandLine(static_cast<int>(vecArgv.size()), vecArgv.data());
    std::vector<std::string> vecBack;
    SplitString(&vecBack, " ", strLine);
    if (std::vector<std::string>(vecWords.begin() + 1, vecWords.end()) != vecBack)
        FuzzFail("command line does not split back into its words", strLine);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize == 0)
        return 0;
    std::string_view strSeparators = kSeparatorSets[pData[0] % std::size(kSeparatorSets)];
    std::string_view strText(reinterpret_cast<const char*>(pData + 1), nSize - 1);
    CheckTokens(strSeparators, strText);
    CheckCommandLine(strText);
    return 0;
}
