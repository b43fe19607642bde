// The two dump formats, byte for byte, and writers on several threads.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "log/my_log.h"
#include "tests/log/log_test_util.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kStamp = Stamp(2024, 3, 15, 9, 7, 2, 41);
const std::string kRule68(68, '=');
const std::string kRule77(77, '=');

class MyLogDumpTest : public ::testing::Test {
protected:
    MyLogDumpTest()
        : m_clock(LocalMs(2024, 3, 15, 9, 7, 2, 41)),
          m_log(10, m_tmp.Sub("log"), "Tidewell", &m_clock) {}

    std::string Written() const { return ReadWholeFile(m_log.GetLogPath()); }

    CTempDir m_tmp;
    CFakeClock m_clock;
    CMyLog m_log;
};

std::string DumpHeader(const char* pszLevel, int nLength) {
    return "\n" + kRule68 + "\n" + kStamp + pszLevel + " Data Length = " + std::to_string(nLength) +
           "\n\n";
}

const std::string kDumpFooter = kRule68 + "\n\n";

TEST_F(MyLogDumpTest, AsciiModeShowsBytesFrom32To125) {
    const unsigned char abData[] = {'H',  'e',  'l',  'l',  'o', ' ', '{', '}', '~', 0x00,
                                    0x1f, 0x7f, 0x80, 0xff, '0', '9', 'A', 'z', ' ', 0x7d};
    m_log.LogDump(2, 'A', 20, abData);
    EXPECT_EQ(Written(),
              DumpHeader("INFO ", 20) +
                  "0000    48656c6c  6f207b7d  7e001f7f  80ff3039    |Hello {}......09|\n"
                  "0016    417a207d                                  |Az }            |\n" +
                  kDumpFooter);
}

TEST_F(MyLogDumpTest, EbcdicModeTranslatesTheTable) {
    const unsigned char abData[] = {0xC8, 0x85, 0x93, 0x93, 0x96, 0x40, 0x4B, 0xF0, 0x5B,
                                    0x7C, 0xA2, 0xA9, 0xE0, 0xE1, 0x80, 0x8A, 0x7F, 0xD9};
    m_log.LogDump(4, 'E', 18, abData);
    EXPECT_EQ(Written(),
              DumpHeader("ERROR", 18) +
                  "0000    c8859393  96404bf0  5b7ca2a9  e0e1808a    |Hello .0$@sz\\...|\n"
                  "0016    7fd9                                      |\"R              |\n" +
                  kDumpFooter);
}

// A mode other than A and E shows no characters; an empty dump is header
// and footer only.
TEST_F(MyLogDumpTest, OtherModeAndEmptyDump) {
    const unsigned char abData[] = {'A', 'B'};
    m_log.LogDump(1, 'X', 2, abData);
    m_log.LogDump(3, 'A', 0, nullptr);
    EXPECT_EQ(Written(),
              DumpHeader("DEBUG", 2) +
                  "0000    4142                                      |              |\n" +
                  kDumpFooter + DumpHeader("WARN ", 0) + kDumpFooter);
}

TEST_F(MyLogDumpTest, DumpOffsetsWrapAtTenThousand) {
    std::vector<unsigned char> data(10017, 'a');
    m_log.LogDump(1, 'A', static_cast<int>(data.size()), data.data());
    std::vector<std::string> lines = SplitLines(Written());
    // Blank, rule, header, blank, one line per 16 bytes, rule, blank.
    ASSERT_EQ(lines.size(), 4u + 627u + 2u);
    EXPECT_EQ(lines[4].substr(0, 6), "0000  ");
    EXPECT_EQ(lines[4 + 624].substr(0, 6), "9984  ");
    EXPECT_EQ(lines[4 + 625].substr(0, 6), "0000  ");
    EXPECT_EQ(lines[4 + 626],
              "0016    61                                        |a               |");
}

const std::string kHexHeader =
    "          00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F    0-2-4-6-8-A-C-E-\n" + kRule77 +
    "\n";

TEST_F(MyLogDumpTest, HexDumpHoldsBackTwoByteCharacters) {
    const unsigned char abData[] = {0x41, 0x42, 0x00, 0x1F, 0x20, 0x7E, 0x7F, 0x9F, 0xB0, 0xA1,
                                    0x31, 0x32, 0x33, 0x34, 0x35, 0xC7, 0xD1, 0x36, 0x37, 0xBF};
    m_log.LogHexDump(1, 20, abData);
    EXPECT_EQ(Written(),
              kHexHeader +
                  "00000000: 41 42 00 1F 20 7E 7F 9F B0 A1 31 32 33 34 35 C7 :  AB.. ~..\xB0\xA1"
                  "12345\n"
                  "00000010: D1 36 37 BF                                     :  \xC7\xD1"
                  "67\n" +
                  kRule77 + "\n");
}

TEST_F(MyLogDumpTest, HexDumpOfWholeLines) {
    std::vector<unsigned char> data;
    for (int i = 0; i < 32; ++i) {
        data.push_back(static_cast<unsigned char>('a' + i % 26));
    }
    m_log.LogHexDump(5, 32, data.data());
    EXPECT_EQ(Written(), kHexHeader +
                             "00000000: 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F 70 :  "
                             "abcdefghijklmnop\n"
                             "00000010: 71 72 73 74 75 76 77 78 79 7A 61 62 63 64 65 66 :  "
                             "qrstuvwxyzabcdef\n" +
                             kRule77 + "\n");
}

TEST_F(MyLogDumpTest, HexDumpOfNothingWritesNothing) {
    const unsigned char abData[] = {1};
    m_log.LogHexDump(1, 0, abData);
    m_log.LogHexDump(1, -4, abData);
    m_log.LogHexDump(1, 4, nullptr);
    EXPECT_EQ(Written(), "");
}

TEST_F(MyLogDumpTest, DumpsCountTowardsTheSizeCheck) {
    // 100 plain lines, then a dump as the 101st write finds the file over
    // the limit and starts a fresh one.
    m_log.SetMaxSizeMB(0);
    for (int n = 1; n <= 100; ++n) {
        m_log.Log(1, "line %d", n);
    }
    const unsigned char abData[] = {'z'};
    m_log.LogHexDump(1, 1, abData);
    EXPECT_EQ(SplitLines(ReadWholeFile(m_log.GetLogPath() + ".bak")).size(), 100u);
    EXPECT_EQ(Written().substr(0, kHexHeader.size()), kHexHeader);
}

// --- several writers -------------------------------------------------------------

TEST(MyLogThreadTest, ConcurrentWritersProduceWholeLines) {
    CTempDir tmp;
    CFakeClock clock(LocalMs(2024, 3, 15, 9, 7, 2, 41));
    // A full file makes the first size check move it while the threads write.
    std::string strFill;
    while (strFill.size() < 1048576) {
        strFill += "filler line from an earlier run\n";
    }
    tmp.WriteFile("log/Tidewell_20240315.log", strFill);
    CMyLog log(1, tmp.Sub("log"), "Tidewell", &clock);

    constexpr int kThreads = 8;
    constexpr int kLines = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            for (int n = 0; n < kLines; ++n) {
                log.Log(1 + n % 5, "CWriter::Run> thread %d line %d %s", t, n,
                        "some text to make the line longer than a few bytes");
                if (n % 50 == 0) {
                    log.SetLevel(1);  // setters race with writers
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    std::string strAll = ReadWholeFile(log.GetLogPath() + ".bak").substr(strFill.size()) +
                         ReadWholeFile(log.GetLogPath());
    ASSERT_FALSE(strAll.empty());
    ASSERT_EQ(strAll.back(), '\n');
    // Parsed by hand: GCC 12 warns inside <regex> in some sanitizer builds.
    const std::string strHead = "2024/03/15=09:07:02.041 : ";
    const std::string strTail = " some text to make the line longer than a few bytes";
    std::map<int, int> nextLine;
    int nCount = 0;
    for (const std::string& strLine : SplitLines(strAll)) {
        ASSERT_EQ(strLine.compare(0, strHead.size(), strHead), 0) << strLine;
        std::string strLevel = strLine.substr(strHead.size(), 5);
        ASSERT_TRUE(strLevel == "DEBUG" || strLevel == "INFO " || strLevel == "WARN " ||
                    strLevel == "ERROR" || strLevel == "FATAL")
            << strLine;
        int t = -1;
        int n = -1;
        int nUsed = 0;
        std::string strRest = strLine.substr(strHead.size() + 5);
        ASSERT_EQ(sscanf(strRest.c_str(), " CWriter::Run> thread %d line %d%n", &t, &n, &nUsed), 2)
            << strLine;
        ASSERT_EQ(strRest.substr(static_cast<size_t>(nUsed)), strTail) << strLine;
        EXPECT_EQ(n, nextLine[t]) << "thread " << t;  // each thread's lines in order, once
        nextLine[t] = n + 1;
        ++nCount;
    }
    EXPECT_EQ(nCount, kThreads * kLines);
}

}  // namespace
