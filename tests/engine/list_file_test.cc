// The list file reader: field rules, type field, resource filter, code page
// and the limits, on real list files in a scratch folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "engine/sync_engine.h"
#include "tests/engine/list_test_support.h"
#include "tests/support/recording_front_end.h"
#include "tests/support/temp_dir.h"
#include "engine/list_signature.h"
#include "util/crypto.h"

namespace {

FileItem Parse(const std::string& strLine) {
    FileItem item;
    EXPECT_TRUE(CSyncEngine::ParseListLine(item, strLine.data(), strLine.size())) << strLine;
    return item;
}

FileItem TypeField(const std::string& strField) {
    FileItem item;
    CSyncEngine::ParseFileTypeField(item, strField);
    return item;
}

class ListFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_cfg.m_strLocalBaseDir = m_dir.Path();
        m_cfg.m_strListFileName = "_listfile.txt";
        m_engine.m_pCfg = &m_cfg;
        m_engine.m_pDlg = &m_frontEnd;
    }

    int Read(const std::string& strList) {
        m_dir.WriteFile("_listfile.txt", strList);
        return ReadAgain();
    }
    int ReadAgain() {
        return m_engine.GetFileListFileFromFile(m_engine.m_DownFileItemList,
                                                m_engine.m_RegFileItemList);
    }
    std::vector<std::string> Sources(const FileItemList& list) const {
        std::vector<std::string> vec;
        for (const auto& pItem : list)
            vec.push_back(pItem->m_strSourceFile);
        return vec;
    }
    std::string Base() const { return m_dir.Path() + "/"; }

    CTempDir m_dir;
    CLogCapture m_log;
    CTideCfg m_cfg{m_dir.Sub("config/Tidewell.ini")};
    CRecordingFrontEnd m_frontEnd;
    CSyncEngine m_engine;
};

using Strings = std::vector<std::string>;

}  // namespace

// ---- Field splitting ----

TEST(ListLineTest, RegRecordWithEmptyFields) {
    FileItem item = Parse("a/b.dll,,,REG");
    EXPECT_EQ("a/b.dll", item.m_strSourceFile);
    EXPECT_EQ("a/b.dll", item.m_strTargetRel);
    EXPECT_EQ("a/b.dll", item.m_strTargetFile);
    EXPECT_EQ(kFileTypeReg, item.m_nFileType);
    EXPECT_EQ(2, item.m_nSysFlag);
    EXPECT_EQ("", item.m_strModifyTime);
    EXPECT_EQ("", item.m_strFileSize);
}

TEST(ListLineTest, AllFieldsAndTimeDigitsOnly) {
    FileItem item = Parse("src/a.dll,bin\\x/a.dll,SYSTEM,ZIP,2024-03-15 09:07:02,1234,ignored");
    EXPECT_EQ("src/a.dll", item.m_strSourceFile);
    EXPECT_EQ("bin/x/a.dll", item.m_strTargetRel);  // both separators become "/"
    EXPECT_EQ(1, item.m_nSysFlag);
    EXPECT_EQ(kFileTypeZip, item.m_nFileType);
    EXPECT_EQ("20240315090702", item.m_strModifyTime);
    EXPECT_EQ("1234", item.m_strFileSize);
}

TEST(ListLineTest, TwoCommasInARowKeepTheDefault) {
    FileItem item = Parse("a.dll,,,,20240101000000,10");
    EXPECT_EQ(2, item.m_nSysFlag);
    EXPECT_EQ(kFileTypeNormal, item.m_nFileType);
    EXPECT_EQ("20240101000000", item.m_strModifyTime);
    EXPECT_EQ("10", item.m_strFileSize);
    EXPECT_EQ(1, Parse("a.dll,t.dll,SYS").m_nSysFlag);
    EXPECT_EQ(2, Parse("a.dll,t.dll,sys").m_nSysFlag);  // case-sensitive
}

TEST(ListLineTest, QuotedPathKeepsCommaAndSkipsTheByteAfterTheQuote) {
    FileItem item = Parse("\"a,b.dll\",t/x.dll,SYS");
    EXPECT_EQ("a,b.dll", item.m_strSourceFile);
    EXPECT_EQ("t/x.dll", item.m_strTargetRel);
    EXPECT_EQ(1, item.m_nSysFlag);
    // Whatever follows the closing quote is skipped, comma or not.
    EXPECT_EQ("b.dll", Parse("\"a.dll\"Xb.dll").m_strTargetRel);
    // A quoted target field as well.
    EXPECT_EQ("my dir/a,1.dll", Parse("a.dll,\"my dir/a,1.dll\",,REG").m_strTargetRel);
    EXPECT_EQ(kFileTypeReg, Parse("a.dll,\"my dir/a,1.dll\",,REG").m_nFileType);
}

TEST(ListLineTest, BackslashProtectsInsideQuotesAndStays) {
    FileItem item = Parse("\"a\\\"b.dll\",x.dll");
    EXPECT_EQ("a\\\"b.dll", item.m_strSourceFile);
    EXPECT_EQ("x.dll", item.m_strTargetRel);
}

TEST(ListLineTest, QuotesStayInLaterFieldsAndOnlyProtectCommas) {
    FileItem item = Parse("a.dll,,\"SYS,x\",REG");
    EXPECT_EQ(2, item.m_nSysFlag);  // the field is "SYS,x" with its quotes
    EXPECT_EQ(kFileTypeReg, item.m_nFileType);
}

TEST(ListLineTest, ArgumentWithCommaSurvivesTheFieldSplit) {
    FileItem item = Parse("run.exe,,,EXE|w=1/a=\"-x,y\",20240101000000");
    EXPECT_EQ(kFileTypeExe, item.m_nFileType);
    EXPECT_EQ(1, item.m_bWaitClose);
    EXPECT_EQ("-x,y", item.m_strArguments);
    EXPECT_EQ("20240101000000", item.m_strModifyTime);
}

TEST(ListLineTest, FieldLengthLimit) {
    std::string str511(511, 's');
    std::string str512(512, 's');
    FileItem item;
    EXPECT_TRUE(CSyncEngine::ParseListLine(item, (str511 + ",t.dll").data(), 517));
    EXPECT_EQ(str511, item.m_strSourceFile);
    std::string strLong = "a.dll," + str512;
    FileItem rejected;
    EXPECT_FALSE(CSyncEngine::ParseListLine(rejected, strLong.data(), strLong.size()));
    std::string strQuoted = "\"" + str512 + "\"";
    EXPECT_FALSE(CSyncEngine::ParseListLine(rejected, strQuoted.data(), strQuoted.size()));
}

// ---- Type field ----

TEST(TypeFieldTest, TokensAndOptions) {
    EXPECT_EQ(kFileTypeReg, TypeField("REG").m_nFileType);
    EXPECT_EQ(kFileTypeReg, TypeField(" reg ").m_nFileType);
    EXPECT_EQ(kFileTypeReg, TypeField("Reg|").m_nFileType);  // "|" at position 3
    EXPECT_EQ(kFileTypeNormal, TypeField("EXE/w=1").m_nFileType);
    EXPECT_EQ(kFileTypeNormal, TypeField("REGS").m_nFileType);
    EXPECT_EQ(kFileTypeNormal, TypeField("ab|REG").m_nFileType);  // "|" too early
    EXPECT_EQ(kFileTypeNormal, TypeField("").m_nFileType);
    const std::pair<const char*, int> kCodes[] = {
        {"CMD", 3}, {"EXE", 3}, {"DEL", 4}, {"FNT", 5}, {"FON", 5},
        {"REF", 6}, {"ZIP", 7}, {"ASM", 8}, {"ZRG", 9},
    };
    for (const auto& [pszToken, nType] : kCodes)
        EXPECT_EQ(nType, TypeField(pszToken).m_nFileType);

    FileItem zip = TypeField("zip|PASS");
    EXPECT_EQ(kFileTypeZip, zip.m_nFileType);
    EXPECT_EQ(1, zip.m_bPassOnFail);
    EXPECT_EQ(0, zip.m_bWaitClose);

    FileItem exe = TypeField("EXE |p=1//w=1/a=\"/S /D=c:\\\\x\"/x=9");
    EXPECT_EQ(kFileTypeExe, exe.m_nFileType);
    EXPECT_EQ(1, exe.m_bPassOnFail);
    EXPECT_EQ(1, exe.m_bWaitClose);
    EXPECT_EQ("/S /D=c:\\\\x", exe.m_strArguments);

    EXPECT_EQ("", TypeField("EXE|a=noquotes").m_strArguments);
    EXPECT_EQ("", TypeField("EXE|a=\"").m_strArguments);
    EXPECT_EQ(0, TypeField("EXE|pass").m_bPassOnFail);  // options are case-sensitive
}

// ---- Reading the file ----

TEST_F(ListFileTest, RegRecordGoesToBothLists) {
    ASSERT_EQ(0, Read("a/b.dll,,,REG\n"));
    ASSERT_EQ(1u, m_engine.m_DownFileItemList.size());
    const FileItem& down = *m_engine.m_DownFileItemList.front();
    EXPECT_EQ(Base() + "a/b.dll", down.m_strTargetFile);
    EXPECT_EQ(0, down.m_bDownloaded);
    ASSERT_EQ(1u, m_engine.m_RegFileItemList.size());
    const FileItem& reg = *m_engine.m_RegFileItemList.front();
    EXPECT_EQ(1, reg.m_bDownloaded);
    EXPECT_EQ("a/b.dll", reg.m_strSourceFile);
    EXPECT_EQ(Base() + "a/b.dll", reg.m_strTargetFile);
    EXPECT_EQ(kFileTypeReg, reg.m_nFileType);
    EXPECT_EQ("", reg.m_strTargetRel);  // not copied
    EXPECT_TRUE(m_log.Has("DEBUG", "CSyncEngine::GetFileListFileFromFile> Add Reg File List : " +
                                       Base() + "a/b.dll"));
    EXPECT_EQ(Strings{"SetStatusText:다운로드 리스트 확인 중..."}, m_frontEnd.Calls());
}

TEST_F(ListFileTest, CommentsEmptyLinesAndWindowsLineEnds) {
    ASSERT_EQ(0, Read("#a.dll,,,REG\r\n!b.dll\r\n\r\n   \r\nc.dll,,,,20240101000000,10\r\n"
                      ",no-source.dll\nlast.dll"));
    EXPECT_EQ((Strings{"   ", "c.dll", "last.dll"}), Sources(m_engine.m_DownFileItemList));
    const FileItem& c = **std::next(m_engine.m_DownFileItemList.begin());
    EXPECT_EQ("10", c.m_strFileSize);  // no CR left behind
    EXPECT_TRUE(m_engine.m_RegFileItemList.empty());
}

TEST_F(ListFileTest, LongLineIsReadInPiecesOf1022Bytes) {
    // Two records on one 2000-byte line: the first piece ends at byte 1022.
    std::string strFirst = "first.dll,,,REG";
    while (strFirst.size() < 1022) {
        strFirst += "," + std::string(std::min<size_t>(300, 1021 - strFirst.size()), 'f');
    }
    ASSERT_EQ(1022u, strFirst.size());
    std::string strSecond = "second.dll,,,ZIP";
    while (strSecond.size() < 978) {
        strSecond += "," + std::string(std::min<size_t>(300, 977 - strSecond.size()), 's');
    }
    ASSERT_EQ(2000u, (strFirst + strSecond).size());
    ASSERT_EQ(0, Read(strFirst + strSecond + "\n" + std::string(1022, '#') + "\nthird.dll\n"));
    EXPECT_EQ((Strings{"first.dll", "second.dll", "third.dll"}),
              Sources(m_engine.m_DownFileItemList));
    EXPECT_EQ(kFileTypeReg, m_engine.m_DownFileItemList.front()->m_nFileType);
    EXPECT_EQ(kFileTypeZip, (*std::next(m_engine.m_DownFileItemList.begin()))->m_nFileType);
}

TEST_F(ListFileTest, OverlongFieldRejectsItsRecordWithALogLine) {
    ASSERT_EQ(0, Read("a.dll\n# note\nb.dll," + std::string(600, 'x') + "\nc.dll\n"));
    EXPECT_EQ((Strings{"a.dll", "c.dll"}), Sources(m_engine.m_DownFileItemList));
    EXPECT_TRUE(m_log.Has("ERROR",
                          "CSyncEngine::GetFileListFileFromFile> Line 3: a field of 512 "
                          "bytes or more, record skipped (b.dll,xxx"));
}

TEST_F(ListFileTest, Cp949ListGivesUtf8Names) {
    std::string strPath = m_dir.Sub("_listfile.txt");
    ASSERT_EQ(0, RunShell("python3 -c \"import sys; sys.stdout.buffer.write("
                          "'한글/파일.dll,,,REG\\r\\n똠방/각하.txt,자료/각하.txt\\r\\n'"
                          ".encode('cp949'))\" > '" +
                          strPath + "'"));
    ASSERT_EQ(0, ReadAgain());
    EXPECT_EQ((Strings{"한글/파일.dll", "똠방/각하.txt"}), Sources(m_engine.m_DownFileItemList));
    EXPECT_EQ(Base() + "자료/각하.txt", m_engine.m_DownFileItemList.back()->m_strTargetFile);
    ASSERT_EQ(1u, m_engine.m_RegFileItemList.size());
    EXPECT_EQ(Base() + "한글/파일.dll", m_engine.m_RegFileItemList.front()->m_strTargetFile);
    EXPECT_TRUE(m_log.Has("INFO", "CSyncEngine::GetFileListFileFromFile> " + strPath +
                                      " is not UTF-8, read as CP949"));
}

TEST_F(ListFileTest, Utf8ListIsTakenAsItIs) {
    ASSERT_EQ(0, Read("한글/파일.dll,,,REG\n"));
    EXPECT_EQ(Strings{"한글/파일.dll"}, Sources(m_engine.m_DownFileItemList));
    EXPECT_FALSE(m_log.Mentions("CP949"));
}

TEST_F(ListFileTest, MissingListFileFails) {
    EXPECT_EQ(-1, ReadAgain());
    EXPECT_TRUE(m_log.Has("DEBUG", "CSyncEngine::GetFileListFileFromFile> fopen(" +
                                       m_dir.Sub("_listfile.txt") + ") Fail, ErrNo = 2"));
    EXPECT_TRUE(m_frontEnd.Calls().empty());
}

TEST_F(ListFileTest, OversizedListFileIsRefused) {
    std::string strPath = m_dir.WriteFile("_listfile.txt", "a.dll\n");
    std::filesystem::resize_file(strPath, 16ULL * 1024 * 1024 + 1);  // sparse
    EXPECT_EQ(-1, ReadAgain());
    EXPECT_TRUE(m_engine.m_DownFileItemList.empty());
    EXPECT_TRUE(m_log.Mentions("is larger than 16777216 bytes"));
}

TEST_F(ListFileTest, TargetsAreResolvedAgainstTheBaseFolder) {
    m_frontEnd.m_mapSpecialDir["_FONTS"] = "/usr/share/fonts/x";
    ASSERT_EQ(0, Read("f/a.ttf,_FONTS/a.ttf,,FNT\nbin/b.dll\nc.dll,/opt/c.dll\n"));
    Strings vecTargets;
    for (const auto& pItem : m_engine.m_DownFileItemList)
        vecTargets.push_back(pItem->m_strTargetFile);
    EXPECT_EQ((Strings{"/usr/share/fonts/x/a.ttf", Base() + "bin/b.dll", Base() + "opt/c.dll"}),
              vecTargets);
}

TEST_F(ListFileTest, HashFieldCountsOnlyWhenWellFormedAndWithAKeyMustBe) {
    const std::string strHash(64, 'a');
    struct Case {
        std::string strField6;
        bool bWellFormed;
    } const kCases[] = {
        {strHash, true},
        {strHash + ",more fields", true},
        {"", true},  // absent
        {std::string(64, 'A'), false},
        {strHash.substr(1), false},
        {strHash + "0", false},
        {std::string(63, 'a') + "g", false},
        {"\"" + strHash + "\"", false},
    };
    std::string strPem, strPublic, strError;
    ASSERT_TRUE(GenerateEd25519Key(&strPem, &strPublic));
    for (const Case& c : kCases) {
        std::string strBody = "# tidewell-list version=9\nfirst.txt,,,,20240101000000,3," +
                              strHash + "\nsecond.txt,,,,20240101000000,3," + c.strField6 + "\n";
        // Without a key a malformed hash is no hash.
        m_engine.ClearAllFileItemLists();
        m_cfg.m_strListPublicKey.clear();
        ASSERT_EQ(0, Read(strBody)) << c.strField6;
        ASSERT_EQ(2u, m_engine.m_DownFileItemList.size());
        EXPECT_EQ(strHash, m_engine.m_DownFileItemList.front()->m_strSha256);
        EXPECT_EQ(c.bWellFormed ? c.strField6.substr(0, c.strField6.find(',')) : "",
                  m_engine.m_DownFileItemList.back()->m_strSha256);

        // With a key it makes the signed list unacceptable.
        m_engine.ClearAllFileItemLists();
        m_cfg.m_strListPublicKey = EncodeBase64(strPublic);
        std::string strList = strBody;
        ASSERT_TRUE(SignListText(&strList, strPem, &strError));
        EXPECT_EQ(c.bWellFormed ? 0 : CSyncEngine::kListRefused, Read(strList)) << c.strField6;
        EXPECT_EQ(c.bWellFormed ? 9u : 0u, m_engine.m_nAcceptedListVersion);
    }
    EXPECT_TRUE(m_log.Has("ERROR", "CSyncEngine::GetFileListFileFromFile> List file refused: "
                                   "malformed hash field on line 3"));
}

TEST_F(ListFileTest, VersionOnDiskCountsWhenTheSettingsInMemoryAreOlder) {
    std::string strPem, strPublic, strError;
    ASSERT_TRUE(GenerateEd25519Key(&strPem, &strPublic));
    std::string strList = "# tidewell-list version=9\na.txt\n";
    ASSERT_TRUE(SignListText(&strList, strPem, &strError));
    m_cfg.m_strListPublicKey = EncodeBase64(strPublic);
    // The run's copy of the settings was made before another run took version 10.
    m_dir.WriteFile("config/Tidewell.ini", "[TIDE]\nLIST_VERSION=10\n");
    ASSERT_EQ(0u, m_cfg.m_nListVersion);
    EXPECT_EQ(CSyncEngine::kListRefused, Read(strList));
    EXPECT_TRUE(m_log.Has("ERROR",
                          "CSyncEngine::GetFileListFileFromFile> List file refused: "
                          "older version 9 < 10"));
}

// ---- Resource update mode ----

TEST(ResourceFileTest, AllowedResourceFiles) {
    EXPECT_EQ(0, CSyncEngine::IsAllowedResourceFile(""));
    EXPECT_EQ(1, CSyncEngine::IsAllowedResourceFile("a.ex"));
    EXPECT_EQ(1, CSyncEngine::IsAllowedResourceFile(".exe"));  // four bytes or fewer
    EXPECT_EQ(0, CSyncEngine::IsAllowedResourceFile("bin/a.EXE"));
    EXPECT_EQ(0, CSyncEngine::IsAllowedResourceFile("run.bat"));
    EXPECT_EQ(0, CSyncEngine::IsAllowedResourceFile("run.Cmd"));
    EXPECT_EQ(0, CSyncEngine::IsAllowedResourceFile("config/x.mdb"));
    EXPECT_EQ(0, CSyncEngine::IsAllowedResourceFile("CONFIG\\x.MDB"));
    EXPECT_EQ(0, CSyncEngine::IsAllowedResourceFile("customdata/a/x.mdb"));
    EXPECT_EQ(1, CSyncEngine::IsAllowedResourceFile("data/x.mdb"));
    // The fixed program names without a suffix are programs too.
    EXPECT_EQ(0, CSyncEngine::IsAllowedResourceFile("Corvid@LoomhallKiro"));
    EXPECT_EQ(0, CSyncEngine::IsAllowedResourceFile("sub/TidewellKiro"));
    EXPECT_EQ(0, CSyncEngine::IsAllowedResourceFile("TidewellKiroRun1"));
    EXPECT_EQ(1, CSyncEngine::IsAllowedResourceFile("TidewellKiro.txt"));
    EXPECT_EQ(1, CSyncEngine::IsAllowedResourceFile("/config/x.mdb"));
    EXPECT_EQ(1, CSyncEngine::IsAllowedResourceFile("x.mdb"));
    EXPECT_EQ(0, CSyncEngine::IsAllowedResourceFile("bin/Corvid@Loomhall.dll"));
    EXPECT_EQ(1, CSyncEngine::IsAllowedResourceFile("bin/Corvid@Loomhall.dlls"));
    EXPECT_EQ(1, CSyncEngine::IsAllowedResourceFile("bin/corvid@loomhall.dll"));
    EXPECT_EQ(1, CSyncEngine::IsAllowedResourceFile("res/a.png"));
}

TEST_F(ListFileTest, ResourceModeWithoutTypesKeepsPlainAndZipRecords) {
    CTideApp app(nullptr);
    app.m_bResourceMode = 1;
    ASSERT_EQ(0, Read("a.png\nb.zip,,,ZIP\nc.dll,,,REG\nd.png,,SYS\ne.exe\nconfig/x.mdb\n"
                      "data/x.mdb\nf.txt,,,DEL\n"));
    EXPECT_EQ((Strings{"a.png", "b.zip", "data/x.mdb"}), Sources(m_engine.m_DownFileItemList));
    EXPECT_TRUE(m_engine.m_RegFileItemList.empty());
}

TEST_F(ListFileTest, ResourceModeWithTypesKeepsOnlyThoseExtensions) {
    CTideApp app(nullptr);
    app.m_bResourceMode = 1;
    app.m_mapAllowFileType = {"png", "dll", "exe"};
    ASSERT_EQ(0, Read("a.png\nb.PNG\nc.dll,,,REG\nd.exe\nnoext\n.png\ndir.png/file\n"
                      "e.txt\nf.png,,SYS\n"));
    EXPECT_EQ((Strings{"a.png", "c.dll", "f.png"}), Sources(m_engine.m_DownFileItemList));
    EXPECT_EQ(1u, m_engine.m_RegFileItemList.size());
}

TEST_F(ListFileTest, OutsideResourceModeNothingIsFiltered) {
    CTideApp app(nullptr);
    ASSERT_EQ(0, Read("a.exe\nconfig/x.mdb\nc.dll,,,REG\n"));
    EXPECT_EQ(3u, m_engine.m_DownFileItemList.size());
}
