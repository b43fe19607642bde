// The shared tokenizer: separators, quotes and backslashes.
#include "util/split_string.h"

#include <gtest/gtest.h>

using V = std::vector<std::string>;

TEST(SplitString, SeparatorsQuotesAndBackslashes) {
    const struct {
        const char* pszSeparators;
        const char* pszText;
        V vecTokens;
    } kCases[] = {
        {" ", "  a  b ", {"a", "b"}},  // separator runs give no empty tokens
        {",;", "a,;b;,c", {"a", "b", "c"}},
        {" ", "   ", {}},
        {",", " x ,y", {" x ", "y"}},  // not trimmed beyond separators
        {" ", "3 \"dll, ocx\" z", {"3", "dll, ocx", "z"}},
        {" ", "a \"\" b", {"a", "", "b"}},         // empty quotes count
        {" ", "ab\"c d\"e", {"ab", "c d", "e"}},   // a quote ends a pending token
        {" ", "a \"b c", {"a", "b c"}},            // an unclosed quote keeps the rest
        {" ", "\"a\\\" b\" c", {"a\\\" b", "c"}},  // protects inside quotes and stays
        {" ", "a\\ b", {"a\\", "b"}},              // outside quotes it is plain
        {" ", "\"x\\", {"x\\"}},                   // a trailing backslash is safe
    };
    for (const auto& c : kCases) {
        V vec{"keep"};
        EXPECT_EQ(SplitString(&vec, c.pszSeparators, c.pszText),
                  static_cast<int>(c.vecTokens.size()))
            << c.pszText;
        EXPECT_EQ(V(vec.begin() + 1, vec.end()), c.vecTokens) << c.pszText;  // appended
    }
}
