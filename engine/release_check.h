// Checks, for the publisher, that an update server serves a release as its
// list file describes it: the list is fetched and read as a client reads it
// (the engine's connection, request paths and list reader), then every
// record is asked for with HEAD and, for a deep check, fetched with GET.
// Used by TidewellMakeList --verify.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Seconds a server time may differ from the list's: the clients' default
// TIME_CHECK_SPAN.
constexpr int kDefaultTimeSpanSeconds = 5;

struct ReleaseCheckOptions {
    // The list's URL, as given to TidewellKiro --init --server.
    std::string strListUrl;
    // GET every file and compare its size and SHA-256 with the list.
    bool bDeep = false;
    // LIST_PUBLIC_KEY (base64); empty: the signature is not checked.
    std::string strPublicKey;
    int nTimeSpanSeconds = kDefaultTimeSpanSeconds;
    // Told each mismatch, one line without line end.
    std::function<void(const std::string&)> onMismatch;
};

struct ReleaseCheckResult {
    // The list was fetched, trusted and read; otherwise strError says why.
    bool bListRead = false;
    std::string strError;
    size_t nChecked = 0;     // records asked for (deletions are not)
    size_t nMismatches = 0;  // records the server does not serve as listed
    bool bStopped = false;   // the server stopped answering; the rest is unchecked
};

ReleaseCheckResult CheckRelease(const ReleaseCheckOptions& options);
