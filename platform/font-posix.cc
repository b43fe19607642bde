#include <ft2build.h>
#include FT_FREETYPE_H

#include <cerrno>
#include <mutex>
#include <set>

#include "platform/font.h"

namespace platform {

namespace {

std::mutex g_fontMutex;
std::set<std::string>& AddedFonts() {
    static std::set<std::string> s_setFonts;
    return s_setFonts;
}

}  // namespace

int CountFontFaces(const std::string& strPath) {
    // A library object per call: FreeType objects are not shared between threads.
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0)
        return 0;
    int nFaces = 0;
    FT_Face face = nullptr;
    // Face index -1 only reads how many faces the file holds.
    FT_Error nError = FT_New_Face(library, strPath.c_str(), -1, &face);
    if (nError == 0) {
        nFaces = static_cast<int>(face->num_faces);
        FT_Done_Face(face);
    }
    FT_Done_FreeType(library);
    // An unreadable file keeps the reason the open left; anything else is
    // a file of the wrong format.
    if (nFaces < 1 && nError != FT_Err_Cannot_Open_Resource)
        errno = EINVAL;
    return nFaces;
}

int AddFontFile(const std::string& strPath) {
    int nFaces = CountFontFaces(strPath);
    if (nFaces < 1)
        return 0;
    std::lock_guard<std::mutex> lock(g_fontMutex);
    AddedFonts().insert(strPath);
    return nFaces;
}

bool RemoveFontFile(const std::string& strPath) {
    std::lock_guard<std::mutex> lock(g_fontMutex);
    return AddedFonts().erase(strPath) > 0;
}

}  // namespace platform
