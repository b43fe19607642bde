// The log: file names by local date, levels, size check and backup, retention,
// the day switch of dumps, long messages, both dump formats and writers on
// several threads.
#include "log/my_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/system_error.h"
#include "tests/support/temp_dir.h"

namespace {

class CFakeClock : public platform::IClock {
public:
    explicit CFakeClock(int64_t nUnixMs) : m_nUnixMs(nUnixMs) {}
    int64_t NowUnixMs() const override { return m_nUnixMs.load(); }
    uint64_t TickCountMs() const override { return static_cast<uint64_t>(m_nUnixMs.load()); }
    void Set(int64_t nUnixMs) { m_nUnixMs = nUnixMs; }

private:
    std::atomic<int64_t> m_nUnixMs;
};

// Unix milliseconds of a local time on a day of March 2024.
int64_t LocalMs(int nDay, int nHour, int nMinute, int nSecond, int nMs) {
    tm parts{};
    parts.tm_year = 124;
    parts.tm_mon = 2;
    parts.tm_mday = nDay;
    parts.tm_hour = nHour;
    parts.tm_min = nMinute;
    parts.tm_sec = nSecond;
    parts.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&parts)) * 1000 + nMs;
}

std::string Stamp(int nDay, int nHour, int nMinute, int nSecond, int nMs) {
    char szBuf[64];
    snprintf(szBuf, sizeof(szBuf), "2024/03/%02d=%02d:%02d:%02d.%03d : ", nDay, nHour, nMinute,
             nSecond, nMs);
    return szBuf;
}

std::vector<std::string> SplitLines(const std::string& strText) {
    std::vector<std::string> lines;
    size_t nStart = 0;
    for (size_t nEnd; (nEnd = strText.find('\n', nStart)) != std::string::npos; nStart = nEnd + 1)
        lines.push_back(strText.substr(nStart, nEnd - nStart));
    if (nStart < strText.size())
        lines.push_back(strText.substr(nStart));
    return lines;
}

const std::string kStamp = Stamp(15, 9, 7, 2, 41);

class MyLogTest : public ::testing::Test {
protected:
    MyLogTest() : m_clock(LocalMs(15, 9, 7, 2, 41)) {}

    std::string Today() const { return m_tmp.Sub("log/Tidewell_20240315.log"); }
    std::unique_ptr<CMyLog> MakeLog(int nMaxSizeMB = 10) {
        return std::make_unique<CMyLog>(nMaxSizeMB, m_tmp.Sub("log"), "Tidewell", &m_clock);
    }
    bool Exists(const std::string& strName) const {
        return platform::FileExists(m_tmp.Sub("log/" + strName));
    }

    CTempDir m_tmp;
    CFakeClock m_clock;
};

TEST_F(MyLogTest, StampedLinesInAFileNamedForTheLocalDate) {
    CMyLog named(10, m_tmp.Sub("log"), "Tidewell_abc", &m_clock);
    EXPECT_EQ(named.GetLogPath(), m_tmp.Sub("log/Tidewell_abc_20240315.log"));
    // Appended to the day's file.
    m_tmp.WriteFile("log/Tidewell_20240315.log", "earlier run\n");
    MakeLog()->Log(2, "CSyncEngine::StartSyncThread> Start %s...", "m_pSyncThread");
    EXPECT_EQ(ReadWholeFile(Today()), "earlier run\n" + kStamp +
                                          "INFO  CSyncEngine::StartSyncThread> Start "
                                          "m_pSyncThread...\n");

    // 15:30 GMT is already the 16th in a zone nine hours east.
    const char* pszOld = getenv("TZ");
    std::string strOld = pszOld ? pszOld : "";
    setenv("TZ", "KST-9", 1);
    tzset();
    m_clock.Set(1710516600000LL + 7);
    MakeLog()->Log(3, "late");
    pszOld ? setenv("TZ", strOld.c_str(), 1) : unsetenv("TZ");
    tzset();
    EXPECT_EQ(ReadWholeFile(m_tmp.Sub("log/Tidewell_20240316.log")),
              "2024/03/16=00:30:00.007 : WARN  late\n");
}

// Level names; unknown levels print a blank name; the threshold drops lower
// levels and a disabled log writes nothing, dumps included.
TEST_F(MyLogTest, LevelsThresholdAndSwitch) {
    const unsigned char abData[] = {'a'};
    const struct {
        int nThreshold, bEnabled, nLevel;
        const char* pszName;  // null: dropped
    } kCases[] = {
        {1, 1, 1, "DEBUG"}, {1, 1, 2, "INFO "}, {1, 1, 3, "WARN "},   {1, 1, 4, "ERROR"},
        {1, 1, 5, "FATAL"}, {1, 1, 7, "     "}, {1, 1, 100, "     "}, {1, 1, 0, nullptr},
        {3, 1, 2, nullptr}, {3, 1, 3, "WARN "}, {-5, 1, -1, "     "}, {1, 0, 5, nullptr},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.nThreshold) + "/" + std::to_string(c.bEnabled) + "/" +
                     std::to_string(c.nLevel));
        CTempDir tmp;
        CMyLog log(10, tmp.Path(), "Tidewell", &m_clock);
        log.SetLevel(c.nThreshold);
        log.SetEnabled(c.bEnabled);
        log.Log(c.nLevel, "text");
        log.LogDump(c.nLevel, 'A', 1, abData);
        log.LogHexDump(c.nLevel, 1, abData);
        std::string strText = ReadWholeFile(log.GetLogPath());
        if (c.pszName == nullptr) {
            EXPECT_EQ(strText, "");
            continue;
        }
        EXPECT_EQ(strText.substr(0, kStamp.size() + 11), kStamp + c.pszName + " text\n");
        EXPECT_NE(strText.find("Data Length = 1"), std::string::npos);
        EXPECT_NE(strText.find("00000000: 61"), std::string::npos);
    }
}

// Missing folders are made, nested or relative to the working folder; a
// file that cannot be opened skips every write.
TEST_F(MyLogTest, MakesItsFolderOrSkipsWrites) {
    std::string strOldCwd = std::filesystem::current_path().string();
    ASSERT_EQ(chdir(m_tmp.Path().c_str()), 0);
    for (const std::string& strDir : {m_tmp.Sub("a/b/c/log"), std::string("rel/log")})
        CMyLog(10, strDir, "Tidewell", &m_clock).Log(1, "made");
    ASSERT_EQ(chdir(strOldCwd.c_str()), 0);
    for (const char* pszDir : {"a/b/c/log", "rel/log"}) {
        EXPECT_EQ(ReadWholeFile(m_tmp.Sub(pszDir) + "/Tidewell_20240315.log"),
                  kStamp + "DEBUG made\n")
            << pszDir;
    }

    std::filesystem::create_directories(Today());  // a folder where the file should be
    auto pLog = MakeLog();
    const unsigned char abData[] = {1, 2, 3};
    for (int i = 0; i < 250; ++i)
        pLog->Log(4, "lost %d", i);
    pLog->LogDump(4, 'A', 3, abData);
    pLog->LogHexDump(4, 3, abData);
    pLog->LogLastErrorText();
    EXPECT_TRUE(std::filesystem::is_empty(Today()));
    EXPECT_FALSE(Exists("Tidewell_20240315.log.bak"));
}

std::string MessageLine(int n) {
    return kStamp + "DEBUG line " + std::to_string(n) + "\n";
}

// Every 100 writes the file is checked: at the limit or above it becomes
// the backup (replacing the older one); one byte below it stays.
TEST_F(MyLogTest, SizeCheckOnThe101stWriteMovesAFileAtTheLimit) {
    const int64_t nLimit = 1048576;
    const auto nLineLen = static_cast<int64_t>(MessageLine(1).size());  // lines 1..9
    const int64_t nLines = 9 * nLineLen + 90 * (nLineLen + 1) + (nLineLen + 2);
    for (int64_t nAtCheck : {nLimit - 1, nLimit}) {
        SCOPED_TRACE(nAtCheck);
        CTempDir tmp;
        std::string strPath = tmp.Sub("log/Tidewell_20240315.log");
        std::string strFill(static_cast<size_t>(nAtCheck - nLines), 'x');
        tmp.WriteFile("log/Tidewell_20240315.log", strFill);
        tmp.WriteFile("log/Tidewell_20240315.log.bak", "older backup\n");
        CMyLog log(1, tmp.Sub("log"), "Tidewell", &m_clock);
        std::string strFirst100;
        for (int n = 1; n <= 100; ++n) {
            log.Log(1, "line %d", n);
            strFirst100 += MessageLine(n);
        }
        log.Log(1, "line %d", 101);
        const bool bMoved = nAtCheck >= nLimit;
        EXPECT_EQ(ReadWholeFile(strPath + ".bak"),
                  bMoved ? strFill + strFirst100 : "older backup\n");
        EXPECT_EQ(ReadWholeFile(strPath),
                  bMoved ? MessageLine(101) : strFill + strFirst100 + MessageLine(101));
    }
    // Dumps count as writes too.
    auto pLog = MakeLog();
    pLog->SetMaxSizeMB(0);
    for (int n = 1; n <= 99; ++n)
        pLog->Log(1, "line %d", n);
    const unsigned char abData[] = {'z'};
    pLog->LogHexDump(1, 1, abData);
    pLog->Log(1, "line %d", 101);
    EXPECT_EQ(ReadWholeFile(Today()), MessageLine(101));
}

// A start deletes files of the prefix dated ten days back and older, by
// name; SetKeepDays deletes again and returns the count.
TEST_F(MyLogTest, RetentionByName) {
    m_clock.Set(LocalMs(15, 12, 0, 0, 0));
    const char* const apszDeleted[] = {"Tidewell_20240301.log", "Tidewell_20240305.log",
                                       "Tidewell_20231231.log.bak", "Tidewell_00000000.log.old"};
    const char* const apszKept[] = {
        "Tidewell_20240305.log.bak",  // sorts after the limit name
        "Tidewell_20240306.log",     "Tidewell_20240314.log",
        "Tidewell_ABCDEFGH.log",      // letters sort after digits
        "Tidewell_abc_20240301.log",  // another prefix
        "Other_20240301.log",        "tidewell_20240301.log", "Tidewell_20240301.LOG",
        "Tidewell_2024030.log",      "Tidewell_20240301.txt",
    };
    for (const char* psz : apszDeleted)
        m_tmp.WriteFile(std::string("log/") + psz, "old\n");
    for (const char* psz : apszKept)
        m_tmp.WriteFile(std::string("log/") + psz, "keep\n");
    std::filesystem::create_directories(m_tmp.Sub("log/Tidewell_20240301.log.d"));
    auto pLog = MakeLog();
    for (const char* psz : apszDeleted)
        EXPECT_FALSE(Exists(psz)) << psz;
    for (const char* psz : apszKept)
        EXPECT_TRUE(Exists(psz)) << psz;
    EXPECT_TRUE(Exists("Tidewell_20240301.log.d"));

    EXPECT_EQ(pLog->SetKeepDays(9), 2);  // ..05.log.bak and ..06.log
    EXPECT_TRUE(Exists("Tidewell_20240314.log"));
    // Below one day nothing is deleted, however old.
    m_tmp.WriteFile("log/Tidewell_19990101.log", "x\n");
    EXPECT_EQ(pLog->SetKeepDays(0), 0);
    EXPECT_EQ(pLog->SetKeepDays(-3), 0);
    EXPECT_EQ(pLog->GetKeepDays(), -3);
    EXPECT_TRUE(Exists("Tidewell_19990101.log"));
}

// Plain lines stay in the start day's file; a dump after midnight moves it
// to its backup and opens the new day's file.
TEST_F(MyLogTest, DumpsSwitchDaysPlainLinesDoNot) {
    m_tmp.WriteFile("log/Tidewell_20240315.log.bak", "older backup\n");
    m_clock.Set(LocalMs(15, 23, 59, 59, 900));
    auto pLog = MakeLog();
    pLog->Log(2, "before");
    m_clock.Set(LocalMs(16, 0, 0, 0, 100));
    pLog->Log(2, "after");
    const std::string strOldDay =
        Stamp(15, 23, 59, 59, 900) + "INFO  before\n" + Stamp(16, 0, 0, 0, 100) + "INFO  after\n";
    EXPECT_EQ(ReadWholeFile(Today()), strOldDay);

    const unsigned char abData[] = {'o', 'k'};
    pLog->LogDump(2, 'A', 2, abData);
    EXPECT_EQ(pLog->GetLogPath(), m_tmp.Sub("log/Tidewell_20240316.log"));
    EXPECT_FALSE(platform::FileExists(Today()));
    EXPECT_EQ(ReadWholeFile(Today() + ".bak"), strOldDay);
    pLog->Log(2, "next");
    EXPECT_NE(ReadWholeFile(pLog->GetLogPath()).find("Data Length = 2"), std::string::npos);

    m_clock.Set(LocalMs(17, 8, 0, 0, 0));
    pLog->LogHexDump(1, 1, abData);
    EXPECT_EQ(pLog->GetLogPath(), m_tmp.Sub("log/Tidewell_20240317.log"));
    EXPECT_TRUE(Exists("Tidewell_20240316.log.bak"));
}

TEST_F(MyLogTest, LongMessageIsCutAt1024BytesOnACharacterBoundary) {
    const std::string strHan = "\xED\x95\x9C";        // three bytes
    const std::string strSmile = "\xF0\x9F\x98\x80";  // four bytes
    auto a = [](size_t n) { return std::string(n, 'a'); };
    const struct {
        std::string strIn, strOut;
    } kCases[] = {
        {a(2000), a(1024)},
        {a(1024), a(1024)},
        {a(1021) + strHan + "tail", a(1021) + strHan},
        {a(1022) + strHan + "tail", a(1022)},
        {a(1023) + strHan, a(1023)},
        {a(1020) + strSmile + "b", a(1020) + strSmile},
        {a(1021) + strSmile, a(1021)},
        {"\xC3\xA9" + a(1021) + "\xC3\xA9", "\xC3\xA9" + a(1021)},
        {a(1023) + "\xB0\xA1", a(1023) + "\xB0"},  // not UTF-8: cut as bytes
    };
    auto pLog = MakeLog();
    std::string strExpected;
    for (const auto& c : kCases) {
        pLog->Log(1, "%s", c.strIn.c_str());
        strExpected += kStamp + "DEBUG " + c.strOut + "\n";
    }
    EXPECT_EQ(ReadWholeFile(Today()), strExpected);
}

// The error text of known and unknown codes; writing (even a size check that
// moves the file) keeps the error for the text that follows.
TEST_F(MyLogTest, LastErrorText) {
    m_tmp.WriteFile("log/Tidewell_20240315.log", std::string(1048576, 'x'));
    auto pLog = MakeLog(1);
    for (int n = 1; n <= 100; ++n)
        pLog->Log(1, "line %d", n);
    platform::SetLastSystemError(EACCES);
    pLog->Log(4, "CTest::Run> open() Fail");
    pLog->LogLastErrorText();
    EXPECT_EQ(platform::GetLastSystemError(), EACCES);
    platform::SetLastSystemError(98765);
    pLog->LogLastErrorText();
    pLog->SetLevel(3);
    pLog->LogLastErrorText();  // level 2 is below the threshold now
    EXPECT_EQ(ReadWholeFile(Today()),
              kStamp + "ERROR CTest::Run> open() Fail\n" + kStamp +
                  "INFO  CMyLog::LogLastErrorText> (" + std::to_string(EACCES) +
                  ") Permission denied\n" + kStamp +
                  "INFO  CMyLog::LogLastErrorText> FormatMessage() Fail, ErrCode = 98765\n");
}

TEST_F(MyLogTest, TideLogWritesOnlyWhileTheLogExists) {
    ASSERT_EQ(g_pMyLog, nullptr);
    TideLog(2, "no log yet %d", 1);
    auto pLog = MakeLog();
    g_pMyLog = pLog.get();
    TideLog(2, "log %d", 2);
    g_pMyLog = nullptr;
    TideLog(2, "gone %d", 3);
    EXPECT_EQ(ReadWholeFile(Today()), kStamp + "INFO  log 2\n");
}

// Both dump formats byte for byte: ASCII shows 32..125, EBCDIC translates,
// other modes show no characters; hex dumps hold back two-byte characters
// at a line's end and write nothing for no data.
TEST_F(MyLogTest, DumpFormats) {
    const std::string kRule68(68, '='), kRule77(77, '=');
    auto head = [&](const char* pszLevel, int nLength) {
        return "\n" + kRule68 + "\n" + kStamp + pszLevel +
               " Data Length = " + std::to_string(nLength) + "\n\n";
    };
    const std::string kHexHead =
        "          00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F    0-2-4-6-8-A-C-E-\n" +
        kRule77 + "\n";
    const struct {
        char cMode;  // 'H': hex dump
        int nLevel;
        std::string strData;
        std::string strOut;
    } kCases[] = {
        {'A', 2,
         std::string("Hello {}~\0\x1f\x7f\x80\xff"
                     "09Az }",
                     20),
         head("INFO ", 20) +
             "0000    48656c6c  6f207b7d  7e001f7f  80ff3039    |Hello {}......09|\n"
             "0016    417a207d                                  |Az }            |\n" +
             kRule68 + "\n\n"},
        {'E', 4, "\xC8\x85\x93\x93\x96\x40\x4B\xF0\x5B\x7C\xA2\xA9\xE0\xE1\x80\x8A\x7F\xD9",
         head("ERROR", 18) +
             "0000    c8859393  96404bf0  5b7ca2a9  e0e1808a    |Hello .0$@sz\\...|\n"
             "0016    7fd9                                      |\"R              |\n" +
             kRule68 + "\n\n"},
        {'X', 1, "AB",
         head("DEBUG", 2) + "0000    4142                                      |              |\n" +
             kRule68 + "\n\n"},
        {'A', 3, "", head("WARN ", 0) + kRule68 + "\n\n"},
        {'H', 1,
         std::string("AB\0\x1f \x7e\x7f\x9f\xB0\xA1"
                     "12345\xC7\xD1"
                     "67\xBF",
                     20),
         kHexHead +
             "00000000: 41 42 00 1F 20 7E 7F 9F B0 A1 31 32 33 34 35 C7 :  AB.. ~..\xB0\xA1"
             "12345\n"
             "00000010: D1 36 37 BF                                     :  \xC7\xD1"
             "67\n" +
             kRule77 + "\n"},
        {'H', 5, "abcdefghijklmnopqrstuvwxyzabcdef",
         kHexHead +
             "00000000: 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70 :  abcdefghijklmnop\n"
             "00000010: 71 72 73 74 75 76 77 78 79 7A 61 62 63 64 65 66 :  qrstuvwxyzabcdef\n" +
             kRule77 + "\n"},
        {'H', 1, "", ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(1, c.cMode) + std::to_string(c.strData.size()));
        CTempDir tmp;
        CMyLog log(10, tmp.Path(), "Tidewell", &m_clock);
        auto pData = reinterpret_cast<const unsigned char*>(c.strData.data());
        auto nLength = static_cast<int>(c.strData.size());
        if (c.cMode == 'H')
            log.LogHexDump(c.nLevel, nLength, pData);
        else
            log.LogDump(c.nLevel, c.cMode, nLength, pData);
        EXPECT_EQ(ReadWholeFile(log.GetLogPath()), c.strOut);
    }
    // No data, a negative length or no buffer: no hex dump at all.
    const unsigned char abData[] = {1};
    auto pLog = MakeLog();
    pLog->LogHexDump(1, -4, abData);
    pLog->LogHexDump(1, 4, nullptr);
    // Offsets of the plain dump wrap at ten thousand.
    std::vector<unsigned char> data(10017, 'a');
    pLog->LogDump(1, 'A', static_cast<int>(data.size()), data.data());
    std::vector<std::string> lines = SplitLines(ReadWholeFile(Today()));
    ASSERT_EQ(lines.size(), 4u + 627u + 2u);
    EXPECT_EQ(lines[4 + 624].substr(0, 6), "9984  ");
    EXPECT_EQ(lines[4 + 626],
              "0016    61                                        |a               |");
}

// Writers on several threads, while the first size check moves a full file
// and setters run: whole lines, each thread's in order, none lost.
TEST_F(MyLogTest, ConcurrentWritersProduceWholeLines) {
    std::string strFill;
    while (strFill.size() < 1048576)
        strFill += "filler line from an earlier run\n";
    m_tmp.WriteFile("log/Tidewell_20240315.log", strFill);
    auto pLog = MakeLog(1);
    constexpr int kThreads = 8, kLines = 400;
    const std::string strTail = " some text to make the line longer than a few bytes";
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&pLog, &strTail, t] {
            for (int n = 0; n < kLines; ++n) {
                pLog->Log(1 + n % 5, "CWriter::Run> thread %d line %d%s", t, n, strTail.c_str());
                if (n % 50 == 0)
                    pLog->SetLevel(1);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    std::string strAll =
        ReadWholeFile(Today() + ".bak").substr(strFill.size()) + ReadWholeFile(Today());
    ASSERT_EQ(strAll.back(), '\n');
    std::map<int, int> nextLine;
    int nCount = 0;
    for (const std::string& strLine : SplitLines(strAll)) {
        ASSERT_EQ(strLine.compare(0, kStamp.size(), kStamp), 0) << strLine;
        int t = -1, n = -1, nUsed = 0;
        std::string strRest = strLine.substr(kStamp.size() + 5);
        ASSERT_EQ(sscanf(strRest.c_str(), " CWriter::Run> thread %d line %d%n", &t, &n, &nUsed), 2)
            << strLine;
        ASSERT_EQ(strRest.substr(static_cast<size_t>(nUsed)), strTail) << strLine;
        EXPECT_EQ(n, nextLine[t]) << "thread " << t;
        nextLine[t] = n + 1;
        ++nCount;
    }
    EXPECT_EQ(nCount, kThreads * kLines);
}

}  // namespace
