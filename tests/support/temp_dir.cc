#include "tests/support/temp_dir.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

CTempDir::CTempDir() {
    const char* pszBase = getenv("TMPDIR");
    std::string strTemplate = std::string(pszBase && *pszBase ? pszBase : "/tmp") + "/tidewell-test-XXXXXX";
    if (mkdtemp(strTemplate.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_strPath = strTemplate;
}

CTempDir::~CTempDir() {
    std::error_code ec;
    // Read-only folders left by a test must not keep their contents alive.
    for (auto it = std::filesystem::recursive_directory_iterator(m_strPath, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
    }
    std::filesystem::permissions(m_strPath, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_strPath, ec);
}

std::string CTempDir::Sub(const std::string& strName) const { return m_strPath + "/" + strName; }

std::string CTempDir::WriteFile(const std::string& strName, const std::string& strData) const {
    std::string strPath = Sub(strName);
    std::filesystem::create_directories(std::filesystem::path(strPath).parent_path());
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out << strData;
    return strPath;
}

std::string ReadWholeFile(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int RunShell(const std::string& strCommand) {
    int nStatus = std::system(strCommand.c_str());
    if (nStatus == -1 || !WIFEXITED(nStatus)) return -1;
    return WEXITSTATUS(nStatus);
}
