// Helpers of the process launching and post-processing tests: environment
// variables set for the length of a test, small shell scripts as programs,
// and a Wine prefix.
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "platform/process.h"
#include "tests/support/env_var.h"
#include "tests/support/temp_dir.h"

namespace launchtest {

using ::CEnvVar;

// Writes an executable shell script (mode 0755) and returns its path.
inline std::string WriteScript(const CTempDir& dir, const std::string& strName,
                               const std::string& strBody) {
    std::string strPath = dir.WriteFile(strName, "#!/bin/sh\n" + strBody);
    chmod(strPath.c_str(), 0755);
    return strPath;
}

inline bool IsAlive(int nPid) {
    return nPid > 0 && kill(nPid, 0) == 0;
}

// True once the file exists with some content, checked for up to nMs.
bool WaitForFile(const std::string& strPath, int nMs);

// Whether Wine is installed ("wine" on PATH).
inline bool HaveWine() {
    return !platform::FindProgramInPath("wine").empty();
}

// The tests' Wine prefix: one below the build folder, shared by every test
// process (a prefix is large and slow to make), made once under a file lock.
// Tests that need it skip without Wine.
class CWinePrefix {
public:
    CWinePrefix();
    CWinePrefix(const CWinePrefix&) = delete;
    CWinePrefix& operator=(const CWinePrefix&) = delete;

    const std::string& Path() const { return m_strPath; }
    bool Ready() const { return m_bReady; }
    // Waits up to nMs for user.reg to hold the text; the prefix's server
    // writes the registry out when its programs have ended.
    bool WaitForUserRegistry(const std::string& strText, int nMs) const;

private:
    std::string m_strPath;
    bool m_bReady = false;
};

// A text no earlier run can have left behind.
std::string UniqueText(const std::string& strBase);

}  // namespace launchtest
