// Archives made by Info-ZIP's zip from a real folder tree: stored and
// deflated, with folders, permissions, "UT" times or DOS times only,
// encryption, bzip2 and streamed output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "tests/support/temp_dir.h"
#include "tests/zip/zip_test_support.h"
#include "zip/unzip.h"

namespace {

// Times of the source files; the odd one shows what the DOS format loses.
constexpr int64_t kReadmeTime = 1433631550;  // even seconds
constexpr int64_t kToolTime = 1433631551;    // odd seconds

class InfoZipTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        UseKoreanTimeZone();
        s_pDir = new CTempDir();
        const CTempDir& dir = *s_pDir;
        dir.WriteFile("src/readme.txt", "read me\n");
        dir.WriteFile("src/bin/tool.sh", "#!/bin/sh\necho tool\n");
        dir.WriteFile("src/bin/locked.txt", "do not change\n");
        std::string strText;
        for (int i = 0; strText.size() < 1500000; ++i)
            strText += "line " + std::to_string(i) + " of a compressible text\n";
        dir.WriteFile("src/docs/guide.txt", strText);
        std::string strSrc = dir.Sub("src");
        std::string strScript = "set -e; cd '" + strSrc +
                                "'; mkdir -p empty_dir;"
                                " head -c 600000 /dev/urandom > docs/random.bin;"
                                " chmod 755 bin/tool.sh; chmod 444 bin/locked.txt;"
                                " touch -d @" +
                                std::to_string(kReadmeTime) +
                                " readme.txt;"
                                " touch -d @" +
                                std::to_string(kToolTime) +
                                " bin/tool.sh;"
                                " zip -q -r -0 ../stored.zip .; zip -q -r -9 ../deflated.zip .;"
                                " zip -q -r -X ../no_extra.zip .;"
                                " zip -q -P secret ../encrypted.zip readme.txt;"
                                " zip -q -Z bzip2 ../bzip2.zip readme.txt docs/guide.txt;"
                                " zip -q - readme.txt docs/guide.txt > ../streamed.zip";
        ASSERT_EQ(RunShell(strScript), 0);
    }
    static void TearDownTestSuite() {
        delete s_pDir;
        s_pDir = nullptr;
    }

    static std::string Src(const std::string& strName) { return s_pDir->Sub("src/" + strName); }
    static std::string Archive(const std::string& strName) { return s_pDir->Sub(strName); }

    // Extracts the archive like the engine does and checks every file.
    static void ExtractAndCompare(const std::string& strArchive) {
        CTempDir out;
        CTestArchive archive(Archive(strArchive), out.Path().c_str());
        ASSERT_NE(archive.Handle(), nullptr);
        ASSERT_EQ(archive.ExtractAll(out.Path()), kZipOk);
        EXPECT_EQ(ListTree(out.Path()), ListTree(Src("")));
        for (const char* pszName :
             {"readme.txt", "bin/tool.sh", "bin/locked.txt", "docs/guide.txt", "docs/random.bin"}) {
            EXPECT_EQ(ReadWholeFile(out.Sub(pszName)), ReadWholeFile(Src(pszName))) << pszName;
        }
        EXPECT_TRUE(FactsOf(out.Sub("empty_dir")).bDirectory);
        // Read-only from the owner-write bit, the executable bit kept.
        EXPECT_EQ(FactsOf(out.Sub("bin/locked.txt")).nMode & 0222, 0u);
        EXPECT_NE(FactsOf(out.Sub("bin/tool.sh")).nMode & 0100, 0u);
        EXPECT_NE(FactsOf(out.Sub("readme.txt")).nMode & 0200, 0u);
    }

    static CTempDir* s_pDir;
};

CTempDir* InfoZipTest::s_pDir = nullptr;

TEST_F(InfoZipTest, StoredAndDeflatedTreesComeOutWhole) {
    ExtractAndCompare("stored.zip");
    ExtractAndCompare("deflated.zip");
}

TEST_F(InfoZipTest, StreamedArchiveWithDataDescriptors) {
    // Written to a pipe, zip cannot go back to the local headers: their
    // CRC and sizes follow the data, and only the directory holds them.
    CTempDir out;
    CTestArchive archive(Archive("streamed.zip"), out.Path().c_str());
    ASSERT_EQ(archive.Count(), 2);
    ASSERT_EQ(archive.ExtractAll(out.Path()), kZipOk);
    EXPECT_EQ(ReadWholeFile(out.Sub("docs/guide.txt")), ReadWholeFile(Src("docs/guide.txt")));
    EXPECT_EQ(ReadWholeFile(out.Sub("readme.txt")), "read me\n");
}

TEST_F(InfoZipTest, RecordsCarrySizesAttributesAndTimes) {
    CTestArchive archive(Archive("deflated.zip"));
    ZipEntry entry;
    ASSERT_EQ(archive.Entry(archive.Find("docs/guide.txt"), &entry), kZipOk);
    EXPECT_GT(entry.unc_size, entry.comp_size);
    EXPECT_EQ(entry.unc_size, static_cast<int64_t>(ReadWholeFile(Src("docs/guide.txt")).size()));
    EXPECT_EQ(entry.attr & (kZipAttrDirectory | kZipAttrReadOnly), 0u);

    ASSERT_EQ(archive.Entry(archive.Find("bin/locked.txt"), &entry), kZipOk);
    EXPECT_NE(entry.attr & kZipAttrReadOnly, 0u);
    ASSERT_EQ(archive.Entry(archive.Find("empty_dir/"), &entry), kZipOk);
    EXPECT_NE(entry.attr & kZipAttrDirectory, 0u);
    // "UT" holds whole seconds, odd ones too.
    ASSERT_EQ(archive.Entry(archive.Find("bin/tool.sh"), &entry), kZipOk);
    EXPECT_EQ(entry.mtime, kToolTime);
}

TEST_F(InfoZipTest, ModificationTimesFromUtOrFromLocalDosTime) {
    CTempDir withUt;
    CTempDir dosOnly;
    {
        CTestArchive archive(Archive("deflated.zip"), withUt.Path().c_str());
        ASSERT_EQ(archive.ExtractAll(withUt.Path()), kZipOk);
    }
    {
        CTestArchive archive(Archive("no_extra.zip"), dosOnly.Path().c_str());
        ASSERT_EQ(archive.ExtractAll(dosOnly.Path()), kZipOk);
    }
    EXPECT_EQ(FactsOf(withUt.Sub("readme.txt")).nModifyTime, kReadmeTime);
    EXPECT_EQ(FactsOf(withUt.Sub("bin/tool.sh")).nModifyTime, kToolTime);
    // The DOS time is local time in 2-second steps: read back in the same
    // zone it gives the same instant, not one nine hours off.
    EXPECT_EQ(FactsOf(dosOnly.Sub("readme.txt")).nModifyTime, kReadmeTime);
    EXPECT_LE(std::llabs(FactsOf(dosOnly.Sub("bin/tool.sh")).nModifyTime - kToolTime), 1);
}

TEST_F(InfoZipTest, EncryptedMemberNeedsPasswordAndWritesNothing) {
    CTempDir out;
    CTestArchive archive(Archive("encrypted.zip"), out.Path().c_str());
    ZipEntry entry;
    ASSERT_EQ(archive.Entry(0, &entry), kZipOk);
    EXPECT_STREQ(entry.name, "readme.txt");
    EXPECT_EQ(archive.Unzip(0, out.Sub("readme.txt")), kZipPassword);
    EXPECT_TRUE(ListTree(out.Path()).empty());
    char szText[64];
    FormatZipResult(kZipLastResult, szText, sizeof(szText));
    EXPECT_STREQ(szText, "Correct password required");
}

TEST_F(InfoZipTest, Bzip2MembersAreRefusedAsUnsupported) {
    CTestArchive archive(Archive("bzip2.zip"));
    ASSERT_NE(archive.Handle(), nullptr);
    ASSERT_EQ(archive.Count(), 2);
    // The tiny readme is stored (bzip2 would not make it smaller); the
    // guide is bzip2-compressed, a method the reader does not extract.
    ZipEntry entry;
    EXPECT_EQ(archive.Entry(0, &entry), kZipOk);
    EXPECT_STREQ(entry.name, "readme.txt");
    int nGuide = 1;
    EXPECT_EQ(archive.Entry(nGuide, &entry), kZipCorrupt);
    CTempDir out;
    EXPECT_EQ(archive.Unzip(nGuide, out.Sub("guide.txt")), kZipCorrupt);
    EXPECT_TRUE(ListTree(out.Path()).empty());
}

TEST_F(InfoZipTest, ExistingReadOnlyTargetIsReplaced) {
    CTempDir out;
    std::string strTarget = out.WriteFile("readme.txt", "old contents\n");
    ASSERT_EQ(RunShell("chmod 444 '" + strTarget + "'"), 0);
    CTestArchive archive(Archive("deflated.zip"), out.Path().c_str());
    EXPECT_EQ(archive.Unzip(archive.Find("readme.txt"), strTarget), kZipOk);
    EXPECT_EQ(ReadWholeFile(strTarget), "read me\n");
    EXPECT_EQ(ListTree(out.Path()), std::vector<std::string>{"readme.txt"});
}

// Restores the working folder when a test ends.
class CWorkDir {
public:
    explicit CWorkDir(const std::string& strDir) : m_strSaved(getcwd(m_szBuf, sizeof(m_szBuf))) {
        EXPECT_EQ(chdir(strDir.c_str()), 0);
    }
    ~CWorkDir() { EXPECT_EQ(chdir(m_strSaved.c_str()), 0); }

private:
    char m_szBuf[4096] = {};
    std::string m_strSaved;
};

TEST_F(InfoZipTest, RootFolderIsWorkingFolderAtOpenUnlessGiven) {
    CTempDir work;
    CTempDir given;
    CTempDir elsewhere;
    std::unique_ptr<CTestArchive> pArchive;
    {
        CWorkDir cd(work.Path());
        pArchive = std::make_unique<CTestArchive>(Archive("stored.zip"));
    }
    // Folder members and relative output paths go below the folder that
    // was current at open, even after the working folder changed.
    CWorkDir cd(elsewhere.Path());
    EXPECT_EQ(pArchive->Unzip(pArchive->Find("empty_dir/"), ""), kZipOk);
    EXPECT_EQ(pArchive->Unzip(pArchive->Find("docs/guide.txt"), "docs/guide.txt"), kZipOk);
    EXPECT_EQ(ListTree(work.Path()),
              (std::vector<std::string>{"docs/", "docs/guide.txt", "empty_dir/"}));
    EXPECT_TRUE(ListTree(elsewhere.Path()).empty());

    CTestArchive explicitRoot(Archive("stored.zip"), given.Path().c_str());
    EXPECT_EQ(explicitRoot.Unzip(explicitRoot.Find("bin/tool.sh"), "bin/tool.sh"), kZipOk);
    EXPECT_EQ(ListTree(given.Path()), (std::vector<std::string>{"bin/", "bin/tool.sh"}));
}

}  // namespace
