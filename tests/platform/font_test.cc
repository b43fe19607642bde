// Font files read through FreeType, and the table of added fonts.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/file_system.h"
#include "platform/font.h"
#include "platform/system_error.h"
#include "tests/support/temp_dir.h"

namespace {

const char* const kSystemFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// A real font has a face and can be added, then removed once; a text file
// or a cut-off font has none and is never in the table.
TEST(FontFileTest, RealFontsAreCountedAddedAndRemovedOnce) {
    if (!platform::FileExists(kSystemFont))
        GTEST_SKIP() << "fonts-dejavu-core is not installed";
    EXPECT_EQ(platform::CountFontFaces(kSystemFont), 1);

    CTempDir dir;
    std::string strFake = dir.WriteFile("fake.ttf", "this is not a font\n");
    EXPECT_EQ(platform::CountFontFaces(strFake), 0);
    EXPECT_EQ(platform::GetLastSystemError(), EINVAL);
    std::string strCut = dir.WriteFile("cut.ttf", ReadWholeFile(kSystemFont).substr(0, 64));
    EXPECT_EQ(platform::CountFontFaces(strCut), 0);
    EXPECT_EQ(platform::CountFontFaces(dir.Sub("missing.ttf")), 0);
    EXPECT_EQ(platform::GetLastSystemError(), ENOENT);

    std::string strFont = dir.Sub("DejaVuSans.ttf");
    ASSERT_TRUE(platform::CopyFileOver(kSystemFont, strFont));
    EXPECT_FALSE(platform::RemoveFontFile(strFont));
    EXPECT_EQ(platform::AddFontFile(strFont), 1);
    EXPECT_EQ(platform::AddFontFile(strFake), 0);
    EXPECT_FALSE(platform::RemoveFontFile(strFake));
    EXPECT_TRUE(platform::RemoveFontFile(strFont));
    EXPECT_FALSE(platform::RemoveFontFile(strFont));
}

}  // namespace
