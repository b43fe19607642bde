// Damaged and hostile archives: names that would leave the extraction
// folder, wrong CRCs, sizes that lie, cut data, unsupported methods, files
// that are no archive; and the handle and result-text contract.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/zip/zip_test_support.h"
#include "zip/unzip.h"

namespace {

std::string LastResultText() {
    char szText[128];
    FormatZipResult(kZipLastResult, szText, sizeof(szText));
    return szText;
}

TEST(ZipHostileTest, NamesLeavingTheFolderAreRefusedAndNothingIsWritten) {
    CTempDir scratch;
    std::string strRoot = scratch.Sub("root");
    CTestArchive archive(PythonArchive("py_evil.zip"), strRoot.c_str());
    ASSERT_EQ(archive.Count(), 7);
    ZipEntry entry;
    ASSERT_EQ(archive.Entry(0, &entry), kZipOk);
    ASSERT_EQ(RunShell("mkdir -p '" + strRoot + "'"), 0);
    EXPECT_EQ(archive.Unzip(0, strRoot + "/ok.txt"), kZipOk);
    // "../evil.txt", "/abs.txt", "a/../../b.txt", "..\win_evil.txt",
    // "C:/drive.txt" and the folder "../evil_dir/".
    for (int i = 1; i < 7; ++i) {
        EXPECT_EQ(archive.Entry(i, &entry), kZipUnsafeName) << i;
        EXPECT_EQ(LastResultText(), "Member name refused: absolute or containing \"..\"");
        // Even a caller that skips the record check gets nothing written.
        EXPECT_EQ(archive.Unzip(i, strRoot + "/x/../../escaped.txt"), kZipUnsafeName) << i;
    }
    EXPECT_EQ(ListTree(scratch.Path()), (std::vector<std::string>{"root/", "root/ok.txt"}));
}

TEST(ZipHostileTest, CrcMismatchFailsAndLeavesTheTargetAsItWas) {
    CTempDir out;
    CTestArchive archive(PythonArchive("py_damaged.zip"), out.Path().c_str());
    std::string strTarget = out.WriteFile("stored_bad.txt", "previous\n");
    EXPECT_EQ(archive.Unzip(archive.Find("stored_bad.txt"), strTarget), kZipCrc);
    EXPECT_EQ(LastResultText(), "CRC-32 of the unzipped data does not match");
    EXPECT_EQ(ReadWholeFile(strTarget), "previous\n");
    EXPECT_EQ(archive.Unzip(archive.Find("deflated_bad.txt"), out.Sub("deflated_bad.txt")),
              kZipCrc);
    // No partial or temporary file stays behind.
    EXPECT_EQ(ListTree(out.Path()), std::vector<std::string>{"stored_bad.txt"});
    // The sound member next to them is fine.
    EXPECT_EQ(archive.Unzip(archive.Find("good.txt"), out.Sub("good.txt")), kZipOk);
}

TEST(ZipHostileTest, SizesThatLieAreCaught) {
    CTempDir out;
    CTestArchive archive(PythonArchive("py_damaged.zip"), out.Path().c_str());
    ZipEntry entry;
    // 10 MB of zeros declared as 1000 bytes: writing stops at the limit.
    int nBomb = archive.Find("bomb.bin");
    ASSERT_EQ(archive.Entry(nBomb, &entry), kZipOk);
    EXPECT_EQ(entry.unc_size, 1000);
    EXPECT_EQ(archive.Unzip(nBomb, out.Sub("bomb.bin")), kZipSize);
    EXPECT_EQ(archive.Unzip(archive.Find("short.bin"), out.Sub("short.bin")), kZipSize);
    EXPECT_EQ(LastResultText(), "Unzipped size differs from the declared size");
    EXPECT_TRUE(ListTree(out.Path()).empty());
}

TEST(ZipHostileTest, InflatingStopsAtTheDeclaredSize) {
    // In a child whose files may not grow past 64 KiB: a reader that kept
    // writing the bomb's 10 MB would fail on the write instead.
    CTempDir out;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        ZipHandle hZip = OpenZipFile(PythonArchive("py_damaged.zip").c_str(), 0, kZipKindFileName);
        ZipResult nResult = UnzipItem(hZip, 4, out.Sub("bomb.bin").c_str(), 0, kZipKindFileName);
        CloseZipFile(hZip);
        _exit(nResult == kZipSize ? 0 : nResult == kZipWrite ? 1 : 2);
    }
    int nStatus = -1;
    ASSERT_EQ(waitpid(pid, &nStatus, 0), pid);
    ASSERT_TRUE(WIFEXITED(nStatus));
    EXPECT_EQ(WEXITSTATUS(nStatus), 0);
}

TEST(ZipHostileTest, BrokenDataAndHeaders) {
    CTempDir out;
    CTestArchive archive(PythonArchive("py_damaged.zip"), out.Path().c_str());
    ZipEntry entry;
    // The deflate stream runs out before its end.
    EXPECT_EQ(archive.Unzip(archive.Find("cut.bin"), out.Sub("cut.bin")), kZipFlate);
    EXPECT_EQ(LastResultText(), "Zip-bug: an internal error during flation");
    EXPECT_EQ(archive.Unzip(archive.Find("garbage.bin"), out.Sub("garbage.bin")), kZipFlate);
    // Member 3 has a local header that disagrees with the directory,
    // member 7 a method number that is neither stored nor deflated.
    EXPECT_EQ(archive.Entry(3, &entry), kZipCorrupt);
    EXPECT_EQ(archive.Entry(7, &entry), kZipCorrupt);
    EXPECT_EQ(LastResultText(), "Zipfile is corrupt or not a zipfile");
    EXPECT_EQ(archive.Unzip(7, out.Sub("method12.bin")), kZipCorrupt);
    EXPECT_TRUE(ListTree(out.Path()).empty());
}

TEST(ZipHostileTest, FilesThatAreNoArchiveGiveNoHandle) {
    CTempDir scratch;
    for (const char* pszName : {"truncated.zip", "no_end_record.zip", "not_a_zip.zip", "empty.zip",
                                "bad_offset.zip", "missing.zip"}) {
        EXPECT_EQ(OpenZipFile(PythonArchive(pszName).c_str(), 0, kZipKindFileName), nullptr)
            << pszName;
        EXPECT_EQ(LastResultText(), "Couldn't create/open file") << pszName;
    }
    EXPECT_EQ(OpenZipFile(scratch.Path().c_str(), 0, kZipKindFileName), nullptr);
    // A false end signature in the comment is passed over.
    CTestArchive comment(PythonArchive("comment.zip"), scratch.Path().c_str());
    ASSERT_EQ(comment.Count(), 1);
    EXPECT_EQ(comment.Unzip(0, "c.txt"), kZipOk);
    EXPECT_EQ(ReadWholeFile(scratch.Sub("c.txt")), "comment archive\n");
}

TEST(ZipHostileTest, HandleAndArgumentChecks) {
    ZipEntry entry;
    EXPECT_EQ(GetZipItem(nullptr, 0, &entry), kZipArgs);
    EXPECT_EQ(UnzipItem(nullptr, 0, "x", 0, kZipKindFileName), kZipArgs);
    EXPECT_EQ(CloseZipFile(nullptr), kZipArgs);
    EXPECT_EQ(OpenZipFile(nullptr, 0, kZipKindFileName), nullptr);
    EXPECT_EQ(LastResultText(), "Caller: faulty arguments");
    // Handles and memory blocks are not offered as sources or destinations.
    std::string strPath = PythonArchive("py_stored.zip");
    EXPECT_EQ(OpenZipFile(strPath.c_str(), 0, kZipKindMemory), nullptr);
    CTestArchive archive(strPath);
    EXPECT_EQ(UnzipItem(archive.Handle(), 0, "x", 0, kZipKindHandle), kZipArgs);
    EXPECT_EQ(GetZipItem(archive.Handle(), 0, nullptr), kZipArgs);
    EXPECT_EQ(GetZipItem(archive.Handle(), 0, &entry), kZipOk);
    EXPECT_EQ(LastResultText(), "Success");
}

// The texts themselves are checked where each failure happens; here the
// buffer contract: an unknown code has a text, and a short buffer gets the
// start of the text while the full length is returned.
TEST(ZipHostileTest, ResultTextBuffer) {
    char szText[128];
    EXPECT_EQ(FormatZipResult(0x12345, szText, sizeof(szText)), 23u);
    EXPECT_STREQ(szText, "unknown zip result code");
    char szShort[8];
    EXPECT_EQ(FormatZipResult(kZipWrite, szShort, sizeof(szShort)), 21u);
    EXPECT_STREQ(szShort, "Error w");
    EXPECT_EQ(FormatZipResult(kZipWrite, nullptr, 0), 21u);
}

}  // namespace
