// Small pieces the post-processing handlers share: where the Windows side's
// folders and tools are, path parts, and the logged deletion of a file.
#pragma once

#include <string>
#include <vector>

#include "platform/file_system.h"

class ISyncFrontEnd;

namespace postproc {

// Caption of the handlers' message boxes: the application's title.
extern const char* const kMessageCaption;

// The Windows and system folders of the run; before a run has filled them,
// those of the Wine prefix.
std::string WindowsDir();
std::string SystemDir();
// regsvr32.exe in the system folder.
std::string RegSvr32Path();
// True when regsvr32.exe is there; otherwise tells the user and is false.
bool FindRegSvr32(ISyncFrontEnd* pDlg);

// The path up to its last separator (empty when it has none), and the part after it.
std::string FolderOf(const std::string& strPath);
std::string FileNameOf(const std::string& strPath);

// Deletes a file after a failed step so the next run fetches it again,
// with the handler's log lines.
void DeleteLocalFile(const char* pszHandler, const std::string& strPath);

// Folder entries in name order, so that the first match does not depend on
// the file system's order.
std::vector<platform::DirEntry> SortedByName(std::vector<platform::DirEntry> vecEntries);

}  // namespace postproc
