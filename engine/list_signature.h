// The trust lines of a list file: a first line "# tidewell-list version=N"
// (with an optional " expires=YYYYMMDDhhmmss", GMT) and a last line
// "# signature ed25519 BASE64" over every byte before it. Both are comments
// to the record reader. The publisher's tool writes them (FormatListHeader,
// SignListText); the engine checks a downloaded list with CheckListTrust
// before the list may replace the installed copy.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct ListHeader {
    uint64_t nVersion = 0;
    int64_t nExpires = 0;  // Unix seconds; 0: never expires
};

// The header line with its line feed.
std::string FormatListHeader(const ListHeader& header);
// Reads a header line (without its line end); false when it is not exactly
// of the form above.
bool ParseListHeader(std::string_view strLine, ListHeader* pHeader);

// Appends the signature line to a list text that ends in a line feed.
bool SignListText(std::string* pstrList, const std::string& strPrivatePem, std::string* pstrError);

enum class EListTrust {
    kAccepted,
    kUnsigned,
    kMalformedSignature,
    kBadSignature,
    kMalformedHeader,
    kOlderVersion,
    kExpired,
};

struct ListTrustResult {
    EListTrust eVerdict = EListTrust::kUnsigned;
    ListHeader header;      // valid once the signature verified
    std::string strReason;  // for the log: "unsigned", "older version 5 < 7", ...
};

// Checks a list file's bytes as downloaded: signed by strPublicKey (raw),
// version not below nMinVersion, not expired at nNowUnix.
ListTrustResult CheckListTrust(std::string_view strData, std::string_view strPublicKey,
                               uint64_t nMinVersion, int64_t nNowUnix);
