// The folders behind the special keys of list-file target paths. A front end
// loads the map once at start and hands it to the engine through
// ISyncFrontEnd::GetSpecialDirMap; CSyncEngine::AdjustTargetFilePath uses it.
#pragma once

#include "engine/sync_front_end.h"

// The nine keys ("_FONTS", "_WINDOWS", "_DESKTOPDIRECTORY", "_PROGRAMS",
// "_STARTUP", "_SYSTEM", "_PROGRAM_FILES", "_SYSTEM_32BIT",
// "_PROGRAM_FILES_32BIT") with their folders: the Wine prefix's for the
// Windows ones, the XDG folders for the user's. No folder is created; each
// entry is logged at level 1.
SpecialDirMap LoadSpecialDirMap();
