#include "tests/engine/launch_test_support.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace launchtest {

bool WaitForFile(const std::string& strPath, int nMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!ReadWholeFile(strPath).empty())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return !ReadWholeFile(strPath).empty();
}

namespace {

// No Mono or Gecko installer prompts while the prefix is made, no debug noise.
std::string WineEnv(const std::string& strPrefix) {
    return "WINEPREFIX='" + strPrefix + "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' ";
}

}  // namespace

CWinePrefix::CWinePrefix() : m_strPath(std::string(TIDEWELL_BINARY_DIR) + "/test-wine-prefix") {
    if (!HaveWine())
        return;
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    std::string strReady = m_strPath + "/.tidewell-ready";
    int fd = open((m_strPath + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    flock(fd, LOCK_EX);
    m_bReady = !ReadWholeFile(strReady).empty();
    if (!m_bReady) {
        RunShell("rm -rf '" + m_strPath + "'");
        m_bReady =
            RunShell(WineEnv(m_strPath) + "wineboot -i >/dev/null 2>&1 && " + WineEnv(m_strPath) +
                     "wineserver -w && echo ok > '" + strReady + "'") == 0;
    }
    flock(fd, LOCK_UN);
    close(fd);
}

bool CWinePrefix::WaitForUserRegistry(const std::string& strText, int nMs) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    for (;;) {
        RunShell(WineEnv(m_strPath) + "wineserver -w");
        if (ReadWholeFile(m_strPath + "/user.reg").find(strText) != std::string::npos)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

std::string UniqueText(const std::string& strBase) {
    return strBase + std::to_string(getpid()) + "-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace launchtest
