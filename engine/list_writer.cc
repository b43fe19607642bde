#include "engine/list_writer.h"

#include <fnmatch.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <set>
#include <utility>

#include "engine/gzip_decoder.h"
#include "engine/http_connection.h"
#include "engine/leftovers.h"
#include "engine/list_limits.h"
#include "engine/sync_engine.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/system_error.h"
#include "util/crypto.h"

namespace {

std::string ErrorText(int nError) {
    std::string strText;
    return platform::FormatSystemMessage(nError, &strText) ? strText
                                                           : "error " + std::to_string(nError);
}

// The text goes to the sink in blocks of about this size.
constexpr size_t kSinkBlockBytes = 256 * 1024;
constexpr char kListHeaderComment[] =
    "# Written by TidewellMakeList: source,target,system,type,time,size,sha256,encoding\n";
// The latest time a record can name: 9999-12-31 23:59:59 GMT.
constexpr int64_t kMaxRecordTime = 253402300799;

// A pattern without "/" matches the file name in any folder. "*.ext", the
// usual kind, is compared directly: fnmatch for every file of a large
// release costs more than the walk.
bool Matches(const std::string& strPattern, const std::string& strRel) {
    bool bPathPattern = strPattern.find('/') != std::string::npos;
    if (!bPathPattern && strPattern.size() > 1 && strPattern[0] == '*' &&
        strPattern.find_first_of("*?[\\", 1) == std::string::npos) {
        size_t nSuffix = strPattern.size() - 1;
        size_t nSlash = strRel.rfind('/');
        size_t nNameStart = nSlash == std::string::npos ? 0 : nSlash + 1;
        return strRel.size() - nNameStart >= nSuffix &&
               strcasecmp(strRel.c_str() + strRel.size() - nSuffix, strPattern.c_str() + 1) == 0;
    }
    if (!bPathPattern) {
        size_t nSlash = strRel.rfind('/');
        const char* pszName = strRel.c_str() + (nSlash == std::string::npos ? 0 : nSlash + 1);
        return fnmatch(strPattern.c_str(), pszName, FNM_CASEFOLD) == 0;
    }
    return fnmatch(strPattern.c_str(), strRel.c_str(), FNM_CASEFOLD | FNM_PATHNAME) == 0;
}

// Decoded size and SHA-256 of a gzip file, by decoding it: the trailer's
// size field wraps at 4 GiB and covers only the last member.
bool GzipDecodedSizeAndHash(const std::string& strPath, uint64_t* pnSize, std::string* pstrHash) {
    FILE* fp = fopen(strPath.c_str(), "rb");
    if (fp == nullptr)
        return false;
    CSha256 sha;
    CGzipDecoder decoder([&sha](const char* pData, size_t nSize) {
        sha.Update(pData, nSize);
        return true;
    });
    std::vector<char> buffer(1 << 16);
    size_t nRead;
    while ((nRead = fread(buffer.data(), 1, buffer.size(), fp)) > 0) {
        if (!decoder.Feed(buffer.data(), nRead))
            break;
    }
    bool bReadError = ferror(fp) != 0;
    fclose(fp);
    if (bReadError || decoder.Finish() != kGzipOk)
        return false;
    *pnSize = decoder.GetDecodedSize();
    *pstrHash = sha.HexDigest();
    return !pstrHash->empty();
}

std::string GmtTimeText(int64_t nUnixSeconds) {
    platform::SystemTime st = platform::ToGmtTime(nUnixSeconds * 1000);
    char szTime[32];
    snprintf(szTime, sizeof(szTime), "%04d%02d%02d%02d%02d%02d", st.nYear, st.nMonth, st.nDay,
             st.nHour, st.nMinute, st.nSecond);
    return szTime;
}

// The source field names what clients request: escapes in it are kept as
// escapes, and a "?" would begin a query.
std::string RequestName(const std::string& strPath) {
    std::string strName;
    strName.reserve(strPath.size() + 8);
    for (char c : strPath) {
        if (c == '%') {
            strName += "%25";
        } else if (c == '?') {
            strName += "%3F";
        } else {
            strName += c;
        }
    }
    return strName;
}

// Why clients could not take a path as it stands, or empty.
std::string NameProblem(const std::string& strPath) {
    if (strPath.empty())
        return "the path is empty";
    if (!platform::IsValidUtf8(strPath))
        return "the name is not UTF-8 (clients would read the whole list as CP949)";
    if (strPath.find('"') != std::string::npos)
        return "the name holds a double quote";
    if (strPath.find('\\') != std::string::npos)
        return "the name holds a backslash, which clients take for a folder separator";
    if (strPath.find_first_of("\r\n") != std::string::npos)
        return "the name holds a line break";
    size_t nSlash = strPath.rfind('/');
    if (IsLeftoverTempName(nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1)))
        return "clients take such names for their own temporary files and delete them";
    return std::string();
}

std::string Quoted(const std::string& strField, bool bFirst) {
    // A comma would split the field, and a leading "#" or "!" would make the
    // line a comment.
    bool bQuote = strField.find(',') != std::string::npos ||
                  (bFirst && (strField[0] == '#' || strField[0] == '!' || strField[0] == ' '));
    return bQuote ? "\"" + strField + "\"" : strField;
}

// Why a --delete path is refused, or empty. Clients resolve "/a", "./a" and
// "a" to one file, so only the plain form can be held against the release;
// ".." would climb out, and clients refuse such a record.
std::string DeletePathProblem(const std::string& strPath) {
    for (size_t nStart = 0;;) {
        size_t nEnd = strPath.find('/', nStart);
        std::string strPart = strPath.substr(nStart, nEnd - nStart);
        if (strPart.empty() || strPart == "." || strPart == "..")
            return "write it relative to the release folder, with no empty, \".\" or \"..\" "
                   "parts (like dir/file.txt)";
        if (nEnd == std::string::npos)
            return std::string();
        nStart = nEnd + 1;
    }
}

// Paths in messages: control bytes would garble the terminal.
std::string Shown(const std::string& strPath) {
    std::string strShown = strPath;
    for (char& c : strShown) {
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    }
    return "'" + strShown + "'";
}

class CListBuilder {
public:
    CListBuilder(const ListWriterOptions& options, const ListTextSink& sink)
        : m_options(options), m_sink(sink) {
        m_vecRules = options.vecRules;
        for (const ListWriterRule& rule : DefaultListRules())
            m_vecRules.push_back(rule);
        m_setDeletes.insert(options.vecDeletes.begin(), options.vecDeletes.end());
    }

    bool Build(std::string* pstrError);

private:
    struct PendingLink {
        std::string strPath;
        std::string strRel;
    };

    const ListWriterOptions& m_options;
    const ListTextSink& m_sink;
    std::vector<ListWriterRule> m_vecRules;
    std::set<std::string> m_setDeletes;
    std::string m_strBlock;  // text not yet handed to the sink
    uint64_t m_nListBytes = 0;
    size_t m_nRecords = 0;
    // Every real folder walked, by device and inode, with the path it was listed under.
    std::map<std::pair<uint64_t, uint64_t>, std::string> m_mapFolders;
    // Links to folders wait until every folder reached without a link is
    // known, so a real folder is listed under its own path.
    std::deque<PendingLink> m_queLinks;
    std::string m_strError;

    bool Walk(const std::string& strDir, const std::string& strRel, size_t nDepth);
    bool EnterFolder(const std::string& strPath, const std::string& strRel,
                     const platform::FileStatus& st);
    bool AddFile(const std::string& strPath, const std::string& strRel,
                 const platform::FileStatus& st);
    bool AddLine(const std::string& strLine);
    bool Flush();
    bool IsExcluded(const std::string& strRel) const;
    // Leaves a file out with a warning, or fails the list; false to stop.
    bool Unlistable(const std::string& strRel, const std::string& strReason);
    void Warn(const std::string& strText) const {
        if (m_options.onWarning)
            m_options.onWarning(strText);
    }
};

bool CListBuilder::IsExcluded(const std::string& strRel) const {
    return std::any_of(m_options.vecExcludes.begin(), m_options.vecExcludes.end(),
                       [&](const std::string& strPattern) { return Matches(strPattern, strRel); });
}

bool CListBuilder::Unlistable(const std::string& strRel, const std::string& strReason) {
    if (m_options.bSkipUnlistable) {
        Warn(Shown(strRel) + " left out: " + strReason);
        return true;
    }
    m_strError = "cannot list " + Shown(strRel) + ": " + strReason +
                 " (--skip-unlistable leaves such files out)";
    return false;
}

bool CListBuilder::AddLine(const std::string& strLine) {
    // A list past what clients read is still written (a publisher may split
    // it later), with one warning each; --strict refuses it.
    if (++m_nRecords == kMaxListRecords + 1)
        Warn("the release holds more than " + std::to_string(kMaxListRecords) +
             " files, the most clients read");
    uint64_t nBefore = m_nListBytes;
    m_nListBytes += strLine.size() + 1;
    if (nBefore <= kMaxListFileBytes && m_nListBytes > kMaxListFileBytes)
        Warn("the list is larger than " + std::to_string(kMaxListFileBytes) +
             " bytes, the most clients read (--no-hash makes it smaller)");
    m_strBlock += strLine;
    m_strBlock += '\n';
    return m_strBlock.size() < kSinkBlockBytes || Flush();
}

bool CListBuilder::Flush() {
    if (!m_strBlock.empty() && !m_sink(m_strBlock)) {
        m_strError = "cannot write the list";
        return false;
    }
    m_strBlock.clear();
    return true;
}

bool CListBuilder::Walk(const std::string& strDir, const std::string& strRel, size_t nDepth) {
    std::vector<platform::DirEntry> entries;
    if (!platform::ListDirectory(strDir, &entries)) {
        m_strError =
            "cannot read folder " + strDir + ": " + ErrorText(platform::GetLastSystemError());
        return false;
    }
    std::sort(entries.begin(), entries.end(),
              [](const platform::DirEntry& a, const platform::DirEntry& b) {
                  return a.strName < b.strName;
              });
    auto hasFile = [&entries](const std::string& strName) {
        auto it = std::lower_bound(
            entries.begin(), entries.end(), strName,
            [](const platform::DirEntry& e, const std::string& s) { return e.strName < s; });
        return it != entries.end() && it->strName == strName && !it->bDirectory;
    };
    for (const platform::DirEntry& entry : entries) {
        std::string strChildRel = strRel.empty() ? entry.strName : strRel + "/" + entry.strName;
        if (nDepth == 0 && entry.strName == m_options.strListFileName)
            continue;
        if (IsExcluded(strChildRel))
            continue;
        std::string strChild = platform::JoinPath(strDir, entry.strName);
        platform::FileStatus st;
        if (!platform::GetFileStatus(strChild, &st)) {
            int nError = platform::GetLastSystemError();
            if (!entry.bLink) {
                m_strError = "cannot read " + strChild + ": " + ErrorText(nError);
                return false;
            }
            Warn(Shown(strChildRel) + " left out: a link that leads nowhere (" + ErrorText(nError) +
                 ")");
            continue;
        }
        if (st.bDirectory) {
            if (entry.bLink) {
                m_queLinks.push_back({strChild, strChildRel});
            } else if (!EnterFolder(strChild, strChildRel, st)) {
                return false;
            }
            continue;
        }
        if (!st.bRegular) {
            Warn(Shown(strChildRel) + " left out: not a file or folder (a fifo, socket or device)");
            continue;
        }
        auto key = std::make_pair(st.nDevice, st.nInode);
        if (std::find(m_options.vecSkipFiles.begin(), m_options.vecSkipFiles.end(), key) !=
            m_options.vecSkipFiles.end()) {
            continue;
        }
        // With gzip_static the server answers "x" with "x.gz": one record for both.
        if (m_options.bGzipStatic && hasFile(entry.strName + ".gz"))
            continue;
        if (!AddFile(strChild, strChildRel, st))
            return false;
    }
    return true;
}

bool CListBuilder::EnterFolder(const std::string& strPath, const std::string& strRel,
                               const platform::FileStatus& st) {
    auto [it, bNew] = m_mapFolders.emplace(std::make_pair(st.nDevice, st.nInode), strRel);
    if (!bNew) {
        const std::string& strFirst = it->second;
        bool bLoop = strFirst.empty() || strRel.rfind(strFirst + "/", 0) == 0;
        Warn(Shown(strRel) + " left out: " +
             (bLoop ? "a link back to " +
                          (strFirst.empty() ? "the release folder" : Shown(strFirst)) +
                          ", which holds it (a loop)"
                    : "the same folder as " + Shown(strFirst) + ", listed once"));
        return true;
    }
    size_t nDepth = strRel.empty() ? 0 : std::count(strRel.begin(), strRel.end(), '/') + 1;
    if (nDepth > kMaxReleaseDepth) {
        return Unlistable(strRel,
                          "folders nested more than " + std::to_string(kMaxReleaseDepth) + " deep");
    }
    return Walk(strPath, strRel, nDepth);
}

bool CListBuilder::AddFile(const std::string& strPath, const std::string& strRel,
                           const platform::FileStatus& st) {
    ListRecord record;
    record.strPath = strRel;
    uint64_t nSize = st.nSize;
    std::string strHash;
    if (m_options.bGzipStatic && strRel.size() > 3 &&
        strRel.compare(strRel.size() - 3, 3, ".gz") == 0) {
        record.strPath.resize(strRel.size() - 3);
        record.bGzip = true;
        if (!GzipDecodedSizeAndHash(strPath, &nSize, &strHash)) {
            m_strError = "cannot read the gzip size of " + strPath;
            return false;
        }
    } else if (!m_options.bNoHash && !Sha256OfFile(strPath, &strHash)) {
        m_strError = "cannot read " + strPath + ": " + ErrorText(platform::GetLastSystemError());
        return false;
    }
    if (st.nModifyTime < 0 || st.nModifyTime > kMaxRecordTime)
        return Unlistable(strRel, "its time lies before 1970 or after 9999");
    for (const ListWriterRule& rule : m_vecRules) {
        if (Matches(rule.strPattern, record.strPath)) {
            record.strTypeField = rule.strTypeField;
            break;
        }
    }
    record.strTime = GmtTimeText(st.nModifyTime);
    record.strSize = std::to_string(nSize);
    if (!m_options.bNoHash)
        record.strSha256 = strHash;
    std::string strLine, strReason;
    if (!FormatListRecord(record, &strLine, &strReason))
        return Unlistable(strRel, strReason);
    // Clients would delete the file after each run and fetch it again on
    // the next; a folder of listed files cannot go either.
    for (size_t nEnd = record.strPath.size(); nEnd != std::string::npos && nEnd > 0;
         nEnd = record.strPath.rfind('/', nEnd - 1)) {
        std::string strHeld = record.strPath.substr(0, nEnd);
        if (m_setDeletes.count(strHeld) != 0) {
            m_strError = "cannot list --delete " + Shown(strHeld) +
                         (nEnd == record.strPath.size()
                              ? ": the release holds it, so it is listed as a file too"
                              : ": the release holds files below it");
            return false;
        }
    }
    return AddLine(strLine);
}

bool CListBuilder::Build(std::string* pstrError) {
    m_strBlock = kListHeaderComment;
    m_nListBytes = m_strBlock.size();
    for (const std::string& strDelete : m_options.vecDeletes) {
        std::string strProblem = DeletePathProblem(strDelete);
        if (!strProblem.empty()) {
            *pstrError = "cannot list --delete " + Shown(strDelete) + ": " + strProblem;
            return false;
        }
    }
    platform::FileStatus st;
    if (!platform::GetFileStatus(m_options.strReleaseDir, &st) || !st.bDirectory) {
        *pstrError = "cannot read folder " + m_options.strReleaseDir;
        return false;
    }
    bool bOk = EnterFolder(m_options.strReleaseDir, "", st);
    while (bOk && !m_queLinks.empty()) {
        PendingLink link = std::move(m_queLinks.front());
        m_queLinks.pop_front();
        if (!platform::GetFileStatus(link.strPath, &st) || !st.bDirectory) {
            Warn(Shown(link.strRel) + " left out: the link changed while the release was read");
            continue;
        }
        bOk = EnterFolder(link.strPath, link.strRel, st);
    }
    for (size_t i = 0; bOk && i < m_options.vecDeletes.size(); ++i) {
        // A time and size keep the clients from asking the server about a
        // file that is no longer there.
        ListRecord record{m_options.vecDeletes[i], "DEL", "19700101000000", "0", "", false};
        std::string strLine, strReason;
        if (!FormatListRecord(record, &strLine, &strReason)) {
            m_strError = "cannot list --delete " + Shown(record.strPath) + ": " + strReason;
            bOk = false;
        } else {
            bOk = AddLine(strLine);
        }
    }
    if (!bOk || !Flush()) {
        *pstrError = m_strError;
        return false;
    }
    return true;
}

}  // namespace

std::vector<ListWriterRule> DefaultListRules() {
    return {{"*.reg", "REF"}, {"*.zip", "ZIP"}, {"*.ttf", "FNT"},
            {"*.ttc", "FNT"}, {"*.otf", "FNT"}, {"*.fon", "FNT"}};
}

bool FormatListRecord(const ListRecord& record, std::string* pstrLine, std::string* pstrReason) {
    *pstrReason = NameProblem(record.strPath);
    if (!pstrReason->empty())
        return false;
    std::string strSource = RequestName(record.strPath);
    // The target field holds the name on disk where the source field had to escape it.
    std::string strTarget = strSource == record.strPath ? std::string() : record.strPath;
    if (strSource.size() > kMaxListFieldBytes || strTarget.size() > kMaxListFieldBytes) {
        *pstrReason = "the path takes " + std::to_string(strSource.size()) +
                      " bytes in the list; clients read fields of at most " +
                      std::to_string(kMaxListFieldBytes);
        return false;
    }
    // The type field is written as given: quotes around an "a=" argument
    // already keep its commas together.
    std::string strLine = Quoted(strSource, true) + "," +
                          (strTarget.empty() ? "" : Quoted(strTarget, false)) + ",," +
                          record.strTypeField + "," + record.strTime + "," + record.strSize;
    if (!record.strSha256.empty() || record.bGzip)
        strLine += "," + record.strSha256;
    if (record.bGzip)
        strLine += ",gzip";
    if (strLine.size() > kMaxListPieceBytes) {
        *pstrReason = "its record takes " + std::to_string(strLine.size()) +
                      " bytes; clients read lines of at most " + std::to_string(kMaxListPieceBytes);
        return false;
    }
    // The engine's own encoding gives the request path's length.
    static const CSyncEngine s_encoder;
    size_t nRequestBytes = s_encoder.EncodeUrl(strSource).size();
    if (nRequestBytes == 0 || nRequestBytes + kRequestPathReserve > kMaxRequestPathBytes) {
        *pstrReason = "its request path is too long: clients send at most " +
                      std::to_string(kMaxRequestPathBytes) + " bytes with the base URL";
        return false;
    }
    // Read back as a client reads it: whatever the quoting missed shows here.
    FileItem item;
    std::string strWantTarget = record.strPath;
    std::replace(strWantTarget.begin(), strWantTarget.end(), '/', platform::kPathSep);
    if (!CSyncEngine::ParseListLine(item, strLine.data(), strLine.size()) ||
        item.m_strSourceFile != strSource || item.m_strTargetRel != strWantTarget ||
        item.m_strModifyTime != record.strTime || item.m_strFileSize != record.strSize ||
        item.m_strSha256 != record.strSha256 || (item.m_bListedGzip == 1) != record.bGzip ||
        strLine[0] == '#' || strLine[0] == '!') {
        *pstrReason = "its record does not read back as written";
        return false;
    }
    *pstrLine = std::move(strLine);
    return true;
}

bool BuildListFile(const ListWriterOptions& options, const ListTextSink& sink,
                   std::string* pstrError) {
    return CListBuilder(options, sink).Build(pstrError);
}

bool BuildListFile(const ListWriterOptions& options, std::string* pstrList,
                   std::string* pstrError) {
    std::string strList;
    ListTextSink sink = [&strList](std::string_view strText) {
        strList += strText;
        return true;
    };
    if (!BuildListFile(options, sink, pstrError))
        return false;
    *pstrList = std::move(strList);
    return true;
}
