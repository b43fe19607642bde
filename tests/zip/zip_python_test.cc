// Archives made by Python's zipfile: attributes set through the external
// attributes, "UT" blocks, names in UTF-8, code page 949 and 437, and the
// zip64 structures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/zip/zip_test_support.h"
#include "zip/unzip.h"

namespace {

constexpr int64_t kUtModify = 1234567890;
constexpr int64_t kUtAccess = 1300000000;
constexpr int64_t kUtCreate = 1000000000;
// 2001-02-03 04:05:06 in the test's zone, nine hours east of GMT.
constexpr int64_t kDosTime = 981140706;

class PythonZipTest : public testing::Test {
protected:
    static void SetUpTestSuite() { UseKoreanTimeZone(); }
};

TEST_F(PythonZipTest, CountAndIndexBounds) {
    CTestArchive archive(PythonArchive("py_stored.zip"));
    ZipEntry entry;
    entry.name[0] = 'x';
    ASSERT_EQ(archive.Entry(-1, &entry), kZipOk);
    EXPECT_EQ(entry.index, 5);
    EXPECT_STREQ(entry.name, "");
    EXPECT_EQ(archive.Entry(5, &entry), kZipArgs);
    EXPECT_EQ(archive.Entry(-2, &entry), kZipArgs);
    EXPECT_EQ(archive.Unzip(5, "x"), kZipArgs);
    EXPECT_EQ(archive.Unzip(-1, "x"), kZipArgs);
}

TEST_F(PythonZipTest, StoredAndDeflatedMembersInAnyOrder) {
    for (const char* pszArchive : {"py_stored.zip", "py_deflated.zip"}) {
        CTempDir out;
        CTestArchive archive(PythonArchive(pszArchive), out.Path().c_str());
        // Backwards, and each record asked for twice, to exercise the cache.
        for (int i = archive.Count() - 1; i >= 0; --i) {
            ZipEntry entry;
            ASSERT_EQ(archive.Entry(i, &entry), kZipOk);
            ASSERT_EQ(archive.Entry(i, &entry), kZipOk);
            EXPECT_EQ(entry.index, i);
            EXPECT_EQ(archive.Unzip(i, entry.name), kZipOk) << entry.name;
        }
        EXPECT_EQ(ListTree(out.Path()),
                  (std::vector<std::string>{"empty.txt", "hello.txt", "sub/", "sub/random.bin",
                                            "sub/text.txt"}));
        EXPECT_EQ(ReadWholeFile(out.Sub("hello.txt")), "hello, world\n");
        EXPECT_EQ(ReadWholeFile(out.Sub("sub/text.txt")).size(), 2000000u);
        EXPECT_EQ(ReadWholeFile(out.Sub("sub/random.bin")).size(), 700000u);
        EXPECT_EQ(ReadWholeFile(out.Sub("empty.txt")), "");
    }
    // Both archives hold the same data.
    CTempDir a;
    CTempDir b;
    CTestArchive(PythonArchive("py_stored.zip"), a.Path().c_str()).ExtractAll(a.Path());
    CTestArchive(PythonArchive("py_deflated.zip"), b.Path().c_str()).ExtractAll(b.Path());
    EXPECT_EQ(ReadWholeFile(a.Sub("sub/random.bin")), ReadWholeFile(b.Sub("sub/random.bin")));
    EXPECT_EQ(ReadWholeFile(a.Sub("sub/text.txt")), ReadWholeFile(b.Sub("sub/text.txt")));
}

TEST_F(PythonZipTest, AttributesFromDosAndUnixBits) {
    CTempDir out;
    CTestArchive archive(PythonArchive("py_attrs.zip"), out.Path().c_str());
    struct Expected {
        const char* pszName;
        uint32_t dwAttr;
    };
    const Expected kExpected[] = {
        {"dos_ro.txt", kZipAttrNormal | kZipAttrReadOnly | kZipAttrArchive},
        {"dos_rw.txt", kZipAttrNormal | kZipAttrArchive},
        {"unix_ro.txt", kZipAttrNormal | kZipAttrReadOnly},
        {"unix_ro_dos.txt", kZipAttrNormal | kZipAttrReadOnly},
        {"unix_exec.sh", kZipAttrNormal},
        {"hidden_sys.txt", kZipAttrNormal | kZipAttrHidden | kZipAttrSystem},
        {"slash_dir/", kZipAttrNormal | kZipAttrDirectory},
        {"dos_dir", kZipAttrNormal | kZipAttrDirectory},
        {"unix_dir/", kZipAttrNormal | kZipAttrDirectory},
    };
    ASSERT_EQ(archive.Count(), 9);
    for (int i = 0; i < 9; ++i) {
        ZipEntry entry;
        ASSERT_EQ(archive.Entry(i, &entry), kZipOk);
        EXPECT_STREQ(entry.name, kExpected[i].pszName);
        EXPECT_EQ(entry.attr, kExpected[i].dwAttr) << entry.name;
    }
    ASSERT_EQ(archive.ExtractAll(out.Path()), kZipOk);
    for (const char* pszName : {"dos_ro.txt", "unix_ro.txt", "unix_ro_dos.txt"})
        EXPECT_EQ(FactsOf(out.Sub(pszName)).nMode & 0222, 0u) << pszName;
    for (const char* pszName : {"dos_rw.txt", "unix_exec.sh", "hidden_sys.txt"})
        EXPECT_NE(FactsOf(out.Sub(pszName)).nMode & 0200, 0u) << pszName;
    EXPECT_NE(FactsOf(out.Sub("unix_exec.sh")).nMode & 0100, 0u);
    EXPECT_EQ(FactsOf(out.Sub("dos_rw.txt")).nMode & 0111, 0u);
    for (const char* pszName : {"slash_dir", "dos_dir", "unix_dir"})
        EXPECT_TRUE(FactsOf(out.Sub(pszName)).bDirectory) << pszName;
}

TEST_F(PythonZipTest, TimesFromUtBlockElseDosTime) {
    CTempDir out;
    CTestArchive archive(PythonArchive("py_times.zip"), out.Path().c_str());
    ZipEntry entry;
    ASSERT_EQ(archive.Entry(archive.Find("dos_only.txt"), &entry), kZipOk);
    EXPECT_EQ(entry.mtime, kDosTime);
    EXPECT_EQ(entry.atime, kDosTime);
    EXPECT_EQ(entry.ctime, kDosTime);
    // A block with only the modification time leaves the DOS time in the others.
    ASSERT_EQ(archive.Entry(archive.Find("ut_mtime.txt"), &entry), kZipOk);
    EXPECT_EQ(entry.mtime, kUtModify);
    EXPECT_EQ(entry.atime, kDosTime);
    EXPECT_EQ(entry.ctime, kDosTime);
    ASSERT_EQ(archive.Entry(archive.Find("ut_all.txt"), &entry), kZipOk);
    EXPECT_EQ(entry.mtime, kUtModify);
    EXPECT_EQ(entry.atime, kUtAccess);
    EXPECT_EQ(entry.ctime, kUtCreate);
    // Block sizes are 16-bit: a 300-byte block is stepped over whole.
    ASSERT_EQ(archive.Entry(archive.Find("ut_after_big.txt"), &entry), kZipOk);
    EXPECT_EQ(entry.mtime, kUtModify);
    // A block that claims to run past the field ends the walk.
    ASSERT_EQ(archive.Entry(archive.Find("ut_overrun.txt"), &entry), kZipOk);
    EXPECT_EQ(entry.mtime, kDosTime);

    ASSERT_EQ(archive.ExtractAll(out.Path()), kZipOk);
    EXPECT_EQ(FactsOf(out.Sub("dos_only.txt")).nModifyTime, kDosTime);
    EXPECT_EQ(FactsOf(out.Sub("ut_all.txt")).nModifyTime, kUtModify);
}

TEST_F(PythonZipTest, NamesDecodedToUtf8WithSlashes) {
    CTempDir out;
    CTestArchive archive(PythonArchive("py_names.zip"), out.Path().c_str());
    ASSERT_EQ(archive.ExtractAll(out.Path()), kZipOk);
    EXPECT_EQ(ListTree(out.Path()), (std::vector<std::string>{"café.txt", "win/", "win/back.txt",
                                                              "유니코드.txt", "한글.txt"}));
    EXPECT_EQ(ReadWholeFile(out.Sub("한글.txt")), "cp949 name\n");
    EXPECT_EQ(ReadWholeFile(out.Sub("win/back.txt")), "backslash name\n");
}

TEST_F(PythonZipTest, Zip64EndRecordAndExtraBlocks) {
    CTempDir out;
    CTestArchive archive(PythonArchive("py_zip64.zip"), out.Path().c_str());
    ASSERT_NE(archive.Handle(), nullptr);
    ASSERT_EQ(archive.Count(), 10);
    ZipEntry entry;
    ASSERT_EQ(archive.Entry(9, &entry), kZipOk);
    EXPECT_STREQ(entry.name, "z64/m09.txt");
    EXPECT_EQ(entry.unc_size, 1000 + 9 * 37);
    ASSERT_EQ(archive.ExtractAll(out.Path()), kZipOk);
    EXPECT_EQ(ReadWholeFile(out.Sub("z64/m09.txt")).size(), 1333u);
    EXPECT_EQ(ReadWholeFile(out.Sub("z64/m00.txt")).size(), 1000u);
}

}  // namespace
