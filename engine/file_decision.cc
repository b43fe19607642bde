// Whether a listed file must be downloaded, the server time given to a
// downloaded file, and the reading of the server's Last-Modified header.
// Times are compared as GMT, so a daylight-saving change makes no gap.
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "app/tide_cfg.h"
#include "engine/sync_engine.h"
#include "log/my_log.h"
#include "platform/file_system.h"
#include "platform/system_error.h"
#include "util/crypto.h"
#include "util/split_string.h"

namespace {

constexpr size_t kServerTimeLength = 14;
// The earliest year a time text may name.
constexpr int kMinServerYear = 1970;

constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// 1-12 for an English month abbreviation (exact case), else 0.
int MonthFromName(std::string_view strName) {
    for (int i = 0; i < 12; ++i) {
        if (strName == kMonthNames[i])
            return i + 1;
    }
    return 0;
}

// Decimal value of all of strText (1 to nMaxDigits digits); false otherwise.
bool ParseDigits(std::string_view strText, size_t nMaxDigits, int* pnValue) {
    if (strText.empty() || strText.size() > nMaxDigits)
        return false;
    auto [pEnd, ec] = std::from_chars(strText.data(), strText.data() + strText.size(), *pnValue);
    return ec == std::errc() && pEnd == strText.data() + strText.size();
}

// Decimal value in the manner of atoi: leading blanks, a sign, the digits
// that follow; 0 when there are none. Clamped to int.
int LeadingInt(std::string_view strText) {
    std::string strCopy(strText);
    long nValue = strtol(strCopy.c_str(), nullptr, 10);
    if (nValue > INT_MAX)
        return INT_MAX;
    if (nValue < INT_MIN)
        return INT_MIN;
    return static_cast<int>(nValue);
}

// Two characters at nPos of strText, or fewer when the text ends first.
std::string_view TwoAt(std::string_view strText, size_t nPos) {
    return nPos < strText.size() ? strText.substr(nPos, 2) : std::string_view();
}

// "hh:mm:ss" exactly.
bool ParseClock(std::string_view strText, platform::SystemTime* pst) {
    return strText.size() == 8 && strText[2] == ':' && strText[5] == ':' &&
           ParseDigits(strText.substr(0, 2), 2, &pst->nHour) &&
           ParseDigits(strText.substr(3, 2), 2, &pst->nMinute) &&
           ParseDigits(strText.substr(6, 2), 2, &pst->nSecond);
}

bool IsValidTime(const platform::SystemTime& st) {
    int64_t nSeconds = 0;
    return st.nYear >= kMinServerYear && platform::GmtToUnixSeconds(st, &nSeconds);
}

// "Sunday, 06-Nov-94 08:49:37 GMT"
bool ParseRfc850(const std::vector<std::string>& vecTokens, platform::SystemTime* pst) {
    if (vecTokens.size() < 3 || vecTokens[0].empty() || vecTokens[0].back() != ',')
        return false;
    std::string_view strDate = vecTokens[1];
    size_t nDash1 = strDate.find('-');
    size_t nDash2 = nDash1 == std::string_view::npos ? nDash1 : strDate.find('-', nDash1 + 1);
    if (nDash2 == std::string_view::npos)
        return false;
    pst->nMonth = MonthFromName(strDate.substr(nDash1 + 1, nDash2 - nDash1 - 1));
    std::string_view strYear = strDate.substr(nDash2 + 1);
    if (pst->nMonth == 0 || !ParseDigits(strDate.substr(0, nDash1), 2, &pst->nDay) ||
        !ParseDigits(strYear, 4, &pst->nYear) || !ParseClock(vecTokens[2], pst)) {
        return false;
    }
    // Two-digit years: 70-99 are the 1900s, the rest this century.
    if (strYear.size() == 2)
        pst->nYear += pst->nYear >= 70 ? 1900 : 2000;
    return IsValidTime(*pst);
}

// "Sun Nov  6 08:49:37 1994"
bool ParseAsctime(const std::vector<std::string>& vecTokens, platform::SystemTime* pst) {
    if (vecTokens.size() != 5)
        return false;
    pst->nMonth = MonthFromName(vecTokens[1]);
    return pst->nMonth != 0 && ParseDigits(vecTokens[2], 2, &pst->nDay) &&
           ParseClock(vecTokens[3], pst) && ParseDigits(vecTokens[4], 4, &pst->nYear) &&
           IsValidTime(*pst);
}

// The fields of a 14-digit server time and its instant; false when the text
// is not 14 digits or names no valid time.
bool ParseServerTime(const std::string& strTime, platform::SystemTime* pst, int64_t* pnSeconds) {
    if (strTime.size() != kServerTimeLength)
        return false;
    std::string_view str(strTime);
    return ParseDigits(str.substr(0, 4), 4, &pst->nYear) &&
           ParseDigits(str.substr(4, 2), 2, &pst->nMonth) &&
           ParseDigits(str.substr(6, 2), 2, &pst->nDay) &&
           ParseDigits(str.substr(8, 2), 2, &pst->nHour) &&
           ParseDigits(str.substr(10, 2), 2, &pst->nMinute) &&
           ParseDigits(str.substr(12, 2), 2, &pst->nSecond) && pst->nYear >= kMinServerYear &&
           platform::GmtToUnixSeconds(*pst, pnSeconds);
}

std::string FormatTime(const platform::SystemTime& st) {
    char szBuf[64];
    snprintf(szBuf, sizeof(szBuf), "%04d-%02d-%02d %02d:%02d:%02d", st.nYear, st.nMonth, st.nDay,
             st.nHour, st.nMinute, st.nSecond);
    return szBuf;
}

// The server's size: the digits after any leading blanks; false when there
// are none or they do not fit.
bool ParseServerSize(const std::string& strSize, uint64_t* pnSize) {
    size_t nStart = strSize.find_first_not_of(" \t");
    if (nStart == std::string::npos)
        return false;
    const char* pBegin = strSize.data() + nStart;
    auto [pEnd, ec] = std::from_chars(pBegin, strSize.data() + strSize.size(), *pnSize);
    return ec == std::errc() && pEnd != pBegin;
}

bool IsMissingFileError(int nCode) {
    if (nCode == platform::kErrorFileNotFound || nCode == platform::kErrorPathNotFound) {
        return true;
    }
#ifndef _WIN32
    // A file where a folder of the path should be: the path does not exist.
    return nCode == ENOTDIR;
#else
    return false;
#endif
}

}  // namespace

int CSyncEngine::IsFileToDownload(FileItem& item) {
    item.m_nDownloadReason = DownloadReason(item);
    return item.m_nDownloadReason == kReasonNone ? 0 : 1;
}

int CSyncEngine::DownloadReason(FileItem& item) {
    const char* pszSource = item.m_strSourceFile.c_str();
    if (item.m_nFileType == kFileTypeDel) {
        TideLog(1, "CSyncEngine::IsFileToDownload> File(%s) is Delete Type File", pszSource);
        return kReasonNone;
    }
    // A system file is installed only when missing, whatever its time.
    if (item.m_nSysFlag == 1) {
        if (platform::FileExists(item.m_strTargetFile)) {
            TideLog(2, "CSyncEngine::IsFileToDownload> Local system file already exist.(%s)",
                    item.m_strTargetFile.c_str());
            return kReasonNone;
        }
        TideLog(2, "CSyncEngine::IsFileToDownload> Not found local system file.(%s)",
                item.m_strTargetFile.c_str());
        return kReasonMissing;
    }

    platform::SystemTime stServer;
    int64_t nServerSeconds = 0;
    if (item.m_strModifyTime.empty()) {
        TideLog(4,
                "CSyncEngine::IsFileToDownload> '%s' >> The last modified time of the file is "
                "unknown.",
                pszSource);
        return kReasonTime;
    }
    // Out-of-range fields (month 13, day 32, ...) make the text as invalid as a wrong length.
    if (!ParseServerTime(item.m_strModifyTime, &stServer, &nServerSeconds)) {
        TideLog(4,
                "CSyncEngine::IsFileToDownload> '%s' >> The string for the last modified time "
                "is invalid.",
                pszSource);
        return kReasonTime;
    }

    platform::FileStatus status;
    if (!platform::GetFileStatus(item.m_strTargetFile, &status)) {
        int nCode = platform::GetLastSystemError();
        if (IsMissingFileError(nCode))
            return kReasonMissing;
        TideLog(1,
                "CSyncEngine::IsFileToDownload> '%s' >> Failed to check file status. "
                "[LastErrorCode=(%d)]",
                item.m_strTargetFile.c_str(), nCode);
        platform::SetLastSystemError(nCode);
        if (g_pMyLog != nullptr)
            g_pMyLog->LogLastErrorText();
        return kReasonUnreadable;
    }

    if (item.m_bSizeUnknown == 1) {
        TideLog(1,
                "CSyncEngine::IsFileToDownload> Transfer encoding chunked file does not compare "
                "size.");
    } else if (item.m_bSizeEncoded == 1) {
        TideLog(1,
                "CSyncEngine::IsFileToDownload> Gzip-encoded file: the server's size is the "
                "encoded size and is not compared.");
    } else {
        uint64_t nServerSize = 0;
        if (ParseServerSize(item.m_strFileSize, &nServerSize) && nServerSize > 0 &&
            nServerSize != status.nSize) {
            TideLog(2,
                    "CSyncEngine::IsFileToDownload> '%s' >> The size of the file is different. "
                    "[Local=(%llu), Server=(%llu)]",
                    pszSource, static_cast<unsigned long long>(status.nSize),
                    static_cast<unsigned long long>(nServerSize));
            return kReasonSize;
        }
    }

    platform::SystemTime stLocalGmt = platform::ToGmtTime(status.nModifyTime * 1000);
    int64_t nLocalSeconds = 0;
    if (stLocalGmt.nYear < 1900 || !platform::GmtToUnixSeconds(stLocalGmt, &nLocalSeconds)) {
        nLocalSeconds = 0;
    }
    int64_t nGap = nLocalSeconds - nServerSeconds;
    int nSpan = m_pCfg != nullptr ? m_pCfg->m_nTimeCheckSpan : 0;
    if ((nGap < 0 ? -nGap : nGap) <= nSpan)
        return kReasonNone;
    // Only the time differs: when the record's hash says the content is the
    // same, a new time on the server costs no transfer.
    uint64_t nListedSize = 0;
    // A file still waiting for its post-processing is fetched and handled again.
    if (!item.m_strSha256.empty() && item.m_bSizeUnknown == 0 && item.m_bSizeEncoded == 0 &&
        status.nModifyTime != kPendingFileTime &&
        ParseServerSize(item.m_strFileSize, &nListedSize) && nListedSize == status.nSize) {
        std::string strLocalHash;
        if (Sha256OfFile(item.m_strTargetFile, &strLocalHash) && strLocalHash == item.m_strSha256) {
            if (m_pPlan == nullptr)  // a plan changes nothing
                SetDownFileModifyDate(item.m_strTargetFile, item.m_strModifyTime);
            TideLog(1,
                    "CSyncEngine::IsFileToDownload> '%s' >> Same SHA-256 as the server, only the "
                    "time differs: not downloaded. [TimeGab=(%lld)]",
                    pszSource, static_cast<long long>(nGap));
            return kReasonNone;
        }
    }

    std::string strServer = FormatTime(stServer);
    std::string strLocalGmt = FormatTime(stLocalGmt);
    std::string strLocal = FormatTime(platform::ToLocalTime(status.nModifyTime * 1000));
    TideLog(1,
            "CSyncEngine::IsFileToDownload> '%s' >> The last modified time is different. "
            "[TimeGab=(%lld), TimeCheckSpan=(%d), ServerGMT=(%s), LocalGMT=(%s), "
            "LocalTime=(%s)]",
            nGap >= 0 ? pszSource : item.m_strTargetFile.c_str(), static_cast<long long>(nGap),
            nSpan, strServer.c_str(), strLocalGmt.c_str(), strLocal.c_str());
    return kReasonTime;
}

int CSyncEngine::SetDownFileModifyDate(const std::string& strTargetPath,
                                       const std::string& strModifyTime) {
    platform::SystemTime st;
    int64_t nSeconds = 0;
    // A time that names no valid instant is not set: a garbage time would
    // make the next comparison meaningless.
    if (!ParseServerTime(strModifyTime, &st, &nSeconds))
        return -1;
    platform::FileStatus status;
    if (!platform::GetFileStatus(strTargetPath, &status))
        return -1;
    if (!platform::SetFileModifyTime(strTargetPath, nSeconds))
        return -1;
    return 0;
}

bool CSyncEngine::DefersServerTime(const FileItem& item) const {
    if (m_bResourceMode != 0)
        return false;  // nothing is post-processed in resource mode
    return item.m_nFileType == kFileTypeZip || item.m_nFileType == kFileTypeZipReg ||
           item.m_nFileType == kFileTypeFont;
}

void CSyncEngine::SetServerTimeAfterPostProcessing(const FileItem& item) {
    if (DefersServerTime(item) && SetDownFileModifyDate(item.m_strTargetFile,
                                                        item.m_strModifyTime) < 0) {
        TideLog(4, "CSyncEngine::SetServerTimeAfterPostProcessing> SetDownFileModifyDate(%s) Fail",
                item.m_strTargetFile.c_str());
    }
}

platform::SystemTime CSyncEngine::ParseLastModified(const std::string& strHeader) {
    std::vector<std::string> vecTokens;
    SplitString(&vecTokens, " ", strHeader);
    platform::SystemTime st;
    if (vecTokens.size() >= 6) {
        // "Tue, 15 Nov 1994 08:12:31 GMT" read by position; the zone is taken as GMT.
        st.nYear = LeadingInt(vecTokens[3]);
        st.nMonth = MonthFromName(vecTokens[2]);
        if (st.nMonth == 0) {
            st.nMonth = platform::ToLocalTime(platform::SystemClock().NowUnixMs()).nMonth;
        }
        st.nDay = LeadingInt(vecTokens[1]);
        st.nHour = LeadingInt(TwoAt(vecTokens[4], 0));
        st.nMinute = LeadingInt(TwoAt(vecTokens[4], 3));
        st.nSecond = LeadingInt(TwoAt(vecTokens[4], 6));
        return st;
    }
    if (ParseRfc850(vecTokens, &st) || ParseAsctime(vecTokens, &st))
        return st;
    st = platform::ToGmtTime(platform::SystemClock().NowUnixMs());
    st.nMilliseconds = 0;
    return st;
}
