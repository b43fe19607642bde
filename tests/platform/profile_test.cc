#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

using platform::GetProfileString;
using platform::WriteProfileString;

namespace {

std::string Get(const std::string& strPath, const std::string& strSection,
                const std::string& strKey) {
    return GetProfileString(strSection, strKey, "<default>", strPath);
}

mode_t ModeOf(const std::string& strPath) {
    struct stat st {};
    EXPECT_EQ(0, stat(strPath.c_str(), &st));
    return st.st_mode & 07777;
}

// Names in the folder, to see that no temporary file is left behind.
std::vector<std::string> Names(const std::string& strDir) {
    std::vector<platform::DirEntry> entries;
    EXPECT_TRUE(platform::ListDirectory(strDir, &entries));
    std::vector<std::string> names;
    for (const auto& entry : entries)
        names.push_back(entry.strName);
    return names;
}

}  // namespace

// ---- Reading ----

// Names match whatever their case and blanks; the first section and the
// first key win; one pair of matching quotes is removed; comments are no keys.
TEST(ProfileRead, LookupRules) {
    const struct {
        const char* pszFile;
        const char* pszSection;
        const char* pszKey;
        const char* pszValue;
    } kCases[] = {
        {nullptr, "S", "K", "<default>"},
        {"[S]\nK=v\n", "S", "K", "v"},
        {"[S]\nK=v\n", "T", "K", "<default>"},
        {"[  Tide ]\r\n  Svr_Ip_Addr  =  host a  \r\n", "TIDE", "SVR_IP_ADDR", "host a"},
        {"K=outside\n[S]\nK=1\nk=2\n[s]\nK=3\nOnlyLater=4\n", "S", "K", "1"},
        {"K=outside\n[S]\nK=1\nk=2\n[s]\nK=3\nOnlyLater=4\n", "S", "OnlyLater", "<default>"},
        {"[S]\nA=\" a b \"\n", "S", "A", " a b "},
        {"[S]\nB='x'\n", "S", "B", "x"},
        {"[S]\nC=\"x'\n", "S", "C", "\"x'"},
        {"[S]\nE=\"\n", "S", "E", "\""},
        {"[S]\nF=\"\"\n", "S", "F", ""},
        {"[S]\n;G=1\n", "S", ";G", "<default>"},
        {"[S]\n#H=2\n", "S", "#H", "<default>"},
        {"\xEF\xBB\xBF[S]\nK=\xC7\xD1\xB1\xDB \xED\x95\x9C\n", "S", "K",
         "\xC7\xD1\xB1\xDB \xED\x95\x9C"},  // code-page and UTF-8 bytes kept
    };
    CTempDir dir;
    for (const auto& c : kCases) {
        std::string strPath = c.pszFile ? dir.WriteFile("a.ini", c.pszFile) : dir.Sub("none.ini");
        EXPECT_EQ(c.pszValue, Get(strPath, c.pszSection, c.pszKey))
            << (c.pszFile ? c.pszFile : "no file") << " " << c.pszKey;
    }
}

TEST(ProfileRead, LongValuesAreCutToTheBuffer) {
    CTempDir dir;
    std::string strExact(1023, 'a');
    std::string strLong(5000, 'b');
    // A three-byte UTF-8 sequence across the limit is dropped whole.
    std::string strUtf8 = std::string(1021, 'c') + "\xED\x95\x9C" + "tail";
    std::string strPath = dir.WriteFile(
        "a.ini", "[S]\nA=" + strExact + "\nB=" + strLong + "\nC=" + strUtf8 + "\nD=after\n");
    EXPECT_EQ(strExact, Get(strPath, "S", "A"));
    EXPECT_EQ(std::string(1023, 'b'), Get(strPath, "S", "B"));
    EXPECT_EQ(std::string(1021, 'c'), Get(strPath, "S", "C"));
    EXPECT_EQ(std::string(1023, 'd'), GetProfileString("S", "X", std::string(5000, 'd'), strPath));
}

// Lines without '=', an unclosed header, a NUL byte and a very long line
// spoil only themselves; a file over the size limit, a folder or a FIFO
// reads as defaults.
TEST(ProfileRead, MalformedFilesReadAsDefaults) {
    CTempDir dir;
    std::string strMixed = "[S\nK=unclosed\n[S]\nno equals here\n" + std::string(200000, 'x') +
                           "\nN=a" + std::string(1, '\0') + "b\nK=good\n";
    std::string strPath = dir.WriteFile("mixed.ini", strMixed);
    EXPECT_EQ("good", Get(strPath, "S", "K"));
    EXPECT_EQ("<default>", Get(strPath, "S", "N"));

    std::string strHuge = "[S]\nK=v\n" + std::string(5 * 1024 * 1024, '\n');
    strPath = dir.WriteFile("huge.ini", strHuge);
    EXPECT_EQ("<default>", Get(strPath, "S", "K"));

    ASSERT_TRUE(platform::MakeDirectory(dir.Sub("folder.ini")));
    EXPECT_EQ("<default>", Get(dir.Sub("folder.ini"), "S", "K"));
    // A FIFO must not block the reader.
    ASSERT_EQ(0, mkfifo(dir.Sub("fifo.ini").c_str(), 0600));
    EXPECT_EQ("<default>", Get(dir.Sub("fifo.ini"), "S", "K"));
}

// ---- Writing ----

// Only the value of the entry changes, matched whatever its case and blanks;
// missing keys go to the end of their section and missing sections to the
// end of the file, in the file's line-break style (a CR at the very end is
// half a line break). A missing file is made with the usual mode.
TEST(ProfileWrite, ChangesOnlyWhatItMust) {
    struct Write {
        const char *pszSection, *pszKey, *pszValue;
    };
    const struct {
        const char* pszBefore;  // null: no file
        std::vector<Write> vecWrites;
        const char* pszAfter;
    } kCases[] = {
        {nullptr, {{"S", "K", "v"}}, "[S]\nK=v\n"},
        {"; settings\r\n[Other]\r\nKey=keep\r\n\r\n[TIDE]\r\n# note\r\n"
         "Unknown = 7\r\nsvr_ip_addr = old.host  \r\nEmpty=\r\n\r\n[Last]\r\nX=1",
         {{"TIDE", "SVR_IP_ADDR", "new.host"}, {"tide", "EMPTY", "filled"}},
         "; settings\r\n[Other]\r\nKey=keep\r\n\r\n[TIDE]\r\n# note\r\n"
         "Unknown = 7\r\nsvr_ip_addr = new.host\r\nEmpty=filled\r\n\r\n[Last]\r\nX=1"},
        {"[A]\r\nX=1\r\n; about B\r\n\r\n[B]\r\n\r\n[C]\r\nZ=3",
         {{"A", "Y", "2"}, {"B", "W", "0"}, {"C", "Q", "4"}, {"D", "R", "5"}},
         "[A]\r\nX=1\r\nY=2\r\n; about B\r\n\r\n[B]\r\nW=0\r\n\r\n[C]\r\nZ=3\r\nQ=4\r\n"
         "[D]\r\nR=5\r\n"},
        {"[A]\nX=1", {{"B", "Y", "2"}}, "[A]\nX=1\n[B]\nY=2\n"},
        {"[A]\r\nX=1\r", {{"A", "Y", "2"}, {"B", "Z", "3"}}, "[A]\r\nX=1\r\nY=2\r\n[B]\r\nZ=3\r\n"},
    };
    for (const auto& c : kCases) {
        CTempDir dir;
        std::string strPath = dir.Sub("a.ini");
        if (c.pszBefore != nullptr) {
            dir.WriteFile("a.ini", c.pszBefore);
            ASSERT_EQ(0, chmod(strPath.c_str(), 0640));
        }
        for (const Write& w : c.vecWrites)
            ASSERT_TRUE(WriteProfileString(w.pszSection, w.pszKey, w.pszValue, strPath));
        EXPECT_EQ(c.pszAfter, ReadWholeFile(strPath));
        mode_t nMask = umask(022);
        umask(nMask);
        // The file keeps its mode; a new one is not the 0600 of a temporary.
        EXPECT_EQ(c.pszBefore != nullptr ? 0640u : 0666u & ~nMask, ModeOf(strPath));
        EXPECT_EQ(std::vector<std::string>{"a.ini"}, Names(dir.Path()));
    }
    CTempDir dir;
    errno = 0;
    EXPECT_FALSE(WriteProfileString("S", "K", "v", dir.Sub("missing/new.ini")));
    EXPECT_EQ(ENOENT, errno);
}

// Line breaks in values or names, empty names and names that would read as
// headers or comments are refused.
TEST(ProfileWrite, LineBreaksAndOddNamesAreRefused) {
    CTempDir dir;
    const std::string strBefore = "[S]\nK=v\n";
    std::string strPath = dir.WriteFile("a.ini", strBefore);
    for (const std::string& strValue :
         {std::string("x\n[Evil]"), std::string("x\rY=1"), std::string("a\0b", 3)}) {
        errno = 0;
        EXPECT_FALSE(WriteProfileString("S", "K", strValue, strPath));
        EXPECT_EQ(EINVAL, errno);
    }
    const std::pair<const char*, const char*> kNames[] = {
        {"S", "K=1\nJ"}, {"S]\n[T", "K"}, {"S", ""}, {"S", "[K"}, {"S", " ;K"}, {"S", "#K"}};
    for (const auto& [pszSection, pszKey] : kNames)
        EXPECT_FALSE(WriteProfileString(pszSection, pszKey, "v]", strPath)) << pszKey;
    EXPECT_EQ(strBefore, ReadWholeFile(strPath));
}

TEST(ProfileWrite, FailedWritesLeaveTheOldFile) {
    CTempDir dir;
    const std::string strBefore = "[S]\nK=old\n";
    std::string strPath = dir.WriteFile("ro.ini", strBefore);
    ASSERT_EQ(0, chmod(strPath.c_str(), 0444));
    EXPECT_FALSE(WriteProfileString("S", "K", "new", strPath));
    EXPECT_EQ(strBefore, ReadWholeFile(strPath));

    // Running out of space halfway through the new file: the rename never happens.
    strPath = dir.WriteFile("full.ini", strBefore);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64, 64};
        setrlimit(RLIMIT_FSIZE, &limit);
        bool bOk = WriteProfileString("S", "K", std::string(500, 'n'), strPath);
        _exit(!bOk && errno == EFBIG ? 0 : 1);
    }
    int nStatus = 0;
    ASSERT_EQ(pid, waitpid(pid, &nStatus, 0));
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
    EXPECT_EQ(strBefore, ReadWholeFile(strPath));

    std::string strBig = "[S]\nK=v\n" + std::string(5 * 1024 * 1024, ';');
    strPath = dir.WriteFile("big.ini", strBig);
    EXPECT_FALSE(WriteProfileString("S", "K", "new", strPath));
    EXPECT_EQ(strBig.size(), ReadWholeFile(strPath).size());

    std::vector<std::string> names = Names(dir.Path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"big.ini", "full.ini", "ro.ini"}), names);
}

TEST(ProfileWrite, ALinkStaysALink) {
    CTempDir dir;
    std::string strTarget = dir.WriteFile("real.ini", "[S]\nK=old\n");
    ASSERT_EQ(0, symlink(strTarget.c_str(), dir.Sub("link.ini").c_str()));
    ASSERT_TRUE(WriteProfileString("S", "K", "new", dir.Sub("link.ini")));
    struct stat st {};
    ASSERT_EQ(0, lstat(dir.Sub("link.ini").c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ("[S]\nK=new\n", ReadWholeFile(strTarget));
}

TEST(ProfileWrite, ConcurrentWritersLoseNoEntries) {
    CTempDir dir;
    std::string strPath = dir.Sub("a.ini");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &strPath] {
            for (int i = 0; i < 10; ++i) {
                WriteProfileString("S", "K" + std::to_string(t) + "_" + std::to_string(i),
                                   std::to_string(i), strPath);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(std::to_string(i),
                      Get(strPath, "S", "K" + std::to_string(t) + "_" + std::to_string(i)));
        }
    }
}
