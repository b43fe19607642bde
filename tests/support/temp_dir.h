// A scratch folder below the system's temp folder, removed with everything
// in it when the object goes away.
#pragma once

#include <string>

class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_strPath; }
    // Path of a name below the folder.
    std::string Sub(const std::string& strName) const;
    // Writes a file below the folder, creating its folders.
    std::string WriteFile(const std::string& strName, const std::string& strData) const;

private:
    std::string m_strPath;
};

// Whole contents of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& strPath);
// Runs a shell command, returns its exit status (-1 when it could not run).
int RunShell(const std::string& strCommand);
