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

// Only an added font can be removed, once; a file that is no font and a
// missing one fail for their own reasons (whole font handling is the
// post-processing tests').
TEST(FontFileTest, OnlyAddedFontsCanBeRemovedAndFailuresSayWhy) {
    if (!platform::FileExists(kSystemFont))
        GTEST_SKIP() << "fonts-dejavu-core is not installed";
    CTempDir dir;
    EXPECT_EQ(platform::CountFontFaces(dir.WriteFile("fake.ttf", "this is not a font\n")), 0);
    EXPECT_EQ(platform::GetLastSystemError(), EINVAL);
    EXPECT_EQ(platform::CountFontFaces(dir.Sub("missing.ttf")), 0);
    EXPECT_EQ(platform::GetLastSystemError(), ENOENT);

    std::string strFont = dir.Sub("DejaVuSans.ttf");
    ASSERT_TRUE(platform::CopyFileOver(kSystemFont, strFont));
    EXPECT_FALSE(platform::RemoveFontFile(strFont));
    EXPECT_EQ(platform::AddFontFile(strFont), 1);
    EXPECT_TRUE(platform::RemoveFontFile(strFont));
    EXPECT_FALSE(platform::RemoveFontFile(strFont));
}

}  // namespace
