// Font files: whether a file really is a font, and a per-process table of
// the fonts "added" to this session, the stand-in for the system's font
// table on platforms where an application cannot add fonts for everyone.
#pragma once

#include <string>

namespace platform {

// Number of faces FreeType reads from the file; 0 when it is no font (or
// cannot be read), the reason in GetLastSystemError() (EINVAL: no font).
int CountFontFaces(const std::string& strPath);

// Adds the font file to the table when it holds at least one face; returns
// the number of faces, 0 on failure (the file is then not added).
int AddFontFile(const std::string& strPath);
// Takes the font file out of the table; false when it was not in it.
bool RemoveFontFile(const std::string& strPath);

}  // namespace platform
