#include "util/file_util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

bool IsDir(const std::string& strPath) {
    return fs::is_directory(fs::symlink_status(strPath));
}
bool Exists(const std::string& strPath) {
    return fs::exists(fs::symlink_status(strPath));
}
unsigned ModeOf(const std::string& strPath) {
    struct stat st {};
    return lstat(strPath.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xffff;
}

// Permission bits do not bind root, so as root the body runs in a child
// switched to "nobody", which is given the scratch folder.
int RunUnprivileged(const std::string& strOwnDir, const std::function<int()>& fnBody) {
    if (geteuid() != 0)
        return fnBody();
    if (chown(strOwnDir.c_str(), 65534, 65534) != 0)
        return 100;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0)
        _exit(setgid(65534) != 0 || setuid(65534) != 0 ? 101 : fnBody());
    int nStatus = 0;
    return waitpid(pid, &nStatus, 0) == pid && WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 102;
}

// Works in the scratch folder with the usual mask, both restored at the end.
class FileUtilTest : public ::testing::Test {
protected:
    FileUtilTest() : m_oldCwd(fs::current_path()), m_nOldMask(umask(022)) {
        fs::current_path(m_tmp.Path());
    }
    ~FileUtilTest() override {
        fs::current_path(m_oldCwd);
        umask(m_nOldMask);
    }
    CTempDir m_tmp;
    fs::path m_oldCwd;
    mode_t m_nOldMask;
};

// Made folders are never writable by others; failures give the system error.
TEST_F(FileUtilTest, CreateDirectoryGrantAccess) {
    unsigned dwError = 99;
    EXPECT_TRUE(CFileUtil::CreateDirectory_GrantAccess(m_tmp.Sub("made"), &dwError));
    EXPECT_EQ(dwError, 0u);
    EXPECT_EQ(ModeOf(m_tmp.Sub("made")) & 022, 0u);
    for (const auto& [strPath, nError] :
         {std::pair<std::string, int>{"", ENOENT}, {m_tmp.Sub("made"), EEXIST}}) {
        EXPECT_FALSE(CFileUtil::CreateDirectory_GrantAccess(strPath, &dwError)) << strPath;
        EXPECT_EQ(dwError, static_cast<unsigned>(nError)) << strPath;
    }
}

// The folders of a file's path are made, not the file; relative paths start
// from the working folder; blank or separatorless paths are refused; existing
// folders keep their mode.
TEST_F(FileUtilTest, CreateDirectoriesMakesTheChainButNotTheFile) {
    std::string strLong = m_tmp.Path();
    for (int i = 0; i < 40; ++i)
        strLong += "/component" + std::to_string(100 + i);  // beyond the old length limit
    ASSERT_EQ(mkdir(m_tmp.Sub("a").c_str(), 0751), 0);
    chmod(m_tmp.Sub("a").c_str(), 0751);
    const struct {
        std::string strPath;
        int nResult;
        const char* pszMade;
    } kCases[] = {
        {" \t \r\n", -2, nullptr},
        {"a\\b\\c.txt", -3, nullptr},
        {" \t" + m_tmp.Sub("App/bin/x.dll") + "  ", 1, "App/bin"},  // blanks are no part
        {m_tmp.Sub("trail/"), 1, "trail"},  // a trailing separator names the folder
        {m_tmp.Sub("d1//d2/f"), 1, "d1/d2"},
        {"/x.dll", 1, nullptr},
        {"a/b/c/x.dll", 1, "a/b/c"},
        {strLong + "/x.dll", 1, strLong.c_str()},
    };
    for (const auto& c : kCases) {
        unsigned dwError = 99;
        EXPECT_EQ(CFileUtil::CreateDirectories(c.strPath, &dwError), c.nResult) << c.strPath;
        EXPECT_EQ(dwError, 0u) << c.strPath;
        if (c.pszMade != nullptr) {
            EXPECT_TRUE(IsDir(c.pszMade)) << c.strPath;
        }
    }
    EXPECT_FALSE(Exists(m_tmp.Sub("App/bin/x.dll")));
    EXPECT_EQ(ModeOf(m_tmp.Sub("App")) & 022, 0u);
    EXPECT_EQ(ModeOf(m_tmp.Sub("a")), 0751u);
}

// A file in the way is no folder, wherever it stands; an unwritable parent
// fails with its permission error.
TEST_F(FileUtilTest, CreateDirectoriesFailures) {
    m_tmp.WriteFile("blocker", "x");
    for (const char* pszPath : {"blocker/sub/x.dll", "blocker/x.dll"}) {
        unsigned dwError = 0;
        EXPECT_EQ(CFileUtil::CreateDirectories(m_tmp.Sub(pszPath), &dwError), -1) << pszPath;
        EXPECT_EQ(dwError, static_cast<unsigned>(EEXIST)) << pszPath;
    }
    EXPECT_EQ(ReadWholeFile(m_tmp.Sub("blocker")), "x");
    std::string strLocked = m_tmp.Sub("locked");
    EXPECT_EQ(
        RunUnprivileged(
            m_tmp.Path(),
            [&] {
                unsigned dwError = 0;
                if (mkdir(strLocked.c_str(), 0555) != 0)
                    return 1;
                int nResult = CFileUtil::CreateDirectories(strLocked + "/a/b/x.dll", &dwError);
                return nResult == -1 && dwError == EACCES && !Exists(strLocked + "/a") ? 0 : 2;
            }),
        0);
}

// Read-only files and folders inside do not stop the delete; a kept folder
// is left empty with its own mode, read-only or not.
TEST_F(FileUtilTest, DeleteDirectoryThroughReadOnlyEntries) {
    const struct {
        const char* pszName;
        bool bKeep;
        mode_t nTopMode;
    } kCases[] = {{"temp", true, 0755}, {"gone/", false, 0755}, {"rotop", true, 0555}};
    for (const auto& c : kCases) {
        CTempDir tmp;
        std::string strTop = tmp.Sub(c.pszName);
        int nResult = RunUnprivileged(tmp.Path(), [&] {
            for (const char* psz : {"plain", "sub/ro/deep", "sub/ro/rodeeper/deepest"})
                chmod(tmp.WriteFile(std::string(c.pszName) + "/" + psz, "data").c_str(), 0444);
            mkdir((strTop + "/empty_ro").c_str(), 0555);
            for (const char* psz : {"/sub/ro/rodeeper", "/sub/ro", ""})
                chmod((strTop + psz).c_str(), psz[0] ? 0555 : c.nTopMode);
            if (!CFileUtil::DeleteDirectory(strTop, c.bKeep))
                return 2;
            if (!c.bKeep)
                return Exists(strTop) ? 3 : 0;
            return IsDir(strTop) && fs::is_empty(strTop) && ModeOf(strTop) == c.nTopMode ? 0 : 4;
        });
        EXPECT_EQ(nResult, 0) << c.pszName;
    }
}

// Links are removed, never followed; an empty name fails, a missing folder
// is there to keep or already gone.
TEST_F(FileUtilTest, DeleteDirectoryLinksAndMissingFolders) {
    m_tmp.WriteFile("outside/nested/precious.txt", "keep me");
    std::string strLocked = m_tmp.WriteFile("locked.txt", "ro");
    ASSERT_EQ(chmod(strLocked.c_str(), 0444), 0);
    std::string strTree = m_tmp.Sub("tree");
    m_tmp.WriteFile("tree/own.txt", "x");
    ASSERT_EQ(symlink(m_tmp.Sub("outside").c_str(), (strTree + "/dirlink").c_str()), 0);
    ASSERT_EQ(symlink(strLocked.c_str(), (strTree + "/filelink").c_str()), 0);
    ASSERT_EQ(symlink((strTree + "/missing").c_str(), (strTree + "/dangling").c_str()), 0);
    EXPECT_TRUE(CFileUtil::DeleteDirectory(strTree, false));
    EXPECT_FALSE(Exists(strTree));
    EXPECT_EQ(ReadWholeFile(m_tmp.Sub("outside/nested/precious.txt")), "keep me");
    EXPECT_EQ(ModeOf(strLocked), 0444u);  // nothing changed through the link
    EXPECT_FALSE(CFileUtil::DeleteDirectory("", true));
    EXPECT_FALSE(CFileUtil::DeleteDirectory(m_tmp.Sub("missing"), false));
    EXPECT_TRUE(CFileUtil::DeleteDirectory(m_tmp.Sub("missing"), true));
    EXPECT_FALSE(Exists(m_tmp.Sub("missing")));
}

TEST_F(FileUtilTest, ClearReadOnlySetsOnlyTheOwnerWriteBit) {
    EXPECT_EQ(CFileUtil::ClearReadOnly(m_tmp.Sub("missing.txt")), -1);
    for (mode_t nMode : {0444, 0640}) {
        std::string strFile = m_tmp.WriteFile(std::to_string(nMode), "x");
        ASSERT_EQ(chmod(strFile.c_str(), nMode), 0);
        EXPECT_EQ(CFileUtil::ClearReadOnly(strFile), 0);
        EXPECT_EQ(ModeOf(strFile), nMode | 0200u);
    }
}

}  // namespace
