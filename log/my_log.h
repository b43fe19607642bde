// The process-wide log: one file a day in the log folder, levelled,
// time-stamped lines, a size limit with one backup, and old files deleted at
// start. The application creates the one instance and publishes it through
// g_pMyLog; any thread may write to it.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/clock.h"

#if defined(__GNUC__)
#define TIDE_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TIDE_PRINTF(fmt, args)
#endif

class CMyLog {
public:
    // nMaxSizeMB: size limit of one file; strDir: log folder; strName: file
    // name prefix. pClock is for tests; null means the system clock. A clock
    // passed in must outlive the log and may be read from any writer's thread.
    CMyLog(int nMaxSizeMB, const std::string& strDir, const std::string& strName,
           const platform::IClock* pClock = nullptr);
    ~CMyLog();
    CMyLog(const CMyLog&) = delete;
    CMyLog& operator=(const CMyLog&) = delete;

    void Log(int nLevel, const char* pszFormat, ...) TIDE_PRINTF(3, 4);
    void LogV(int nLevel, const char* pszFormat, va_list args) TIDE_PRINTF(3, 0);
    // Logs the last system error's code and text at level 2.
    void LogLastErrorText();
    void LogDump(int nLevel, char cMode, int nLength, const unsigned char* pData);
    void LogHexDump(int nLevel, int nLength, const unsigned char* pData);

    void SetLevel(int nLevel) { m_nLevel = nLevel; }
    int GetLevel() const { return m_nLevel; }
    void SetEnabled(int bEnabled) { m_bEnabled = bEnabled; }
    int GetEnabled() const { return m_bEnabled; }
    void SetMaxSizeMB(int nMaxSizeMB);
    // Sets the retention and deletes what is now too old; returns the count.
    int SetKeepDays(int nKeepDays);
    int GetKeepDays() const;
    // Full path of the current file.
    std::string GetLogPath() const;

private:
    // Writers test these three before taking the lock. m_bOpened is the
    // outcome of the last open: it stays 1 while a size or date change swaps
    // the file, so that no writer drops its line in that moment, and turns 0
    // only when an open fails (every later write is then skipped).
    std::atomic<int> m_bOpened{0};
    std::atomic<int> m_nLevel{1};
    std::atomic<int> m_bEnabled{1};
    mutable std::mutex m_mutex;
    // The members below are touched only under m_mutex (or in the
    // constructor and destructor, when no other thread can see the object).
    FILE* m_fpLog = nullptr;  // null while no file is open
    int m_nMaxSizeMB = 10;
    std::string m_strLogPath;
    char m_szMessage[1025] = {};  // one message text: 1024 bytes and a terminator
    int m_nWriteCount = 0;
    int m_nCheckInterval = 100;
    int m_nKeepDays = 10;
    std::string m_strDate;  // YYYYMMDD, local date of the current file
    std::string m_strDir;
    std::string m_strName;
    const platform::IClock* m_pClock;

    // Counts one write and runs the date check (dumps only) and the size
    // check; false when no stream is left to write to.
    bool PrepareWrite(bool bCheckDate);
    void CheckSize();
    void CheckDate();
    int DeleteOldFiles();
    void MakeDirectories();
    void MakeBackup();
    void OpenFile();
    void CloseFile();
    void BuildPath();
    void WriteText(const std::string& strText);
};

// The log; null before start-up has created it and after shutdown.
extern CMyLog* g_pMyLog;

// Writes through g_pMyLog when it exists, for code that may run without it.
void TideLog(int nLevel, const char* pszFormat, ...) TIDE_PRINTF(2, 3);
