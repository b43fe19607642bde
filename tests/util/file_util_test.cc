#include "util/file_util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

bool IsDir(const std::string& strPath) {
    struct stat st {};
    return lstat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& strPath) {
    struct stat st {};
    return lstat(strPath.c_str(), &st) == 0;
}

mode_t ModeOf(const std::string& strPath) {
    struct stat st {};
    if (lstat(strPath.c_str(), &st) != 0)
        return static_cast<mode_t>(-1);
    return st.st_mode & 07777;
}

bool IsEmptyDir(const std::string& strPath) {
    return IsDir(strPath) && RunShell("test -z \"$(ls -A '" + strPath + "')\"") == 0;
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

// Restores the working folder when a relative-path test ends.
class CWorkDirGuard {
public:
    explicit CWorkDirGuard(const std::string& strDir) {
        if (getcwd(m_szOld, sizeof(m_szOld)) == nullptr)
            m_szOld[0] = '\0';
        m_bOk = chdir(strDir.c_str()) == 0;
    }
    ~CWorkDirGuard() {
        if (m_szOld[0] != '\0' && chdir(m_szOld) != 0)
            perror("chdir");
    }
    bool Ok() const { return m_bOk; }

private:
    char m_szOld[4096] = {};
    bool m_bOk = false;
};

// Keeps new folders at the usual mode whatever the test runner's mask.
class CUmaskGuard {
public:
    CUmaskGuard() : m_nOld(umask(022)) {}
    ~CUmaskGuard() { umask(m_nOld); }

private:
    mode_t m_nOld;
};

TEST(CreateDirectoryGrantAccess, CreatesWithNormalPermissionsAndReportsErrors) {
    CTempDir tmp;
    CUmaskGuard mask;
    unsigned dwError = 99;
    EXPECT_FALSE(CFileUtil::CreateDirectory_GrantAccess("", &dwError));
    EXPECT_EQ(static_cast<unsigned>(ENOENT), dwError);

    std::string strDir = tmp.Sub("made");
    EXPECT_TRUE(CFileUtil::CreateDirectory_GrantAccess(strDir, &dwError));
    EXPECT_EQ(0u, dwError);
    ASSERT_TRUE(IsDir(strDir));
    // Other users must not be able to swap programs in it.
    EXPECT_EQ(0u, ModeOf(strDir) & (S_IWGRP | S_IWOTH));

    EXPECT_FALSE(CFileUtil::CreateDirectory_GrantAccess(strDir, &dwError));
    EXPECT_EQ(static_cast<unsigned>(EEXIST), dwError);
    EXPECT_FALSE(CFileUtil::CreateDirectory_GrantAccess(tmp.Sub("no/such"), &dwError));
    EXPECT_EQ(static_cast<unsigned>(ENOENT), dwError);
}

TEST(CreateDirectories, RefusesBlankAndSeparatorlessPaths) {
    CTempDir tmp;
    CWorkDirGuard cwd(tmp.Path());
    ASSERT_TRUE(cwd.Ok());
    unsigned dwError = 99;
    EXPECT_EQ(-2, CFileUtil::CreateDirectories("", &dwError));
    EXPECT_EQ(-2, CFileUtil::CreateDirectories(" \t \r\n", &dwError));
    EXPECT_EQ(0u, dwError);
    EXPECT_EQ(-3, CFileUtil::CreateDirectories("  nosep  ", &dwError));
    EXPECT_EQ(-3, CFileUtil::CreateDirectories("a\\b\\c.txt", &dwError));
    EXPECT_EQ(0u, dwError);
    EXPECT_TRUE(IsEmptyDir(tmp.Path()));
}

TEST(CreateDirectories, CreatesTheChainButNotTheFile) {
    CTempDir tmp;
    CUmaskGuard mask;
    unsigned dwError = 99;
    std::string strFile = tmp.Sub("App/bin/sub/x.dll");
    // Blanks around the path are not part of it.
    EXPECT_EQ(1, CFileUtil::CreateDirectories(" \t" + strFile + "  ", &dwError));
    EXPECT_EQ(0u, dwError);
    EXPECT_TRUE(IsDir(tmp.Sub("App")));
    EXPECT_TRUE(IsDir(tmp.Sub("App/bin")));
    EXPECT_TRUE(IsDir(tmp.Sub("App/bin/sub")));
    EXPECT_FALSE(Exists(strFile));
    EXPECT_EQ(0u, ModeOf(tmp.Sub("App")) & (S_IWGRP | S_IWOTH));

    // A trailing separator names the folder itself.
    EXPECT_EQ(1, CFileUtil::CreateDirectories(tmp.Sub("trail/"), &dwError));
    EXPECT_TRUE(IsDir(tmp.Sub("trail")));
    // Doubled separators are harmless.
    EXPECT_EQ(1, CFileUtil::CreateDirectories(tmp.Sub("d1//d2/f"), &dwError));
    EXPECT_TRUE(IsDir(tmp.Sub("d1/d2")));
    // A file straight below the root needs nothing.
    EXPECT_EQ(1, CFileUtil::CreateDirectories("/x.dll", &dwError));

    // Relative paths start from the working folder's first component.
    CWorkDirGuard cwd(tmp.Path());
    ASSERT_TRUE(cwd.Ok());
    for (const char* pszRelative : {"r1/r2/r3/f.txt", "./dot/f.txt", "single/f.txt"}) {
        EXPECT_EQ(1, CFileUtil::CreateDirectories(pszRelative, &dwError)) << pszRelative;
    }
    EXPECT_TRUE(IsDir(tmp.Sub("r1/r2/r3")));
    EXPECT_TRUE(IsDir(tmp.Sub("dot")));
    EXPECT_TRUE(IsDir(tmp.Sub("single")));
    EXPECT_FALSE(Exists(tmp.Sub("single/f.txt")));
}

TEST(CreateDirectories, ExistingFoldersSucceedAndKeepTheirPermissions) {
    CTempDir tmp;
    ASSERT_EQ(0, mkdir(tmp.Sub("a").c_str(), 0700));
    ASSERT_EQ(0, mkdir(tmp.Sub("a/b").c_str(), 0700));
    ASSERT_EQ(0, chmod(tmp.Sub("a").c_str(), 0751));
    ASSERT_EQ(0, chmod(tmp.Sub("a/b").c_str(), 0705));
    unsigned dwError = 99;
    EXPECT_EQ(1, CFileUtil::CreateDirectories(tmp.Sub("a/b/x.dll"), &dwError));
    EXPECT_EQ(0u, dwError);
    EXPECT_EQ(0751u, ModeOf(tmp.Sub("a")));
    EXPECT_EQ(0705u, ModeOf(tmp.Sub("a/b")));
    // Partly existing: only the missing tail is made.
    EXPECT_EQ(1, CFileUtil::CreateDirectories(tmp.Sub("a/b/c/d/x.dll"), &dwError));
    EXPECT_TRUE(IsDir(tmp.Sub("a/b/c/d")));
    EXPECT_EQ(0705u, ModeOf(tmp.Sub("a/b")));
}

TEST(CreateDirectories, FileInTheWayFailsWithTheSystemError) {
    CTempDir tmp;
    tmp.WriteFile("blocker", "x");
    unsigned dwError = 0;
    // The file is not taken for an existing folder, wherever it stands; the
    // error is the one its mkdir gave.
    EXPECT_EQ(-1, CFileUtil::CreateDirectories(tmp.Sub("blocker/sub/x.dll"), &dwError));
    EXPECT_EQ(static_cast<unsigned>(EEXIST), dwError);
    EXPECT_FALSE(Exists(tmp.Sub("blocker/sub")));
    dwError = 0;
    EXPECT_EQ(-1, CFileUtil::CreateDirectories(tmp.Sub("blocker/x.dll"), &dwError));
    EXPECT_EQ(static_cast<unsigned>(EEXIST), dwError);
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

TEST(CreateDirectories, HandlesPathsBeyondTheOldLengthLimit) {
    CTempDir tmp;
    std::string strFile = tmp.Path();
    for (int i = 0; i < 40; ++i)
        strFile += "/component" + std::to_string(100 + i);
    ASSERT_GT(strFile.size(), 400u);
    unsigned dwError = 99;
    EXPECT_EQ(1, CFileUtil::CreateDirectories(strFile + "/x.dll", &dwError));
    EXPECT_EQ(0u, dwError);
    EXPECT_TRUE(IsDir(strFile));
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

TEST(DeleteDirectory, RemovesLinksWithoutFollowingThem) {
    CTempDir tmp;
    std::string strOutside = tmp.Sub("outside");
    tmp.WriteFile("outside/precious.txt", "keep me");
    tmp.WriteFile("outside/nested/also.txt", "keep me too");
    std::string strLocked = tmp.WriteFile("locked.txt", "ro");
    ASSERT_EQ(0, chmod(strLocked.c_str(), 0444));
    std::string strTree = tmp.Sub("tree");
    tmp.WriteFile("tree/own.txt", "x");
    ASSERT_EQ(0, symlink(strOutside.c_str(), (strTree + "/dirlink").c_str()));
    ASSERT_EQ(0, symlink(strLocked.c_str(), (strTree + "/filelink").c_str()));
    ASSERT_EQ(0, symlink((strTree + "/missing").c_str(), (strTree + "/dangling").c_str()));

    EXPECT_TRUE(CFileUtil::DeleteDirectory(strTree, false));
    EXPECT_FALSE(Exists(strTree));
    EXPECT_EQ("keep me", ReadWholeFile(tmp.Sub("outside/precious.txt")));
    EXPECT_EQ("keep me too", ReadWholeFile(tmp.Sub("outside/nested/also.txt")));
    // The link's target keeps its mode: nothing was changed through the link.
    EXPECT_EQ(0444u, ModeOf(strLocked));
}

TEST(DeleteDirectory, EmptyOrMissingFolder) {
    CTempDir tmp;
    EXPECT_FALSE(CFileUtil::DeleteDirectory("", true));
    EXPECT_FALSE(CFileUtil::DeleteDirectory("", false));
    EXPECT_FALSE(CFileUtil::DeleteDirectory(tmp.Sub("missing"), false));
    EXPECT_TRUE(CFileUtil::DeleteDirectory(tmp.Sub("missing"), true));
    EXPECT_FALSE(Exists(tmp.Sub("missing")));
}

TEST(ClearReadOnly, ClearsOnlyTheOwnerWriteBit) {
    CTempDir tmp;
    EXPECT_EQ(-1, CFileUtil::ClearReadOnly(tmp.Sub("missing.txt")));

    std::string strFile = tmp.WriteFile("ro.txt", "x");
    ASSERT_EQ(0, chmod(strFile.c_str(), 0444));
    EXPECT_EQ(0, CFileUtil::ClearReadOnly(strFile));
    EXPECT_EQ(0644u, ModeOf(strFile));

    std::string strPlain = tmp.WriteFile("rw.txt", "x");
    ASSERT_EQ(0, chmod(strPlain.c_str(), 0640));
    EXPECT_EQ(0, CFileUtil::ClearReadOnly(strPlain));
    EXPECT_EQ(0640u, ModeOf(strPlain));
    EXPECT_EQ("x", ReadWholeFile(strPlain));
}

}  // namespace
