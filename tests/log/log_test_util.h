// Helpers shared by the log tests: a clock the test moves by hand and
// readers for what the log wrote.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "platform/clock.h"

class CFakeClock : public platform::IClock {
public:
    explicit CFakeClock(int64_t nUnixMs) : m_nUnixMs(nUnixMs) {}
    int64_t NowUnixMs() const override { return m_nUnixMs.load(); }
    uint64_t TickCountMs() const override { return static_cast<uint64_t>(m_nUnixMs.load()); }
    void Set(int64_t nUnixMs) { m_nUnixMs = nUnixMs; }

private:
    std::atomic<int64_t> m_nUnixMs;
};

// Unix milliseconds of a local calendar time in the process's time zone.
inline int64_t LocalMs(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond,
                       int nMs) {
    tm parts{};
    parts.tm_year = nYear - 1900;
    parts.tm_mon = nMonth - 1;
    parts.tm_mday = nDay;
    parts.tm_hour = nHour;
    parts.tm_min = nMinute;
    parts.tm_sec = nSecond;
    parts.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&parts)) * 1000 + nMs;
}

// "YYYY/MM/DD=hh:mm:ss.mmm : " as a line starts.
inline std::string Stamp(int nYear, int nMonth, int nDay, int nHour, int nMinute, int nSecond,
                         int nMs) {
    char szBuf[64];
    snprintf(szBuf, sizeof(szBuf), "%04d/%02d/%02d=%02d:%02d:%02d.%03d : ", nYear, nMonth, nDay,
             nHour, nMinute, nSecond, nMs);
    return szBuf;
}

// Lines of a text without their "\n"; a last piece without "\n" is kept too.
inline std::vector<std::string> SplitLines(const std::string& strText) {
    std::vector<std::string> lines;
    size_t nStart = 0;
    while (nStart < strText.size()) {
        size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string::npos) {
            lines.push_back(strText.substr(nStart));
            break;
        }
        lines.push_back(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    return lines;
}
