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

class CCurlHttpConnection : public IHttpConnection {
public:
    explicit CCurlHttpConnection(const HttpConnectionSettings& settings);
    ~CCurlHttpConnection() override;
    CCurlHttpConnection(const CCurlHttpConnection&) = delete;
    CCurlHttpConnection& operator=(const CCurlHttpConnection&) = delete;

    bool IsReady() const { return m_pEasy != nullptr && m_pMulti != nullptr && m_pHeaders; }
    void SetTimeouts(uint32_t dwConnectMs, uint32_t dwSendMs, uint32_t dwRecvMs) override;
    HttpResponse Request(const std::string& strMethod, const std::string& strPath, bool bIgnoreCert,
                         IHttpBodySink* pSink, const HttpRequestOptions& options) override;

private:
    // State of the request under way; the callbacks write it.
    struct Transfer {
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
    };

    HttpConnectionSettings m_settings;
    // One easy handle for every request; the multi handle's cache keeps the
    // connection alive between them.
    CURL* m_pEasy = nullptr;
    CURLM* m_pMulti = nullptr;
    curl_slist* m_pHeaders = nullptr;
    uint32_t m_dwSendMs = 0;
    uint32_t m_dwRecvMs = 0;
    char m_szError[CURL_ERROR_SIZE] = {};
    Transfer* m_pTransfer = nullptr;

    bool IsStopRequested() const {
        return m_settings.pStopFlag != nullptr &&
               m_settings.pStopFlag->load(std::memory_order_relaxed) != 0;
    }
    void Touch() { m_pTransfer->nLastActivityMs = platform::SystemClock().TickCountMs(); }
    bool RunTransfer(CURLcode* pResult);
    void FinishResponse(CURLcode eResult);

    static size_t HeaderCallback(char* pData, size_t nSize, size_t nCount, void* pUser);
    static size_t WriteCallback(char* pData, size_t nSize, size_t nCount, void* pUser);
    static int PrereqCallback(void* pUser, char*, char*, int, int);
    void OnHeaderLine(std::string strLine);
};

CCurlHttpConnection::CCurlHttpConnection(const HttpConnectionSettings& settings)
    : m_settings(settings) {
    InitCurlOnce();
    m_pEasy = curl_easy_init();
    m_pMulti = curl_multi_init();
    m_pHeaders = curl_slist_append(nullptr, kAcceptHeader);
    if (!IsReady())
        return;
    CURL* h = m_pEasy;
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, m_pHeaders);
    // The engine decodes gzip itself and wants the body as the server sent it.
    curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
    // A proxy's answer to CONNECT is not the server's response.
    curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, m_szError);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CCurlHttpConnection::HeaderCallback);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CCurlHttpConnection::WriteCallback);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &CCurlHttpConnection::PrereqCallback);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, this);
    if (!m_settings.strCaBundle.empty()) {
        curl_easy_setopt(h, CURLOPT_CAINFO, m_settings.strCaBundle.c_str());
    }
}

CCurlHttpConnection::~CCurlHttpConnection() {
    if (m_pEasy != nullptr)
        curl_easy_cleanup(m_pEasy);
    if (m_pMulti != nullptr)
        curl_multi_cleanup(m_pMulti);
    curl_slist_free_all(m_pHeaders);
}

void CCurlHttpConnection::SetTimeouts(uint32_t dwConnectMs, uint32_t dwSendMs, uint32_t dwRecvMs) {
    if (dwConnectMs != 0)
        curl_easy_setopt(m_pEasy, CURLOPT_CONNECTTIMEOUT_MS, long{dwConnectMs});
    if (dwSendMs != 0)
        m_dwSendMs = dwSendMs;
    if (dwRecvMs != 0)
        m_dwRecvMs = dwRecvMs;
}

HttpResponse CCurlHttpConnection::Request(const std::string& strMethod, const std::string& strPath,
                                          bool bIgnoreCert, IHttpBodySink* pSink,
                                          const HttpRequestOptions& options) {
    Transfer transfer;
    transfer.pSink = pSink;
    if (strPath.size() > kMaxRequestPathBytes || (strMethod != "HEAD" && strMethod != "GET") ||
        !AreHeaderLinesSafe(options.vecHeaders)) {
        transfer.response.nErrCode = kInetErrInvalidUrl;
        transfer.response.strErrText = "Request path too long, method or header not supported";
        return transfer.response;
    }
    // The extra lines go after the usual ones, for this request only.
    curl_slist* pHeaders = m_pHeaders;
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> pExtra(nullptr,
                                                                       &curl_slist_free_all);
    if (!options.vecHeaders.empty()) {
        curl_slist* pList = curl_slist_append(nullptr, kAcceptHeader);
        for (const std::string& strLine : options.vecHeaders) {
            if (pList != nullptr)
                pList = curl_slist_append(pList, strLine.c_str());
        }
        if (pList == nullptr) {
            transfer.response.nErrCode = kInetErrInternal;
            transfer.response.strErrText = "Out of memory";
            return transfer.response;
        }
        pExtra.reset(pList);
        pHeaders = pList;
    }
    // An IPv6 address stands in brackets in a URL.
    bool bIpv6 = m_settings.strHost.find(':') != std::string::npos;
    std::string strUrl = std::string(m_settings.bSecure ? "https://" : "http://") +
                         (bIpv6 ? "[" + m_settings.strHost + "]" : m_settings.strHost) + ":" +
                         std::to_string(m_settings.nPort) + EscapeRequestTarget(strPath);
    m_szError[0] = '\0';
    CURL* h = m_pEasy;
    bool bOptionsOk = curl_easy_setopt(h, CURLOPT_URL, strUrl.c_str()) == CURLE_OK;
    if (strMethod == "HEAD") {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, bIgnoreCert ? 0L : 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, bIgnoreCert ? 0L : 2L);
    if (!bOptionsOk) {
        transfer.response.nErrCode = kInetErrInvalidUrl;
        transfer.response.strErrText = CutText("Invalid URL: " + strUrl);
        return transfer.response;
    }

    curl_easy_setopt(h, CURLOPT_HTTPHEADER, pHeaders);
    m_pTransfer = &transfer;
    Touch();
    CURLcode eResult = CURLE_OK;
    if (RunTransfer(&eResult))
        FinishResponse(eResult);
    m_pTransfer = nullptr;
    curl_easy_setopt(m_pEasy, CURLOPT_HTTPHEADER, m_pHeaders);
    return transfer.response;
}

// Drives the transfer until curl is done (true, result in *pResult) or the
// stop flag or a time-out ends it (false, outcome already set).
bool CCurlHttpConnection::RunTransfer(CURLcode* pResult) {
    HttpResponse& response = m_pTransfer->response;
    if (curl_multi_add_handle(m_pMulti, m_pEasy) != CURLM_OK) {
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
        if (IsStopRequested()) {
            response.eOutcome = HttpOutcome::kStopped;
            response.nErrCode = kInetErrCancelled;
            response.strErrText = "The operation was cancelled";
            break;
        }
        // Before the connection is up curl's connect time-out rules; after it,
        // the send and receive time-outs limit each wait for progress.
        if (m_pTransfer->bConnected) {
            long nSent = 0;
            curl_easy_getinfo(m_pEasy, CURLINFO_REQUEST_SIZE, &nSent);
            uint32_t dwLimit = nSent > 0 ? m_dwRecvMs : m_dwSendMs;
            uint64_t nIdle = platform::SystemClock().TickCountMs() - m_pTransfer->nLastActivityMs;
            if (dwLimit != 0 && nIdle >= dwLimit) {
                response.eOutcome = HttpOutcome::kTransportError;
                response.nErrCode = kInetErrTimeout;
                response.strErrText =
                    CutText(std::string(nSent > 0 ? "Receive" : "Send") + " timed out after " +
                            std::to_string(nIdle) + " milliseconds without data");
                break;
            }
        }
        long nCurlWait = -1;
        curl_multi_timeout(m_pMulti, &nCurlWait);
        int nWait =
            (nCurlWait >= 0 && nCurlWait < kPollStepMs) ? static_cast<int>(nCurlWait) : kPollStepMs;
        curl_multi_poll(m_pMulti, nullptr, 0, nWait, nullptr);
    }
    // Removing an unfinished transfer closes its connection.
    curl_multi_remove_handle(m_pMulti, m_pEasy);
    return bDone;
}

void CCurlHttpConnection::FinishResponse(CURLcode eResult) {
    Transfer& t = *m_pTransfer;
    HttpResponse& response = t.response;
    std::string strError = m_szError[0] != '\0' ? m_szError : curl_easy_strerror(eResult);
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
        response.eOutcome = HttpOutcome::kStopped;
        response.nErrCode = kInetErrCancelled;
        response.strErrText = "The operation was cancelled";
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
            curl_easy_getinfo(m_pEasy, CURLINFO_SSL_VERIFYRESULT, &nVerify);
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

int CCurlHttpConnection::PrereqCallback(void* pUser, char*, char*, int, int) {
    auto* pThis = static_cast<CCurlHttpConnection*>(pUser);
    if (pThis->m_pTransfer != nullptr) {
        pThis->m_pTransfer->bConnected = true;
        pThis->Touch();
    }
    return CURL_PREREQFUNC_OK;
}

size_t CCurlHttpConnection::HeaderCallback(char* pData, size_t nSize, size_t nCount, void* pUser) {
    auto* pThis = static_cast<CCurlHttpConnection*>(pUser);
    size_t nBytes = nSize * nCount;
    if (pThis->m_pTransfer == nullptr)
        return nBytes;
    pThis->Touch();
    Transfer& t = *pThis->m_pTransfer;
    t.nHeaderBytes += nBytes;
    if (nBytes > kMaxHeaderLineBytes || t.nHeaderBytes > kMaxHeaderBytes) {
        t.bHeadersTooLarge = true;
        return 0;
    }
    pThis->OnHeaderLine(std::string(pData, nBytes));
    if (pThis->IsStopRequested()) {
        t.bStopped = true;
        return 0;
    }
    return t.eAction == IHttpBodySink::Action::kAbort ? 0 : nBytes;
}

void CCurlHttpConnection::OnHeaderLine(std::string strLine) {
    Transfer& t = *m_pTransfer;
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

size_t CCurlHttpConnection::WriteCallback(char* pData, size_t nSize, size_t nCount, void* pUser) {
    auto* pThis = static_cast<CCurlHttpConnection*>(pUser);
    size_t nBytes = nSize * nCount;
    Transfer* pT = pThis->m_pTransfer;
    if (pT == nullptr)
        return nBytes;
    pThis->Touch();
    if (pThis->IsStopRequested()) {
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
