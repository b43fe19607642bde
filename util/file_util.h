// Folder and attribute operations shared by the shell and the engine.
// Static only; callers never make an object.
#pragma once

#include <string>

class CFileUtil {
public:
    virtual ~CFileUtil() = default;

    // Creates one folder. TRUE exactly when *pdwError ends 0.
    static bool CreateDirectory_GrantAccess(const std::string& strPath, unsigned* pdwError);
    // Creates every folder on the way to the named file. 1 success, -1 a
    // folder was not created (*pdwError holds the system error), -2 empty
    // path, -3 no separator in the path.
    static int CreateDirectories(const std::string& strFilePath, unsigned* pdwError);
    // Deletes everything below the folder, read-only entries included, and
    // the folder itself unless bKeepFolder is set.
    static bool DeleteDirectory(const std::string& strFolder, bool bKeepFolder);
    // 0 done or nothing to do, -1 the file's status was not readable.
    static int ClearReadOnly(const std::string& strFilePath);
};
