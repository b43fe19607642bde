// The list file reader: field rules, the type field, the resource filter, the
// code page, the hash field and the limits, on real list files.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "engine/list_signature.h"
#include "engine/sync_engine.h"
#include "tests/support/log_capture.h"
#include "tests/support/recording_front_end.h"
#include "tests/support/temp_dir.h"
#include "util/crypto.h"

namespace {

using Strings = std::vector<std::string>;

// {record line} -> the fields read from it.
TEST(ListLineTest, FieldsAreSplitAndRead) {
    struct Case {
        std::string strLine;
        const char* pszSource;
        const char* pszTarget;
        int nSysFlag;
        int nType;
        const char* pszTime;
        const char* pszSize;
    } const kCases[] = {
        {"a/b.dll,,,REG", "a/b.dll", "a/b.dll", 2, kFileTypeReg, "", ""},
        // Both separators become "/"; only the time's digits count.
        {"src/a.dll,bin\\x/a.dll,SYSTEM,ZIP,2024-03-15 09:07:02,1234,ignored", "src/a.dll",
         "bin/x/a.dll", 1, kFileTypeZip, "20240315090702", "1234"},
        {"a.dll,t.dll,sys", "a.dll", "t.dll", 2, kFileTypeNormal, "", ""},  // case-sensitive
        // A quoted path keeps its comma; the byte after the closing quote is skipped.
        {"\"a,b.dll\",t/x.dll,SYS", "a,b.dll", "t/x.dll", 1, kFileTypeNormal, "", ""},
        {"\"a.dll\"Xb.dll", "a.dll", "b.dll", 2, kFileTypeNormal, "", ""},
        // A backslash protects inside quotes and stays.
        {"\"a\\\"b.dll\",x.dll", "a\\\"b.dll", "x.dll", 2, kFileTypeNormal, "", ""},
        // Quotes stay in later fields and only protect commas.
        {"a.dll,,\"SYS,x\",REG", "a.dll", "a.dll", 2, kFileTypeReg, "", ""},
        {"run.exe,,,EXE|w=1/a=\"-x,y\",20240101000000", "run.exe", "run.exe", 2, kFileTypeExe,
         "20240101000000", ""},
        {std::string(511, 's') + ",t.dll", nullptr, "t.dll", 2, kFileTypeNormal, "", ""},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.strLine.substr(0, 40));
        FileItem item;
        ASSERT_TRUE(CSyncEngine::ParseListLine(item, c.strLine.data(), c.strLine.size()));
        EXPECT_EQ(item.m_strSourceFile, c.pszSource ? c.pszSource : std::string(511, 's'));
        EXPECT_EQ(item.m_strTargetRel, c.pszTarget);
        EXPECT_EQ(item.m_nSysFlag, c.nSysFlag);
        EXPECT_EQ(item.m_nFileType, c.nType);
        EXPECT_EQ(item.m_strModifyTime, c.pszTime);
        EXPECT_EQ(item.m_strFileSize, c.pszSize);
    }
    FileItem item;
    std::string strLine = "run.exe,,,EXE|w=1/a=\"-x,y\"";
    ASSERT_TRUE(CSyncEngine::ParseListLine(item, strLine.data(), strLine.size()));
    EXPECT_EQ(item.m_strArguments, "-x,y");
    // A field of 512 bytes or more refuses the record.
    for (const std::string& strLong :
         {"a.dll," + std::string(512, 's'), "\"" + std::string(512, 's') + "\""}) {
        EXPECT_FALSE(CSyncEngine::ParseListLine(item, strLong.data(), strLong.size()));
    }
}

// {type field} -> type, pass option, wait option, arguments.
TEST(ListLineTest, TypeFieldTokensAndOptions) {
    // The tokens no list of the reader's other tests carries, and the rules.
    const std::pair<const char*, int> kTypes[] = {
        {" reg ", kFileTypeReg},    {"Reg|", kFileTypeReg},       {"CMD", kFileTypeExe},
        {"FON", kFileTypeFont},     {"ASM", kFileTypeAsm},        {"ZRG", kFileTypeZipReg},
        {"", kFileTypeNormal},      {"EXE/w=1", kFileTypeNormal}, {"REGS", kFileTypeNormal},
        {"ab|REG", kFileTypeNormal}};  // "|" too early
    for (const auto& [pszField, nType] : kTypes) {
        FileItem item;
        CSyncEngine::ParseFileTypeField(item, pszField);
        EXPECT_EQ(item.m_nFileType, nType) << pszField;
    }
    struct Case {
        const char* pszField;
        int nType;
        int bPass = 0;
        int bWait = 0;
        const char* pszArgs = "";
    } const kCases[] = {
        {"zip|PASS", kFileTypeZip, 1},
        {"EXE |p=1//w=1/a=\"/S /D=c:\\\\x\"/x=9", kFileTypeExe, 1, 1, "/S /D=c:\\\\x"},
        {"EXE|a=noquotes", kFileTypeExe},
        {"EXE|a=\"", kFileTypeExe},
        {"EXE|pass", kFileTypeExe},  // options are case-sensitive
    };
    for (const Case& c : kCases) {
        FileItem item;
        CSyncEngine::ParseFileTypeField(item, c.pszField);
        EXPECT_EQ(item.m_nFileType, c.nType) << c.pszField;
        EXPECT_EQ(item.m_bPassOnFail, c.bPass) << c.pszField;
        EXPECT_EQ(item.m_bWaitClose, c.bWait) << c.pszField;
        EXPECT_EQ(item.m_strArguments, c.pszArgs) << c.pszField;
    }
}

// {path} -> may it be updated in resource mode: not programs, settings or
// the fixed program names (also without a suffix).
TEST(ListLineTest, ResourceModeRefusesProgramsAndSettings) {
    for (const char* pszPath :
         {"", "bin/a.EXE", "run.Cmd", "CONFIG\\x.MDB", "customdata/a/x.mdb", "Corvid@LoomhallKiro",
          "sub/TidewellKiro", "TidewellKiroRun1", "bin/Corvid@Loomhall.dll"})
        EXPECT_EQ(CSyncEngine::IsAllowedResourceFile(pszPath), 0) << pszPath;
    for (const char* pszPath : {"a.ex", "data/x.mdb", "/config/x.mdb", "TidewellKiro.txt",
                                "bin/Corvid@Loomhall.dlls", "bin/corvid@loomhall.dll"})
        EXPECT_EQ(CSyncEngine::IsAllowedResourceFile(pszPath), 1) << pszPath;
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
        m_engine.ClearAllFileItemLists();
        m_dir.WriteFile("_listfile.txt", strList);
        return ReadAgain();
    }
    int ReadAgain() {
        return m_engine.GetFileListFileFromFile(m_engine.m_DownFileItemList,
                                                m_engine.m_RegFileItemList);
    }
    Strings Sources(bool bTargets = false) const {
        Strings vec;
        for (const auto& pItem : m_engine.m_DownFileItemList)
            vec.push_back(bTargets ? pItem->m_strTargetFile : pItem->m_strSourceFile);
        return vec;
    }
    std::string Base() const { return m_dir.Path() + "/"; }

    CTempDir m_dir;
    CLogCapture m_log;
    CTideCfg m_cfg{m_dir.Sub("config/Tidewell.ini")};
    CRecordingFrontEnd m_frontEnd;
    CSyncEngine m_engine;
};

TEST_F(ListFileTest, RecordsAreReadLineByLine) {
    // Two records on one 2000-byte line: lines are read in pieces of 1022 bytes.
    std::string strFirst = "first.dll,,,REG";
    while (strFirst.size() < 1022)
        strFirst += "," + std::string(std::min<size_t>(300, 1021 - strFirst.size()), 'f');
    std::string strSecond = "second.dll,,,ZIP";
    while (strSecond.size() < 978)
        strSecond += "," + std::string(std::min<size_t>(300, 977 - strSecond.size()), 's');
    struct Case {
        std::string strList;
        Strings vecSources;
    } const kCases[] = {
        {"#a.dll,,,REG\r\n!b.dll\r\n\r\n   \r\nc.dll,,,,20240101000000,10\r\n,no-source.dll\n"
         "last.dll",
         {"   ", "c.dll", "last.dll"}},
        {strFirst + strSecond + "\n" + std::string(1022, '#') + "\nthird.dll\n",
         {"first.dll", "second.dll", "third.dll"}},
        {"a.dll\n# note\nb.dll," + std::string(600, 'x') + "\nc.dll\n", {"a.dll", "c.dll"}},
    };
    for (const Case& c : kCases) {
        ASSERT_EQ(Read(c.strList), 0);
        EXPECT_EQ(Sources(), c.vecSources);
    }
    ASSERT_EQ(Read(kCases[0].strList), 0);
    EXPECT_EQ((*std::next(m_engine.m_DownFileItemList.begin()))->m_strFileSize, "10");  // no CR
    EXPECT_TRUE(m_log.Has("ERROR",
                          "CSyncEngine::GetFileListFileFromFile> Line 3: a field of 512 "
                          "bytes or more, record skipped (b.dll,xxx"));
    // A REG record goes to both lists, with the full target path.
    m_frontEnd.m_mapSpecialDir["_FONTS"] = "/usr/share/fonts/x";
    ASSERT_EQ(Read("a/b.dll,,,REG\nf/a.ttf,_FONTS/a.ttf,,FNT\nc.dll,/opt/c.dll\n"), 0);
    EXPECT_EQ(Sources(true),
              (Strings{Base() + "a/b.dll", "/usr/share/fonts/x/a.ttf", Base() + "opt/c.dll"}));
    ASSERT_EQ(m_engine.m_RegFileItemList.size(), 1u);
    EXPECT_EQ(m_engine.m_RegFileItemList.front()->m_strTargetFile, Base() + "a/b.dll");
    EXPECT_EQ(m_engine.m_RegFileItemList.front()->m_bDownloaded, 1);
    EXPECT_EQ(m_engine.m_DownFileItemList.front()->m_bDownloaded, 0);
}

TEST_F(ListFileTest, Cp949ListGivesUtf8Names) {
    std::string strPath = m_dir.Sub("_listfile.txt");
    ASSERT_EQ(0, RunShell("python3 -c \"import sys; sys.stdout.buffer.write("
                          "'한글/파일.dll,,,REG\\r\\n똠방/각하.txt,자료/각하.txt\\r\\n'"
                          ".encode('cp949'))\" > '" +
                          strPath + "'"));
    ASSERT_EQ(ReadAgain(), 0);
    EXPECT_EQ(Sources(), (Strings{"한글/파일.dll", "똠방/각하.txt"}));
    EXPECT_EQ(m_engine.m_DownFileItemList.back()->m_strTargetFile, Base() + "자료/각하.txt");
    ASSERT_EQ(Read("한글/파일.dll,,,REG\n"), 0);  // UTF-8 is taken as it is
    EXPECT_EQ(Sources(), Strings{"한글/파일.dll"});
    std::string strLog = m_log.Text();
    EXPECT_NE(strLog.find(" is not UTF-8, read as CP949"), std::string::npos);
    EXPECT_EQ(strLog.find("read as CP949"), strLog.rfind("read as CP949"));
}

TEST_F(ListFileTest, MissingOrOversizedListFails) {
    EXPECT_EQ(ReadAgain(), -1);
    EXPECT_TRUE(m_frontEnd.Calls().empty());
    std::string strPath = m_dir.WriteFile("_listfile.txt", "a.dll\n");
    std::filesystem::resize_file(strPath, 16ULL * 1024 * 1024 + 1);  // sparse
    EXPECT_EQ(ReadAgain(), -1);
    EXPECT_TRUE(m_engine.m_DownFileItemList.empty());
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
        SCOPED_TRACE(c.strField6);
        std::string strBody = "# tidewell-list version=9\nfirst.txt,,,,20240101000000,3," +
                              strHash + "\nsecond.txt,,,,20240101000000,3," + c.strField6 + "\n";
        // Without a key a malformed hash is no hash.
        m_cfg.m_strListPublicKey.clear();
        ASSERT_EQ(Read(strBody), 0);
        ASSERT_EQ(m_engine.m_DownFileItemList.size(), 2u);
        EXPECT_EQ(m_engine.m_DownFileItemList.front()->m_strSha256, strHash);
        EXPECT_EQ(m_engine.m_DownFileItemList.back()->m_strSha256,
                  c.bWellFormed ? c.strField6.substr(0, c.strField6.find(',')) : "");
        // With a key it makes the signed list unacceptable.
        m_cfg.m_strListPublicKey = EncodeBase64(strPublic);
        std::string strList = strBody;
        ASSERT_TRUE(SignListText(&strList, strPem, &strError));
        EXPECT_EQ(Read(strList), c.bWellFormed ? 0 : CSyncEngine::kListRefused);
        EXPECT_EQ(m_engine.m_nAcceptedListVersion, c.bWellFormed ? 9u : 0u);
    }
    // The version on disk counts when the settings in memory are older: the
    // run's copy was made before another run took version 10.
    m_dir.WriteFile("config/Tidewell.ini", "[TIDE]\nLIST_VERSION=10\n");
    std::string strList = "# tidewell-list version=9\na.txt\n";
    ASSERT_TRUE(SignListText(&strList, strPem, &strError));
    EXPECT_EQ(Read(strList), CSyncEngine::kListRefused);
    EXPECT_TRUE(m_log.Has("ERROR",
                          "CSyncEngine::GetFileListFileFromFile> List file refused: "
                          "older version 9 < 10"));
}

// {allowed types} -> the records kept in resource mode; outside it, all are.
TEST_F(ListFileTest, ResourceModeFiltersRecords) {
    CTideApp app(nullptr);
    struct Case {
        int bResourceMode;
        std::set<std::string> setTypes;
        std::string strList;
        Strings vecSources;
    } const kCases[] = {
        {1,
         {},
         "a.png\nb.zip,,,ZIP\nc.dll,,,REG\nd.png,,SYS\ne.exe\nconfig/x.mdb\n"
         "data/x.mdb\nf.txt,,,DEL\n",
         {"a.png", "b.zip", "data/x.mdb"}},
        {1,
         {"png", "dll", "exe"},
         "a.png\nb.PNG\nc.dll,,,REG\nd.exe\nnoext\n.png\ndir.png/file\n"
         "e.txt\nf.png,,SYS\n",
         {"a.png", "c.dll", "f.png"}},
        {0, {}, "a.exe\nconfig/x.mdb\nc.dll,,,REG\n", {"a.exe", "config/x.mdb", "c.dll"}},
    };
    for (const Case& c : kCases) {
        app.m_bResourceMode = c.bResourceMode;
        app.m_mapAllowFileType = c.setTypes;
        ASSERT_EQ(Read(c.strList), 0);
        EXPECT_EQ(Sources(), c.vecSources);
    }
}

}  // namespace
