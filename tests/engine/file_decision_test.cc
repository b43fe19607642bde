// The download decision against real local files, the file time given to a
// download, and the reading of Last-Modified headers.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/tide_cfg.h"
#include "engine/sync_engine.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "tests/engine/list_test_support.h"
#include "tests/support/temp_dir.h"
#include "util/crypto.h"

namespace {

// 1994-11-15 08:12:31 GMT
constexpr int64_t kServerSeconds = 784887151;
constexpr char kServerTime[] = "19941115081231";

int64_t Gmt(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond) {
    platform::SystemTime st;
    st.nYear = nYear;
    st.nMonth = nMonth;
    st.nDay = nDay;
    st.nHour = nHour;
    st.nMinute = nMinute;
    st.nSecond = nSecond;
    int64_t nSeconds = 0;
    EXPECT_TRUE(platform::GmtToUnixSeconds(st, &nSeconds));
    return nSeconds;
}

std::string Fields(const platform::SystemTime& st) {
    char szBuf[64];
    snprintf(szBuf, sizeof(szBuf), "%04d%02d%02d%02d%02d%02d", st.nYear, st.nMonth, st.nDay,
             st.nHour, st.nMinute, st.nSecond);
    return szBuf;
}

class FileDecisionTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_cfg.m_nTimeCheckSpan = 5;
        m_engine.m_pCfg = &m_cfg;
        m_item.m_strSourceFile = "bin/a.dll";
        m_item.m_strTargetFile = m_dir.Sub("bin/a.dll");
        m_item.m_strModifyTime = kServerTime;
        m_item.m_strFileSize = "5";
    }
    // The local copy: nSize bytes, modified at kServerSeconds + nOffset.
    void WriteLocal(size_t nSize, int64_t nOffset) {
        m_dir.WriteFile("bin/a.dll", std::string(nSize, 'x'));
        ASSERT_TRUE(platform::SetFileModifyTime(m_item.m_strTargetFile, kServerSeconds + nOffset));
    }
    int Decide() { return m_engine.IsFileToDownload(m_item); }

    CTempDir m_dir;
    CLogCapture m_log;
    CTideCfg m_cfg{m_dir.Sub("config/Tidewell.ini")};
    CSyncEngine m_engine;
    FileItem m_item;
};

}  // namespace

// ---- Order of the tests ----

TEST_F(FileDecisionTest, DeleteEntryIsNeverDownloaded) {
    m_item.m_nFileType = kFileTypeDel;
    m_item.m_strModifyTime.clear();
    EXPECT_EQ(0, Decide());
    EXPECT_TRUE(
        m_log.Has("DEBUG", "CSyncEngine::IsFileToDownload> File(bin/a.dll) is Delete Type File"));
}

TEST_F(FileDecisionTest, SystemFileOnlyWhenMissing) {
    m_item.m_nSysFlag = 1;
    m_item.m_strModifyTime.clear();
    EXPECT_EQ(1, Decide());
    EXPECT_TRUE(m_log.Has("INFO", "CSyncEngine::IsFileToDownload> Not found local system file.(" +
                                      m_item.m_strTargetFile + ")"));
    WriteLocal(1, -100000);  // old and of another size: still kept
    m_item.m_strModifyTime = kServerTime;
    EXPECT_EQ(0, Decide());
    EXPECT_TRUE(m_log.Has("INFO",
                          "CSyncEngine::IsFileToDownload> Local system file already "
                          "exist.(" +
                              m_item.m_strTargetFile + ")"));
}

TEST_F(FileDecisionTest, MissingOrMalformedTimeDownloads) {
    WriteLocal(5, 0);
    m_item.m_strModifyTime.clear();
    EXPECT_EQ(1, Decide());
    EXPECT_TRUE(m_log.Has("ERROR",
                          "CSyncEngine::IsFileToDownload> 'bin/a.dll' >> The last "
                          "modified time of the file is unknown."));
    const std::string strInvalid =
        "CSyncEngine::IsFileToDownload> 'bin/a.dll' >> The string for the last modified time is "
        "invalid.";
    // Wrong length, and fields no calendar has.
    for (const char* pszTime :
         {"1994111508123", "199411150812310", "19941315081231", "19941132081231", "19950229081231",
          "19941115241231", "19941115086031", "19691231235959"}) {
        m_item.m_strModifyTime = pszTime;
        EXPECT_EQ(1, Decide()) << pszTime;
    }
    std::string strLog = m_log.Text();
    size_t nCount = 0;
    for (size_t nPos = 0; (nPos = strLog.find(strInvalid, nPos)) != std::string::npos; ++nPos) {
        ++nCount;
    }
    EXPECT_EQ(8u, nCount);
}

TEST_F(FileDecisionTest, MissingLocalFileDownloadsSilently) {
    EXPECT_EQ(1, Decide());
    // A file where a folder of the path should be.
    m_dir.WriteFile("bin", "not a folder");
    EXPECT_EQ(1, Decide());
    EXPECT_FALSE(m_log.Mentions("IsFileToDownload"));
}

TEST_F(FileDecisionTest, UnreadableLocalStatusIsLoggedAndDownloads) {
    m_item.m_strTargetFile = m_dir.Sub(std::string(300, 'n'));  // name too long
    EXPECT_EQ(1, Decide());
    EXPECT_TRUE(m_log.Has("DEBUG", "CSyncEngine::IsFileToDownload> '" + m_item.m_strTargetFile +
                                       "' >> Failed to check file status. [LastErrorCode=(36)]"));
    EXPECT_TRUE(m_log.Has("INFO", "CMyLog::LogLastErrorText> (36) File name too long"));
}

// ---- Size ----

TEST_F(FileDecisionTest, DifferentSizeDownloads) {
    WriteLocal(5, 0);
    m_item.m_strFileSize = "6";
    EXPECT_EQ(1, Decide());
    EXPECT_TRUE(m_log.Has("INFO",
                          "CSyncEngine::IsFileToDownload> 'bin/a.dll' >> The size of the "
                          "file is different. [Local=(5), Server=(6)]"));
}

TEST_F(FileDecisionTest, ZeroMissingOrNonNumericSizeLeavesItToTheTime) {
    WriteLocal(5, 0);
    for (const char* pszSize : {"0", "", "abc", "-7"}) {
        m_item.m_strFileSize = pszSize;
        EXPECT_EQ(0, Decide()) << pszSize;
    }
    WriteLocal(5, 6);
    m_item.m_strFileSize = "";
    EXPECT_EQ(1, Decide());
}

TEST_F(FileDecisionTest, UnknownSizeIsNotCompared) {
    WriteLocal(9, 0);
    m_item.m_bSizeUnknown = 1;
    EXPECT_EQ(0, Decide());
    EXPECT_TRUE(m_log.Has("DEBUG",
                          "CSyncEngine::IsFileToDownload> Transfer encoding chunked file "
                          "does not compare size."));
}

TEST_F(FileDecisionTest, SizesBeyondFourGigabytesCompareInFull) {
    m_dir.WriteFile("bin/a.dll", "");
    std::filesystem::resize_file(m_item.m_strTargetFile, 4294967296ULL + 5);  // sparse
    ASSERT_TRUE(platform::SetFileModifyTime(m_item.m_strTargetFile, kServerSeconds));
    m_item.m_strFileSize = "4294967301";
    EXPECT_EQ(0, Decide());
    m_item.m_strFileSize = "5";  // equal in the low 32 bits only
    EXPECT_EQ(1, Decide());
}

// ---- Time ----

TEST_F(FileDecisionTest, TimeWithinTheSpanIsKept) {
    WriteLocal(5, -3);
    EXPECT_EQ(0, Decide());
    WriteLocal(5, 5);
    EXPECT_EQ(0, Decide());
    EXPECT_FALSE(m_log.Mentions("IsFileToDownload"));
}

TEST_F(FileDecisionTest, OlderOrNewerBeyondTheSpanDownloads) {
    CTimeZone zone("KST-9");  // local clock nine hours ahead of GMT
    WriteLocal(5, -6);
    EXPECT_EQ(1, Decide());
    EXPECT_TRUE(m_log.Has("DEBUG", "CSyncEngine::IsFileToDownload> '" + m_item.m_strTargetFile +
                                       "' >> The last modified time is different. [TimeGab=(-6), "
                                       "TimeCheckSpan=(5), ServerGMT=(1994-11-15 08:12:31), "
                                       "LocalGMT=(1994-11-15 08:12:25), LocalTime=(1994-11-15 "
                                       "17:12:25)]"));
    WriteLocal(5, 6);
    EXPECT_EQ(1, Decide());
    EXPECT_TRUE(m_log.Has("DEBUG",
                          "CSyncEngine::IsFileToDownload> 'bin/a.dll' >> The last "
                          "modified time is different. [TimeGab=(6), "
                          "TimeCheckSpan=(5), ServerGMT=(1994-11-15 08:12:31), "
                          "LocalGMT=(1994-11-15 08:12:37), LocalTime=(1994-11-15 "
                          "17:12:37)]"));
}

TEST_F(FileDecisionTest, MatchingHashSettlesATimeDifference) {
    // Local content "xxxxx"; only a time difference goes to the hash.
    std::string strHash;
    WriteLocal(5, 3600);
    ASSERT_TRUE(Sha256OfFile(m_item.m_strTargetFile, &strHash));
    struct Case {
        const char* pszName;
        std::string strHash;
        std::string strSize;
        int bSizeUnknown;
        int nExpected;
    } const kCases[] = {
        {"hash matches", strHash, "5", 0, 0},
        {"hash differs", std::string(64, '0'), "5", 0, 1},
        {"no hash", "", "5", 0, 1},
        {"size not listed", strHash, "", 0, 1},
        {"size unknown", strHash, "5", 1, 1},
    };
    for (const Case& c : kCases) {
        WriteLocal(5, 3600);
        m_item.m_strSha256 = c.strHash;
        m_item.m_strFileSize = c.strSize;
        m_item.m_bSizeUnknown = c.bSizeUnknown;
        EXPECT_EQ(c.nExpected, Decide()) << c.pszName;
        platform::FileStatus status;
        ASSERT_TRUE(platform::GetFileStatus(m_item.m_strTargetFile, &status));
        // Confirmed content takes the server's time, so the next run needs no hash.
        EXPECT_EQ(c.nExpected == 0 ? kServerSeconds : kServerSeconds + 3600, status.nModifyTime)
            << c.pszName;
    }
    // An archive whose extraction was cut off carries the pending time: it
    // must come again to be extracted, whatever its hash says.
    m_item.m_strSha256 = strHash;
    m_item.m_strFileSize = "5";
    m_item.m_bSizeUnknown = 0;
    ASSERT_TRUE(platform::SetFileModifyTime(m_item.m_strTargetFile, kPendingFileTime));
    EXPECT_EQ(1, Decide());
    EXPECT_TRUE(m_log.Has("DEBUG", "CSyncEngine::IsFileToDownload> 'bin/a.dll' >> Same SHA-256 as "
                                   "the server, only the time differs: not downloaded. "
                                   "[TimeGab=(3600)]"));
}

TEST_F(FileDecisionTest, DaylightSavingChangeMakesNoGap) {
    CTimeZone zone("Europe/Berlin");
    // Four seconds apart across the hour the zone's clocks skip on
    // 2024-03-31: read as local times the two would be an hour apart.
    m_item.m_strModifyTime = "20240331015958";
    m_dir.WriteFile("bin/a.dll", "12345");
    ASSERT_TRUE(platform::SetFileModifyTime(m_item.m_strTargetFile, Gmt(2024, 3, 31, 2, 0, 2)));
    EXPECT_EQ(0, Decide());
}

// ---- File times of downloads ----

TEST_F(FileDecisionTest, DownloadTimeRoundTripsToAGapOfZero) {
    m_dir.WriteFile("bin/a.dll", "12345");
    m_item.m_strModifyTime = "20240315091530";
    ASSERT_EQ(0,
              CSyncEngine::SetDownFileModifyDate(m_item.m_strTargetFile, m_item.m_strModifyTime));
    platform::FileStatus status;
    ASSERT_TRUE(platform::GetFileStatus(m_item.m_strTargetFile, &status));
    EXPECT_EQ(Gmt(2024, 3, 15, 9, 15, 30), status.nModifyTime);
    m_cfg.m_nTimeCheckSpan = 0;
    EXPECT_EQ(0, Decide());
}

TEST_F(FileDecisionTest, DownloadTimeRefusesBadTextsAndMissingFiles) {
    WriteLocal(5, 0);
    for (const char* pszTime :
         {"", "2024031509153", "202403150915300", "20241315091530", "2024031509153x"}) {
        EXPECT_EQ(-1, CSyncEngine::SetDownFileModifyDate(m_item.m_strTargetFile, pszTime))
            << pszTime;
    }
    platform::FileStatus status;
    ASSERT_TRUE(platform::GetFileStatus(m_item.m_strTargetFile, &status));
    EXPECT_EQ(kServerSeconds, status.nModifyTime);  // left as it was
    EXPECT_EQ(-1, CSyncEngine::SetDownFileModifyDate(m_dir.Sub("none.dll"), "20240315091530"));
}

// ---- Last-Modified ----

TEST(LastModifiedTest, Rfc1123) {
    EXPECT_EQ(kServerTime, Fields(CSyncEngine::ParseLastModified("Tue, 15 Nov 1994 08:12:31 GMT")));
    EXPECT_EQ(kServerTime,
              Fields(CSyncEngine::ParseLastModified("Tue,   15 Nov 1994  08:12:31 GMT")));
    // The zone is not looked at.
    EXPECT_EQ(kServerTime,
              Fields(CSyncEngine::ParseLastModified("Tue, 15 Nov 1994 08:12:31 +0900")));
}

TEST(LastModifiedTest, UnknownMonthTakesTheCurrentLocalMonth) {
    int nMonth = platform::ToLocalTime(platform::SystemClock().NowUnixMs()).nMonth;
    platform::SystemTime st = CSyncEngine::ParseLastModified("Tue, 15 nov 1994 08:12:31 GMT");
    int nMonthAfter = platform::ToLocalTime(platform::SystemClock().NowUnixMs()).nMonth;
    EXPECT_TRUE(st.nMonth == nMonth || st.nMonth == nMonthAfter);
    EXPECT_EQ(1994, st.nYear);
    EXPECT_EQ(15, st.nDay);
}

TEST(LastModifiedTest, Rfc850AndAsctime) {
    EXPECT_EQ("19941106084937",
              Fields(CSyncEngine::ParseLastModified("Sunday, 06-Nov-94 08:49:37 GMT")));
    EXPECT_EQ("20051106084937",
              Fields(CSyncEngine::ParseLastModified("Sunday, 06-Nov-05 08:49:37 GMT")));
    EXPECT_EQ("19941106084937", Fields(CSyncEngine::ParseLastModified("Sun Nov  6 08:49:37 1994")));
    EXPECT_EQ("19941116084937", Fields(CSyncEngine::ParseLastModified("Wed Nov 16 08:49:37 1994")));
}

TEST(LastModifiedTest, UnreadableShortTextGivesTheCurrentGmtTime) {
    for (const char* pszHeader : {"", "yesterday", "Sunday, 06-Nov-94 8:49 GMT",
                                  "Sun Nov 31 08:49:37 1994", "Sun Xyz  6 08:49:37 1994"}) {
        int64_t nBefore = platform::SystemClock().NowUnixMs() / 1000;
        platform::SystemTime st = CSyncEngine::ParseLastModified(pszHeader);
        int64_t nAfter = platform::SystemClock().NowUnixMs() / 1000;
        int64_t nSeconds = 0;
        ASSERT_TRUE(platform::GmtToUnixSeconds(st, &nSeconds)) << pszHeader;
        EXPECT_GE(nSeconds, nBefore) << pszHeader;
        EXPECT_LE(nSeconds, nAfter) << pszHeader;
    }
}

TEST_F(FileDecisionTest, MalformedHeaderFieldsEndAsAnInvalidTime) {
    WriteLocal(5, 0);
    m_item.m_strModifyTime =
        Fields(CSyncEngine::ParseLastModified("Tue, 45 Nov 1994 08:12:31 GMT"));
    EXPECT_EQ(1, Decide());
    EXPECT_TRUE(m_log.Mentions("The string for the last modified time is invalid."));
}
