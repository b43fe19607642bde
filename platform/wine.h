// Running Windows programs on Linux: through Wine, in the prefix that
// windows_side.h names. Programs of other kinds start directly.
#pragma once

#include <string>
#include <vector>

#include "platform/process.h"

namespace platform {

// Full path of the "wine" program found on PATH; empty when Wine is missing.
std::string FindWine();

// True for names ending in ".exe", ".com", ".bat" or ".cmd" (any case).
bool IsWindowsProgram(const std::string& strPath);

// The path a program inside Wine sees for a local path: below the prefix's
// drive_c it is "C:\...", anything else goes through Wine's "Z:" drive that
// maps the root folder. Relative paths come back with "\" separators only.
std::string ToWineWindowsPath(const std::string& strPath);

// Command that runs a Windows program through strWine: .exe and .com
// directly, .bat and .cmd through "cmd /c". Element 0 is strWine.
std::vector<std::string> BuildWineCommand(const std::string& strWine, const std::string& strProgram,
                                          const std::vector<std::string>& vecArgs);

// Environment entries for programs run through Wine: WINEPREFIX set to the
// prefix the rest of the program uses, so both look at the same folders.
std::vector<std::string> WineEnvironment();

// Starts a program the way the Windows shell would on this side: Windows
// programs through Wine (missing Wine: an invalid handle, error ENOENT),
// anything else directly. strWorkDir empty: our current folder.
CProcess StartShellProgram(const std::string& strProgram, const std::vector<std::string>& vecArgs,
                           const std::string& strWorkDir = std::string());

// Starts Wine's registry editor to import a .reg file silently into the
// prefix ("regedit -s file"). Not waited for by the caller as a rule.
CProcess StartRegeditImport(const std::string& strRegFile,
                            const std::string& strWorkDir = std::string());

}  // namespace platform
