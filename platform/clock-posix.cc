#include <time.h>

#include <cerrno>

#include "platform/clock.h"

namespace platform {

namespace {

class CSystemClock : public IClock {
public:
    int64_t NowUnixMs() const override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    }
    uint64_t TickCountMs() const override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
    }
};

SystemTime FromTm(const tm& t, int64_t nUnixMs) {
    SystemTime st;
    st.nYear = t.tm_year + 1900;
    st.nMonth = t.tm_mon + 1;
    st.nDay = t.tm_mday;
    st.nHour = t.tm_hour;
    st.nMinute = t.tm_min;
    st.nSecond = t.tm_sec;
    int64_t nMs = nUnixMs % 1000;
    st.nMilliseconds = static_cast<int>(nMs < 0 ? nMs + 1000 : nMs);
    return st;
}

time_t SecondsOf(int64_t nUnixMs) {
    int64_t nSec = nUnixMs / 1000;
    if (nUnixMs % 1000 < 0) --nSec;
    return static_cast<time_t>(nSec);
}

}  // namespace

IClock& SystemClock() {
    static CSystemClock s_clock;
    return s_clock;
}

SystemTime ToLocalTime(int64_t nUnixMs) {
    time_t t = SecondsOf(nUnixMs);
    tm parts{};
    localtime_r(&t, &parts);
    return FromTm(parts, nUnixMs);
}

SystemTime ToGmtTime(int64_t nUnixMs) {
    time_t t = SecondsOf(nUnixMs);
    tm parts{};
    gmtime_r(&t, &parts);
    return FromTm(parts, nUnixMs);
}

bool GmtToUnixSeconds(const SystemTime& st, int64_t* pnUnixSeconds) {
    static const int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (st.nYear < 1601 || st.nYear > 30827 || st.nMonth < 1 || st.nMonth > 12) return false;
    bool bLeap = (st.nYear % 4 == 0 && st.nYear % 100 != 0) || st.nYear % 400 == 0;
    int nMonthDays = kDaysInMonth[st.nMonth - 1] + (st.nMonth == 2 && bLeap ? 1 : 0);
    if (st.nDay < 1 || st.nDay > nMonthDays || st.nHour < 0 || st.nHour > 23 || st.nMinute < 0 ||
        st.nMinute > 59 || st.nSecond < 0 || st.nSecond > 59) {
        return false;
    }
    // Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's method).
    int64_t y = st.nYear - (st.nMonth <= 2 ? 1 : 0);
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t mp = (st.nMonth + 9) % 12;
    int64_t doy = (153 * mp + 2) / 5 + st.nDay - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t nDays = era * 146097 + doe - 719468;
    *pnUnixSeconds = nDays * 86400 + st.nHour * 3600 + st.nMinute * 60 + st.nSecond;
    return true;
}

void SleepMs(unsigned nMs) {
    timespec ts{static_cast<time_t>(nMs / 1000), static_cast<long>(nMs % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
