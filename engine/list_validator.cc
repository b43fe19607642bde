#include "engine/list_validator.h"

#include <cstdio>
#include <sstream>

#include "engine/resume.h"
#include "engine/sync_engine.h"
#include "log/my_log.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "util/crypto.h"

namespace {

constexpr char kMagic[] = "tidewell-list-validator 1";
constexpr char kEnd[] = "end";
constexpr char kPrefix[] = "CSyncEngine::DownloadAndMergeListFile> ";

// True when the server answered at least kRacyListSeconds after the list's
// last change, by its own clock.
bool IsSettled(const ListGetExchange& exchange) {
    int64_t nChanged = 0;
    int64_t nAnswered = 0;
    if (exchange.strLastModified.empty() || exchange.strDate.empty() ||
        !platform::GmtToUnixSeconds(CSyncEngine::ParseLastModified(exchange.strLastModified),
                                    &nChanged) ||
        !platform::GmtToUnixSeconds(CSyncEngine::ParseLastModified(exchange.strDate), &nAnswered)) {
        return false;
    }
    return nAnswered - nChanged >= kRacyListSeconds;
}

struct StoredValidator {
    std::string strSha256;
    std::string strETag;
    std::string strLastModified;
};

bool ReadValidator(const std::string& strPath, StoredValidator* pStored) {
    std::FILE* fp = std::fopen(strPath.c_str(), "rb");
    if (fp == nullptr)
        return false;
    char buf[kMaxListValidatorFileBytes + 1];
    size_t nRead = std::fread(buf, 1, sizeof(buf), fp);
    std::fclose(fp);
    if (nRead > kMaxListValidatorFileBytes)
        return false;
    std::istringstream in(std::string(buf, nRead));
    std::string strMagic, strSha, strETag, strLastModified, strEnd;
    if (!std::getline(in, strMagic) || !std::getline(in, strSha) || !std::getline(in, strETag) ||
        !std::getline(in, strLastModified) || !std::getline(in, strEnd)) {
        return false;
    }
    if (strMagic != kMagic || strEnd != kEnd || strSha.rfind("sha256 ", 0) != 0 ||
        strETag.rfind("etag ", 0) != 0 || strLastModified.rfind("last-modified ", 0) != 0) {
        return false;
    }
    pStored->strSha256 = strSha.substr(7);
    pStored->strETag = strETag.substr(5);
    pStored->strLastModified = strLastModified.substr(14);
    return IsSha256Hex(pStored->strSha256);
}

}  // namespace

ListGetExchange PrepareListGet(const std::string& strListPath, uint64_t nMaxBytes) {
    ListGetExchange exchange;
    exchange.nMaxBytes = nMaxBytes;
    exchange.request.vecHeaders.push_back("Accept-Encoding: gzip");
    StoredValidator stored;
    if (!ReadValidator(strListPath + kListValidatorSuffix, &stored))
        return exchange;
    std::string strHash;
    if (!Sha256OfFile(strListPath, &strHash) || strHash != stored.strSha256) {
        TideLog(2, "%sThe installed list is not the copy last fetched; fetching it whole.",
                kPrefix);
        return exchange;
    }
    if (IsSendableValidator(stored.strETag)) {
        exchange.request.vecHeaders.push_back("If-None-Match: " + stored.strETag);
        exchange.bConditional = true;
    } else if (IsSendableValidator(stored.strLastModified)) {
        exchange.request.vecHeaders.push_back("If-Modified-Since: " + stored.strLastModified);
        exchange.bConditional = true;
    }
    return exchange;
}

void SaveListValidator(const std::string& strListPath, const ListGetExchange& exchange) {
    std::string strPath = strListPath + kListValidatorSuffix;
    std::string strHash;
    bool bUsable =
        IsSendableValidator(exchange.strETag) || IsSendableValidator(exchange.strLastModified);
    if (bUsable && !IsSettled(exchange)) {
        TideLog(2, "%sThe list changed moments before it was fetched; the next GET is whole.",
                kPrefix);
        bUsable = false;
    }
    if (!bUsable || !Sha256OfFile(strListPath, &strHash)) {
        platform::DeleteFile(strPath);
        return;
    }
    auto sendable = [](const std::string& str) {
        return IsSendableValidator(str) ? str : std::string();
    };
    std::string strText = std::string(kMagic) + "\nsha256 " + strHash + "\netag " +
                          sendable(exchange.strETag) + "\nlast-modified " +
                          sendable(exchange.strLastModified) + "\n" + kEnd + "\n";
    // Written aside and moved in, so a cut-off write leaves the old one or none.
    std::string strTemp = strPath + ".new";
    std::FILE* fp = std::fopen(strTemp.c_str(), "wb");
    bool bOk =
        fp != nullptr && std::fwrite(strText.data(), 1, strText.size(), fp) == strText.size();
    if (fp != nullptr)
        bOk = std::fclose(fp) == 0 && bOk;
    if (!bOk || !platform::MoveFileReplace(strTemp, strPath)) {
        platform::DeleteFile(strTemp);
        platform::DeleteFile(strPath);
        TideLog(3, "%sThe list's validator could not be stored in %s", kPrefix, strPath.c_str());
    }
}
