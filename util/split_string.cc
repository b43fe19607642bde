#include "util/split_string.h"

int SplitString(std::vector<std::string>* pvecOut, std::string_view strSeparators,
                std::string_view strText) {
    int nAdded = 0;
    auto add = [&](size_t nFrom, size_t nTo, bool bKeepEmpty) {
        if (nTo > nFrom || bKeepEmpty) {
            pvecOut->emplace_back(strText.substr(nFrom, nTo - nFrom));
            ++nAdded;
        }
    };
    size_t s = 0;
    bool bQuoted = false;
    for (size_t i = 0; i < strText.size(); ++i) {
        char c = strText[i];
        if (bQuoted) {
            if (c == '\\') {
                ++i;  // the protected character stays in the token, unread
            } else if (c == '"') {
                add(s, i, true);
                s = i + 1;
                bQuoted = false;
            }
        } else if (strSeparators.find(c) != std::string_view::npos) {
            add(s, i, false);
            s = i + 1;
        } else if (c == '"') {
            add(s, i, false);
            s = i + 1;
            bQuoted = true;
        }
    }
    // An unclosed quote keeps what follows it as the last token.
    if (s < strText.size()) add(s, strText.size(), false);
    return nAdded;
}
