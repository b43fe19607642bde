// Conditional GETs of the list file. What the server said of the installed
// copy (its ETag and Last-Modified) is kept beside it together with the
// copy's SHA-256, so an unchanged list costs a 304 instead of its bytes; a
// copy whose hash no longer matches (edited, truncated) is never used, its
// GET is then unconditional. Called by DownloadAndMergeListFile on the
// engine's worker.
#pragma once

#include <cstdint>
#include <string>

#include "engine/http_connection.h"

// The validator file beside the list: "<list>.tidewell-validator".
constexpr char kListValidatorSuffix[] = ".tidewell-validator";
constexpr size_t kMaxListValidatorFileBytes = 4096;
// A list fetched within this many seconds of its Last-Modified may change
// again within the same second, under the same validators: its validator
// is not kept, so the next GET is whole.
constexpr int64_t kRacyListSeconds = 2;

// One GET of the list: what it sends, and what the server answered.
struct ListGetExchange {
    HttpRequestOptions request;  // Accept-Encoding and the conditional header
    bool bConditional = false;   // a 304 means the installed copy is current
    uint64_t nMaxBytes = 0;      // bound on the decoded list, 0 for none
    // Validators of a 200 answer, empty when the server sent none.
    std::string strETag;
    std::string strLastModified;
    std::string strDate;  // the server's clock when it answered
};

// The list's GET for the installed copy at strListPath: gzip accepted, and
// If-None-Match (the ETag) or else If-Modified-Since when the stored
// validator describes exactly that copy.
ListGetExchange PrepareListGet(const std::string& strListPath, uint64_t nMaxBytes);
// After a newly fetched copy was installed at strListPath: keeps what the
// server said of it, or removes the stale validator when it said nothing.
void SaveListValidator(const std::string& strListPath, const ListGetExchange& exchange);
