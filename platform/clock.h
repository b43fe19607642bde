// Wall clock, monotonic ticks and calendar conversions.
// The log and the engine read time through an IClock so tests can move the
// date; SystemClock() is the real one and lives as long as the process.
#pragma once

#include <cstdint>

namespace platform {

// Broken-down calendar time, month 1-12, with milliseconds.
struct SystemTime {
    int nYear = 0;
    int nMonth = 0;
    int nDay = 0;
    int nHour = 0;
    int nMinute = 0;
    int nSecond = 0;
    int nMilliseconds = 0;
};

class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds since 1970-01-01 00:00:00 UTC.
    virtual int64_t NowUnixMs() const = 0;
    // Monotonic milliseconds for time-outs; only differences mean anything.
    virtual uint64_t TickCountMs() const = 0;
};

IClock& SystemClock();

// Conversions of Unix milliseconds; local time follows the process's zone.
SystemTime ToLocalTime(int64_t nUnixMs);
SystemTime ToGmtTime(int64_t nUnixMs);
// Pure GMT calendar to Unix seconds; false when a field is out of range.
bool GmtToUnixSeconds(const SystemTime& st, int64_t* pnUnixSeconds);

void SleepMs(unsigned nMs);

}  // namespace platform
