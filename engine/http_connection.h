// One persistent HTTP connection to the update server, used by the engine's
// worker for every HEAD and GET of a run. The engine owns it; a test or
// another platform's client can stand in for the libcurl one.
//
// Trusted authorities: the system's store, plus the PEM bundle named by the
// environment variable TIDEWELL_CA_BUNDLE when it is set (for company proxies
// that re-sign TLS traffic). Proxies come from http_proxy, https_proxy and
// no_proxy, as for other Linux programs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Request paths longer than this are refused before anything is sent.
constexpr size_t kMaxRequestPathBytes = 1023;
// A transfer that moves fewer than kLowSpeedBytesPerSecond bytes a second
// for kLowSpeedSeconds in a row is given up (a time-out), so a server that
// drips a byte now and then cannot hold a run for ever.
constexpr long kLowSpeedBytesPerSecond = 1024;
constexpr long kLowSpeedSeconds = 30;
// A response is refused once one header line or all of them together get
// longer than this.
constexpr size_t kMaxHeaderLineBytes = 16 * 1024;
constexpr size_t kMaxHeaderBytes = 64 * 1024;
// Error texts handed to the callers are cut to this many bytes.
constexpr size_t kMaxErrorTextBytes = 511;

// Error codes of the HTTP layer, in the platform client's numbering, so that
// the certificate question and the log read the same on every platform.
enum : int {
    kInetErrTimeout = 12002,
    kInetErrInternal = 12004,
    kInetErrInvalidUrl = 12005,
    kInetErrNameNotResolved = 12007,
    kInetErrCancelled = 12017,
    kInetErrCannotConnect = 12029,
    kInetErrConnectionAborted = 12030,
    kInetErrCertDateInvalid = 12037,
    kInetErrCertNameInvalid = 12038,
    kInetErrInvalidCa = 12045,
    kInetErrRevocationFailed = 12057,
    kInetErrHeaderNotFound = 12150,
    kInetErrInvalidServerResponse = 12152,
    kInetErrSecureChannel = 12157,
    kInetErrInvalidCert = 12169,
    kInetErrCertRevoked = 12170,
};

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
// Response headers by name; a repeated header keeps its last value.
using HttpHeaderMap = std::map<std::string, std::string, CaseInsensitiveLess>;

// How a request ended.
enum class HttpOutcome {
    kComplete,          // the whole response arrived (any status)
    kNotOpened,         // the request could not be built; nothing was sent
    kStatusUnreadable,  // the server answered without a readable status line
    kTransportError,    // the HTTP layer failed: nErrCode and strErrText
    kPartialBody,       // the server ended the body before its announced end
    kStopped,           // the stop flag ended the transfer
    kSinkAborted,       // the body sink refused data
};

struct HttpResponse {
    HttpOutcome eOutcome = HttpOutcome::kNotOpened;
    int nStatus = 0;  // 0 while no final status line has arrived
    HttpHeaderMap mapHeaders;
    int nErrCode = 0;
    std::string strErrText;
    uint64_t nBodyBytes = 0;  // body bytes received, as sent on the wire

    // The header's value, or null when the response has none.
    const std::string* Header(const std::string& strName) const;
};

// Receives a GET's response as it arrives, on the calling thread.
class IHttpBodySink {
public:
    enum class Action { kReceive, kDiscard, kAbort };
    virtual ~IHttpBodySink() = default;
    // The final status line and headers are in. kDiscard drops a small body
    // so the connection can be kept; kAbort ends the transfer at once.
    virtual Action OnResponseHeaders(const HttpResponse& response) = 0;
    // One block of the body; false ends the transfer (kSinkAborted).
    virtual bool OnBodyData(const char* pData, size_t nSize) = 0;
};

// What one request sends besides the usual headers: validators and ranges
// ("If-None-Match: ...", "Range: bytes=...").
struct HttpRequestOptions {
    std::vector<std::string> vecHeaders;  // "Name: value", no line breaks
};
// Longest extra header line; a longer one (or one with a control byte) makes
// the request "not opened".
constexpr size_t kMaxExtraHeaderBytes = 2048;

struct HttpConnectionSettings {
    std::string strHost;
    int nPort = 80;
    bool bSecure = false;  // https instead of http
    // Raised by another thread to end a transfer; read between blocks and at
    // least every 50 ms while waiting. May be null.
    const std::atomic<int>* pStopFlag = nullptr;
    // Extra trusted authorities (PEM file); empty for the system's store only.
    std::string strCaBundle;
};

// One request of a batch; the sink (may be null) lives until it ends.
struct HttpRequest {
    std::string strMethod;  // "HEAD" or "GET"
    std::string strPath;
    bool bIgnoreCert = false;
    IHttpBodySink* pSink = nullptr;
    HttpRequestOptions options;
};

struct HttpBatchResult {
    size_t nTag = 0;  // as given to Start
    HttpResponse response;
};

// Requests that run side by side on one thread: as streams of one HTTP/2
// connection where the server offers it over TLS, otherwise on up to
// Capacity() kept-alive HTTP/1.1 connections. Each request keeps every rule
// of a single one (time-outs, low-speed bound, header limits, stop flag).
// Made by IHttpConnection::StartBatch; used on one thread only; ending it
// ends the requests still running.
class IHttpBatch {
public:
    virtual ~IHttpBatch() = default;
    size_t Capacity() const { return m_nCapacity; }
    // Requests started and not yet handed back by Wait.
    virtual size_t Running() const = 0;
    // Starts one request; only while Running() < Capacity(). A request that
    // cannot be built ends at once (kNotOpened) and comes back from Wait.
    virtual void Start(size_t nTag, const HttpRequest& request) = 0;
    // Drives the requests until at least one ends and appends every ended
    // one to *pvecDone; returns at once when none runs. The stop flag ends
    // all of them within one poll step.
    virtual void Wait(std::vector<HttpBatchResult>* pvecDone) = 0;
    // Ends every request under way; none of them comes back from Wait.
    virtual void Abandon() = 0;

protected:
    explicit IHttpBatch(size_t nCapacity) : m_nCapacity(nCapacity) {}

private:
    size_t m_nCapacity;
};

class IHttpConnection {
public:
    virtual ~IHttpConnection() = default;
    // Milliseconds; 0 leaves the client's default. Send and receive limit
    // how long the connection may go without moving a byte.
    virtual void SetTimeouts(uint32_t dwConnectMs, uint32_t dwSendMs, uint32_t dwRecvMs) = 0;
    // strMethod "HEAD" or "GET"; strPath is sent after a "/" in the request
    // line, with bytes that cannot stand there escaped. bIgnoreCert switches
    // every certificate check off for this request. pSink may be null (the
    // body is then dropped). options adds headers to this request only.
    virtual HttpResponse Request(const std::string& strMethod, const std::string& strPath,
                                 bool bIgnoreCert, IHttpBodySink* pSink,
                                 const HttpRequestOptions& options = HttpRequestOptions()) = 0;
    // A batch of up to nParallel requests at a time to the same server, with
    // this connection's settings and time-outs; null when it cannot be set up.
    virtual std::unique_ptr<IHttpBatch> StartBatch(size_t nParallel) = 0;
};

// The libcurl connection; null when the client cannot be set up.
std::unique_ptr<IHttpConnection> CreateCurlHttpConnection(const HttpConnectionSettings& settings);

// The error code for a certificate the TLS library rejected, from its
// verification result (X509_V_ERR_*); 0 and 1 (chain good or not judged)
// come with curl's own host name check and mean a name mismatch.
int InetCodeForVerifyResult(long nVerifyResult);

// The value of TIDEWELL_CA_BUNDLE, empty when unset.
std::string CaBundleFromEnvironment();

// The request target as sent: "/" and the path with blanks, control bytes,
// bytes of 0x80 and above, and the other bytes that may not stand in a
// request line escaped as %XX. Escapes already present are kept; a
// backslash becomes a slash.
std::string EscapeRequestTarget(const std::string& strPath);
