// The shared tokenizer: separators, quotes and backslashes.
#include "util/split_string.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> Split(std::string_view strSeparators, std::string_view strText) {
    std::vector<std::string> vec;
    int nAdded = SplitString(&vec, strSeparators, strText);
    EXPECT_EQ(nAdded, static_cast<int>(vec.size()));
    return vec;
}

using V = std::vector<std::string>;

}  // namespace

TEST(SplitString, SeparatorRunsGiveNoEmptyTokens) {
    EXPECT_EQ(Split(" ", "  a  b "), (V{"a", "b"}));
    EXPECT_EQ(Split(",;", "a,;b;,c"), (V{"a", "b", "c"}));
    EXPECT_EQ(Split(" ", ""), V{});
    EXPECT_EQ(Split(" ", "   "), V{});
    EXPECT_EQ(Split(" ", " x"), V{"x"});  // tokens are not trimmed beyond separators
    EXPECT_EQ(Split(",", " x ,y"), (V{" x ", "y"}));
}

TEST(SplitString, QuotesMakeOneTokenAndEmptyQuotesCount) {
    EXPECT_EQ(Split(" ", "3 \"dll, ocx\" z"), (V{"3", "dll, ocx", "z"}));
    EXPECT_EQ(Split(" ", "a \"\" b"), (V{"a", "", "b"}));
    // A quote ends a pending token and opens a quoted one.
    EXPECT_EQ(Split(" ", "ab\"c d\"e"), (V{"ab", "c d", "e"}));
    // An unclosed quote keeps the rest as the last token.
    EXPECT_EQ(Split(" ", "a \"b c"), (V{"a", "b c"}));
}

TEST(SplitString, BackslashProtectsInsideQuotesAndStays) {
    EXPECT_EQ(Split(" ", "\"a\\\" b\" c"), (V{"a\\\" b", "c"}));
    EXPECT_EQ(Split(" ", "a\\ b"), (V{"a\\", "b"}));  // outside quotes it is plain
    EXPECT_EQ(Split(" ", "\"x\\"), V{"x\\"});         // a trailing backslash is safe
}

TEST(SplitString, AppendsToExistingTokens) {
    std::vector<std::string> vec{"keep"};
    EXPECT_EQ(SplitString(&vec, ",", "a,b"), 2);
    EXPECT_EQ(vec, (V{"keep", "a", "b"}));
}
