// Process-wide values shared by the shell, the engine and the dialogs.
// Written on the user-interface thread before a run starts; the engine's
// worker only reads them, except the two system folders it fills itself.
#pragma once

#include <string>

// Installation folder: the running executable's folder, no trailing separator.
extern std::string g_szBaseDir;
// Create the shortcuts at exit.
extern int g_bCreateLinks;
extern std::string g_szLinkAppendName;
extern std::string g_szLinkName;
extern std::string g_szFallbackLinkName;
// Windows and system folders of the installation's Windows side.
extern std::string g_szWindowsDir;
extern std::string g_szSystemDir;
