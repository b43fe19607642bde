// UTF-8 validation and the code page 949 and UTF-16 conversions, checked
// against texts that Python encodes.
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace {

// The text encoded by Python in the given codec.
std::string PythonEncode(const CTempDir& dir, const std::string& strText,
                         const std::string& strCodec) {
    std::string strPath = dir.Sub("out-" + strCodec);
    std::string strCommand = "python3 -c \"import sys; sys.stdout.buffer.write('" + strText +
                             "'.encode('" + strCodec + "'))\" > '" + strPath + "'";
    EXPECT_EQ(0, RunShell(strCommand)) << strCommand;
    return ReadWholeFile(strPath);
}

}  // namespace

TEST(CodepageTest, Utf8Validation) {
    for (const char* psz : {"", "plain/ascii.dll,,,REG\r\n", "한글/파일.dll", "\xF0\x9F\x98\x80",
                            "\xF4\x8F\xBF\xBF" /* U+10FFFF */})
        EXPECT_TRUE(platform::IsValidUtf8(psz)) << psz;
    for (const char* psz : {"\xC7\xD1\xB1\xDB" /* code page 949 */, "\xC0\xAF" /* overlong */,
                            "\xE0\x80\xAF", "\xED\xA0\x80" /* surrogate */,
                            "\xF4\x90\x80\x80" /* above U+10FFFF */, "ok\xE2\x82", "\x80", "\xFF"})
        EXPECT_FALSE(platform::IsValidUtf8(psz)) << psz;
}

TEST(CodepageTest, Cp949ToUtf8MatchesPython) {
    CTempDir dir;
    // "똠" lies in the extension of code page 949 beyond the base Korean set.
    const std::string strText = "한글/파일.dll,,,REG\\r\\n똠방각하 \\\\ x.txt,자료/a.txt";
    std::string strCp949 = PythonEncode(dir, strText, "cp949");
    std::string strUtf8 = PythonEncode(dir, strText, "utf-8");
    ASSERT_FALSE(strCp949.empty());
    ASSERT_NE(strCp949, strUtf8);
    std::string strOut;
    ASSERT_TRUE(platform::Cp949ToUtf8(strCp949, &strOut));
    EXPECT_EQ(strUtf8, strOut);
    EXPECT_TRUE(platform::IsValidUtf8(strOut));

    std::string strLarge;
    std::string strLargeUtf8;
    for (int i = 0; i < 5000; ++i) {
        strLarge += strCp949;
        strLargeUtf8 += strUtf8;
    }
    ASSERT_TRUE(platform::Cp949ToUtf8(strLarge, &strOut));
    EXPECT_EQ(strLargeUtf8, strOut);
}

TEST(CodepageTest, Cp949RejectsBytesOutsideTheCodePage) {
    std::string strOut = "unchanged";
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
