// The zip reader against archives made by real tools: Info-ZIP's zip (run
// here on a real folder tree) and Python's zipfile (make_archives.py, run by
// the build), sound, damaged and hostile.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "util/file_util.h"
#include "zip/unzip.h"

namespace {

using V = std::vector<std::string>;

// Times of the Info-ZIP source files; an odd second survives in "UT" only.
constexpr int64_t kReadmeTime = 1433631550;
constexpr int64_t kToolTime = 1433631551;
// make_archives.py's "UT" times, and its DOS time 2001-02-03 04:05:06 in the
// test's zone, nine hours east of GMT.
constexpr int64_t kUtModify = 1234567890, kUtAccess = 1300000000, kUtCreate = 1000000000;
constexpr int64_t kDosTime = 981140706;

struct stat StatOf(const std::string& strPath) {
    struct stat st {};
    lstat(strPath.c_str(), &st);
    return st;
}

// Every path below the folder, relative and sorted; folders end in "/".
V ListTree(const std::string& strFolder) {
    V vecPaths;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(strFolder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::string strPath = std::filesystem::relative(it->path(), strFolder).string();
        vecPaths.push_back(it->is_directory() ? strPath + "/" : strPath);
    }
    std::sort(vecPaths.begin(), vecPaths.end());
    return vecPaths;
}

std::string LastResultText() {
    char szText[128];
    FormatZipResult(kZipLastResult, szText, sizeof(szText));
    return szText;
}

// An open archive, closed when the object goes away.
class CArchive {
public:
    explicit CArchive(const std::string& strPath, const char* pszRoot = nullptr)
        : m_hZip(OpenZipFile(strPath.c_str(), 0, kZipKindFileName, pszRoot)) {}
    ~CArchive() {
        if (m_hZip != nullptr) {
            EXPECT_EQ(CloseZipFile(m_hZip), kZipOk);
        }
    }
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    ZipHandle Handle() const { return m_hZip; }
    int Count() const {
        ZipEntry entry;
        return GetZipItem(m_hZip, -1, &entry) == kZipOk ? entry.index : -1;
    }
    int Find(const std::string& strName) const {
        for (int i = 0; i < Count(); ++i) {
            ZipEntry entry;
            if (GetZipItem(m_hZip, i, &entry) == kZipOk && strName == entry.name)
                return i;
        }
        return -1;
    }
    ZipResult Entry(int nIndex, ZipEntry* pEntry) const {
        return GetZipItem(m_hZip, nIndex, pEntry);
    }
    ZipResult Unzip(int nIndex, const std::string& strOut) const {
        return UnzipItem(m_hZip, nIndex, strOut.c_str(), 0, kZipKindFileName);
    }
    // Every member to strFolder/name the way the engine does it: the
    // member's folders first, then the member. The first failure.
    ZipResult ExtractAll(const std::string& strFolder) const {
        for (int i = 0; i < Count(); ++i) {
            ZipEntry entry;
            if (ZipResult nResult = GetZipItem(m_hZip, i, &entry); nResult != kZipOk)
                return nResult;
            std::string strOut = strFolder + "/" + entry.name;
            unsigned dwError = 0;
            if (CFileUtil::CreateDirectories(strOut, &dwError) != 1)
                return kZipNoFile;
            if (ZipResult nResult = Unzip(i, strOut); nResult != kZipOk)
                return nResult;
        }
        return kZipOk;
    }

private:
    ZipHandle m_hZip = nullptr;
};

class ZipReaderTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TZ", "KST-9", 1);  // DOS (local) times differ from GMT ones
        tzset();
        s_pDir = new CTempDir();
        s_pDir->WriteFile("src/readme.txt", "read me\n");
        s_pDir->WriteFile("src/bin/tool.sh", "#!/bin/sh\necho tool\n");
        s_pDir->WriteFile("src/bin/locked.txt", "do not change\n");
        std::string strText;
        for (int i = 0; strText.size() < 1500000; ++i)
            strText += "line " + std::to_string(i) + " of a compressible text\n";
        s_pDir->WriteFile("src/docs/guide.txt", strText);
        ASSERT_EQ(RunShell("set -e; cd '" + s_pDir->Sub("src") + "'; touch -d @" +
                           std::to_string(kReadmeTime) + " readme.txt; touch -d @" +
                           std::to_string(kToolTime) + " bin/tool.sh;" + R"(
            mkdir empty_dir; touch empty.txt; head -c 600000 /dev/urandom > docs/random.bin
            chmod 755 bin/tool.sh; chmod 444 bin/locked.txt
            zip -q -r -0 ../iz_stored.zip .; zip -q -r -9 ../iz_deflated.zip .
            zip -q -r -X ../iz_no_extra.zip .; zip -q -P secret ../iz_encrypted.zip readme.txt
            zip -q -Z bzip2 ../iz_bzip2.zip readme.txt docs/guide.txt
            zip -q - readme.txt docs/guide.txt > ../iz_streamed.zip)"),
                  0);
    }
    static void TearDownTestSuite() {
        delete s_pDir;
        s_pDir = nullptr;
    }
    // Info-ZIP's archives are named "iz_*", the rest come from Python.
    static std::string Archive(const std::string& strName) {
        return strName.rfind("iz_", 0) == 0 ? s_pDir->Sub(strName)
                                            : std::string(ZIP_TEST_ARCHIVES) + "/" + strName;
    }
    static std::string Src(const std::string& strName) { return s_pDir->Sub("src/" + strName); }

    static CTempDir* s_pDir;
};

CTempDir* ZipReaderTest::s_pDir = nullptr;

// Sound archives come out whole: stored and deflated, with folders, members
// larger than a copy buffer, an empty one, data descriptors (zip writing to
// a pipe), zip64 structures, names in UTF-8,
// code pages 949 and 437 and with backslashes, a false end signature in the
// comment. Records are asked for backwards and twice, for the cache.
TEST_F(ZipReaderTest, SoundArchivesComeOutWhole) {
    const V vecSource = ListTree(Src(""));
    const struct {
        const char* pszArchive;
        V vecTree;  // empty: the Info-ZIP source tree, every file compared
        std::vector<std::pair<const char*, size_t>> vecSizes;
    } kCases[] = {
        {"iz_stored.zip", {}, {}},
        {"iz_deflated.zip", {}, {}},
        {"iz_streamed.zip", {"docs/", "docs/guide.txt", "readme.txt"}, {{"readme.txt", 8}}},
        {"py_names.zip",
         {"café.txt", "win/", "win/back.txt", "유니코드.txt", "한글.txt"},
         {{"한글.txt", 11}, {"win/back.txt", 15}}},
        {"py_zip64.zip", {}, {{"z64/m00.txt", 1000}, {"z64/m09.txt", 1333}}},
        {"comment.zip", {"c.txt"}, {{"c.txt", 16}}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszArchive);
        CTempDir out;
        CArchive archive(Archive(c.pszArchive), out.Path().c_str());
        ASSERT_NE(archive.Handle(), nullptr);
        for (int i = archive.Count() - 1; i >= 0; --i) {
            ZipEntry entry;
            ASSERT_EQ(archive.Entry(i, &entry), kZipOk);
            ASSERT_EQ(archive.Entry(i, &entry), kZipOk);
            EXPECT_EQ(entry.index, i);
        }
        ASSERT_EQ(archive.ExtractAll(out.Path()), kZipOk);
        for (const auto& [pszName, nSize] : c.vecSizes)
            EXPECT_EQ(ReadWholeFile(out.Sub(pszName)).size(), nSize) << pszName;
        if (std::string(c.pszArchive) == "py_zip64.zip") {
            EXPECT_EQ(archive.Count(), 10);
        } else if (!c.vecTree.empty()) {
            EXPECT_EQ(ListTree(out.Path()), c.vecTree);
        } else {
            EXPECT_EQ(ListTree(out.Path()), vecSource);
            for (const std::string& strName : vecSource) {
                if (strName.back() != '/') {
                    EXPECT_TRUE(ReadWholeFile(out.Sub(strName)) == ReadWholeFile(Src(strName)))
                        << strName;
                }
            }
            // Read-only from the owner-write bit; the executable bit kept.
            EXPECT_EQ(StatOf(out.Sub("bin/locked.txt")).st_mode & 0222, 0u);
            EXPECT_NE(StatOf(out.Sub("bin/tool.sh")).st_mode & 0100, 0u);
            EXPECT_NE(StatOf(out.Sub("readme.txt")).st_mode & 0200, 0u);
        }
    }
}

// Attributes from the DOS bits or the Unix mode (made on DOS or on Unix).
TEST_F(ZipReaderTest, AttributesFromDosAndUnixBits) {
    CTempDir out;
    CArchive archive(Archive("py_attrs.zip"), out.Path().c_str());
    const struct {
        const char* pszName;
        uint32_t dwAttr;
        unsigned nModeSet, nModeClear;  // after extraction
    } kCases[] = {
        {"dos_ro.txt", kZipAttrNormal | kZipAttrReadOnly | kZipAttrArchive, 0, 0222},
        {"dos_rw.txt", kZipAttrNormal | kZipAttrArchive, 0200, 0111},
        {"unix_ro.txt", kZipAttrNormal | kZipAttrReadOnly, 0, 0222},
        {"unix_ro_dos.txt", kZipAttrNormal | kZipAttrReadOnly, 0, 0222},
        {"unix_exec.sh", kZipAttrNormal, 0300, 0},
        {"hidden_sys.txt", kZipAttrNormal | kZipAttrHidden | kZipAttrSystem, 0200, 0},
        {"slash_dir/", kZipAttrNormal | kZipAttrDirectory, S_IFDIR, 0},
        {"dos_dir", kZipAttrNormal | kZipAttrDirectory, S_IFDIR, 0},
        {"unix_dir/", kZipAttrNormal | kZipAttrDirectory, S_IFDIR, 0},
    };
    ASSERT_EQ(archive.Count(), 9);
    ASSERT_EQ(archive.ExtractAll(out.Path()), kZipOk);
    for (int i = 0; i < 9; ++i) {
        const auto& c = kCases[i];
        ZipEntry entry;
        ASSERT_EQ(archive.Entry(i, &entry), kZipOk);
        EXPECT_STREQ(entry.name, c.pszName);
        EXPECT_EQ(entry.attr, c.dwAttr) << c.pszName;
        unsigned nMode = StatOf(out.Sub(c.pszName)).st_mode;
        EXPECT_EQ(nMode & c.nModeSet, c.nModeSet) << c.pszName;
        EXPECT_EQ(nMode & c.nModeClear, 0u) << c.pszName;
    }
}

// "UT" blocks give whole seconds; without one the DOS time counts, read as
// local time. Block sizes are 16-bit; a block running past the field ends
// the walk.
TEST_F(ZipReaderTest, TimesFromUtBlockElseLocalDosTime) {
    const struct {
        const char* pszArchive;
        const char* pszName;
        int64_t nModify, nAccess, nCreate;  // 0: not checked
    } kCases[] = {
        {"iz_deflated.zip", "readme.txt", kReadmeTime, 0, 0},
        {"iz_deflated.zip", "bin/tool.sh", kToolTime, 0, 0},
        {"iz_no_extra.zip", "readme.txt", kReadmeTime, 0, 0},
        {"py_times.zip", "dos_only.txt", kDosTime, kDosTime, kDosTime},
        {"py_times.zip", "ut_mtime.txt", kUtModify, kDosTime, kDosTime},
        {"py_times.zip", "ut_all.txt", kUtModify, kUtAccess, kUtCreate},
        {"py_times.zip", "ut_after_big.txt", kUtModify, 0, 0},
        {"py_times.zip", "ut_overrun.txt", kDosTime, 0, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.pszArchive) + " " + c.pszName);
        CTempDir out;
        CArchive archive(Archive(c.pszArchive), out.Path().c_str());
        ZipEntry entry;
        int nIndex = archive.Find(c.pszName);
        ASSERT_EQ(archive.Entry(nIndex, &entry), kZipOk);
        EXPECT_EQ(entry.mtime, c.nModify);
        if (c.nAccess != 0) {
            EXPECT_EQ(entry.atime, c.nAccess);
            EXPECT_EQ(entry.ctime, c.nCreate);
        }
        ASSERT_EQ(archive.Unzip(nIndex, out.Sub("f")), kZipOk);
        EXPECT_EQ(StatOf(out.Sub("f")).st_mtime, c.nModify);
    }
}

// Members that fail: names leaving the folder, wrong CRCs, sizes that lie,
// cut or garbled data, local headers that disagree, unsupported methods,
// encryption. The record or the extraction fails with its code, an existing
// target stays as it was and nothing else is written.
TEST_F(ZipReaderTest, FailingMembersWriteNothing) {
    const struct {
        const char* pszArchive;
        int nIndex;  // -1: by name
        const char* pszName;
        ZipResult nEntry, nUnzip;
        const char* pszText;  // of the last result, or null
    } kCases[] = {
        {"py_evil.zip", 1, "../evil.txt", kZipUnsafeName, kZipUnsafeName,
         "Member name refused: absolute or containing \"..\""},
        {"py_evil.zip", 2, "/abs.txt", kZipUnsafeName, kZipUnsafeName, nullptr},
        {"py_evil.zip", 3, "a/../../b.txt", kZipUnsafeName, kZipUnsafeName, nullptr},
        {"py_evil.zip", 4, "C:/drive.txt", kZipUnsafeName, kZipUnsafeName, nullptr},
        {"py_evil.zip", 5, "../evil_dir/", kZipUnsafeName, kZipUnsafeName, nullptr},
        {"py_damaged.zip", -1, "stored_bad.txt", kZipOk, kZipCrc,
         "CRC-32 of the unzipped data does not match"},
        {"py_damaged.zip", -1, "deflated_bad.txt", kZipOk, kZipCrc, nullptr},
        {"py_damaged.zip", -1, "bomb.bin", kZipOk, kZipSize, nullptr},  // 10 MB as 1000 bytes
        {"py_damaged.zip", -1, "short.bin", kZipOk, kZipSize,
         "Unzipped size differs from the declared size"},
        {"py_damaged.zip", -1, "cut.bin", kZipOk, kZipFlate,
         "Zip-bug: an internal error during flation"},
        {"py_damaged.zip", -1, "garbage.bin", kZipOk, kZipFlate, nullptr},
        {"py_damaged.zip", 2, "local_mismatch.txt", kZipCorrupt, kZipCorrupt, nullptr},
        {"py_damaged.zip", 6, "method12.bin", kZipCorrupt, kZipCorrupt,
         "Zipfile is corrupt or not a zipfile"},
        {"iz_encrypted.zip", 0, "readme.txt", kZipOk, kZipPassword, "Correct password required"},
        {"iz_bzip2.zip", 1, "docs/guide.txt", kZipCorrupt, kZipCorrupt, nullptr},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.pszArchive) + " " + c.pszName);
        CTempDir scratch;
        std::string strOut = scratch.Sub("out");
        std::string strTarget = scratch.WriteFile("out/target", "previous\n");
        CArchive archive(Archive(c.pszArchive), strOut.c_str());
        int nIndex = c.nIndex >= 0 ? c.nIndex : archive.Find(c.pszName);
        ZipEntry entry;
        EXPECT_EQ(archive.Entry(nIndex, &entry), c.nEntry);
        if (c.nEntry == kZipOk) {
            EXPECT_STREQ(entry.name, c.pszName);
        }
        // Even a caller that skips the record check gets nothing written.
        bool bUnsafe = c.nUnzip == kZipUnsafeName;
        EXPECT_EQ(archive.Unzip(nIndex, bUnsafe ? strOut + "/x/../../escaped.txt" : strTarget),
                  c.nUnzip);
        if (c.pszText != nullptr) {
            EXPECT_EQ(LastResultText(), c.pszText);
        }
        EXPECT_EQ(ListTree(scratch.Path()), (V{"out/", "out/target"}));
        EXPECT_EQ(ReadWholeFile(strTarget), "previous\n");
    }
}

TEST_F(ZipReaderTest, InflatingStopsAtTheDeclaredSize) {
    // In a child whose files may not grow past 64 KiB: a reader that kept
    // writing the bomb's 10 MB would fail on the write instead.
    CTempDir out;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        ZipHandle hZip = OpenZipFile(Archive("py_damaged.zip").c_str(), 0, kZipKindFileName);
        ZipResult nResult = UnzipItem(hZip, 3, out.Sub("bomb.bin").c_str(), 0, kZipKindFileName);
        CloseZipFile(hZip);
        _exit(nResult == kZipSize ? 0 : nResult == kZipWrite ? 1 : 2);
    }
    int nStatus = -1;
    ASSERT_EQ(waitpid(pid, &nStatus, 0), pid);
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
}

TEST_F(ZipReaderTest, FilesThatAreNoArchiveGiveNoHandle) {
    CTempDir scratch;
    for (const std::string& strPath :
         {Archive("truncated.zip"), Archive("empty.zip"), Archive("bad_offset.zip"),
          Archive("missing.zip"), scratch.Path()}) {
        EXPECT_EQ(OpenZipFile(strPath.c_str(), 0, kZipKindFileName), nullptr) << strPath;
        EXPECT_EQ(LastResultText(), "Couldn't create/open file") << strPath;
    }
}

// Handles, indexes and kinds the reader does not take, and the result-text
// buffer: an unknown code has a text, a short buffer gets its start.
TEST_F(ZipReaderTest, ArgumentChecksAndResultTexts) {
    ZipEntry entry;
    EXPECT_EQ(GetZipItem(nullptr, 0, &entry), kZipArgs);
    EXPECT_EQ(UnzipItem(nullptr, 0, "x", 0, kZipKindFileName), kZipArgs);
    EXPECT_EQ(CloseZipFile(nullptr), kZipArgs);
    EXPECT_EQ(OpenZipFile(nullptr, 0, kZipKindFileName), nullptr);
    EXPECT_EQ(LastResultText(), "Caller: faulty arguments");
    EXPECT_EQ(OpenZipFile(Archive("comment.zip").c_str(), 0, kZipKindMemory), nullptr);
    CArchive archive(Archive("comment.zip"));
    entry.name[0] = 'x';
    ASSERT_EQ(archive.Entry(-1, &entry), kZipOk);
    EXPECT_EQ(entry.index, 1);
    EXPECT_STREQ(entry.name, "");
    for (int nIndex : {1, -2})
        EXPECT_EQ(archive.Entry(nIndex, &entry), kZipArgs) << nIndex;
    for (int nIndex : {1, -1})
        EXPECT_EQ(archive.Unzip(nIndex, "x"), kZipArgs) << nIndex;
    EXPECT_EQ(UnzipItem(archive.Handle(), 0, "x", 0, kZipKindHandle), kZipArgs);
    EXPECT_EQ(GetZipItem(archive.Handle(), 0, nullptr), kZipArgs);
    EXPECT_EQ(archive.Entry(0, &entry), kZipOk);
    EXPECT_EQ(LastResultText(), "Success");

    char szShort[8];
    EXPECT_GT(FormatZipResult(0x12345, szShort, sizeof(szShort)), 0u);
    EXPECT_EQ(FormatZipResult(kZipWrite, szShort, sizeof(szShort)), 21u);
    EXPECT_STREQ(szShort, "Error w");
    EXPECT_EQ(FormatZipResult(kZipWrite, nullptr, 0), 21u);
}

// Folder members and relative output paths go below the folder given at
// open, or the working folder at open, even after it changed; an existing
// read-only target is replaced.
TEST_F(ZipReaderTest, RootFolderAndReadOnlyTargets) {
    CTempDir work, given, elsewhere;
    const std::filesystem::path oldCwd = std::filesystem::current_path();
    std::filesystem::current_path(work.Path());
    auto pArchive = std::make_unique<CArchive>(Archive("iz_stored.zip"));
    std::filesystem::current_path(elsewhere.Path());
    EXPECT_EQ(pArchive->Unzip(pArchive->Find("empty_dir/"), ""), kZipOk);
    EXPECT_EQ(pArchive->Unzip(pArchive->Find("docs/guide.txt"), "docs/guide.txt"), kZipOk);
    EXPECT_EQ(ListTree(work.Path()), (V{"docs/", "docs/guide.txt", "empty_dir/"}));
    EXPECT_TRUE(ListTree(elsewhere.Path()).empty());
    std::filesystem::current_path(oldCwd);

    CArchive archive(Archive("iz_deflated.zip"), given.Path().c_str());
    EXPECT_EQ(archive.Unzip(archive.Find("bin/tool.sh"), "bin/tool.sh"), kZipOk);
    std::string strTarget = given.WriteFile("readme.txt", "old contents\n");
    ASSERT_EQ(chmod(strTarget.c_str(), 0444), 0);
    EXPECT_EQ(archive.Unzip(archive.Find("readme.txt"), strTarget), kZipOk);
    EXPECT_EQ(ReadWholeFile(strTarget), "read me\n");
    EXPECT_EQ(ListTree(given.Path()), (V{"bin/", "bin/tool.sh", "readme.txt"}));
}

}  // namespace
