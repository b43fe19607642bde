#include "engine/list_signature.h"

#include <charconv>
#include <cstdio>

#include "platform/clock.h"
#include "util/crypto.h"

namespace {

constexpr std::string_view kHeaderPrefix = "# tidewell-list version=";
constexpr std::string_view kExpiresPrefix = " expires=";
constexpr std::string_view kSignatureMark = "# signature";
constexpr std::string_view kSignaturePrefix = "# signature ed25519 ";
constexpr size_t kTimeDigits = 14;
// Longest decimal text of a 64-bit version.
constexpr size_t kMaxVersionDigits = 20;

bool AllDigits(std::string_view strText) {
    for (char c : strText) {
        if (c < '0' || c > '9')
            return false;
    }
    return !strText.empty();
}

template <typename T>
bool ParseNumber(std::string_view strText, T* pnValue) {
    auto [pEnd, ec] = std::from_chars(strText.data(), strText.data() + strText.size(), *pnValue);
    return ec == std::errc() && pEnd == strText.data() + strText.size();
}

// "YYYYMMDDhhmmss" GMT to Unix seconds.
bool ParseGmtDigits(std::string_view strText, int64_t* pnSeconds) {
    if (strText.size() != kTimeDigits || !AllDigits(strText))
        return false;
    platform::SystemTime st;
    bool bOk = ParseNumber(strText.substr(0, 4), &st.nYear) &&
               ParseNumber(strText.substr(4, 2), &st.nMonth) &&
               ParseNumber(strText.substr(6, 2), &st.nDay) &&
               ParseNumber(strText.substr(8, 2), &st.nHour) &&
               ParseNumber(strText.substr(10, 2), &st.nMinute) &&
               ParseNumber(strText.substr(12, 2), &st.nSecond);
    return bOk && st.nYear >= 1970 && platform::GmtToUnixSeconds(st, pnSeconds);
}

std::string_view WithoutCr(std::string_view strLine) {
    if (!strLine.empty() && strLine.back() == '\r')
        strLine.remove_suffix(1);
    return strLine;
}

ListTrustResult Verdict(EListTrust eVerdict, std::string strReason) {
    ListTrustResult result;
    result.eVerdict = eVerdict;
    result.strReason = std::move(strReason);
    return result;
}

}  // namespace

std::string FormatListHeader(const ListHeader& header) {
    std::string strLine = std::string(kHeaderPrefix) + std::to_string(header.nVersion);
    if (header.nExpires != 0) {
        platform::SystemTime st = platform::ToGmtTime(header.nExpires * 1000);
        char szTime[32];
        std::snprintf(szTime, sizeof(szTime), "%04d%02d%02d%02d%02d%02d", st.nYear, st.nMonth,
                      st.nDay, st.nHour, st.nMinute, st.nSecond);
        strLine += std::string(kExpiresPrefix) + szTime;
    }
    return strLine + "\n";
}

bool ParseListHeader(std::string_view strLine, ListHeader* pHeader) {
    if (strLine.substr(0, kHeaderPrefix.size()) != kHeaderPrefix)
        return false;
    std::string_view strRest = strLine.substr(kHeaderPrefix.size());
    std::string_view strVersion = strRest.substr(0, strRest.find(' '));
    strRest.remove_prefix(strVersion.size());
    ListHeader header;
    if (strVersion.size() > kMaxVersionDigits || !AllDigits(strVersion) ||
        !ParseNumber(strVersion, &header.nVersion)) {
        return false;
    }
    if (!strRest.empty()) {
        if (strRest.substr(0, kExpiresPrefix.size()) != kExpiresPrefix ||
            !ParseGmtDigits(strRest.substr(kExpiresPrefix.size()), &header.nExpires)) {
            return false;
        }
    }
    *pHeader = header;
    return true;
}

bool SignListText(std::string* pstrList, const std::string& strPrivatePem, std::string* pstrError) {
    std::string strSignature;
    if (!SignEd25519(strPrivatePem, *pstrList, &strSignature, pstrError))
        return false;
    *pstrList += std::string(kSignaturePrefix) + EncodeBase64(strSignature) + "\n";
    return true;
}

ListTrustResult CheckListTrust(std::string_view strData, std::string_view strPublicKey,
                               uint64_t nMinVersion, int64_t nNowUnix) {
    // The last line, without its line end; everything before it is signed.
    std::string_view strBody = strData;
    if (!strBody.empty() && strBody.back() == '\n')
        strBody.remove_suffix(1);
    size_t nLineStart = strBody.rfind('\n');
    nLineStart = nLineStart == std::string_view::npos ? 0 : nLineStart + 1;
    std::string_view strLastLine = WithoutCr(strBody.substr(nLineStart));
    std::string_view strSigned = strData.substr(0, nLineStart);

    if (strLastLine.substr(0, kSignatureMark.size()) != kSignatureMark)
        return Verdict(EListTrust::kUnsigned, "unsigned");
    std::string strSignature;
    if (strLastLine.substr(0, kSignaturePrefix.size()) != kSignaturePrefix ||
        !DecodeBase64(strLastLine.substr(kSignaturePrefix.size()), &strSignature) ||
        strSignature.size() != kEd25519SignatureBytes) {
        return Verdict(EListTrust::kMalformedSignature, "malformed signature line");
    }
    if (!VerifyEd25519(strPublicKey, strSigned, strSignature))
        return Verdict(EListTrust::kBadSignature, "bad signature");

    ListHeader header;
    std::string_view strFirstLine = WithoutCr(strSigned.substr(0, strSigned.find('\n')));
    if (!ParseListHeader(strFirstLine, &header))
        return Verdict(EListTrust::kMalformedHeader, "missing or malformed version header");
    ListTrustResult result;
    result.header = header;
    if (header.nVersion < nMinVersion) {
        result.eVerdict = EListTrust::kOlderVersion;
        result.strReason = "older version " + std::to_string(header.nVersion) + " < " +
                           std::to_string(nMinVersion);
    } else if (header.nExpires != 0 && nNowUnix > header.nExpires) {
        result.eVerdict = EListTrust::kExpired;
        result.strReason = "expired";
    } else {
        result.eVerdict = EListTrust::kAccepted;
    }
    return result;
}
