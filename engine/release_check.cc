#include "engine/release_check.h"

#include <strings.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "app/client_setup.h"
#include "app/tide_cfg.h"
#include "engine/gzip_decoder.h"
#include "engine/http_connection.h"
#include "engine/list_limits.h"
#include "engine/list_signature.h"
#include "engine/sync_engine.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "util/crypto.h"

namespace {

// A check waits this long for a server before calling it unreachable.
constexpr uint32_t kConnectTimeoutMs = 30000;
constexpr uint32_t kTransferTimeoutMs = 60000;
constexpr char kListCopyName[] = "list";

bool IsGzipEncoding(const std::string* pValue) {
    return pValue != nullptr && strcasecmp(pValue->c_str(), "gzip") == 0;
}

// Takes a GET's body as a client would: decoded when gzip-encoded, hashed,
// and kept up to a limit when wanted.
class CCheckSink : public IHttpBodySink {
public:
    CCheckSink(std::string* pstrKeep, uint64_t nMaxKeep)
        : m_pstrKeep(pstrKeep), m_nMaxKeep(nMaxKeep) {}

    Action OnResponseHeaders(const HttpResponse& response) override {
        if (response.nStatus != 200)
            return Action::kDiscard;
        if (IsGzipEncoding(response.Header("Content-Encoding"))) {
            m_pDecoder = std::make_unique<CGzipDecoder>(
                [this](const char* pData, size_t nSize) { return Take(pData, nSize); });
        }
        return Action::kReceive;
    }
    bool OnBodyData(const char* pData, size_t nSize) override {
        return m_pDecoder ? m_pDecoder->Feed(pData, nSize) : Take(pData, nSize);
    }
    // True when the body decoded to its end.
    bool Finish() { return !m_bTooLarge && (!m_pDecoder || m_pDecoder->Finish() == kGzipOk); }

    bool TooLarge() const { return m_bTooLarge; }
    uint64_t DecodedBytes() const { return m_nDecoded; }
    std::string HexDigest() { return m_sha.HexDigest(); }

private:
    std::string* m_pstrKeep;
    uint64_t m_nMaxKeep;
    std::unique_ptr<CGzipDecoder> m_pDecoder;
    CSha256 m_sha;
    uint64_t m_nDecoded = 0;
    bool m_bTooLarge = false;

    bool Take(const char* pData, size_t nSize) {
        m_nDecoded += nSize;
        m_sha.Update(pData, nSize);
        if (m_pstrKeep == nullptr)
            return true;
        if (m_pstrKeep->size() + nSize > m_nMaxKeep) {
            m_bTooLarge = true;
            return false;
        }
        m_pstrKeep->append(pData, nSize);
        return true;
    }
};

std::string TimeText(int64_t nSeconds) {
    platform::SystemTime st = platform::ToGmtTime(nSeconds * 1000);
    char szText[40];
    snprintf(szText, sizeof(szText), "%04d-%02d-%02d %02d:%02d:%02d GMT", st.nYear, st.nMonth,
             st.nDay, st.nHour, st.nMinute, st.nSecond);
    return szText;
}

// The instant of a list's 14-digit time; false when it names none.
bool ListTimeSeconds(const std::string& strTime, int64_t* pnSeconds) {
    platform::SystemTime st;
    if (strTime.size() != 14 || sscanf(strTime.c_str(), "%4d%2d%2d%2d%2d%2d", &st.nYear, &st.nMonth,
                                       &st.nDay, &st.nHour, &st.nMinute, &st.nSecond) != 6) {
        return false;
    }
    return platform::GmtToUnixSeconds(st, pnSeconds);
}

std::string Why(const HttpResponse& response) {
    if (response.eOutcome == HttpOutcome::kStatusUnreadable)
        return "the answer has no status line";
    if (response.eOutcome == HttpOutcome::kPartialBody)
        return "the body ended before its announced length";
    return response.strErrText.empty() ? "the request failed" : response.strErrText;
}

class CReleaseChecker {
public:
    explicit CReleaseChecker(const ReleaseCheckOptions& options) : m_options(options) {}
    ~CReleaseChecker() {
        if (!m_strScratch.empty()) {
            platform::DeleteFile(platform::JoinPath(m_strScratch, kListCopyName));
            platform::RemoveDirectory(m_strScratch);
        }
    }
    CReleaseChecker(const CReleaseChecker&) = delete;
    CReleaseChecker& operator=(const CReleaseChecker&) = delete;

    ReleaseCheckResult Run();

private:
    const ReleaseCheckOptions& m_options;
    std::string m_strScratch;
    std::unique_ptr<CTideCfg> m_pCfg;
    CSyncEngine m_engine;
    ReleaseCheckResult m_result;

    bool Connect();
    bool ReadList(FileItemList* pItems);
    // The records one after the other over the kept-alive connection. This
    // is the one loop to change when the HTTP layer can run requests side by
    // side: CheckRecord needs nothing but its item and the connection.
    void CheckRecords(const std::vector<const FileItem*>& vecItems);
    // The mismatches of one record; *pbUnreachable when the server did not answer.
    std::vector<std::string> CheckRecord(const FileItem& item, bool* pbUnreachable);
    HttpResponse Request(const char* pszMethod, const std::string& strSource, IHttpBodySink* pSink);
};

bool CReleaseChecker::Connect() {
    ClientSettings settings;
    if (!ParseServerUrl(m_options.strListUrl, &settings, &m_result.strError))
        return false;
    m_strScratch = platform::MakePrivateTempFolder("tidewell-verify-");
    if (m_strScratch.empty()) {
        m_result.strError = "cannot make a scratch folder";
        return false;
    }
    // Settings as a client installed with --init --server URL has them; no file is written.
    m_pCfg = std::make_unique<CTideCfg>(platform::JoinPath(m_strScratch, "Tidewell.ini"));
    m_pCfg->m_strServer = settings.strHost;
    m_pCfg->m_nPort = settings.nPort;
    m_pCfg->m_nHttpsMode = settings.nHttpsMode;
    m_pCfg->m_strBaseUrl = settings.strBaseUrl;
    m_pCfg->m_strListFileName = settings.strListFileName;
    m_pCfg->m_strLocalBaseDir = m_strScratch;
    m_pCfg->m_strListPublicKey = m_options.strPublicKey;
    m_pCfg->m_bEncodeUrlUtf = 1;
    m_engine.m_dwConnectTimeOut = kConnectTimeoutMs;
    m_engine.m_dwSendTimeOut = kTransferTimeoutMs;
    m_engine.m_dwRecvTimeOut = kTransferTimeoutMs;
    if (m_engine.InitSyncEngine(m_pCfg.get()) != 0) {
        m_result.strError = "cannot set up the HTTP client";
        return false;
    }
    return true;
}

HttpResponse CReleaseChecker::Request(const char* pszMethod, const std::string& strSource,
                                      IHttpBodySink* pSink) {
    std::string strPath = m_engine.EncodeUrl(m_pCfg->m_strBaseUrl + "/" + strSource);
    if (strPath.empty() || strPath.size() > kMaxRequestPathBytes) {
        HttpResponse response;
        response.strErrText = "the request path is longer than clients send";
        return response;
    }
    // Certificates are always checked: a publisher wants to see what clients that check them see.
    return m_engine.m_pHttpConnection->Request(pszMethod, strPath, false, pSink);
}

bool CReleaseChecker::ReadList(FileItemList* pItems) {
    const std::string& strName = m_pCfg->m_strListFileName;
    std::string strData;
    CCheckSink sink(&strData, kMaxListFileBytes);
    HttpResponse response = Request("GET", strName, &sink);
    std::string strWhere = "the list " + m_pCfg->m_strBaseUrl + "/" + strName;
    if (response.eOutcome != HttpOutcome::kComplete &&
        response.eOutcome != HttpOutcome::kSinkAborted) {
        m_result.strError = "cannot fetch " + strWhere + ": " + Why(response);
        return false;
    }
    if (response.nStatus != 200) {
        m_result.strError =
            "cannot fetch " + strWhere + ": HTTP " + std::to_string(response.nStatus);
        return false;
    }
    if (!sink.Finish()) {
        m_result.strError = sink.TooLarge() ? strWhere + " is larger than clients read"
                                            : strWhere + " is gzip-encoded but does not decode";
        return false;
    }
    if (!m_options.strPublicKey.empty()) {
        std::string strKey;
        if (!DecodeEd25519PublicKey(m_options.strPublicKey, &strKey)) {
            m_result.strError = "the public key is not base64 of 32 bytes";
            return false;
        }
        int64_t nNow = platform::SystemClock().NowUnixMs() / 1000;
        ListTrustResult trust = CheckListTrust(strData, strKey, 0, nNow);
        if (trust.eVerdict != EListTrust::kAccepted) {
            m_result.strError = strWhere + " is refused by the key: " + trust.strReason;
            return false;
        }
    }
    // Read by the clients' own reader, from a file as they read it.
    std::string strCopy = platform::JoinPath(m_strScratch, kListCopyName);
    FILE* fp = fopen(strCopy.c_str(), "wb");
    bool bWritten =
        fp != nullptr && fwrite(strData.data(), 1, strData.size(), fp) == strData.size();
    bWritten = fp != nullptr && fclose(fp) == 0 && bWritten;
    FileItemList regList;
    if (!bWritten || m_engine.GetFileListFileFromFile(strCopy, *pItems, regList) != 0) {
        m_result.strError = "cannot read " + strWhere;
        return false;
    }
    return true;
}

std::vector<std::string> CReleaseChecker::CheckRecord(const FileItem& item, bool* pbUnreachable) {
    std::vector<std::string> vecProblems;
    HttpResponse head = Request("HEAD", item.m_strSourceFile, nullptr);
    if (head.eOutcome != HttpOutcome::kComplete) {
        *pbUnreachable = head.eOutcome == HttpOutcome::kTransportError;
        vecProblems.push_back("HEAD failed: " + Why(head));
        return vecProblems;
    }
    if (head.nStatus != 200) {
        vecProblems.push_back("HTTP " + std::to_string(head.nStatus));
        return vecProblems;
    }
    bool bGzip = IsGzipEncoding(head.Header("Content-Encoding"));
    if (item.m_bListedGzip == 1 && !bGzip)
        vecProblems.push_back("sent without gzip encoding, the list expects it (gzip_static?)");
    // A gzip-encoded answer gives the encoded size; the deep check decodes it.
    const std::string* pLength = head.Header("Content-Length");
    if (!bGzip && pLength != nullptr && !item.m_strFileSize.empty() &&
        *pLength != item.m_strFileSize) {
        vecProblems.push_back("size " + *pLength + " on the server, " + item.m_strFileSize +
                              " in the list");
    }
    int64_t nListed = 0;
    if (ListTimeSeconds(item.m_strModifyTime, &nListed)) {
        const std::string* pModified = head.Header("Last-Modified");
        int64_t nServed = 0;
        if (pModified == nullptr ||
            !platform::GmtToUnixSeconds(CSyncEngine::ParseLastModified(*pModified), &nServed)) {
            vecProblems.push_back("no Last-Modified time from the server");
        } else if (nServed - nListed > m_options.nTimeSpanSeconds ||
                   nListed - nServed > m_options.nTimeSpanSeconds) {
            vecProblems.push_back("time " + TimeText(nServed) + " on the server, " +
                                  TimeText(nListed) + " in the list");
        }
    }
    if (!m_options.bDeep)
        return vecProblems;

    CCheckSink sink(nullptr, 0);
    HttpResponse get = Request("GET", item.m_strSourceFile, &sink);
    if (get.eOutcome != HttpOutcome::kComplete || get.nStatus != 200) {
        *pbUnreachable = get.eOutcome == HttpOutcome::kTransportError;
        vecProblems.push_back(get.nStatus != 0 && get.nStatus != 200
                                  ? "GET answered HTTP " + std::to_string(get.nStatus)
                                  : "GET failed: " + Why(get));
        return vecProblems;
    }
    if (!sink.Finish()) {
        vecProblems.push_back("the gzip-encoded body does not decode");
        return vecProblems;
    }
    std::string strSize = std::to_string(sink.DecodedBytes());
    if (!item.m_strFileSize.empty() && strSize != item.m_strFileSize)
        vecProblems.push_back("GET gave " + strSize + " bytes, the list says " +
                              item.m_strFileSize);
    else if (!item.m_strSha256.empty() && sink.HexDigest() != item.m_strSha256)
        vecProblems.push_back("SHA-256 of the served bytes differs from the list");
    return vecProblems;
}

void CReleaseChecker::CheckRecords(const std::vector<const FileItem*>& vecItems) {
    for (const FileItem* pItem : vecItems) {
        bool bUnreachable = false;
        std::vector<std::string> vecProblems = CheckRecord(*pItem, &bUnreachable);
        ++m_result.nChecked;
        if (!vecProblems.empty()) {
            ++m_result.nMismatches;
            if (m_options.onMismatch) {
                for (const std::string& strProblem : vecProblems)
                    m_options.onMismatch(pItem->m_strSourceFile + ": " + strProblem);
            }
        }
        if (bUnreachable) {
            m_result.bStopped = true;
            return;
        }
    }
}

ReleaseCheckResult CReleaseChecker::Run() {
    FileItemList items;
    if (!Connect() || !ReadList(&items))
        return m_result;
    m_result.bListRead = true;
    std::vector<const FileItem*> vecItems;
    for (const auto& pItem : items) {
        // Deletions are done on the clients; nothing is fetched for them.
        if (pItem->m_nFileType != kFileTypeDel)
            vecItems.push_back(pItem.get());
    }
    CheckRecords(vecItems);
    return m_result;
}

}  // namespace

ReleaseCheckResult CheckRelease(const ReleaseCheckOptions& options) {
    return CReleaseChecker(options).Run();
}
