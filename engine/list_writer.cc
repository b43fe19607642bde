#include "engine/list_writer.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstdio>

#include "engine/gzip_decoder.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "util/crypto.h"

namespace {

struct ReleaseFile {
    std::string strRel;   // relative path with "/"
    std::string strPath;  // full path
};

bool Walk(const std::string& strDir, const std::string& strRel, std::vector<ReleaseFile>* pFiles,
          std::string* pstrError) {
    std::vector<platform::DirEntry> entries;
    if (!platform::ListDirectory(strDir, &entries)) {
        *pstrError = "cannot read folder " + strDir;
        return false;
    }
    std::sort(entries.begin(), entries.end(),
              [](const platform::DirEntry& a, const platform::DirEntry& b) {
                  return a.strName < b.strName;
              });
    for (const platform::DirEntry& entry : entries) {
        std::string strChildRel = strRel.empty() ? entry.strName : strRel + "/" + entry.strName;
        std::string strChild = platform::JoinPath(strDir, entry.strName);
        if (entry.bDirectory) {
            if (!Walk(strChild, strChildRel, pFiles, pstrError)) return false;
        } else {
            if (pFiles->size() >= kMaxListEntries) {
                *pstrError = "too many files in the release";
                return false;
            }
            pFiles->push_back({strChildRel, strChild});
        }
    }
    return true;
}

bool Matches(const std::string& strPattern, const std::string& strRel) {
    // A pattern without "/" matches the file name in any folder.
    if (strPattern.find('/') == std::string::npos) {
        size_t nSlash = strRel.rfind('/');
        std::string strName = nSlash == std::string::npos ? strRel : strRel.substr(nSlash + 1);
        return fnmatch(strPattern.c_str(), strName.c_str(), FNM_CASEFOLD) == 0;
    }
    return fnmatch(strPattern.c_str(), strRel.c_str(), FNM_CASEFOLD | FNM_PATHNAME) == 0;
}

// Decoded size and SHA-256 of a gzip file, by decoding it: the trailer's
// size field wraps at 4 GiB and covers only the last member.
bool GzipDecodedSizeAndHash(const std::string& strPath, uint64_t* pnSize, std::string* pstrHash) {
    FILE* fp = fopen(strPath.c_str(), "rb");
    if (fp == nullptr) return false;
    CSha256 sha;
    CGzipDecoder decoder([&sha](const char* pData, size_t nSize) {
        sha.Update(pData, nSize);
        return true;
    });
    std::vector<char> buffer(1 << 16);
    size_t nRead;
    while ((nRead = fread(buffer.data(), 1, buffer.size(), fp)) > 0) {
        if (!decoder.Feed(buffer.data(), nRead)) break;
    }
    bool bReadError = ferror(fp) != 0;
    fclose(fp);
    if (bReadError || decoder.Finish() != kGzipOk) return false;
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

}  // namespace

std::vector<ListWriterRule> DefaultListRules() {
    return {{"*.reg", "REF"}, {"*.zip", "ZIP"}, {"*.ttf", "FNT"}, {"*.ttc", "FNT"},
            {"*.otf", "FNT"}, {"*.fon", "FNT"}};
}

std::string FormatListRecord(const std::string& strSource, const std::string& strTypeField,
                             const std::string& strTime, const std::string& strSize,
                             const std::string& strSha256) {
    if (strSource.find_first_of("\"\r\n") != std::string::npos) return std::string();
    std::string strField = strSource;
    // A comma would split the field, and a leading "#" or "!" would make the
    // line a comment: quote those.
    if (strSource.find(',') != std::string::npos || strSource[0] == '#' || strSource[0] == '!' ||
        strSource[0] == ' ') {
        strField = "\"" + strSource + "\"";
    }
    // The type field is written as given: quotes around an "a=" argument
    // already keep its commas together.
    std::string strRecord = strField + ",,," + strTypeField + "," + strTime + "," + strSize;
    return strSha256.empty() ? strRecord : strRecord + "," + strSha256;
}

bool BuildListFile(const ListWriterOptions& options, std::string* pstrList,
                   std::string* pstrError) {
    std::vector<ReleaseFile> files;
    if (!Walk(options.strReleaseDir, "", &files, pstrError)) return false;
    std::vector<ListWriterRule> vecRules = options.vecRules;
    for (const ListWriterRule& rule : DefaultListRules()) vecRules.push_back(rule);

    std::string strList =
        "# Written by TidewellMakeList: source,target,system,type,time,size,sha256\n";
    for (const ReleaseFile& file : files) {
        if (file.strRel == options.strListFileName) continue;
        bool bExcluded = false;
        for (const std::string& strPattern : options.vecExcludes) {
            if (Matches(strPattern, file.strRel)) bExcluded = true;
        }
        if (bExcluded) continue;

        platform::FileStatus st;
        if (!platform::GetFileStatus(file.strPath, &st)) {
            *pstrError = "cannot read " + file.strPath;
            return false;
        }
        std::string strSource = file.strRel;
        uint64_t nSize = st.nSize;
        std::string strHash;
        if (options.bGzipStatic && strSource.size() > 3 &&
            strSource.compare(strSource.size() - 3, 3, ".gz") == 0) {
            strSource.resize(strSource.size() - 3);
            if (!GzipDecodedSizeAndHash(file.strPath, &nSize, &strHash)) {
                *pstrError = "cannot read the gzip size of " + file.strPath;
                return false;
            }
        } else if (!Sha256OfFile(file.strPath, &strHash)) {
            *pstrError = "cannot read " + file.strPath;
            return false;
        }
        std::string strType;
        for (const ListWriterRule& rule : vecRules) {
            if (Matches(rule.strPattern, strSource)) {
                strType = rule.strTypeField;
                break;
            }
        }
        std::string strRecord = FormatListRecord(strSource, strType, GmtTimeText(st.nModifyTime),
                                                 std::to_string(nSize), strHash);
        if (strRecord.empty()) {
            *pstrError = "a path with a double quote or line break cannot be listed: " + strSource;
            return false;
        }
        strList += strRecord + "\n";
    }
    for (const std::string& strDelete : options.vecDeletes) {
        // A time and size keep the clients from asking the server about a
        // file that is no longer there.
        std::string strRecord = FormatListRecord(strDelete, "DEL", "19700101000000", "0");
        if (strRecord.empty()) {
            *pstrError = "a path with a double quote or line break cannot be listed: " + strDelete;
            return false;
        }
        strList += strRecord + "\n";
    }
    *pstrList = strList;
    return true;
}
