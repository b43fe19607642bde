// The download decision against real local files, the file time given to a
// download, and the reading of Last-Modified headers.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "app/tide_cfg.h"
#include "engine/sync_engine.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "tests/support/env_var.h"
#include "tests/support/log_capture.h"
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

// The process's time zone set to a TZ value until destroyed.
class CTimeZone {
public:
    explicit CTimeZone(const std::string& strZone) : m_tz(std::in_place, "TZ", strZone) { tzset(); }
    ~CTimeZone() {
        m_tz.reset();
        tzset();
    }

private:
    std::optional<CEnvVar> m_tz;
};

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

// {local file, listed type, time and size} -> download or not. The time
// check span is 5 seconds.
TEST_F(FileDecisionTest, DecisionByTypeTimeAndSize) {
    struct Case {
        int nLocalSize;  // -1: no local file
        int64_t nOffset;
        int nType;
        int nSysFlag;
        const char* pszTime;
        const char* pszSize;
        int bSizeUnknown;
        int nExpected;
    } const kCases[] = {
        {5, 0, kFileTypeDel, 2, "", "5", 0, 0},      // never downloaded
        {-1, 0, kFileTypeNormal, 1, "", "5", 0, 1},  // a system file only when missing
        {1, -100000, kFileTypeNormal, 1, kServerTime, "5", 0, 0},
        {-1, 0, kFileTypeNormal, 2, kServerTime, "5", 0, 1},
        {5, 0, kFileTypeNormal, 2, "", "5", 0, 1},  // no time, or one no calendar has
        {5, 0, kFileTypeNormal, 2, "1994111508123", "5", 0, 1},
        {5, 0, kFileTypeNormal, 2, "199411150812310", "5", 0, 1},
        {5, 0, kFileTypeNormal, 2, "19941315081231", "5", 0, 1},
        {5, 0, kFileTypeNormal, 2, "19941132081231", "5", 0, 1},
        {5, 0, kFileTypeNormal, 2, "19950229081231", "5", 0, 1},
        {5, 0, kFileTypeNormal, 2, "19941115241231", "5", 0, 1},
        {5, 0, kFileTypeNormal, 2, "19941115086031", "5", 0, 1},
        {5, 0, kFileTypeNormal, 2, "19691231235959", "5", 0, 1},
        {5, 0, kFileTypeNormal, 2, kServerTime, "6", 0, 1},  // sizes differ
        {5, 0, kFileTypeNormal, 2, kServerTime, "0", 0, 0},  // no size: the time decides
        {5, 0, kFileTypeNormal, 2, kServerTime, "", 0, 0},
        {5, 0, kFileTypeNormal, 2, kServerTime, "abc", 0, 0},
        {5, 0, kFileTypeNormal, 2, kServerTime, "-7", 0, 0},
        {5, 6, kFileTypeNormal, 2, kServerTime, "", 0, 1},
        {9, 0, kFileTypeNormal, 2, kServerTime, "5", 1, 0},   // an unknown size is not compared
        {5, -3, kFileTypeNormal, 2, kServerTime, "5", 0, 0},  // within the span
        {5, 5, kFileTypeNormal, 2, kServerTime, "5", 0, 0},
        {5, -6, kFileTypeNormal, 2, kServerTime, "5", 0, 1},
    };
    int nRow = 0;
    for (const Case& c : kCases) {
        SCOPED_TRACE(++nRow);
        std::filesystem::remove_all(m_dir.Sub("bin"));
        if (c.nLocalSize >= 0)
            WriteLocal(c.nLocalSize, c.nOffset);
        m_item.m_nFileType = c.nType;
        m_item.m_nSysFlag = c.nSysFlag;
        m_item.m_strModifyTime = c.pszTime;
        m_item.m_strFileSize = c.pszSize;
        m_item.m_bSizeUnknown = c.bSizeUnknown;
        EXPECT_EQ(Decide(), c.nExpected);
    }
}

TEST_F(FileDecisionTest, UnreadableLocalFilesAndLargeSizes) {
    // A file where a folder of the path should be; a name too long to look at.
    m_dir.WriteFile("bin", "not a folder");
    EXPECT_EQ(Decide(), 1);
    m_item.m_strTargetFile = m_dir.Sub(std::string(300, 'n'));
    EXPECT_EQ(Decide(), 1);
    // Sizes beyond four gigabytes compare in full.
    m_item.m_strTargetFile = m_dir.Sub("big.dll");
    m_dir.WriteFile("big.dll", "");
    std::filesystem::resize_file(m_item.m_strTargetFile, 4294967296ULL + 5);  // sparse
    ASSERT_TRUE(platform::SetFileModifyTime(m_item.m_strTargetFile, kServerSeconds));
    m_item.m_strFileSize = "4294967301";
    EXPECT_EQ(Decide(), 0);
    m_item.m_strFileSize = "5";  // equal in the low 32 bits only
    EXPECT_EQ(Decide(), 1);
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
        {"hash matches", strHash, "5", 0, 0}, {"hash differs", std::string(64, '0'), "5", 0, 1},
        {"no hash", "", "5", 0, 1},           {"size not listed", strHash, "", 0, 1},
        {"size unknown", strHash, "5", 1, 1},
    };
    for (const Case& c : kCases) {
        WriteLocal(5, 3600);
        m_item.m_strSha256 = c.strHash;
        m_item.m_strFileSize = c.strSize;
        m_item.m_bSizeUnknown = c.bSizeUnknown;
        EXPECT_EQ(Decide(), c.nExpected) << c.pszName;
        platform::FileStatus status;
        ASSERT_TRUE(platform::GetFileStatus(m_item.m_strTargetFile, &status));
        // Confirmed content takes the server's time, so the next run needs no hash.
        EXPECT_EQ(status.nModifyTime, c.nExpected == 0 ? kServerSeconds : kServerSeconds + 3600)
            << c.pszName;
    }
    // An archive whose extraction was cut off carries the pending time: it
    // must come again to be extracted, whatever its hash says.
    m_item.m_strSha256 = strHash;
    m_item.m_strFileSize = "5";
    m_item.m_bSizeUnknown = 0;
    ASSERT_TRUE(platform::SetFileModifyTime(m_item.m_strTargetFile, kPendingFileTime));
    EXPECT_EQ(Decide(), 1);
}

TEST_F(FileDecisionTest, DaylightSavingChangeMakesNoGap) {
    CTimeZone zone("Europe/Berlin");
    // Four seconds apart across the hour the zone's clocks skip on
    // 2024-03-31: read as local times the two would be an hour apart.
    m_item.m_strModifyTime = "20240331015958";
    m_dir.WriteFile("bin/a.dll", "12345");
    ASSERT_TRUE(platform::SetFileModifyTime(m_item.m_strTargetFile, Gmt(2024, 3, 31, 2, 0, 2)));
    EXPECT_EQ(Decide(), 0);
}

TEST_F(FileDecisionTest, DownloadTimeRoundTripsAndBadTextsAreRefused) {
    m_dir.WriteFile("bin/a.dll", "12345");
    ASSERT_EQ(CSyncEngine::SetDownFileModifyDate(m_item.m_strTargetFile, "20240315091530"), 0);
    platform::FileStatus status;
    ASSERT_TRUE(platform::GetFileStatus(m_item.m_strTargetFile, &status));
    EXPECT_EQ(status.nModifyTime, Gmt(2024, 3, 15, 9, 15, 30));
    m_item.m_strModifyTime = "20240315091530";
    m_cfg.m_nTimeCheckSpan = 0;
    EXPECT_EQ(Decide(), 0);
    EXPECT_EQ(CSyncEngine::SetDownFileModifyDate(m_item.m_strTargetFile, "20241315091530"), -1);
    ASSERT_TRUE(platform::GetFileStatus(m_item.m_strTargetFile, &status));
    EXPECT_EQ(status.nModifyTime, Gmt(2024, 3, 15, 9, 15, 30));  // left as it was
    EXPECT_EQ(CSyncEngine::SetDownFileModifyDate(m_dir.Sub("none.dll"), "20240315091530"), -1);
}

// {Last-Modified header} -> the time read; "" for the current GMT time.
TEST(LastModifiedTest, ThreeFormatsAndTheFallbacks) {
    const std::pair<const char*, const char*> kCases[] = {
        {"Tue, 15 Nov 1994 08:12:31 GMT", kServerTime},
        {"Tue,   15 Nov 1994  08:12:31 GMT", kServerTime},
        {"Sunday, 06-Nov-94 08:49:37 GMT", "19941106084937"},
        {"Sunday, 06-Nov-05 08:49:37 GMT", "20051106084937"},
        {"Sun Nov  6 08:49:37 1994", "19941106084937"},
        {"Wed Nov 16 08:49:37 1994", "19941116084937"},
        {"", ""},
        {"Sunday, 06-Nov-94 8:49 GMT", ""},
        {"Sun Nov 31 08:49:37 1994", ""},
        {"Sun Xyz  6 08:49:37 1994", ""},
    };
    for (const auto& [pszHeader, pszExpected] : kCases) {
        int64_t nBefore = platform::SystemClock().NowUnixMs() / 1000;
        platform::SystemTime st = CSyncEngine::ParseLastModified(pszHeader);
        int64_t nAfter = platform::SystemClock().NowUnixMs() / 1000;
        if (*pszExpected != '\0') {
            EXPECT_EQ(Fields(st), pszExpected) << pszHeader;
            continue;
        }
        int64_t nSeconds = 0;
        ASSERT_TRUE(platform::GmtToUnixSeconds(st, &nSeconds)) << pszHeader;
        EXPECT_GE(nSeconds, nBefore) << pszHeader;
        EXPECT_LE(nSeconds, nAfter) << pszHeader;
    }
    // An unknown month name takes the current local month.
    int nMonth = platform::ToLocalTime(platform::SystemClock().NowUnixMs()).nMonth;
    platform::SystemTime st = CSyncEngine::ParseLastModified("Tue, 15 nov 1994 08:12:31 GMT");
    int nMonthAfter = platform::ToLocalTime(platform::SystemClock().NowUnixMs()).nMonth;
    EXPECT_TRUE(st.nMonth == nMonth || st.nMonth == nMonthAfter);
    EXPECT_EQ(st.nYear, 1994);
    EXPECT_EQ(st.nDay, 15);
}

}  // namespace
