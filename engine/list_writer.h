// Writes the list file for a release folder, for publishers: one record per
// file with its time (GMT), size and SHA-256, so clients need no HEAD request
// and can check every byte (the signature lines are list_signature's).
// Used by the TidewellMakeList tool; the reader is CSyncEngine.
#pragma once

#include <string>
#include <vector>

struct ListWriterRule {
    std::string strPattern;    // glob on the relative path ("*.dll", "bin/*")
    std::string strTypeField;  // the record's type field ("REG", "EXE|w=1")
};

struct ListWriterOptions {
    std::string strReleaseDir;
    std::string strListFileName = "_listfile.txt";
    // First matching rule wins; the defaults come after the given ones.
    std::vector<ListWriterRule> vecRules;
    std::vector<std::string> vecExcludes;
    // Paths of files to delete on the clients, written as DEL records.
    std::vector<std::string> vecDeletes;
    // "x.gz" files are the gzip-encoded form of "x" that the server sends.
    bool bGzipStatic = false;
};

// Limits on what one release may hold.
constexpr size_t kMaxListEntries = 1000000;

// The rules every list gets after the publisher's own.
std::vector<ListWriterRule> DefaultListRules();

// Builds the list text. False with a message in *pstrError on failure.
bool BuildListFile(const ListWriterOptions& options, std::string* pstrList,
                   std::string* pstrError);

// One record line (without line end) for a file; empty when the path cannot
// be written in a list (it holds a double quote or a line break).
std::string FormatListRecord(const std::string& strSource, const std::string& strTypeField,
                             const std::string& strTime, const std::string& strSize,
                             const std::string& strSha256 = std::string());
