// The log: file names by local date, levels, size check and backup, retention,
// the day switch of dumps, long messages, dumps and writers on several threads.
#include "log/my_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/system_error.h"
#include "tests/support/temp_dir.h"

namespace {

class CFakeClock : public platform::IClock {
public:
    int64_t NowUnixMs() const override { return m_nUnixMs.load(); }
    uint64_t TickCountMs() const override { return static_cast<uint64_t>(m_nUnixMs.load()); }
    std::atomic<int64_t> m_nUnixMs{0};
};

// Unix milliseconds of a local time in March 2024.
int64_t LocalMs(int nDay, int nHour, int nMinute = 0, int nSecond = 0, int nMs = 0) {
    tm parts{nSecond, nMinute, nHour, nDay, 2, 124, 0, 0, -1, 0, nullptr};
    return static_cast<int64_t>(mktime(&parts)) * 1000 + nMs;
}

const std::string kStamp = "2024/03/15=09:07:02.041 : ";
std::string Line(const std::string& strText) {
    return kStamp + "DEBUG " + strText + "\n";
}
const unsigned char kData[] = {'o', 'k'};

class MyLogTest : public ::testing::Test {
protected:
    MyLogTest() { m_clock.m_nUnixMs = LocalMs(15, 9, 7, 2, 41); }
    std::unique_ptr<CMyLog> MakeLog(int nMaxSizeMB = 10, const std::string& strDir = "log") {
        return std::make_unique<CMyLog>(nMaxSizeMB, m_tmp.Sub(strDir), "Tidewell", &m_clock);
    }
    std::string Read(const std::string& strName) {
        return ReadWholeFile(m_tmp.Sub("log/" + strName));
    }
    bool Exists(const std::string& strName) {
        return platform::FileExists(m_tmp.Sub("log/" + strName));
    }

    CTempDir m_tmp;
    CFakeClock m_clock;
    const std::string m_strToday = "Tidewell_20240315.log";
};

TEST_F(MyLogTest, AppendsToTheFileOfTheLocalDate) {
    m_tmp.WriteFile("log/" + m_strToday, "earlier run\n");
    MakeLog()->Log(2, "Start %s...", "thread");
    EXPECT_EQ(Read(m_strToday), "earlier run\n" + kStamp + "INFO  Start thread...\n");
    // 15:30 GMT is already the 16th nine hours east.
    setenv("TZ", "KST-9", 1);
    tzset();
    m_clock.m_nUnixMs = 1710516600000LL + 7;
    MakeLog()->Log(3, "late");
    unsetenv("TZ");
    tzset();
    EXPECT_EQ(Read("Tidewell_20240316.log"), "2024/03/16=00:30:00.007 : WARN  late\n");
}

// Level names, blank for unknown ones; the threshold and a disabled log drop
// lines and dumps alike.
TEST_F(MyLogTest, LevelsThresholdAndSwitch) {
    const struct {
        int nThreshold, bEnabled, nLevel;
        const char* pszName;  // null: dropped
    } kCases[] = {{1, 1, 1, "DEBUG"}, {1, 1, 7, "     "},   {3, 1, 2, nullptr},
                  {3, 1, 3, "WARN "}, {-5, 1, -1, "     "}, {1, 0, 5, nullptr}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.nThreshold) + "/" + std::to_string(c.nLevel));
        CTempDir tmp;
        CMyLog log(10, tmp.Path(), "Tidewell", &m_clock);
        log.SetLevel(c.nThreshold);
        log.SetEnabled(c.bEnabled);
        log.Log(c.nLevel, "text");
        log.LogDump(c.nLevel, 'A', 1, kData);
        log.LogHexDump(c.nLevel, 1, kData);
        std::string strText = ReadWholeFile(log.GetLogPath());
        EXPECT_EQ(strText.substr(0, kStamp.size() + 11),
                  c.pszName ? kStamp + c.pszName + " text\n" : "");
        EXPECT_EQ(strText.find("00000000: 6F") != std::string::npos, c.pszName != nullptr);
    }
}

// Missing folders are made; a file that cannot be opened skips every write.
TEST_F(MyLogTest, MakesItsFolderOrSkipsWrites) {
    MakeLog(10, "a/b/log")->Log(1, "made");
    EXPECT_EQ(ReadWholeFile(m_tmp.Sub("a/b/log/" + m_strToday)), Line("made"));

    std::filesystem::create_directories(m_tmp.Sub("log/" + m_strToday));
    auto pLog = MakeLog();
    for (int i = 0; i < 250; ++i)
        pLog->Log(4, "lost %d", i);
    pLog->LogDump(4, 'A', 2, kData);
    pLog->LogHexDump(4, 2, kData);
    pLog->LogLastErrorText();
    EXPECT_TRUE(std::filesystem::is_empty(m_tmp.Sub("log/" + m_strToday)));
    EXPECT_FALSE(Exists(m_strToday + ".bak"));
}

// The 101st write checks the size: a file at the limit becomes the backup,
// one byte below stays. Dumps count as writes.
TEST_F(MyLogTest, SizeCheckOnThe101stWriteMovesAFileAtTheLimit) {
    for (int64_t nAtCheck : {1048575, 1048576}) {
        SCOPED_TRACE(nAtCheck);
        CTempDir tmp;
        auto pLog = std::make_unique<CMyLog>(10, tmp.Path(), "Tidewell", &m_clock);
        pLog->SetMaxSizeMB(1);  // a limit set later holds from then on
        pLog->LogDump(1, 'A', 2, kData);
        for (int n = 2; n <= 99; ++n)
            pLog->Log(1, "%d", n);
        std::string strFirst = ReadWholeFile(pLog->GetLogPath());
        const auto nFill = static_cast<size_t>(nAtCheck) - strFirst.size() - Line("100").size();
        tmp.WriteFile(m_strToday + ".bak", "older backup\n");
        FILE* pFile = fopen(pLog->GetLogPath().c_str(), "a");
        fputs(std::string(nFill, 'x').c_str(), pFile);
        fclose(pFile);
        pLog->Log(1, "100");
        pLog->Log(1, "101");
        const bool bMoved = nAtCheck == 1048576;
        EXPECT_EQ(ReadWholeFile(tmp.Sub(m_strToday + ".bak")).size(), bMoved ? 1048576u : 13u);
        EXPECT_EQ(ReadWholeFile(pLog->GetLogPath()).size(),
                  (bMoved ? 0 : nAtCheck) + Line("101").size());
    }
}

// A start deletes files of the prefix dated ten days back and older, by
// name; SetKeepDays deletes again and returns the count; below one day nothing.
TEST_F(MyLogTest, RetentionByName) {
    m_clock.m_nUnixMs = LocalMs(15, 12);
    const std::vector<std::string> deleted = {"01.log", "05.log", "01.log.old"};
    const std::vector<std::string> kept = {"05.log.bak", "06.log", "14.log", "01.LOG", "01.txt"};
    for (const auto& str : deleted)
        m_tmp.WriteFile("log/Tidewell_202403" + str, "old\n");
    for (const auto& str : kept)
        m_tmp.WriteFile("log/Tidewell_202403" + str, "keep\n");
    for (const char* psz :
         {"Tidewell_ABCDEFGH.log", "Tidewell_x_20240301.log", "tidewell_20240301.log",
          "Tidewell_2024030.log", "Tidewell_20240301.log.d/f"})
        m_tmp.WriteFile(std::string("log/") + psz, "keep\n");
    auto pLog = MakeLog();
    for (const auto& str : deleted)
        EXPECT_FALSE(Exists("Tidewell_202403" + str)) << str;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_tmp.Sub("log")), {}), 11);
    EXPECT_EQ(pLog->SetKeepDays(9), 2);  // 05.log.bak and 06.log
    EXPECT_EQ(pLog->GetKeepDays(), 9);
    EXPECT_EQ(pLog->SetKeepDays(0), 0);
    EXPECT_TRUE(Exists("Tidewell_20240314.log"));
    m_tmp.WriteFile("log/Tidewell_19990101.log", "x\n");
    EXPECT_EQ(pLog->SetKeepDays(-3), 0);
}

// Plain lines stay in the start day's file; a dump after midnight moves it to
// its backup and opens the new day's file.
TEST_F(MyLogTest, DumpsSwitchDaysPlainLinesDoNot) {
    m_clock.m_nUnixMs = LocalMs(15, 23, 59, 59, 900);
    auto pLog = MakeLog();
    pLog->Log(2, "before");
    m_clock.m_nUnixMs = LocalMs(16, 0);
    pLog->Log(2, "after");
    pLog->LogDump(2, 'A', 2, kData);
    EXPECT_EQ(pLog->GetLogPath(), m_tmp.Sub("log/Tidewell_20240316.log"));
    EXPECT_FALSE(Exists(m_strToday));
    EXPECT_EQ(Read(m_strToday + ".bak").size(), 2 * kStamp.size() + 25);
    EXPECT_NE(Read("Tidewell_20240316.log").find("Data Length = 2"), std::string::npos);
    m_clock.m_nUnixMs = LocalMs(17, 8);
    pLog->LogHexDump(1, 1, kData);
    EXPECT_TRUE(Exists("Tidewell_20240316.log.bak"));
}

TEST_F(MyLogTest, LongMessageIsCutAt1024BytesOnACharacterBoundary) {
    const std::string strHan = "\xED\x95\x9C", strSmile = "\xF0\x9F\x98\x80";
    auto a = [](size_t n) { return std::string(n, 'a'); };
    const struct {
        std::string strIn, strOut;
    } kCases[] = {
        {a(2000), a(1024)},
        {a(1021) + strHan + "tail", a(1021) + strHan},
        {a(1022) + strHan + "tail", a(1022)},
        {a(1020) + strSmile + "b", a(1020) + strSmile},
        {a(1021) + strSmile, a(1021)},
        {"\xC3\xA9" + a(1021) + "\xC3\xA9", "\xC3\xA9" + a(1021)},
        {a(1023) + "\xB0\xA1", a(1023) + "\xB0"},  // not UTF-8: cut as bytes
    };
    auto pLog = MakeLog();
    std::string strExpected;
    for (const auto& c : kCases) {
        pLog->Log(1, "%s", c.strIn.c_str());
        strExpected += Line(c.strOut);
    }
    EXPECT_EQ(Read(m_strToday), strExpected);
}

// Known and unknown error codes; writing keeps the error for the text that
// follows. TideLog writes only while g_pMyLog is set.
TEST_F(MyLogTest, LastErrorTextAndTideLog) {
    TideLog(2, "no log yet");
    auto pLog = MakeLog();
    g_pMyLog = pLog.get();
    platform::SetLastSystemError(EACCES);
    TideLog(4, "open() Fail");
    g_pMyLog = nullptr;
    TideLog(2, "gone");
    pLog->LogLastErrorText();
    platform::SetLastSystemError(98765);
    pLog->LogLastErrorText();
    pLog->SetLevel(3);
    pLog->LogLastErrorText();
    const std::string strPrefix = kStamp + "INFO  CMyLog::LogLastErrorText> ";
    EXPECT_EQ(Read(m_strToday), kStamp + "ERROR open() Fail\n" + strPrefix + "(" +
                                    std::to_string(EACCES) + ") Permission denied\n" + strPrefix +
                                    "FormatMessage() Fail, ErrCode = 98765\n");
}

// ASCII shows 32..125, EBCDIC translates, other modes show no characters,
// offsets wrap at ten thousand; hex dumps keep two-byte characters whole
// across a line's end and write nothing without data.
TEST_F(MyLogTest, DumpFormats) {
    const struct {
        char cMode;  // 'H': hex dump
        std::string strData, strLine;
    } kCases[] = {
        {'A', std::string("Hi{}~\0\x1f\x7f\x80\xff", 10),
         "0000    48697b7d  7e001f7f  80ff   "
         "               |Hi{}......      |\n"},
        {'E', "\xC8\x89\x5B\x7C\xA2\xE0\xE1\x7F", "|Hi$@s\\.\"        |\n"},
        {'X', "AB", "0000    4142                                      |              |\n"},
        {'H',
         std::string("AB\0\x1f \x7e\x7f\x9f\xB0\xA1"
                     "12345\xC7\xD1"
                     "6\xBF",
                     19),
         "00000000: 41 42 00 1F 20 7E 7F 9F B0 A1 31 32 33 34 35 C7 :  AB.. ~..\xB0\xA1"
         "12345\n00000010: D1 36 BF" +
             std::string(39, ' ') +
             " :  \xC7\xD1"
             "6\n"},
        {'H', "", ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(1, c.cMode) + std::to_string(c.strData.size()));
        CTempDir tmp;
        CMyLog log(10, tmp.Path(), "Tidewell", &m_clock);
        auto pData = reinterpret_cast<const unsigned char*>(c.strData.data());
        if (c.cMode == 'H')
            log.LogHexDump(1, static_cast<int>(c.strData.size()), pData);
        else
            log.LogDump(1, c.cMode, static_cast<int>(c.strData.size()), pData);
        std::string strText = ReadWholeFile(log.GetLogPath());
        EXPECT_NE(strText.find(c.strLine), std::string::npos) << strText;
        EXPECT_EQ(strText.empty(), c.strLine.empty());
    }
    auto pLog = MakeLog();
    pLog->LogHexDump(1, -4, kData);
    pLog->LogHexDump(1, 4, nullptr);
    std::vector<unsigned char> data(10017, 'a');
    pLog->LogDump(1, 'A', static_cast<int>(data.size()), data.data());
    std::string strText = Read(m_strToday);
    EXPECT_EQ(strText.find("00000000:"), std::string::npos);
    EXPECT_NE(strText.find("\n9984    61616161"), std::string::npos);
    EXPECT_NE(strText.find("\n0016    61     "), std::string::npos);
}

// Writers on several threads while the first size check moves a full file
// and setters run: whole lines, each thread's in order, none lost.
TEST_F(MyLogTest, ConcurrentWritersProduceWholeLines) {
    const std::string strFill(1048576, 'x');
    m_tmp.WriteFile("log/" + m_strToday, strFill);
    auto pLog = MakeLog(1);
    constexpr int kThreads = 8, kLines = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&pLog, t] {
            for (int n = 0; n < kLines; ++n) {
                pLog->Log(1 + n % 5, "thread %d line %d and some text to make the line longer", t,
                          n);
                if (n % 50 == 0)
                    pLog->SetLevel(1);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::istringstream all(Read(m_strToday + ".bak").substr(strFill.size()) + Read(m_strToday));
    std::map<int, int> nextLine;
    int nCount = 0;
    for (std::string strLine; std::getline(all, strLine); ++nCount) {
        int t = -1, n = -1, nUsed = 0;
        ASSERT_EQ(
            sscanf(strLine.c_str() + kStamp.size() + 5, " thread %d line %d%n", &t, &n, &nUsed), 2);
        ASSERT_EQ(strLine.substr(kStamp.size() + 5 + nUsed),
                  " and some text to make the line longer");
        EXPECT_EQ(n, nextLine[t]++) << "thread " << t;
    }
    EXPECT_EQ(nCount, kThreads * kLines);
}

}  // namespace
