// Writes the list file for a release folder, for publishers: one record per
// file with its time (GMT), size and SHA-256, so clients need no HEAD request
// and can check every byte (the signature lines are list_signature's).
// Used by the TidewellMakeList tool; the reader is CSyncEngine.
//
// Links are followed: a link to a file is listed as that file, a link to a
// folder is walked as a folder, but each real folder only once. What cannot
// be listed (links that lead nowhere, fifos, sockets, devices, a folder
// reached a second time) is left out with a warning; a name clients could
// not read back or request is refused, or left out with a warning.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
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
    // No SHA-256 field: clients then check sizes only.
    bool bNoHash = false;
    // A file whose record clients could not read back is left out with a
    // warning instead of failing the whole list.
    bool bSkipUnlistable = false;
    // Files never listed, by device and inode: the list being written.
    std::vector<std::pair<uint64_t, uint64_t>> vecSkipFiles;
    // Told each thing left out, one line without line end. May be empty.
    std::function<void(const std::string&)> onWarning;
};

// Folders nested deeper than this cannot hold a file whose path fits a field.
constexpr size_t kMaxReleaseDepth = 255;
// Bytes of each request path kept free for the base URL that clients put
// before it (--verify checks with the real one).
constexpr size_t kRequestPathReserve = 64;

// The rules every list gets after the publisher's own.
std::vector<ListWriterRule> DefaultListRules();

// Receives the list text in order, a block at a time, as the release is
// read, so a large release needs little memory; false stops the writing.
using ListTextSink = std::function<bool(std::string_view strText)>;

// Writes the list text to sink. False with a message in *pstrError on
// failure; what the sink took is then to be thrown away.
bool BuildListFile(const ListWriterOptions& options, const ListTextSink& sink,
                   std::string* pstrError);
// The same into one string.
bool BuildListFile(const ListWriterOptions& options, std::string* pstrList, std::string* pstrError);

// One file's record as the writer sees it.
struct ListRecord {
    std::string strPath;  // relative path with "/", the name on disk
    std::string strTypeField;
    std::string strTime;  // 14 digits, GMT
    std::string strSize;
    std::string strSha256;  // empty: none
    bool bGzip = false;     // served gzip-encoded (field 7)
};

// The record line (without line end), checked to read back through the
// client's parser as written. False with the reason when it cannot be
// written so that clients read and request it (a double quote, a backslash
// or a line break in the path, not UTF-8, too long, ...).
bool FormatListRecord(const ListRecord& record, std::string* pstrLine, std::string* pstrReason);
