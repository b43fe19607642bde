#include "util/file_util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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
bool IsEmptyDir(const std::string& strPath) {
    return IsDir(strPath) && fs::is_empty(strPath);
}
mode_t ModeOf(const std::string& strPath) {
    struct stat st {};
    return lstat(strPath.c_str(), &st) == 0 ? st.st_mode & 07777 : static_cast<mode_t>(-1);
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
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(101);
        _exit(fnBody());
    }
    int nStatus = 0;
    if (waitpid(pid, &nStatus, 0) != pid || !WIFEXITED(nStatus))
        return 102;
    return WEXITSTATUS(nStatus);
}

// Restores the working folder and the mask (new folders get the usual
// mode whatever the runner's mask) when a test ends.
class CWorkDirGuard {
public:
    explicit CWorkDirGuard(const std::string& strDir)
        : m_strOld(fs::current_path().string()), m_nOldMask(umask(022)) {
        fs::current_path(strDir);
    }
    ~CWorkDirGuard() {
        fs::current_path(m_strOld);
        umask(m_nOldMask);
    }

private:
    std::string m_strOld;
    mode_t m_nOldMask;
};

TEST(CreateDirectoryGrantAccess, CreatesWithNormalPermissionsAndReportsErrors) {
    CTempDir tmp;
    CWorkDirGuard cwd(tmp.Path());
    unsigned dwError = 99;
    std::string strDir = tmp.Sub("made");
    EXPECT_TRUE(CFileUtil::CreateDirectory_GrantAccess(strDir, &dwError));
    EXPECT_EQ(0u, dwError);
    // Other users must not be able to swap programs in it.
    EXPECT_EQ(0u, ModeOf(strDir) & (S_IWGRP | S_IWOTH));
    const struct {
        std::string strPath;
        int nError;
    } kFailures[] = {{"", ENOENT}, {strDir, EEXIST}, {tmp.Sub("no/such"), ENOENT}};
    for (const auto& c : kFailures) {
        EXPECT_FALSE(CFileUtil::CreateDirectory_GrantAccess(c.strPath, &dwError)) << c.strPath;
        EXPECT_EQ(static_cast<unsigned>(c.nError), dwError) << c.strPath;
    }
}

// The folders of a file's path are made, not the file; relative paths start
// from the working folder; blank or separatorless paths are refused.
TEST(CreateDirectories, MakesTheChainButNotTheFile) {
    CTempDir tmp;
    CWorkDirGuard cwd(tmp.Path());
    std::string strLong = tmp.Path();
    for (int i = 0; i < 40; ++i)
        strLong += "/component" + std::to_string(100 + i);  // beyond the old length limit
    const struct {
        std::string strPath;
        int nResult;
        const char* pszMade;  // a folder that must exist afterwards
    } kCases[] = {
        {"", -2, nullptr},
        {" \t \r\n", -2, nullptr},
        {"  nosep  ", -3, nullptr},
        {"a\\b\\c.txt", -3, nullptr},
        {" \t" + tmp.Sub("App/bin/sub/x.dll") + "  ", 1, "App/bin/sub"},  // blanks are no part
        {tmp.Sub("trail/"), 1, "trail"},  // a trailing separator names the folder
        {tmp.Sub("d1//d2/f"), 1, "d1/d2"},
        {"/x.dll", 1, nullptr},
        {"r1/r2/r3/f.txt", 1, "r1/r2/r3"},
        {"./dot/f.txt", 1, "dot"},
        {"single/f.txt", 1, "single"},
        {strLong + "/x.dll", 1, nullptr},
    };
    for (const auto& c : kCases) {
        unsigned dwError = 99;
        EXPECT_EQ(c.nResult, CFileUtil::CreateDirectories(c.strPath, &dwError)) << c.strPath;
        EXPECT_EQ(0u, dwError) << c.strPath;
        if (c.pszMade != nullptr) {
            EXPECT_TRUE(IsDir(tmp.Sub(c.pszMade))) << c.strPath;
        }
    }
    EXPECT_FALSE(Exists(tmp.Sub("App/bin/sub/x.dll")));
    EXPECT_FALSE(Exists(tmp.Sub("single/f.txt")));
    EXPECT_TRUE(IsDir(strLong));
    EXPECT_EQ(0u, ModeOf(tmp.Sub("App")) & (S_IWGRP | S_IWOTH));
}

TEST(CreateDirectories, ExistingFoldersKeepTheirPermissionsAFileInTheWayFails) {
    CTempDir tmp;
    ASSERT_EQ(0, mkdir(tmp.Sub("a").c_str(), 0700));
    ASSERT_EQ(0, chmod(tmp.Sub("a").c_str(), 0751));
    unsigned dwError = 99;
    EXPECT_EQ(1, CFileUtil::CreateDirectories(tmp.Sub("a/b/c/x.dll"), &dwError));
    EXPECT_EQ(0751u, ModeOf(tmp.Sub("a")));
    EXPECT_TRUE(IsDir(tmp.Sub("a/b/c")));

    // A file is not taken for an existing folder, wherever it stands; the
    // error is the one its mkdir gave.
    tmp.WriteFile("blocker", "x");
    for (const char* pszPath : {"blocker/sub/x.dll", "blocker/x.dll"}) {
        dwError = 0;
        EXPECT_EQ(-1, CFileUtil::CreateDirectories(tmp.Sub(pszPath), &dwError)) << pszPath;
        EXPECT_EQ(static_cast<unsigned>(EEXIST), dwError) << pszPath;
    }
    EXPECT_EQ("x", ReadWholeFile(tmp.Sub("blocker")));
}

TEST(CreateDirectories, UnwritableParentFailsWithPermissionError) {
    CTempDir tmp;
    std::string strLocked = tmp.Sub("locked");
    int nResult = RunUnprivileged(tmp.Path(), [&] {
        if (mkdir(strLocked.c_str(), 0555) != 0)
            return 1;
        unsigned dwError = 0;
        if (CFileUtil::CreateDirectories(strLocked + "/a/b/x.dll", &dwError) != -1)
            return 2;
        if (dwError != static_cast<unsigned>(EACCES))
            return 3;
        return Exists(strLocked + "/a") ? 4 : 0;
    });
    EXPECT_EQ(0, nResult);
}

// A tree of plain and read-only files and folders, some nested in each other.
void BuildTree(const std::string& strRoot) {
    auto write = [](const std::string& strPath, mode_t nMode) {
        FILE* pFile = fopen(strPath.c_str(), "w");
        if (pFile == nullptr)
            return;
        fputs("data", pFile);
        fclose(pFile);
        chmod(strPath.c_str(), nMode);
    };
    mkdir(strRoot.c_str(), 0755);
    chmod(strRoot.c_str(), 0755);
    write(strRoot + "/plain.txt", 0644);
    write(strRoot + "/readonly.txt", 0444);
    mkdir((strRoot + "/sub").c_str(), 0755);
    write(strRoot + "/sub/inner.txt", 0400);
    mkdir((strRoot + "/sub/ro").c_str(), 0755);
    write(strRoot + "/sub/ro/deep.txt", 0444);
    mkdir((strRoot + "/sub/ro/rodeeper").c_str(), 0755);
    write(strRoot + "/sub/ro/rodeeper/deepest.txt", 0444);
    chmod((strRoot + "/sub/ro/rodeeper").c_str(), 0555);
    chmod((strRoot + "/sub/ro").c_str(), 0555);
    mkdir((strRoot + "/empty_ro").c_str(), 0555);
}

// Read-only files and folders inside do not stop the delete; a kept folder
// is left empty with its own mode, read-only or not.
TEST(DeleteDirectory, ReadOnlyEntriesDoNotStopIt) {
    const struct {
        const char* pszName;
        bool bKeep;
        mode_t nTopMode;
    } kCases[] = {{"temp", true, 0755}, {"gone/", false, 0755}, {"rotop", true, 0555}};
    for (const auto& c : kCases) {
        CTempDir tmp;
        std::string strTop = tmp.Sub(c.pszName);
        int nResult = RunUnprivileged(tmp.Path(), [&] {
            BuildTree(strTop);
            chmod(strTop.c_str(), c.nTopMode);
            if (!IsDir(strTop + "/sub/ro/rodeeper"))
                return 1;
            if (!CFileUtil::DeleteDirectory(strTop, c.bKeep))
                return 2;
            if (!c.bKeep)
                return Exists(strTop) ? 3 : 0;
            if (!IsEmptyDir(strTop))
                return 4;
            return ModeOf(strTop) == c.nTopMode ? 0 : 5;
        });
        EXPECT_EQ(0, nResult) << c.pszName;
    }
}

// Links are removed, never followed; an empty name fails, a missing folder
// is there to keep or already gone.
TEST(DeleteDirectory, LinksAndMissingFolders) {
    CTempDir tmp;
    tmp.WriteFile("outside/nested/precious.txt", "keep me");
    std::string strLocked = tmp.WriteFile("locked.txt", "ro");
    ASSERT_EQ(0, chmod(strLocked.c_str(), 0444));
    std::string strTree = tmp.Sub("tree");
    tmp.WriteFile("tree/own.txt", "x");
    ASSERT_EQ(0, symlink(tmp.Sub("outside").c_str(), (strTree + "/dirlink").c_str()));
    ASSERT_EQ(0, symlink(strLocked.c_str(), (strTree + "/filelink").c_str()));
    ASSERT_EQ(0, symlink((strTree + "/missing").c_str(), (strTree + "/dangling").c_str()));
    EXPECT_TRUE(CFileUtil::DeleteDirectory(strTree, false));
    EXPECT_FALSE(Exists(strTree));
    EXPECT_EQ("keep me", ReadWholeFile(tmp.Sub("outside/nested/precious.txt")));
    EXPECT_EQ(0444u, ModeOf(strLocked));  // nothing changed through the link

    EXPECT_FALSE(CFileUtil::DeleteDirectory("", true));
    EXPECT_FALSE(CFileUtil::DeleteDirectory("", false));
    EXPECT_FALSE(CFileUtil::DeleteDirectory(tmp.Sub("missing"), false));
    EXPECT_TRUE(CFileUtil::DeleteDirectory(tmp.Sub("missing"), true));
    EXPECT_FALSE(Exists(tmp.Sub("missing")));
}

TEST(ClearReadOnly, ClearsOnlyTheOwnerWriteBit) {
    CTempDir tmp;
    EXPECT_EQ(-1, CFileUtil::ClearReadOnly(tmp.Sub("missing.txt")));
    for (mode_t nMode : {0444, 0640}) {
        std::string strFile = tmp.WriteFile(std::to_string(nMode), "x");
        ASSERT_EQ(0, chmod(strFile.c_str(), nMode));
        EXPECT_EQ(0, CFileUtil::ClearReadOnly(strFile));
        EXPECT_EQ(nMode | 0200u, ModeOf(strFile));
    }
}

}  // namespace
