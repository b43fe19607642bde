#include "log/my_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/system_error.h"
#include "tests/log/log_test_util.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kStamp = Stamp(2024, 3, 15, 9, 7, 2, 41);

class MyLogTest : public ::testing::Test {
protected:
    MyLogTest() : m_clock(LocalMs(2024, 3, 15, 9, 7, 2, 41)) {}

    std::string LogDir() const { return m_tmp.Sub("log"); }
    std::string TodayPath() const { return m_tmp.Sub("log/Tidewell_20240315.log"); }
    std::unique_ptr<CMyLog> MakeLog(int nMaxSizeMB = 10) {
        return std::make_unique<CMyLog>(nMaxSizeMB, LogDir(), "Tidewell", &m_clock);
    }

    CTempDir m_tmp;
    CFakeClock m_clock;
};

TEST_F(MyLogTest, WritesOneStampedLineNamedForTheLocalDate) {
    auto pLog = MakeLog();
    EXPECT_EQ(pLog->GetLogPath(), TodayPath());
    pLog->Log(2, "CSyncEngine::StartSyncThread> Start %s...", "m_pSyncThread");
    EXPECT_EQ(ReadWholeFile(TodayPath()),
              kStamp + "INFO  CSyncEngine::StartSyncThread> Start m_pSyncThread...\n");
}

TEST_F(MyLogTest, PrefixWithCommandWordNamesTheFile) {
    CMyLog log(10, LogDir(), "Tidewell_abc", &m_clock);
    EXPECT_EQ(log.GetLogPath(), m_tmp.Sub("log/Tidewell_abc_20240315.log"));
    log.Log(1, "x");
    EXPECT_TRUE(platform::FileExists(m_tmp.Sub("log/Tidewell_abc_20240315.log")));
}

TEST_F(MyLogTest, DateAndStampFollowTheLocalTimeZone) {
    const char* pszOld = getenv("TZ");
    std::string strOld = pszOld ? pszOld : "";
    setenv("TZ", "KST-9", 1);
    tzset();
    // 15:30 GMT on 2024-03-15 is already 00:30 on the 16th in Korea.
    m_clock.Set(1710516600000LL + 7);
    {
        auto pLog = MakeLog();
        EXPECT_EQ(pLog->GetLogPath(), m_tmp.Sub("log/Tidewell_20240316.log"));
        pLog->Log(3, "late");
    }
    if (pszOld) {
        setenv("TZ", strOld.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    EXPECT_EQ(ReadWholeFile(m_tmp.Sub("log/Tidewell_20240316.log")),
              "2024/03/16=00:30:00.007 : WARN  late\n");
}

// Level names by level; unknown levels print a blank name; the threshold
// drops lower levels and a disabled log writes nothing at all.
TEST_F(MyLogTest, LevelsThresholdAndSwitch) {
    const unsigned char abData[] = {'a'};
    const struct {
        int nThreshold;
        int bEnabled;
        int nLevel;
        const char* pszName;  // null: dropped
    } kCases[] = {
        {1, 1, 1, "DEBUG"}, {1, 1, 2, "INFO "}, {1, 1, 3, "WARN "},   {1, 1, 4, "ERROR"},
        {1, 1, 5, "FATAL"}, {1, 1, 7, "     "}, {1, 1, 100, "     "}, {1, 1, 0, nullptr},
        {3, 1, 2, nullptr}, {3, 1, 3, "WARN "}, {-5, 1, -1, "     "}, {1, 0, 5, nullptr},
    };
    for (const auto& c : kCases) {
        CTempDir tmp;
        CMyLog log(10, tmp.Path(), "Tidewell", &m_clock);
        log.SetLevel(c.nThreshold);
        log.SetEnabled(c.bEnabled);
        log.Log(c.nLevel, "text");
        log.LogDump(c.nLevel, 'A', 1, abData);
        log.LogHexDump(c.nLevel, 1, abData);
        std::string strText = ReadWholeFile(log.GetLogPath());
        SCOPED_TRACE(std::to_string(c.nThreshold) + "/" + std::to_string(c.bEnabled) + "/" +
                     std::to_string(c.nLevel));
        if (c.pszName == nullptr) {
            EXPECT_EQ(strText, "");
        } else {
            EXPECT_EQ(strText.substr(0, kStamp.size() + 11), kStamp + c.pszName + " text\n");
            EXPECT_NE(strText.find("Data Length = 1"), std::string::npos);
            EXPECT_NE(strText.find("00000000: 61"), std::string::npos);
        }
    }
}

// The day's file is appended to; missing folders are made, nested or
// relative to the working folder.
TEST_F(MyLogTest, AppendsAndMakesItsFolder) {
    m_tmp.WriteFile("log/Tidewell_20240315.log", "earlier run\n");
    MakeLog()->Log(1, "again");
    EXPECT_EQ(ReadWholeFile(TodayPath()), "earlier run\n" + kStamp + "DEBUG again\n");

    std::string strOldCwd = std::filesystem::current_path().string();
    ASSERT_EQ(chdir(m_tmp.Path().c_str()), 0);
    for (const std::string& strDir : {m_tmp.Sub("a/b/c/log"), std::string("rel/log")}) {
        CMyLog(10, strDir, "Tidewell", &m_clock).Log(1, "made");
    }
    ASSERT_EQ(chdir(strOldCwd.c_str()), 0);
    for (const char* pszDir : {"a/b/c/log", "rel/log"}) {
        EXPECT_EQ(ReadWholeFile(m_tmp.Sub(pszDir) + "/Tidewell_20240315.log"),
                  kStamp + "DEBUG made\n")
            << pszDir;
    }
}

TEST_F(MyLogTest, FileThatCannotBeOpenedSkipsEveryWrite) {
    // A folder where the file should be makes the open fail.
    std::filesystem::create_directories(TodayPath());
    auto pLog = MakeLog();
    const unsigned char abData[] = {1, 2, 3};
    for (int i = 0; i < 250; ++i) {
        pLog->Log(4, "lost %d", i);
    }
    pLog->LogDump(4, 'A', 3, abData);
    pLog->LogHexDump(4, 3, abData);
    pLog->LogLastErrorText();
    EXPECT_TRUE(std::filesystem::is_empty(TodayPath()));
    EXPECT_FALSE(platform::FileExists(TodayPath() + ".bak"));
}

// --- size limit ------------------------------------------------------------

std::string MessageLine(int n) {
    return kStamp + "DEBUG line " + std::to_string(n) + "\n";
}

TEST_F(MyLogTest, SizeCheckOnThe101stLineMovesTheFileToItsBackup) {
    const std::string strFill(1048576, 'x');
    m_tmp.WriteFile("log/Tidewell_20240315.log", strFill);
    m_tmp.WriteFile("log/Tidewell_20240315.log.bak", "older backup\n");
    auto pLog = MakeLog();
    pLog->SetMaxSizeMB(1);

    std::string strFirst100;
    for (int n = 1; n <= 100; ++n) {
        pLog->Log(1, "line %d", n);
        strFirst100 += MessageLine(n);
    }
    // No check yet: the oversized file keeps growing.
    EXPECT_EQ(ReadWholeFile(TodayPath()), strFill + strFirst100);
    EXPECT_EQ(ReadWholeFile(TodayPath() + ".bak"), "older backup\n");

    pLog->Log(1, "line %d", 101);
    EXPECT_EQ(ReadWholeFile(TodayPath() + ".bak"), strFill + strFirst100);
    EXPECT_EQ(ReadWholeFile(TodayPath()), MessageLine(101));

    // The next check, on line 202, finds a small file and leaves it.
    std::string strAfter = MessageLine(101);
    for (int n = 102; n <= 202; ++n) {
        pLog->Log(1, "line %d", n);
        strAfter += MessageLine(n);
    }
    EXPECT_EQ(ReadWholeFile(TodayPath()), strAfter);
    EXPECT_EQ(ReadWholeFile(TodayPath() + ".bak"), strFill + strFirst100);
}

TEST_F(MyLogTest, SizeCheckMovesOnlyAFileOfAtLeastTheLimit) {
    const int64_t nLimit = 1048576;
    const int64_t nLineLen = static_cast<int64_t>(MessageLine(1).size());  // all lines 1..9
    for (int64_t nAtCheck : {nLimit - 1, nLimit}) {
        SCOPED_TRACE(nAtCheck);
        CTempDir tmp;
        std::string strDir = tmp.Sub("log");
        std::string strPath = strDir + "/Tidewell_20240315.log";
        // Lines 1..100 are 100 lines of the same length apart from the number.
        int64_t nLines = 9 * nLineLen + 90 * (nLineLen + 1) + (nLineLen + 2);
        tmp.WriteFile("log/Tidewell_20240315.log",
                      std::string(static_cast<size_t>(nAtCheck - nLines), 'x'));
        CMyLog log(1, strDir, "Tidewell", &m_clock);
        for (int n = 1; n <= 100; ++n) {
            log.Log(1, "line %d", n);
        }
        platform::FileStatus status;
        ASSERT_TRUE(platform::GetFileStatus(strPath, &status));
        ASSERT_EQ(static_cast<int64_t>(status.nSize), nAtCheck);
        log.Log(1, "line %d", 101);
        bool bMoved = nAtCheck >= nLimit;
        EXPECT_EQ(platform::FileExists(strPath + ".bak"), bMoved);
        EXPECT_EQ(ReadWholeFile(strPath) == MessageLine(101), bMoved);
    }
}

// --- retention ---------------------------------------------------------------

TEST_F(MyLogTest, StartDeletesFilesOfTenDaysBackAndOlderByName) {
    m_clock.Set(LocalMs(2024, 3, 15, 12, 0, 0, 0));
    const char* const apszDeleted[] = {
        "Tidewell_20240301.log",
        "Tidewell_20240305.log",
        "Tidewell_20231231.log.bak",
        "Tidewell_00000000.log.old",
    };
    const char* const apszKept[] = {
        "Tidewell_20240305.log.bak",  // sorts after the limit name
        "Tidewell_20240306.log",     "Tidewell_20240306.log.bak", "Tidewell_20240314.log",
        "Tidewell_ABCDEFGH.log",      // letters sort after digits
        "Tidewell_abc_20240301.log",  // another prefix
        "Other_20240301.log",        "tidewell_20240301.log",     "Tidewell_20240301.LOG",
        "Tidewell_2024030.log",      "Tidewell_20240301.txt",
    };
    for (const char* psz : apszDeleted) {
        m_tmp.WriteFile(std::string("log/") + psz, "old\n");
    }
    for (const char* psz : apszKept) {
        m_tmp.WriteFile(std::string("log/") + psz, "keep\n");
    }
    std::filesystem::create_directories(m_tmp.Sub("log/Tidewell_20240301.log.d"));

    auto pLog = MakeLog();
    for (const char* psz : apszDeleted) {
        EXPECT_FALSE(platform::FileExists(m_tmp.Sub("log/") + psz)) << psz;
    }
    for (const char* psz : apszKept) {
        EXPECT_TRUE(platform::FileExists(m_tmp.Sub("log/") + psz)) << psz;
    }
    EXPECT_TRUE(platform::FileExists(m_tmp.Sub("log/Tidewell_20240301.log.d")));
    pLog.reset();

    // A start on the next day removes the backup that was exactly ten days old.
    m_clock.Set(LocalMs(2024, 3, 16, 12, 0, 0, 0));
    pLog = MakeLog();
    EXPECT_FALSE(platform::FileExists(m_tmp.Sub("log/Tidewell_20240305.log.bak")));
    EXPECT_FALSE(platform::FileExists(m_tmp.Sub("log/Tidewell_20240306.log")));
    EXPECT_TRUE(platform::FileExists(m_tmp.Sub("log/Tidewell_20240306.log.bak")));
}

TEST_F(MyLogTest, SetKeepDaysDeletesAgainAndReturnsTheCount) {
    m_clock.Set(LocalMs(2024, 3, 15, 12, 0, 0, 0));
    auto pLog = MakeLog();
    EXPECT_EQ(pLog->GetKeepDays(), 10);
    for (const char* psz : {"Tidewell_20240305.log.bak", "Tidewell_20240306.log",
                            "Tidewell_20240306.log.bak", "Tidewell_20240307.log"}) {
        m_tmp.WriteFile(std::string("log/") + psz, "x\n");
    }
    EXPECT_EQ(pLog->SetKeepDays(9), 2);
    EXPECT_EQ(pLog->GetKeepDays(), 9);
    EXPECT_TRUE(platform::FileExists(m_tmp.Sub("log/Tidewell_20240306.log.bak")));
    EXPECT_TRUE(platform::FileExists(m_tmp.Sub("log/Tidewell_20240307.log")));

    // Below one day nothing is deleted, however old.
    m_tmp.WriteFile("log/Tidewell_19990101.log", "x\n");
    EXPECT_EQ(pLog->SetKeepDays(0), 0);
    EXPECT_EQ(pLog->SetKeepDays(-3), 0);
    EXPECT_EQ(pLog->GetKeepDays(), -3);
    EXPECT_TRUE(platform::FileExists(m_tmp.Sub("log/Tidewell_19990101.log")));
    // One day back from the 15th: everything but today's file goes.
    EXPECT_EQ(pLog->SetKeepDays(1), 3);
    EXPECT_TRUE(platform::FileExists(TodayPath()));
}

// --- midnight ----------------------------------------------------------------

TEST_F(MyLogTest, PlainLinesKeepTheStartDaysFileDumpsSwitch) {
    m_tmp.WriteFile("log/Tidewell_20240315.log.bak", "older backup\n");
    m_clock.Set(LocalMs(2024, 3, 15, 23, 59, 59, 900));
    auto pLog = MakeLog();
    pLog->Log(2, "before");
    m_clock.Set(LocalMs(2024, 3, 16, 0, 0, 0, 100));
    pLog->Log(2, "after");
    const std::string strOldDay = Stamp(2024, 3, 15, 23, 59, 59, 900) + "INFO  before\n" +
                                  Stamp(2024, 3, 16, 0, 0, 0, 100) + "INFO  after\n";
    EXPECT_EQ(ReadWholeFile(TodayPath()), strOldDay);
    EXPECT_FALSE(platform::FileExists(m_tmp.Sub("log/Tidewell_20240316.log")));

    const unsigned char abData[] = {'o', 'k'};
    pLog->LogDump(2, 'A', 2, abData);
    const std::string strNewPath = m_tmp.Sub("log/Tidewell_20240316.log");
    EXPECT_EQ(pLog->GetLogPath(), strNewPath);
    EXPECT_FALSE(platform::FileExists(TodayPath()));
    EXPECT_EQ(ReadWholeFile(TodayPath() + ".bak"), strOldDay);
    std::string strNew = ReadWholeFile(strNewPath);
    EXPECT_NE(strNew.find("Data Length = 2"), std::string::npos);

    pLog->Log(2, "next");
    EXPECT_EQ(ReadWholeFile(strNewPath),
              strNew + Stamp(2024, 3, 16, 0, 0, 0, 100) + "INFO  next\n");

    // A hex dump switches days too.
    m_clock.Set(LocalMs(2024, 3, 17, 8, 0, 0, 0));
    pLog->LogHexDump(1, 1, abData);
    EXPECT_EQ(pLog->GetLogPath(), m_tmp.Sub("log/Tidewell_20240317.log"));
    EXPECT_TRUE(platform::FileExists(strNewPath + ".bak"));
}

// --- long messages -------------------------------------------------------------

TEST_F(MyLogTest, LongMessageIsCutAt1024BytesOnACharacterBoundary) {
    const std::string strHan = "\xED\x95\x9C";        // U+D55C, three bytes
    const std::string strSmile = "\xF0\x9F\x98\x80";  // U+1F600, four bytes
    const std::string strCp949 = "\xB0\xA1";          // not UTF-8: cut as bytes
    auto a = [](size_t n) { return std::string(n, 'a'); };
    struct Case {
        std::string strIn;
        std::string strOut;
    };
    const Case aCases[] = {
        {a(2000), a(1024)},
        {a(1024), a(1024)},
        {a(1021) + strHan, a(1021) + strHan},
        {a(1021) + strHan + "tail", a(1021) + strHan},
        {a(1022) + strHan + "tail", a(1022)},
        {a(1023) + strHan, a(1023)},
        {a(1020) + strSmile + "b", a(1020) + strSmile},
        {a(1021) + strSmile, a(1021)},
        {a(1023) + strSmile, a(1023)},
        {"\xC3\xA9" + a(1021) + "\xC3\xA9", "\xC3\xA9" + a(1021)},
        {a(1023) + strCp949, a(1023) + "\xB0"},
    };
    auto pLog = MakeLog();
    std::string strExpected;
    for (const Case& c : aCases) {
        pLog->Log(1, "%s", c.strIn.c_str());
        strExpected += kStamp + "DEBUG " + c.strOut + "\n";
    }
    EXPECT_EQ(ReadWholeFile(TodayPath()), strExpected);
}

// --- system errors ---------------------------------------------------------------

TEST_F(MyLogTest, LastErrorTextOfKnownAndUnknownCodes) {
    auto pLog = MakeLog();
    platform::SetLastSystemError(ENOENT);
    pLog->LogLastErrorText();
    EXPECT_EQ(platform::GetLastSystemError(), ENOENT);
    platform::SetLastSystemError(98765);
    pLog->LogLastErrorText();
    pLog->SetLevel(3);
    pLog->LogLastErrorText();  // level 2 is below the threshold now
    EXPECT_EQ(ReadWholeFile(TodayPath()),
              kStamp + "INFO  CMyLog::LogLastErrorText> (" + std::to_string(ENOENT) +
                  ") No such file or directory\n" + kStamp +
                  "INFO  CMyLog::LogLastErrorText> FormatMessage() Fail, ErrCode = 98765\n");
}

TEST_F(MyLogTest, WritingKeepsTheErrorForLastErrorText) {
    // The usual pair: the code at level 4, then its text. The first line is
    // the 101st and moves a full file to its backup in between.
    m_tmp.WriteFile("log/Tidewell_20240315.log", std::string(1048576, 'x'));
    auto pLog = MakeLog(1);
    for (int n = 1; n <= 100; ++n) {
        pLog->Log(1, "line %d", n);
    }
    platform::SetLastSystemError(EACCES);
    pLog->Log(4, "CTest::Run> open() Fail, ErrCode = %d", platform::GetLastSystemError());
    pLog->LogLastErrorText();
    EXPECT_EQ(ReadWholeFile(TodayPath()),
              kStamp + "ERROR CTest::Run> open() Fail, ErrCode = " + std::to_string(EACCES) + "\n" +
                  kStamp + "INFO  CMyLog::LogLastErrorText> (" + std::to_string(EACCES) +
                  ") Permission denied\n");
}

// --- the global pointer ------------------------------------------------------------

TEST_F(MyLogTest, TideLogWritesOnlyWhileTheLogExists) {
    ASSERT_EQ(g_pMyLog, nullptr);
    TideLog(2, "CTideApp::InitInstance> no log yet %d", 1);
    auto pLog = MakeLog();
    g_pMyLog = pLog.get();
    TideLog(2, "CTideApp::InitInstance> log %d", 2);
    g_pMyLog = nullptr;
    TideLog(2, "CTideApp::ExitInstance> gone %d", 3);
    EXPECT_EQ(ReadWholeFile(TodayPath()), kStamp + "INFO  CTideApp::InitInstance> log 2\n");
}

}  // namespace
