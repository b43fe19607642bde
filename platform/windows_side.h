// Where the Windows side of the installation lives. On Linux that is the
// Wine prefix: $WINEPREFIX, else ~/.wine. Paths are returned without a
// trailing separator and nothing is created. Every folder is empty when the
// prefix is unknown (no WINEPREFIX and no home folder).
#pragma once

#include <string>

namespace platform {

std::string GetWinePrefix();

// <prefix>/drive_c/windows and the folders below it.
std::string GetWindowsFolder();
std::string GetSystemFolder();    // windows/system32
std::string GetSysWow64Folder();  // windows/syswow64 (64-bit prefixes only)
std::string GetFontsFolder();     // windows/Fonts
// <prefix>/drive_c/Program Files and "Program Files (x86)".
std::string GetProgramFilesFolder();
std::string GetProgramFilesX86Folder();

// True for a path that starts with a drive letter and a colon ("C:\x").
bool IsWindowsDrivePath(const std::string& strPath);
// Maps a drive path into the prefix: "C:\Data\x.bin" becomes
// <prefix>/drive_c/Data/x.bin, other letters <prefix>/dosdevices/d:/...;
// backslashes become "/". Other paths come back unchanged.
std::string MapWindowsDrivePath(const std::string& strPath);

}  // namespace platform
