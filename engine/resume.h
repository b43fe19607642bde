// Resuming cut-off downloads of large files. The body goes to a part file
// beside the target (".<name>.tidewell-part"); before the first byte, a
// small meta file beside it (".<name>.tidewell-part.meta") records which
// version of which file it holds. The next attempt asks for the rest with
// Range and If-Range. Used by the GET (http_transfer.cc) and the leftover
// sweep, on the engine's worker only.
#pragma once

#include <cstdint>
#include <string>

#include "engine/file_item.h"
#include "engine/http_connection.h"

class CSha256;

// Smaller downloads are simply fetched again.
constexpr uint64_t kMinResumeBytes = 1024 * 1024;
// Longest validator (ETag or Last-Modified) kept and sent back.
constexpr size_t kMaxValidatorBytes = 256;
// A meta file larger than this is not ours.
constexpr size_t kMaxPartMetaBytes = 4096;

// Where a download of strTarget is written until it is finished.
std::string PartPathOf(const std::string& strTarget);
std::string PartMetaPathOf(const std::string& strTarget);
// Removes the part file of strTarget and its meta.
void DiscardPart(const std::string& strTarget);

// The file size when a download of item may be resumed: known from the list
// or a HEAD of the plain file, and at least kMinResumeBytes. 0 otherwise.
uint64_t ResumableSize(const FileItem& item);

struct ResumePoint {
    uint64_t nOffset = 0;      // bytes already in the part file; 0: start anew
    std::string strValidator;  // sent as If-Range
};

// The point to go on from when a part of item (nSize bytes in all) is there
// with a meta that matches it; otherwise a zero point, and any part or meta
// of the target is removed.
ResumePoint FindResumePoint(const FileItem& item, uint64_t nSize);

// The validator of a response to store for a later If-Range: a strong ETag,
// else Last-Modified; empty when there is none fit to send back.
std::string ValidatorOf(const HttpResponse& response);
// A validator as header value: printable bytes only, bounded.
bool IsSendableValidator(const std::string& strValue);
// Writes the meta for a download of item that starts now; true when it is
// on disk (flushed), so a part without one is never taken for another's.
bool WritePartMeta(const FileItem& item, uint64_t nSize, const std::string& strValidator);

// The headers that ask for the rest of a part.
HttpRequestOptions RangeRequestOf(const ResumePoint& point);
// True when a 206 answers that request for the whole rest of the file:
// Content-Range "bytes K-(S-1)/S" and no content encoding.
bool ContinuesPart(const HttpResponse& response, uint64_t nOffset, uint64_t nSize);

// Feeds the first nBytes of a file to *pSha; false when they cannot be read.
bool HashFilePrefix(const std::string& strPath, uint64_t nBytes, CSha256* pSha);
