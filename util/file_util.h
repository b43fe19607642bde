// Folder and attribute operations shared by the shell and the engine.
// Static only; callers never make an object.
#pragma once

#include <string>

class CFileUtil {
public:
    virtual ~CFileUtil() = default;

    // Creates one folder with the process's normal permissions (never opened
    // to other users). TRUE exactly when *pdwError ends 0; an empty path
    // gives the path-not-found error.
    static bool CreateDirectory_GrantAccess(const std::string& strPath, unsigned* pdwError);
    // Creates every folder on the way to the named file. 1 success, -1 a
    // folder was not created (*pdwError holds the system error), -2 empty
    // path, -3 no separator in the path. A folder that exists is no error.
    static int CreateDirectories(const std::string& strFilePath, unsigned* pdwError);
    // Deletes everything below the folder, read-only entries included, and
    // the folder itself unless bKeepFolder is set. Links are removed as
    // links, never followed. Single failures are skipped.
    static bool DeleteDirectory(const std::string& strFolder, bool bKeepFolder);
    // 0 done or nothing to do, -1 the file's status was not readable.
    static int ClearReadOnly(const std::string& strFilePath);
};
