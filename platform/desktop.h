// The user's special folders and shortcuts, freedesktop style on Linux.
#pragma once

#include <string>

namespace platform {

enum class SpecialFolder {
    kDesktop,   // $XDG_DESKTOP_DIR, else ~/Desktop
    kPrograms,  // $XDG_DATA_HOME/applications
    kStartup,   // $XDG_CONFIG_HOME/autostart
};

// The folder's path, not created; empty when the home folder is unknown.
std::string GetSpecialFolderPath(SpecialFolder eFolder);

// File name ending of a shortcut: ".desktop" on Linux, ".lnk" on Windows.
extern const char* const kShortcutExt;

// Writes a shortcut file at strLinkPath that starts strTarget with strArgs,
// shown under strName, in the menu group strGroup when one is given.
// False with the system error when it cannot be written.
bool WriteShortcut(const std::string& strLinkPath, const std::string& strName,
                   const std::string& strTarget, const std::string& strArgs,
                   const std::string& strGroup = std::string());

// A shortcut name made safe as a file name (no separators, no control bytes).
std::string ShortcutFileName(const std::string& strName);

// Makes the menu show a program group folder below kPrograms as a submenu.
bool RegisterProgramGroup(const std::string& strGroup);

}  // namespace platform
