#include "engine/http_connection.h"

#include <curl/curl.h>

#include <strings.h>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/clock.h"

namespace {

constexpr const char kUserAgent[] =
    "Mozilla/5.0 (Windows NT 6.1; WOW64; Trident/7.0; rv:11.0) like Gecko";
constexpr const char kAcceptHeader[] =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*";
constexpr const char kCaBundleVariable[] = "TIDEWELL_CA_BUNDLE";

// Large reads keep the per-block cost small on fast links.
constexpr long kReceiveBufferBytes = 512 * 1024;
// Longest wait between two looks at the stop flag and the time-outs.
constexpr int kPollStepMs = 50;
// Limits on what the server may send in its headers.
constexpr size_t kMaxHeaderCount = 100;
constexpr size_t kMaxHeaderValueBytes = 1023;
// A discarded error body larger than this ends the connection instead.
constexpr uint64_t kMaxDiscardedBodyBytes = 64 * 1024;

// Verification results of the TLS library (X509_V_ERR_*).
enum : long {
    kX509Ok = 0,
    kX509Unverified = 1,
    kX509UnableToGetIssuerCert = 2,
    kX509UnableToGetCrl = 3,
    kX509CertNotYetValid = 9,
    kX509CertHasExpired = 10,
    kX509CrlNotYetValid = 11,
    kX509CrlHasExpired = 12,
    kX509ErrorInNotBefore = 13,
    kX509ErrorInNotAfter = 14,
    kX509DepthZeroSelfSigned = 18,
    kX509SelfSignedInChain = 19,
    kX509UnableToGetIssuerLocally = 20,
    kX509UnableToVerifyLeaf = 21,
    kX509CertRevoked = 23,
    kX509CertUntrusted = 27,
    kX509UnableToGetCrlIssuer = 33,
    kX509HostnameMismatch = 62,
    kX509IpAddressMismatch = 64,
};

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Bytes that may stand unescaped in a request target besides letters and
// digits (RFC 3986 pchar, "/" and "?").
bool IsTargetByte(unsigned char c) {
    if (std::isalnum(c))
        return true;
    return std::strchr("-._~!$&'()*+,;=:@/?", c) != nullptr && c != '\0';
}

// Header lines a caller adds: "Name: value", printable bytes only, bounded.
bool AreHeaderLinesSafe(const std::vector<std::string>& vecLines) {
    for (const std::string& strLine : vecLines) {
        if (strLine.empty() || strLine.size() > kMaxExtraHeaderBytes ||
            strLine.find(':') == std::string::npos) {
            return false;
        }
        for (char c : strLine) {
            auto b = static_cast<unsigned char>(c);
            if (b < 0x20 || b == 0x7F)
                return false;
        }
    }
    return true;
}

std::string CutText(std::string str) {
    if (str.size() > kMaxErrorTextBytes)
        str.resize(kMaxErrorTextBytes);
    return str;
}

std::string TrimBlanks(const std::string& str) {
    size_t nBegin = str.find_first_not_of(" \t\r\n");
    if (nBegin == std::string::npos)
        return std::string();
    size_t nEnd = str.find_last_not_of(" \t\r\n");
    return str.substr(nBegin, nEnd - nBegin + 1);
}

void InitCurlOnce() {
    static std::once_flag s_once;
    std::call_once(s_once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One request under way on an easy handle; libcurl's callbacks write it
// through their user pointer.
struct CurlTransfer {
    CURL* pEasy = nullptr;
    const std::atomic<int>* pStopFlag = nullptr;
    bool bActive = false;  // a request is under way
    HttpResponse response;
    IHttpBodySink* pSink = nullptr;
    IHttpBodySink::Action eAction = IHttpBodySink::Action::kReceive;
    bool bHeadersDone = false;
    bool bStopped = false;
    bool bSinkAborted = false;
    bool bConnected = false;
    bool bHeadersTooLarge = false;
    size_t nHeaderBytes = 0;
    uint64_t nLastActivityMs = 0;
    char szError[CURL_ERROR_SIZE] = {};
    // The usual headers plus this request's own; null when it has none.
    curl_slist* pRequestHeaders = nullptr;

    // Clears what the last request left; the handle and stop flag stay.
    void Begin(IHttpBodySink* pNewSink) {
        CURL* pKeptEasy = pEasy;
        const std::atomic<int>* pKeptFlag = pStopFlag;
        *this = CurlTransfer();
        pEasy = pKeptEasy;
        pStopFlag = pKeptFlag;
        pSink = pNewSink;
        bActive = true;
        Touch();
    }
    bool IsStopRequested() const {
        return pStopFlag != nullptr && pStopFlag->load(std::memory_order_relaxed) != 0;
    }
    void Touch() { nLastActivityMs = platform::SystemClock().TickCountMs(); }
};

void SetCancelled(HttpResponse* pResponse) {
    pResponse->eOutcome = HttpOutcome::kStopped;
    pResponse->nErrCode = kInetErrCancelled;
    pResponse->strErrText = "The operation was cancelled";
}

void OnHeaderLine(CurlTransfer& t, std::string strLine) {
    HttpResponse& response = t.response;
    if (strLine.rfind("HTTP/", 0) == 0) {
        // A new status line: interim (1xx) responses leave nothing behind.
        response.mapHeaders.clear();
        size_t nBlank = strLine.find(' ');
        response.nStatus = nBlank == std::string::npos ? 0 : std::atoi(strLine.c_str() + nBlank);
        return;
    }
    std::string strTrimmed = TrimBlanks(strLine);
    if (strTrimmed.empty()) {
        if (response.nStatus < 200 || t.bHeadersDone)
            return;
        t.bHeadersDone = true;
        if (t.pSink != nullptr) {
            t.eAction = t.pSink->OnResponseHeaders(response);
            if (t.eAction == IHttpBodySink::Action::kAbort)
                t.bSinkAborted = true;
        }
        return;
    }
    size_t nColon = strTrimmed.find(':');
    if (nColon == std::string::npos || response.mapHeaders.size() >= kMaxHeaderCount)
        return;
    std::string strValue = TrimBlanks(strTrimmed.substr(nColon + 1));
    if (strValue.size() > kMaxHeaderValueBytes)
        strValue.resize(kMaxHeaderValueBytes);
    response.mapHeaders[TrimBlanks(strTrimmed.substr(0, nColon))] = strValue;
}

int PrereqCallback(void* pUser, char*, char*, int, int) {
    auto* pT = static_cast<CurlTransfer*>(pUser);
    if (pT->bActive) {
        pT->bConnected = true;
        pT->Touch();
    }
    return CURL_PREREQFUNC_OK;
}

size_t HeaderCallback(char* pData, size_t nSize, size_t nCount, void* pUser) {
    auto* pT = static_cast<CurlTransfer*>(pUser);
    size_t nBytes = nSize * nCount;
    if (!pT->bActive)
        return nBytes;
    pT->Touch();
    pT->nHeaderBytes += nBytes;
    if (nBytes > kMaxHeaderLineBytes || pT->nHeaderBytes > kMaxHeaderBytes) {
        pT->bHeadersTooLarge = true;
        return 0;
    }
    OnHeaderLine(*pT, std::string(pData, nBytes));
    if (pT->IsStopRequested()) {
        pT->bStopped = true;
        return 0;
    }
    return pT->eAction == IHttpBodySink::Action::kAbort ? 0 : nBytes;
}

size_t WriteCallback(char* pData, size_t nSize, size_t nCount, void* pUser) {
    auto* pT = static_cast<CurlTransfer*>(pUser);
    size_t nBytes = nSize * nCount;
    if (!pT->bActive)
        return nBytes;
    pT->Touch();
    if (pT->IsStopRequested()) {
        pT->bStopped = true;
        return CURL_WRITEFUNC_ERROR;
    }
    pT->response.nBodyBytes += nBytes;
    if (pT->eAction == IHttpBodySink::Action::kDiscard || pT->pSink == nullptr) {
        // An error page is read to its end to keep the connection, if it is small.
        return pT->response.nBodyBytes <= kMaxDiscardedBodyBytes ? nBytes : CURL_WRITEFUNC_ERROR;
    }
    if (!pT->pSink->OnBodyData(pData, nBytes)) {
        pT->bSinkAborted = true;
        return CURL_WRITEFUNC_ERROR;
    }
    return nBytes;
}

// An easy handle with every option a request of ours needs but its URL.
CURL* CreateEasy(const HttpConnectionSettings& settings, curl_slist* pHeaders, long nHttpVersion,
                 uint32_t dwConnectMs, CurlTransfer* pT) {
    CURL* h = curl_easy_init();
    if (h == nullptr)
        return nullptr;
    pT->pEasy = h;
    pT->pStopFlag = settings.pStopFlag;
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, nHttpVersion);
    curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, pHeaders);
    // The engine decodes gzip itself and wants the body as the server sent it.
    curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
    // A proxy's answer to CONNECT is not the server's response.
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, pT->szError);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &HeaderCallback);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, pT);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteCallback);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, pT);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &PrereqCallback);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, pT);
    if (dwConnectMs != 0)
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long{dwConnectMs});
    if (!settings.strCaBundle.empty())
        curl_easy_setopt(h, CURLOPT_CAINFO, settings.strCaBundle.c_str());
    return h;
}

// Back to the usual headers once a request has ended.
void EndRequestHeaders(CurlTransfer& t, curl_slist* pUsualHeaders) {
    if (t.pRequestHeaders == nullptr)
        return;
    curl_easy_setopt(t.pEasy, CURLOPT_HTTPHEADER, pUsualHeaders);
    curl_slist_free_all(t.pRequestHeaders);
    t.pRequestHeaders = nullptr;
}

// Sets the handle up for one request; false (response filled in) when the
// request cannot be built.
bool SetRequest(CurlTransfer& t, const HttpConnectionSettings& settings,
                const std::string& strMethod, const std::string& strPath, bool bIgnoreCert,
                const HttpRequestOptions& options) {
    if (strPath.size() > kMaxRequestPathBytes || (strMethod != "HEAD" && strMethod != "GET") ||
        !AreHeaderLinesSafe(options.vecHeaders)) {
        t.response.nErrCode = kInetErrInvalidUrl;
        t.response.strErrText = "Request path too long, method or header not supported";
        return false;
    }
    // The extra lines go after the usual ones, for this request only.
    if (!options.vecHeaders.empty()) {
        curl_slist* pList = curl_slist_append(nullptr, kAcceptHeader);
        for (const std::string& strLine : options.vecHeaders) {
            if (pList != nullptr)
                pList = curl_slist_append(pList, strLine.c_str());
        }
        if (pList == nullptr) {
            t.response.nErrCode = kInetErrInternal;
            t.response.strErrText = "Out of memory";
            return false;
        }
        t.pRequestHeaders = pList;
        curl_easy_setopt(t.pEasy, CURLOPT_HTTPHEADER, pList);
    }
    // An IPv6 address stands in brackets in a URL.
    bool bIpv6 = settings.strHost.find(':') != std::string::npos;
    std::string strUrl = std::string(settings.bSecure ? "https://" : "http://") +
                         (bIpv6 ? "[" + settings.strHost + "]" : settings.strHost) + ":" +
                         std::to_string(settings.nPort) + EscapeRequestTarget(strPath);
    t.szError[0] = '\0';
    CURL* h = t.pEasy;
    bool bOptionsOk = curl_easy_setopt(h, CURLOPT_URL, strUrl.c_str()) == CURLE_OK;
    if (strMethod == "HEAD") {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, bIgnoreCert ? 0L : 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, bIgnoreCert ? 0L : 2L);
    if (!bOptionsOk) {
        t.response.nErrCode = kInetErrInvalidUrl;
        t.response.strErrText = CutText("Invalid URL: " + strUrl);
        return false;
    }
    return true;
}

// Before the connection is up curl's connect time-out rules; after it, the
// send and receive time-outs limit each wait for progress. True (response
// filled in) when the transfer waited too long.
bool IdleTimedOut(CurlTransfer& t, uint32_t dwSendMs, uint32_t dwRecvMs) {
    if (!t.bConnected)
        return false;
    long nSent = 0;
    curl_easy_getinfo(t.pEasy, CURLINFO_REQUEST_SIZE, &nSent);
    uint32_t dwLimit = nSent > 0 ? dwRecvMs : dwSendMs;
    uint64_t nIdle = platform::SystemClock().TickCountMs() - t.nLastActivityMs;
    if (dwLimit == 0 || nIdle < dwLimit)
        return false;
    t.response.eOutcome = HttpOutcome::kTransportError;
    t.response.nErrCode = kInetErrTimeout;
    t.response.strErrText =
        CutText(std::string(nSent > 0 ? "Receive" : "Send") + " timed out after " +
                std::to_string(nIdle) + " milliseconds without data");
    return true;
}

// Waits for socket activity, at most one poll step.
void PollOnce(CURLM* pMulti) {
    long nCurlWait = -1;
    curl_multi_timeout(pMulti, &nCurlWait);
    int nWait =
        (nCurlWait >= 0 && nCurlWait < kPollStepMs) ? static_cast<int>(nCurlWait) : kPollStepMs;
    curl_multi_poll(pMulti, nullptr, 0, nWait, nullptr);
}

// The response of a transfer curl ended with eResult.
void FinishResponse(CurlTransfer& t, CURLcode eResult) {
    HttpResponse& response = t.response;
    std::string strError = t.szError[0] != '\0' ? t.szError : curl_easy_strerror(eResult);
    if (eResult == CURLE_OK) {
        response.eOutcome = HttpOutcome::kComplete;
        if (!t.bHeadersDone && response.nStatus == 0) {
            response.eOutcome = HttpOutcome::kStatusUnreadable;
            response.nErrCode = kInetErrInvalidServerResponse;
            response.strErrText = "No status line in the response";
        }
        return;
    }
    if (t.bStopped) {
        SetCancelled(&response);
        return;
    }
    if (t.bSinkAborted) {
        response.eOutcome = HttpOutcome::kSinkAborted;
        return;
    }
    // Lines beyond libcurl's own limit (100 KiB) end in its out-of-memory
    // error before they reach the header callback.
    if (t.bHeadersTooLarge ||
        (eResult == CURLE_OUT_OF_MEMORY && t.bConnected && !t.bHeadersDone)) {
        // Its status line alone makes no response: the HTTP layer failed.
        response.nStatus = 0;
        response.eOutcome = HttpOutcome::kTransportError;
        response.nErrCode = kInetErrInvalidServerResponse;
        response.strErrText = "Response headers too large (limits: " +
                              std::to_string(kMaxHeaderLineBytes) + " bytes a line, " +
                              std::to_string(kMaxHeaderBytes) + " in all)";
        return;
    }
    response.strErrText = CutText(strError);
    response.eOutcome = HttpOutcome::kTransportError;
    switch (eResult) {
        case CURLE_URL_MALFORMAT:
        case CURLE_OUT_OF_MEMORY:
        case CURLE_BAD_FUNCTION_ARGUMENT:
            response.eOutcome = HttpOutcome::kNotOpened;
            response.nErrCode = kInetErrInvalidUrl;
            break;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_WEIRD_SERVER_REPLY:
            response.eOutcome = HttpOutcome::kStatusUnreadable;
            response.nErrCode = kInetErrInvalidServerResponse;
            break;
        case CURLE_PARTIAL_FILE:
            response.eOutcome = HttpOutcome::kPartialBody;
            response.nErrCode = kInetErrConnectionAborted;
            break;
        case CURLE_HTTP2_STREAM:
            // A stream the server reset after its headers: the body ended
            // early, as a closed HTTP/1.1 connection would end it.
            if (t.bHeadersDone)
                response.eOutcome = HttpOutcome::kPartialBody;
            response.nErrCode = kInetErrConnectionAborted;
            break;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            response.nErrCode = kInetErrNameNotResolved;
            break;
        case CURLE_COULDNT_CONNECT:
            response.nErrCode = kInetErrCannotConnect;
            break;
        case CURLE_OPERATION_TIMEDOUT:
            response.nErrCode = kInetErrTimeout;
            break;
        case CURLE_GOT_NOTHING:
            response.nErrCode = kInetErrInvalidServerResponse;
            break;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            response.nErrCode = kInetErrConnectionAborted;
            break;
        case CURLE_PEER_FAILED_VERIFICATION: {
            long nVerify = kX509Ok;
            curl_easy_getinfo(t.pEasy, CURLINFO_SSL_VERIFYRESULT, &nVerify);
            response.nErrCode = InetCodeForVerifyResult(nVerify);
            break;
        }
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            response.nErrCode = kInetErrSecureChannel;
            break;
        default:
            response.nErrCode = kInetErrInternal;
            break;
    }
}

class CCurlHttpConnection : public IHttpConnection {
public:
    explicit CCurlHttpConnection(const HttpConnectionSettings& settings);
    ~CCurlHttpConnection() override;
    CCurlHttpConnection(const CCurlHttpConnection&) = delete;
    CCurlHttpConnection& operator=(const CCurlHttpConnection&) = delete;

    bool IsReady() const {
        return m_transfer.pEasy != nullptr && m_pMulti != nullptr && m_pHeaders;
    }
    void SetTimeouts(uint32_t dwConnectMs, uint32_t dwSendMs, uint32_t dwRecvMs) override;
    HttpResponse Request(const std::string& strMethod, const std::string& strPath, bool bIgnoreCert,
                         IHttpBodySink* pSink, const HttpRequestOptions& options) override;
    std::unique_ptr<IHttpBatch> StartBatch(size_t nParallel) override;

private:
    HttpConnectionSettings m_settings;
    // One easy handle for every request; the multi handle's cache keeps the
    // connection alive between them.
    CurlTransfer m_transfer;
    CURLM* m_pMulti = nullptr;
    curl_slist* m_pHeaders = nullptr;
    uint32_t m_dwConnectMs = 0;
    uint32_t m_dwSendMs = 0;
    uint32_t m_dwRecvMs = 0;

    bool RunTransfer(CURLcode* pResult);
};

// A pool of easy handles on a multi handle of its own.
class CCurlHttpBatch : public IHttpBatch {
public:
    CCurlHttpBatch(const HttpConnectionSettings& settings, size_t nParallel, uint32_t dwConnectMs,
                   uint32_t dwSendMs, uint32_t dwRecvMs);
    ~CCurlHttpBatch() override;
    CCurlHttpBatch(const CCurlHttpBatch&) = delete;
    CCurlHttpBatch& operator=(const CCurlHttpBatch&) = delete;

    bool IsReady() const { return m_bReady; }
    size_t Running() const override { return m_nRunning; }
    void Start(size_t nTag, const HttpRequest& request) override;
    void Wait(std::vector<HttpBatchResult>* pvecDone) override;
    void Abandon() override;

private:
    struct Slot {
        CurlTransfer transfer;
        size_t nTag = 0;
        bool bAdded = false;  // on the multi handle
    };
    HttpConnectionSettings m_settings;
    uint32_t m_dwSendMs;
    uint32_t m_dwRecvMs;
    CURLM* m_pMulti = nullptr;
    curl_slist* m_pHeaders = nullptr;
    std::vector<std::unique_ptr<Slot>> m_vecSlots;
    std::vector<HttpBatchResult> m_vecEndedAtStart;
    size_t m_nRunning = 0;
    bool m_bReady = false;

    // Takes a slot's transfer off the multi handle and hands its response back.
    void End(Slot& slot, std::vector<HttpBatchResult>* pvecDone);
};

CCurlHttpConnection::CCurlHttpConnection(const HttpConnectionSettings& settings)
    : m_settings(settings) {
    InitCurlOnce();
    m_pMulti = curl_multi_init();
    m_pHeaders = curl_slist_append(nullptr, kAcceptHeader);
    CreateEasy(m_settings, m_pHeaders, static_cast<long>(CURL_HTTP_VERSION_1_1), 0, &m_transfer);
}

CCurlHttpConnection::~CCurlHttpConnection() {
    if (m_transfer.pEasy != nullptr)
        curl_easy_cleanup(m_transfer.pEasy);
    if (m_pMulti != nullptr)
        curl_multi_cleanup(m_pMulti);
    curl_slist_free_all(m_pHeaders);
}

void CCurlHttpConnection::SetTimeouts(uint32_t dwConnectMs, uint32_t dwSendMs, uint32_t dwRecvMs) {
    if (dwConnectMs != 0) {
        m_dwConnectMs = dwConnectMs;
        curl_easy_setopt(m_transfer.pEasy, CURLOPT_CONNECTTIMEOUT_MS, long{dwConnectMs});
    }
    if (dwSendMs != 0)
        m_dwSendMs = dwSendMs;
    if (dwRecvMs != 0)
        m_dwRecvMs = dwRecvMs;
}

HttpResponse CCurlHttpConnection::Request(const std::string& strMethod, const std::string& strPath,
                                          bool bIgnoreCert, IHttpBodySink* pSink,
                                          const HttpRequestOptions& options) {
    m_transfer.Begin(pSink);
    if (SetRequest(m_transfer, m_settings, strMethod, strPath, bIgnoreCert, options)) {
        CURLcode eResult = CURLE_OK;
        if (RunTransfer(&eResult))
            FinishResponse(m_transfer, eResult);
    }
    EndRequestHeaders(m_transfer, m_pHeaders);
    m_transfer.bActive = false;
    return std::move(m_transfer.response);
}

// Drives the transfer until curl is done (true, result in *pResult) or the
// stop flag or a time-out ends it (false, outcome already set).
bool CCurlHttpConnection::RunTransfer(CURLcode* pResult) {
    HttpResponse& response = m_transfer.response;
    if (curl_multi_add_handle(m_pMulti, m_transfer.pEasy) != CURLM_OK) {
        response.eOutcome = HttpOutcome::kTransportError;
        response.nErrCode = kInetErrInternal;
        response.strErrText = "Cannot start the transfer";
        return false;
    }
    bool bDone = false;
    for (;;) {
        int nRunning = 0;
        CURLMcode eMulti = curl_multi_perform(m_pMulti, &nRunning);
        if (eMulti != CURLM_OK) {
            response.eOutcome = HttpOutcome::kTransportError;
            response.nErrCode = kInetErrInternal;
            response.strErrText = CutText(curl_multi_strerror(eMulti));
            break;
        }
        if (nRunning == 0) {
            int nQueued = 0;
            *pResult = CURLE_OK;
            while (CURLMsg* pMsg = curl_multi_info_read(m_pMulti, &nQueued)) {
                if (pMsg->msg == CURLMSG_DONE)
                    *pResult = pMsg->data.result;
            }
            bDone = true;
            break;
        }
        if (m_transfer.IsStopRequested()) {
            SetCancelled(&response);
            break;
        }
        if (IdleTimedOut(m_transfer, m_dwSendMs, m_dwRecvMs))
            break;
        PollOnce(m_pMulti);
    }
    // Removing an unfinished transfer closes its connection.
    curl_multi_remove_handle(m_pMulti, m_transfer.pEasy);
    return bDone;
}

std::unique_ptr<IHttpBatch> CCurlHttpConnection::StartBatch(size_t nParallel) {
    auto pBatch = std::make_unique<CCurlHttpBatch>(m_settings, std::max<size_t>(nParallel, 1),
                                                   m_dwConnectMs, m_dwSendMs, m_dwRecvMs);
    if (!pBatch->IsReady())
        return nullptr;
    return pBatch;
}

CCurlHttpBatch::CCurlHttpBatch(const HttpConnectionSettings& settings, size_t nParallel,
                               uint32_t dwConnectMs, uint32_t dwSendMs, uint32_t dwRecvMs)
    : IHttpBatch(nParallel), m_settings(settings), m_dwSendMs(dwSendMs), m_dwRecvMs(dwRecvMs) {
    InitCurlOnce();
    m_pMulti = curl_multi_init();
    m_pHeaders = curl_slist_append(nullptr, kAcceptHeader);
    if (m_pMulti == nullptr || m_pHeaders == nullptr)
        return;
    // Over TLS the server may offer HTTP/2: then every request is a stream of
    // one connection (each waits for it rather than opening its own).
    // Otherwise up to nParallel HTTP/1.1 connections, each kept alive.
    long nVersion =
        static_cast<long>(settings.bSecure ? CURL_HTTP_VERSION_2TLS : CURL_HTTP_VERSION_1_1);
    curl_multi_setopt(m_pMulti, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
    curl_multi_setopt(m_pMulti, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(nParallel));
    // Left alone, the cache shrinks with the transfers under way (four
    // connections each) and closes idle connections the next requests need.
    curl_multi_setopt(m_pMulti, CURLMOPT_MAXCONNECTS, static_cast<long>(nParallel));
    for (size_t i = 0; i < nParallel; ++i) {
        auto pSlot = std::make_unique<Slot>();
        CURL* h = CreateEasy(m_settings, m_pHeaders, nVersion, dwConnectMs, &pSlot->transfer);
        if (h == nullptr)
            return;
        curl_easy_setopt(h, CURLOPT_PRIVATE, pSlot.get());
        if (settings.bSecure)
            curl_easy_setopt(h, CURLOPT_PIPEWAIT, 1L);
        m_vecSlots.push_back(std::move(pSlot));
    }
    m_bReady = true;
}

CCurlHttpBatch::~CCurlHttpBatch() {
    for (auto& pSlot : m_vecSlots) {
        if (pSlot->bAdded)
            curl_multi_remove_handle(m_pMulti, pSlot->transfer.pEasy);
        curl_easy_cleanup(pSlot->transfer.pEasy);
        curl_slist_free_all(pSlot->transfer.pRequestHeaders);
    }
    if (m_pMulti != nullptr)
        curl_multi_cleanup(m_pMulti);
    curl_slist_free_all(m_pHeaders);
}

void CCurlHttpBatch::Start(size_t nTag, const HttpRequest& request) {
    Slot* pFree = nullptr;
    for (auto& pSlot : m_vecSlots) {
        if (!pSlot->transfer.bActive) {
            pFree = pSlot.get();
            break;
        }
    }
    if (pFree == nullptr)
        return;  // over capacity: a caller's fault, nothing is started
    CurlTransfer& t = pFree->transfer;
    t.Begin(request.pSink);
    pFree->nTag = nTag;
    ++m_nRunning;
    if (!SetRequest(t, m_settings, request.strMethod, request.strPath, request.bIgnoreCert,
                    request.options)) {
        End(*pFree, &m_vecEndedAtStart);
        return;
    }
    if (curl_multi_add_handle(m_pMulti, t.pEasy) != CURLM_OK) {
        t.response.eOutcome = HttpOutcome::kTransportError;
        t.response.nErrCode = kInetErrInternal;
        t.response.strErrText = "Cannot start the transfer";
        End(*pFree, &m_vecEndedAtStart);
        return;
    }
    pFree->bAdded = true;
}

void CCurlHttpBatch::End(Slot& slot, std::vector<HttpBatchResult>* pvecDone) {
    if (slot.bAdded) {
        // Removing an unfinished transfer closes its HTTP/1.1 connection or
        // resets its HTTP/2 stream.
        curl_multi_remove_handle(m_pMulti, slot.transfer.pEasy);
        slot.bAdded = false;
    }
    EndRequestHeaders(slot.transfer, m_pHeaders);
    slot.transfer.bActive = false;
    --m_nRunning;
    pvecDone->push_back(HttpBatchResult{slot.nTag, std::move(slot.transfer.response)});
}

void CCurlHttpBatch::Abandon() {
    std::vector<HttpBatchResult> vecDropped;
    for (auto& pSlot : m_vecSlots) {
        if (pSlot->transfer.bActive)
            End(*pSlot, &vecDropped);
    }
    m_vecEndedAtStart.clear();
}

void CCurlHttpBatch::Wait(std::vector<HttpBatchResult>* pvecDone) {
    size_t nBefore = pvecDone->size();
    for (HttpBatchResult& result : m_vecEndedAtStart)
        pvecDone->push_back(std::move(result));
    m_vecEndedAtStart.clear();
    while (pvecDone->size() == nBefore && m_nRunning > 0) {
        int nStillRunning = 0;
        CURLMcode eMulti = curl_multi_perform(m_pMulti, &nStillRunning);
        if (eMulti != CURLM_OK) {
            for (auto& pSlot : m_vecSlots) {
                if (!pSlot->bAdded)
                    continue;
                HttpResponse& response = pSlot->transfer.response;
                response.eOutcome = HttpOutcome::kTransportError;
                response.nErrCode = kInetErrInternal;
                response.strErrText = CutText(curl_multi_strerror(eMulti));
                End(*pSlot, pvecDone);
            }
            return;
        }
        int nQueued = 0;
        while (CURLMsg* pMsg = curl_multi_info_read(m_pMulti, &nQueued)) {
            if (pMsg->msg != CURLMSG_DONE)
                continue;
            Slot* pSlot = nullptr;
            curl_easy_getinfo(pMsg->easy_handle, CURLINFO_PRIVATE, &pSlot);
            CURLcode eResult = pMsg->data.result;
            if (pSlot == nullptr || !pSlot->bAdded)
                continue;
            FinishResponse(pSlot->transfer, eResult);
            End(*pSlot, pvecDone);
        }
        bool bStop = m_settings.pStopFlag != nullptr &&
                     m_settings.pStopFlag->load(std::memory_order_relaxed) != 0;
        for (auto& pSlot : m_vecSlots) {
            if (!pSlot->bAdded)
                continue;
            if (bStop) {
                SetCancelled(&pSlot->transfer.response);
                End(*pSlot, pvecDone);
            } else if (IdleTimedOut(pSlot->transfer, m_dwSendMs, m_dwRecvMs)) {
                End(*pSlot, pvecDone);
            }
        }
        if (pvecDone->size() == nBefore)
            PollOnce(m_pMulti);
    }
}

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
}

const std::string* HttpResponse::Header(const std::string& strName) const {
    auto it = mapHeaders.find(strName);
    return it == mapHeaders.end() ? nullptr : &it->second;
}

std::unique_ptr<IHttpConnection> CreateCurlHttpConnection(const HttpConnectionSettings& settings) {
    auto pConnection = std::make_unique<CCurlHttpConnection>(settings);
    if (!pConnection->IsReady())
        return nullptr;
    return pConnection;
}

std::string CaBundleFromEnvironment() {
    const char* pszValue = std::getenv(kCaBundleVariable);
    return pszValue != nullptr ? std::string(pszValue) : std::string();
}

int InetCodeForVerifyResult(long nVerifyResult) {
    switch (nVerifyResult) {
        // curl checks the host name itself once the chain is good; a failure
        // there leaves the result at OK or at its initial "unverified" value.
        case kX509Ok:
        case kX509Unverified:
        case kX509HostnameMismatch:
        case kX509IpAddressMismatch:
            return kInetErrCertNameInvalid;
        case kX509CertNotYetValid:
        case kX509CertHasExpired:
        case kX509ErrorInNotBefore:
        case kX509ErrorInNotAfter:
            return kInetErrCertDateInvalid;
        case kX509UnableToGetIssuerCert:
        case kX509DepthZeroSelfSigned:
        case kX509SelfSignedInChain:
        case kX509UnableToGetIssuerLocally:
        case kX509UnableToVerifyLeaf:
        case kX509CertUntrusted:
            return kInetErrInvalidCa;
        case kX509CertRevoked:
            return kInetErrCertRevoked;
        case kX509UnableToGetCrl:
        case kX509CrlNotYetValid:
        case kX509CrlHasExpired:
        case kX509UnableToGetCrlIssuer:
            return kInetErrRevocationFailed;
        default:
            return kInetErrInvalidCert;
    }
}

std::string EscapeRequestTarget(const std::string& strPath) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string strTarget = "/";
    strTarget.reserve(strPath.size() + 16);
    for (size_t i = 0; i < strPath.size(); ++i) {
        auto c = static_cast<unsigned char>(strPath[i]);
        if (c == '\\') {
            strTarget += '/';
        } else if (c == '%' && i + 2 < strPath.size() && IsHexDigit(strPath[i + 1]) &&
                   IsHexDigit(strPath[i + 2])) {
            strTarget += '%';
        } else if (IsTargetByte(c)) {
            strTarget += static_cast<char>(c);
        } else {
            strTarget += '%';
            strTarget += kHex[c >> 4];
            strTarget += kHex[c & 0xF];
        }
    }
    return strTarget;
}
