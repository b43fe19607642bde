#include "log/my_log.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/file_system.h"
#include "platform/system_error.h"

CMyLog* g_pMyLog = nullptr;

namespace {

#ifdef _WIN32
constexpr char kAppendMode[] = "a";
#else
// Close-on-exec: the programs the updater starts must not inherit the log.
constexpr char kAppendMode[] = "ae";
#endif

constexpr int64_t kBytesPerMB = 1048576;
constexpr int64_t kMsPerDay = 24LL * 60 * 60 * 1000;

struct LevelName {
    int nLevel;
    const char* pszName;
};

// Searched from the front; the entry numbered 100 ends the table and is
// never printed.
constexpr LevelName kLevelNames[] = {
    {1, "DEBUG"}, {2, "INFO"}, {3, "WARN"}, {4, "ERROR"}, {5, "FATAL"}, {100, "ETC"},
};
constexpr int kLevelSentinel = 100;

const char* FindLevelName(int nLevel) {
    for (const LevelName& entry : kLevelNames) {
        if (entry.nLevel == kLevelSentinel) {
            break;
        }
        if (entry.nLevel == nLevel) {
            return entry.pszName;
        }
    }
    return "  ";
}

// Keeps the caller's last system error across a write, so that a caller can
// log a failure's code and then call LogLastErrorText for the same code.
class CKeepSystemError {
public:
    CKeepSystemError() : m_nCode(platform::GetLastSystemError()) {}
    ~CKeepSystemError() { platform::SetLastSystemError(m_nCode); }
    CKeepSystemError(const CKeepSystemError&) = delete;
    CKeepSystemError& operator=(const CKeepSystemError&) = delete;

private:
    int m_nCode;
};

std::string FormatDate(const platform::SystemTime& st) {
    char szDate[48];
    snprintf(szDate, sizeof(szDate), "%04d%02d%02d", st.nYear, st.nMonth, st.nDay);
    return szDate;
}

// "YYYY/MM/DD=hh:mm:ss.mmm : LEVEL " as it starts every line and dump header.
std::string FormatStamp(const platform::SystemTime& st, const char* pszLevelName) {
    char szStamp[128];
    snprintf(szStamp, sizeof(szStamp), "%04d/%02d/%02d=%02d:%02d:%02d.%03d : %-5s ", st.nYear,
             st.nMonth, st.nDay, st.nHour, st.nMinute, st.nSecond, st.nMilliseconds, pszLevelName);
    return szStamp;
}

// Length of the first nLen bytes of psz without a UTF-8 sequence that the
// end cuts short: when the last sequence is incomplete, its lead byte and
// what follows it are dropped. Text that is not UTF-8 keeps its length.
size_t CutAtCharacterStart(const char* psz, size_t nLen) {
    size_t nStart = nLen;
    size_t nTrail = 0;
    while (nStart > 0 && nTrail < 3 &&
           (static_cast<unsigned char>(psz[nStart - 1]) & 0xC0) == 0x80) {
        --nStart;
        ++nTrail;
    }
    if (nStart == 0) {
        return nLen;
    }
    unsigned char cLead = static_cast<unsigned char>(psz[nStart - 1]);
    size_t nNeed;
    if ((cLead & 0xE0) == 0xC0) {
        nNeed = 2;
    } else if ((cLead & 0xF0) == 0xE0) {
        nNeed = 3;
    } else if ((cLead & 0xF8) == 0xF0) {
        nNeed = 4;
    } else {
        return nLen;  // a single-byte character, or no lead byte at all
    }
    return nTrail + 1 < nNeed ? nStart - 1 : nLen;
}

// EBCDIC letters, digits and common signs to ASCII; every
// other byte shows as '.'.
struct EbcdicTable {
    char acChar[256];
    constexpr EbcdicTable() : acChar() {
        for (char& c : acChar) {
            c = '.';
        }
        struct Pair {
            unsigned char cCode;
            char c;
        };
        constexpr Pair kPairs[] = {
            {0x40, ' '},  {0x4B, '.'}, {0x4C, '<'}, {0x4D, '('}, {0x4E, '+'}, {0x4F, '|'},
            {0x50, '&'},  {0x5A, '!'}, {0x5B, '$'}, {0x5C, '*'}, {0x5D, ')'}, {0x5E, ';'},
            {0x60, '-'},  {0x61, '/'}, {0x6A, '|'}, {0x6B, ','}, {0x6C, '%'}, {0x6D, '_'},
            {0x6E, '>'},  {0x6F, '?'}, {0x79, '`'}, {0x7A, ':'}, {0x7B, '#'}, {0x7C, '@'},
            {0x7D, '\''}, {0x7E, '='}, {0x7F, '"'}, {0xC0, '{'}, {0xD0, '}'}, {0xE0, '\\'},
        };
        for (const Pair& pair : kPairs) {
            acChar[pair.cCode] = pair.c;
        }
        for (int i = 0; i < 9; ++i) {
            acChar[0x81 + i] = static_cast<char>('a' + i);
            acChar[0x91 + i] = static_cast<char>('j' + i);
            acChar[0xC1 + i] = static_cast<char>('A' + i);
            acChar[0xD1 + i] = static_cast<char>('J' + i);
        }
        for (int i = 0; i < 8; ++i) {
            acChar[0xA2 + i] = static_cast<char>('s' + i);
            acChar[0xE2 + i] = static_cast<char>('S' + i);
        }
        for (int i = 0; i < 10; ++i) {
            acChar[0xF0 + i] = static_cast<char>('0' + i);
        }
    }
};
constexpr EbcdicTable kEbcdic;

}  // namespace

CMyLog::CMyLog(int nMaxSizeMB, const std::string& strDir, const std::string& strName,
               const platform::IClock* pClock)
    : m_strDir(strDir),
      m_strName(strName),
      m_pClock(pClock != nullptr ? pClock : &platform::SystemClock()) {
    m_strDate = FormatDate(platform::ToLocalTime(m_pClock->NowUnixMs()));
    BuildPath();
    m_nMaxSizeMB = nMaxSizeMB;
    MakeDirectories();
    DeleteOldFiles();
    OpenFile();
}

CMyLog::~CMyLog() {
    std::lock_guard<std::mutex> lock(m_mutex);
    CloseFile();
    m_bOpened = 0;
}

void CMyLog::Log(int nLevel, const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    LogV(nLevel, pszFormat, args);
    va_end(args);
}

void CMyLog::LogV(int nLevel, const char* pszFormat, va_list args) {
    if (m_bOpened.load() == 0 || m_bEnabled.load() == 0 || nLevel < m_nLevel.load()) {
        return;
    }
    const char* pszLevelName = FindLevelName(nLevel);
    CKeepSystemError keepError;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!PrepareWrite(false)) {
        return;
    }

    m_szMessage[0] = '\0';
    int nLen =
        pszFormat != nullptr ? vsnprintf(m_szMessage, sizeof(m_szMessage), pszFormat, args) : 0;
    if (nLen < 0) {
        m_szMessage[0] = '\0';
    } else if (static_cast<size_t>(nLen) >= sizeof(m_szMessage)) {
        // Cut at the buffer's end, but never inside a character.
        m_szMessage[CutAtCharacterStart(m_szMessage, sizeof(m_szMessage) - 1)] = '\0';
    }

    platform::SystemTime st = platform::ToLocalTime(m_pClock->NowUnixMs());
    fprintf(m_fpLog, "%04d/%02d/%02d=%02d:%02d:%02d.%03d : %-5s %s\n", st.nYear, st.nMonth, st.nDay,
            st.nHour, st.nMinute, st.nSecond, st.nMilliseconds, pszLevelName, m_szMessage);
    fflush(m_fpLog);
}

void CMyLog::LogLastErrorText() {
    // Read first: anything called below may change the thread's last error.
    int nCode = platform::GetLastSystemError();
    std::string strText;
    if (platform::FormatSystemMessage(nCode, &strText)) {
        Log(2, "CMyLog::LogLastErrorText> (%d) %s", nCode, strText.c_str());
    } else {
        Log(2, "CMyLog::LogLastErrorText> FormatMessage() Fail, ErrCode = %d", nCode);
    }
    platform::SetLastSystemError(nCode);
}

void CMyLog::LogDump(int nLevel, char cMode, int nLength, const unsigned char* pData) {
    if (m_bOpened.load() == 0 || m_bEnabled.load() == 0 || nLevel < m_nLevel.load()) {
        return;
    }
    const char* pszLevelName = FindLevelName(nLevel);
    CKeepSystemError keepError;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!PrepareWrite(true)) {
        return;
    }

    const std::string strRule(68, '=');
    platform::SystemTime st = platform::ToLocalTime(m_pClock->NowUnixMs());
    char szBuf[64];
    std::string strOut = "\n" + strRule + "\n" + FormatStamp(st, pszLevelName);
    snprintf(szBuf, sizeof(szBuf), "Data Length = %d\n\n", nLength);
    strOut += szBuf;

    int nData = pData != nullptr ? nLength : 0;
    for (int nOffset = 0; nOffset < nData; nOffset += 16) {
        char szOffset[8];
        snprintf(szOffset, sizeof(szOffset), "%04d", nOffset % 10000);
        snprintf(szBuf, sizeof(szBuf), "%-6s", szOffset);
        strOut += szBuf;
        for (int i = 0; i < 16; ++i) {
            if (i % 4 == 0) {
                strOut += "  ";
            }
            if (nOffset + i < nData) {
                snprintf(szBuf, sizeof(szBuf), "%02x", pData[nOffset + i]);
                strOut += szBuf;
            } else {
                strOut += "  ";
            }
        }
        strOut += "    |";
        for (int i = 0; i < 16; ++i) {
            if (nOffset + i >= nData) {
                strOut += ' ';
                continue;
            }
            unsigned char cByte = pData[nOffset + i];
            if (cMode == 'A') {
                strOut += cByte >= 32 && cByte <= 125 ? static_cast<char>(cByte) : '.';
            } else if (cMode == 'E') {
                strOut += kEbcdic.acChar[cByte];
            }
        }
        strOut += "|\n";
    }
    strOut += strRule + "\n\n";
    WriteText(strOut);
}

void CMyLog::LogHexDump(int nLevel, int nLength, const unsigned char* pData) {
    if (m_bOpened.load() == 0 || m_bEnabled.load() == 0 || nLevel < m_nLevel.load()) {
        return;
    }
    if (nLength <= 0 || pData == nullptr) {
        return;
    }
    CKeepSystemError keepError;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!PrepareWrite(true)) {
        return;
    }

    const std::string strRule(77, '=');
    std::string strOut =
        "          00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F    0-2-4-6-8-A-C-E-\n";
    strOut += strRule + "\n";

    std::string strHex;
    std::string strChars = " ";
    bool bHeld = false;  // a lead byte waits for the byte that follows it
    unsigned char cHeld = 0;
    char szBuf[32];
    auto flushLine = [&](int nLineStart) {
        snprintf(szBuf, sizeof(szBuf), "%08X:", static_cast<unsigned>(nLineStart));
        strOut += szBuf;
        strOut += strHex;
        strOut += " : ";
        strOut += strChars;
        strOut += '\n';
        strHex.clear();
        strChars = " ";
    };
    for (int i = 0; i < nLength; ++i) {
        unsigned char cByte = pData[i];
        snprintf(szBuf, sizeof(szBuf), " %02X", cByte);
        strHex += szBuf;
        if (bHeld) {
            strChars += static_cast<char>(cHeld);
            strChars += static_cast<char>(cByte);
            bHeld = false;
        } else if (cByte < 32) {
            strChars += '.';
        } else if (cByte <= 126) {
            strChars += static_cast<char>(cByte);
        } else if (cByte < 160) {
            strChars += '.';
        } else {
            cHeld = cByte;
            bHeld = true;
        }
        if (i % 16 == 15) {
            flushLine(i - 15);
        }
    }
    int nLeft = nLength % 16;
    if (nLeft != 0) {
        strHex.append(static_cast<size_t>(16 - nLeft) * 3, ' ');
        flushLine(nLength - nLeft);
    }
    strOut += strRule + "\n";
    WriteText(strOut);
}

void CMyLog::SetMaxSizeMB(int nMaxSizeMB) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nMaxSizeMB = nMaxSizeMB;
}

int CMyLog::SetKeepDays(int nKeepDays) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nKeepDays = nKeepDays;
    return DeleteOldFiles();
}

int CMyLog::GetKeepDays() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nKeepDays;
}

std::string CMyLog::GetLogPath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strLogPath;
}

bool CMyLog::PrepareWrite(bool bCheckDate) {
    // An open may have failed between the caller's test and the lock.
    if (m_fpLog == nullptr) {
        return false;
    }
    ++m_nWriteCount;
    if (bCheckDate) {
        CheckDate();
    }
    if (m_nWriteCount > m_nCheckInterval) {
        m_nWriteCount = 0;
        CheckSize();
    }
    return m_fpLog != nullptr;  // a failed reopen drops the line in progress
}

void CMyLog::CheckSize() {
    platform::FileStatus status;
    if (!platform::GetFileStatus(m_strLogPath, &status)) {
        return;
    }
    if (static_cast<int64_t>(status.nSize) < static_cast<int64_t>(m_nMaxSizeMB) * kBytesPerMB) {
        return;
    }
    CloseFile();
    MakeBackup();
    OpenFile();
}

void CMyLog::CheckDate() {
    std::string strToday = FormatDate(platform::ToLocalTime(m_pClock->NowUnixMs()));
    if (strToday == m_strDate) {
        return;
    }
    CloseFile();
    MakeBackup();  // the old day's file ends under its backup name
    m_strDate = strToday;
    BuildPath();
    OpenFile();
}

int CMyLog::DeleteOldFiles() {
    if (m_nKeepDays < 1) {
        return 0;
    }
    int64_t nLimitMs = m_pClock->NowUnixMs() - static_cast<int64_t>(m_nKeepDays) * kMsPerDay;
    std::string strPrefix = m_strName + "_";
    std::string strLimit = strPrefix + FormatDate(platform::ToLocalTime(nLimitMs)) + ".log";

    std::vector<platform::DirEntry> entries;
    if (!platform::ListDirectory(m_strDir, &entries)) {
        return 0;
    }
    int nDeleted = 0;
    for (const platform::DirEntry& entry : entries) {
        // "<prefix>_????????.log*": the prefix, eight characters, ".log", anything.
        const std::string& strFile = entry.strName;
        if (entry.bDirectory || strFile.size() < strPrefix.size() + 12 ||
            strFile.compare(0, strPrefix.size(), strPrefix) != 0 ||
            strFile.compare(strPrefix.size() + 8, 4, ".log") != 0) {
            continue;
        }
        // Byte-wise and case-sensitive, so "<limit>.bak" sorts after the limit.
        if (strcmp(strFile.c_str(), strLimit.c_str()) <= 0 &&
            platform::DeleteFile(platform::JoinPath(m_strDir, strFile))) {
            ++nDeleted;
        }
    }
    return nDeleted;
}

void CMyLog::MakeDirectories() {
    // Every separator but a leading one (the root) ends a folder to create;
    // folders that exist already make MakeDirectory fail, which is fine.
    for (size_t i = 1; i < m_strLogPath.size(); ++i) {
        if (m_strLogPath[i] == platform::kPathSep) {
            platform::MakeDirectory(m_strLogPath.substr(0, i));
        }
    }
}

void CMyLog::MakeBackup() {
    std::string strBackup = m_strLogPath + ".bak";
    platform::DeleteFile(strBackup);
    platform::MoveFileReplace(m_strLogPath, strBackup);
    platform::DeleteFile(m_strLogPath);
}

void CMyLog::OpenFile() {
    CloseFile();
    m_fpLog = fopen(m_strLogPath.c_str(), kAppendMode);
    m_bOpened = m_fpLog != nullptr ? 1 : 0;
}

// Leaves m_bOpened alone: a swap of files reopens right after, and writers
// waiting for the lock must not take the closed moment for a failed open.
void CMyLog::CloseFile() {
    if (m_fpLog != nullptr) {
        fclose(m_fpLog);
    }
    m_fpLog = nullptr;
}

void CMyLog::BuildPath() {
    m_strLogPath = platform::JoinPath(m_strDir, m_strName + "_" + m_strDate + ".log");
}

void CMyLog::WriteText(const std::string& strText) {
    fwrite(strText.data(), 1, strText.size(), m_fpLog);
    fflush(m_fpLog);
}

void TideLog(int nLevel, const char* pszFormat, ...) {
    CMyLog* pLog = g_pMyLog;
    if (pLog == nullptr) {
        return;
    }
    va_list args;
    va_start(args, pszFormat);
    pLog->LogV(nLevel, pszFormat, args);
    va_end(args);
}
