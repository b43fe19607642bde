// UTF-8 validation and the code page 949 and UTF-16 conversions (whole
// code page 949 texts against Python's are the list reader's tests).
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

TEST(CodepageTest, Utf8Validation) {
    for (const char* psz : {"", "plain/ascii.dll,,,REG\r\n", "한글/파일.dll", "\xF0\x9F\x98\x80",
                            "\xF4\x8F\xBF\xBF" /* U+10FFFF */})
        EXPECT_TRUE(platform::IsValidUtf8(psz)) << psz;
    for (const char* psz : {"\xC7\xD1\xB1\xDB" /* code page 949 */, "\xC0\xAF" /* overlong */,
                            "\xE0\x80\xAF", "\xED\xA0\x80" /* surrogate */,
                            "\xF4\x90\x80\x80" /* above U+10FFFF */, "ok\xE2\x82", "\x80", "\xFF"})
        EXPECT_FALSE(platform::IsValidUtf8(psz)) << psz;
}

TEST(CodepageTest, Cp949ToUtf8TakesOnlyTheCodePage) {
    std::string strOut;
    ASSERT_TRUE(platform::Cp949ToUtf8("a\xC7\xD1\x8C\x63", &strOut));
    EXPECT_EQ(strOut, "a한똠");  // the second beyond the base Korean set
    strOut = "unchanged";
    EXPECT_FALSE(platform::Cp949ToUtf8("a\xC7", &strOut));     // lead byte cut off
    EXPECT_FALSE(platform::Cp949ToUtf8("\xFF\xFF", &strOut));  // no such character
    EXPECT_EQ("unchanged", strOut);
    EXPECT_TRUE(platform::Cp949ToUtf8("", &strOut));
    EXPECT_EQ("", strOut);
}

TEST(CodepageTest, Utf8ToUtf16) {
    std::u16string str16;
    ASSERT_TRUE(platform::Utf8ToUtf16("A/한\xF0\x9F\x98\x80", &str16));
    EXPECT_EQ((std::u16string{u'A', u'/', 0xD55C, 0xD83D, 0xDE00}), str16);
    str16 = u"unchanged";
    EXPECT_FALSE(platform::Utf8ToUtf16("\xC7\xD1", &str16));
    EXPECT_EQ(u"unchanged", str16);
}
