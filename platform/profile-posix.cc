// INI profile functions on POSIX. A read parses the whole file and looks the
// entry up; a write edits the text of one line and replaces the file through a
// temporary file in the same folder, so readers never see a half-written INI.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"

namespace platform {

namespace {

// Settings files are a few KiB; anything larger is not ours and is neither
// parsed (reads give the defaults) nor rewritten (writes fail with EFBIG).
constexpr size_t kMaxIniFileBytes = 4 * 1024 * 1024;
// Names tried for the temporary file before a write gives up.
constexpr int kMaxTempAttempts = 100;
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Serialises read-modify-write cycles of this process, so two threads saving
// settings at once do not lose each other's entries.
std::mutex g_writeMutex;
std::atomic<unsigned> g_nTempCounter{0};

enum class LineKind { kOther, kSection, kEntry };

// One line of the file as offsets into its text. nContentEnd excludes the
// line break; nEnd is the start of the next line.
struct IniLine {
    size_t nStart = 0;
    size_t nContentEnd = 0;
    size_t nEnd = 0;
    LineKind eKind = LineKind::kOther;
    std::string_view svName;  // section name or key, blanks dropped
    size_t nEq = 0;           // offset of the '=' of an entry
    size_t nValueStart = 0;   // value without surrounding blanks
    size_t nValueEnd = 0;
};

// Where a section and key were found, as line indexes.
struct IniMatch {
    size_t nSection = std::string::npos;
    size_t nEntry = std::string::npos;
    size_t nLastEntry = std::string::npos;  // last entry of the section, or its header
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view sv) {
    while (!sv.empty() && IsBlank(sv.front()))
        sv.remove_prefix(1);
    while (!sv.empty() && IsBlank(sv.back()))
        sv.remove_suffix(1);
    return sv;
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

// Sorts one line into header, entry or anything else. Lines holding a NUL
// byte are junk: no caller's name can match them.
void ClassifyLine(const std::string& strText, size_t nFrom, IniLine* pLine) {
    std::string_view svLine(strText.data() + nFrom, pLine->nContentEnd - nFrom);
    if (svLine.find('\0') != std::string_view::npos)
        return;
    std::string_view svTrimmed = Trim(svLine);
    if (svTrimmed.empty() || svTrimmed.front() == ';' || svTrimmed.front() == '#')
        return;
    if (svTrimmed.front() == '[') {
        size_t nClose = svTrimmed.find(']');
        if (nClose == std::string_view::npos)
            return;
        pLine->eKind = LineKind::kSection;
        pLine->svName = Trim(svTrimmed.substr(1, nClose - 1));
        return;
    }
    size_t nEq = svLine.find('=');
    if (nEq == std::string_view::npos)
        return;
    pLine->eKind = LineKind::kEntry;
    pLine->svName = Trim(svLine.substr(0, nEq));
    pLine->nEq = nFrom + nEq;
    size_t nValueStart = pLine->nEq + 1;
    size_t nValueEnd = pLine->nContentEnd;
    while (nValueStart < nValueEnd && IsBlank(strText[nValueStart]))
        ++nValueStart;
    while (nValueEnd > nValueStart && IsBlank(strText[nValueEnd - 1]))
        --nValueEnd;
    pLine->nValueStart = nValueStart;
    pLine->nValueEnd = nValueEnd;
}

std::vector<IniLine> SplitLines(const std::string& strText) {
    std::vector<IniLine> lines;
    size_t nPos = 0;
    while (nPos < strText.size()) {
        IniLine line;
        line.nStart = nPos;
        size_t nNewline = strText.find('\n', nPos);
        line.nEnd = (nNewline == std::string::npos) ? strText.size() : nNewline + 1;
        line.nContentEnd = (nNewline == std::string::npos) ? strText.size() : nNewline;
        if (line.nContentEnd > nPos && strText[line.nContentEnd - 1] == '\r')
            --line.nContentEnd;
        // A byte-order mark from a Windows editor is not part of the first header.
        size_t nFrom = nPos;
        if (nPos == 0 && std::string_view(strText).substr(0, kUtf8Bom.size()) == kUtf8Bom) {
            nFrom = std::min(kUtf8Bom.size(), line.nContentEnd);
        }
        ClassifyLine(strText, nFrom, &line);
        lines.push_back(line);
        nPos = line.nEnd;
    }
    return lines;
}

// Only the first section of a name counts, and its first entry of a key.
IniMatch FindEntry(const std::vector<IniLine>& lines, std::string_view svSection,
                   std::string_view svKey) {
    IniMatch match;
    for (size_t i = 0; i < lines.size(); ++i) {
        const IniLine& line = lines[i];
        if (line.eKind == LineKind::kSection) {
            if (match.nSection != std::string::npos)
                break;
            if (EqualsNoCase(line.svName, svSection)) {
                match.nSection = i;
                match.nLastEntry = i;
            }
        } else if (line.eKind == LineKind::kEntry && match.nSection != std::string::npos) {
            match.nLastEntry = i;
            if (match.nEntry == std::string::npos && EqualsNoCase(line.svName, svKey)) {
                match.nEntry = i;
            }
        }
    }
    return match;
}

// Cuts a value to what fits the callers' buffer, never inside a UTF-8
// sequence (code-page text is cut at the byte limit).
void CutToBuffer(std::string* pstrValue) {
    size_t nMax = kProfileBufferSize - 1;
    if (pstrValue->size() <= nMax)
        return;
    const auto* pBytes = reinterpret_cast<const unsigned char*>(pstrValue->data());
    size_t nLead = nMax - 1;
    while (nLead > 0 && nLead > nMax - 4 && (pBytes[nLead] & 0xC0) == 0x80)
        --nLead;
    size_t nLength = 1;
    if ((pBytes[nLead] & 0xE0) == 0xC0) {
        nLength = 2;
    } else if ((pBytes[nLead] & 0xF0) == 0xE0) {
        nLength = 3;
    } else if ((pBytes[nLead] & 0xF8) == 0xF0) {
        nLength = 4;
    }
    pstrValue->resize(nLength > 1 && nLead + nLength > nMax ? nLead : nMax);
}

// Reads a regular file of at most kMaxIniFileBytes. O_NONBLOCK keeps a FIFO
// placed at the path from hanging the caller.
bool ReadIniFile(const std::string& strPath, std::string* pstrText, mode_t* pnMode) {
    int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st {};
    int nErr = 0;
    if (fstat(fd, &st) != 0) {
        nErr = errno;
    } else if (S_ISDIR(st.st_mode)) {
        nErr = EISDIR;
    } else if (!S_ISREG(st.st_mode)) {
        nErr = EINVAL;
    } else if (static_cast<uint64_t>(st.st_size) > kMaxIniFileBytes) {
        nErr = EFBIG;
    }
    pstrText->clear();
    char szBuf[16384];
    while (nErr == 0) {
        ssize_t nRead = read(fd, szBuf, sizeof(szBuf));
        if (nRead < 0 && errno == EINTR)
            continue;
        if (nRead < 0) {
            nErr = errno;
        } else if (nRead == 0) {
            break;
        } else if (pstrText->size() + static_cast<size_t>(nRead) > kMaxIniFileBytes) {
            nErr = EFBIG;  // grew while being read
        } else {
            pstrText->append(szBuf, static_cast<size_t>(nRead));
        }
    }
    close(fd);
    if (nErr != 0) {
        pstrText->clear();
        errno = nErr;
        return false;
    }
    if (pnMode != nullptr)
        *pnMode = st.st_mode & 07777;
    return true;
}

bool WriteAll(int fd, const std::string& strData) {
    size_t nDone = 0;
    while (nDone < strData.size()) {
        ssize_t nWritten = write(fd, strData.data() + nDone, strData.size() - nDone);
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten < 0)
            return false;
        nDone += static_cast<size_t>(nWritten);
    }
    return true;
}

// Writes strText to a temporary file next to strPath and renames it over
// strPath. A new file gets the normal permissions (umask applied); a replaced
// file keeps its permission bits.
bool ReplaceFile(const std::string& strPath, const std::string& strText, bool bExisted,
                 mode_t nMode) {
    size_t nSlash = strPath.rfind('/');
    std::string strDir = (nSlash == std::string::npos) ? "." : strPath.substr(0, nSlash);
    std::string strBase = (nSlash == std::string::npos) ? strPath : strPath.substr(nSlash + 1);
    std::string strTemp;
    int fd = -1;
    for (int nTry = 0; fd < 0 && nTry < kMaxTempAttempts; ++nTry) {
        strTemp = strDir + "/." + strBase + ".tmp-" + std::to_string(getpid()) + "-" +
                  std::to_string(g_nTempCounter.fetch_add(1));
        fd = open(strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool bOk = (!bExisted || fchmod(fd, nMode) == 0) && WriteAll(fd, strText) && fsync(fd) == 0;
    int nErr = errno;
    if (close(fd) != 0 && bOk) {
        bOk = false;
        nErr = errno;
    }
    if (bOk && rename(strTemp.c_str(), strPath.c_str()) != 0) {
        bOk = false;
        nErr = errno;
    }
    if (!bOk) {
        unlink(strTemp.c_str());
        errno = nErr;
        return false;
    }
    // Make the rename itself durable; a failure here loses nothing already written.
    int fdDir = open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDir >= 0) {
        fsync(fdDir);
        close(fdDir);
    }
    return true;
}

// The file's own line break: CRLF when its first line ends so, else LF.
std::string_view LineBreakOf(const std::string& strText) {
    size_t nNewline = strText.find('\n');
    if (nNewline != std::string::npos && nNewline > 0 && strText[nNewline - 1] == '\r') {
        return "\r\n";
    }
    return "\n";
}

// What ends a file's last line when a line is added after it. A CR at the
// very end reads as the start of a line break, not as part of the line, so
// it only needs its LF: another CR would become part of that line's value.
std::string BreakToEnd(const std::string& strText, std::string_view svBreak) {
    return !strText.empty() && strText.back() == '\r' ? "\n" : std::string(svBreak);
}

// The text with key set to strValue in section; every other byte is kept.
std::string EditText(const std::string& strText, std::string_view svSection, std::string_view svKey,
                     const std::string& strValue) {
    std::vector<IniLine> lines = SplitLines(strText);
    IniMatch match = FindEntry(lines, svSection, svKey);
    std::string_view svBreak = LineBreakOf(strText);
    std::string strResult = strText;
    if (match.nEntry != std::string::npos) {
        // Keep the key as written and the blanks after '='; replace the value.
        const IniLine& line = lines[match.nEntry];
        size_t nFrom = (line.nValueStart < line.nValueEnd) ? line.nValueStart : line.nEq + 1;
        strResult.replace(nFrom, line.nContentEnd - nFrom, strValue);
        return strResult;
    }
    std::string strEntry = std::string(svKey) + "=" + strValue;
    if (match.nSection != std::string::npos) {
        const IniLine& line = lines[match.nLastEntry];
        // The last line of a file without a final line feed.
        if (strText[line.nEnd - 1] != '\n') {
            strResult.insert(line.nEnd, BreakToEnd(strText, svBreak) + strEntry);
        } else {
            strResult.insert(line.nEnd, strEntry + std::string(svBreak));
        }
        return strResult;
    }
    if (!strResult.empty() && strResult.back() != '\n')
        strResult += BreakToEnd(strText, svBreak);
    strResult += "[";
    strResult += svSection;
    strResult += "]";
    strResult += svBreak;
    strResult += strEntry;
    strResult += svBreak;
    return strResult;
}

bool HasAny(std::string_view sv, std::string_view svBytes) {
    return sv.find_first_of(svBytes) != std::string_view::npos;
}

}  // namespace

std::string GetProfileString(const std::string& strSection, const std::string& strKey,
                             const std::string& strDefault, const std::string& strIniPath) {
    std::string strResult = strDefault;
    std::string strText;
    if (ReadIniFile(strIniPath, &strText, nullptr)) {
        std::vector<IniLine> lines = SplitLines(strText);
        IniMatch match = FindEntry(lines, Trim(strSection), Trim(strKey));
        if (match.nEntry != std::string::npos) {
            const IniLine& line = lines[match.nEntry];
            std::string_view svValue(strText.data() + line.nValueStart,
                                     line.nValueEnd - line.nValueStart);
            if (svValue.size() >= 2 && (svValue.front() == '"' || svValue.front() == '\'') &&
                svValue.back() == svValue.front()) {
                svValue = svValue.substr(1, svValue.size() - 2);
            }
            strResult.assign(svValue);
        }
    }
    CutToBuffer(&strResult);
    return strResult;
}

bool WriteProfileString(const std::string& strSection, const std::string& strKey,
                        const std::string& strValue, const std::string& strIniPath) {
    using namespace std::string_view_literals;
    std::string_view svSection = Trim(strSection);
    std::string_view svKey = Trim(strKey);
    // Names and values that would end the line or change its meaning could
    // inject entries of their own; they are refused. So are keys that would
    // make their line read as a section header or a comment.
    if (svSection.empty() || svKey.empty() || HasAny(svSection, "\r\n\0]"sv) ||
        HasAny(svKey, "\r\n\0="sv) || HasAny(svKey.substr(0, 1), "[;#"sv) ||
        HasAny(strValue, "\r\n\0"sv)) {
        errno = EINVAL;
        return false;
    }
    std::lock_guard<std::mutex> lock(g_writeMutex);
    // A link to the settings file stays a link: its target is replaced.
    std::string strPath = strIniPath;
    char szReal[PATH_MAX];
    if (realpath(strIniPath.c_str(), szReal) != nullptr)
        strPath = szReal;

    std::string strText;
    mode_t nMode = 0;
    bool bExisted = ReadIniFile(strPath, &strText, &nMode);
    if (!bExisted && errno != ENOENT)
        return false;
    std::string strNew = EditText(strText, svSection, svKey, strValue);
    if (bExisted && strNew == strText)
        return true;
    // A file without write permission is read-only, even for root.
    if (bExisted &&
        ((nMode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(strPath.c_str(), W_OK) != 0)) {
        errno = EACCES;
        return false;
    }
    return ReplaceFile(strPath, strNew, bExisted, nMode);
}

}  // namespace platform
