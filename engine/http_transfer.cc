// HEAD and GET requests of the engine, the request path encoding and the
// certificate question. Runs on the engine's worker thread only.
//
// Which failure gives which result: a request that cannot be built (a path
// over the limit, no connection object, a URL the client refuses) was "not
// opened" (-1). Whatever goes wrong on the wire -- a refused or timed-out
// connection, TLS and certificate failures, resets, a stop during a HEAD --
// is an error of the HTTP layer (HEAD -9, GET -6) with its code and text. A
// reply without a status line is "status not readable" (-2); a body that
// ends before its announced length is "only part arrived" (GET -4).
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <memory>

#include "app/message_box.h"
#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "engine/gzip_decoder.h"
#include "engine/http_connection.h"
#include "engine/sync_engine.h"
#include "log/my_log.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/system_error.h"
#include "util/crypto.h"
#include "util/file_util.h"

namespace {

constexpr const char kHeadPrefix[] = "CSyncEngine::GetServerFileInfo> ";
constexpr const char kGetPrefix[] = "CSyncEngine::DownloadOneFileFromServer> ";
constexpr const char kCertCaption[] = "Corvid5@LoomhallKiro 업데이트";
constexpr unsigned kCertQuestionStyle = kMbYesNo | kMbIconWarning;  // 0x34
// Longest request path before encoding, in UTF-16 code units.
constexpr size_t kMaxPathUtf16Units = 1023;
constexpr size_t kFileBufferBytes = 1024 * 1024;
// Temporary names tried beside a target before giving up.
constexpr int kMaxTempNames = 100;
// Keeps ".<name>.tidewell-partNN" within the usual 255-byte name limit.
constexpr size_t kMaxTempStemBytes = 200;
// A body whose size nobody states (chunked, or no length in the list or the
// HEAD) is given up past this many bytes, so it cannot fill the disk.
constexpr uint64_t kMaxUnknownSizeBytes = 1024ULL * 1024 * 1024;
// What a gzip body may carry beyond the expected size: the deflate blocks'
// framing on data that does not compress, headers and trailers.
constexpr uint64_t kGzipSlackBytes = 64 * 1024;

bool IsGzipEncoding(const std::string* pValue) {
    return pValue != nullptr && strcasecmp(pValue->c_str(), "gzip") == 0;
}

// Logs the certificate flag lines of a request; true when it is to ignore
// certificate errors.
bool LogCertFlags(const char* pszPrefix, int nHttpsMode, int bIgnoreCert) {
    if (nHttpsMode <= 0)
        return false;
    TideLog(2, "%s- set cert flag 1", pszPrefix);
    if (nHttpsMode != 1 && bIgnoreCert != 1)
        return false;
    TideLog(2, "%s- set cert ignore flag 2", pszPrefix);
    TideLog(2, "%sTry to SetOption() - set cert ignore flag 3", pszPrefix);
    return true;
}

void AppendEscape(std::string* pOut, unsigned nByte) {
    char szEscape[8];
    std::snprintf(szEscape, sizeof(szEscape), "%%%2X", nByte);
    *pOut += szEscape;
}

void LogLastError(int nError) {
    platform::SetLastSystemError(nError);
    if (g_pMyLog != nullptr)
        g_pMyLog->LogLastErrorText();
}

// Creates a new file beside strTarget for the download; never opens one
// that is there. Only one run works in a folder at a time, so a file of the
// first name is a leftover of a cut-off run and is removed first.
std::FILE* CreateTempBeside(const std::string& strTarget, std::string* pstrTemp) {
    size_t nSep = strTarget.find_last_of(platform::kPathSep);
    std::string strDir = nSep == std::string::npos ? std::string() : strTarget.substr(0, nSep + 1);
    std::string strName = nSep == std::string::npos ? strTarget : strTarget.substr(nSep + 1);
    if (strName.size() > kMaxTempStemBytes)
        strName.resize(kMaxTempStemBytes);
    platform::DeleteFile(strDir + "." + strName + ".tidewell-part");
    for (int i = 0; i < kMaxTempNames; ++i) {
        *pstrTemp = strDir + "." + strName + ".tidewell-part" + (i == 0 ? "" : std::to_string(i));
        std::FILE* fp = std::fopen(pstrTemp->c_str(), "wbx");
        if (fp != nullptr || platform::GetLastSystemError() != platform::kErrorAlreadyExists) {
            return fp;
        }
    }
    return nullptr;
}

void ClearReadOnlyPropertyOfLocalFile(const std::string& strPath) {
    platform::FileStatus status;
    if (!platform::GetFileStatus(strPath, &status) || !status.bReadOnly)
        return;
    TideLog(1,
            "CSyncEngine::ClearReadOnlyPropertyOfLocalFile> Try To Remove Read Only Property, "
            "File = %s",
            strPath.c_str());
    platform::SetReadOnly(strPath, false);
}

// Writes a GET's body into a temporary file beside the target, through the
// gzip decoder when the body is gzip. The file is removed unless committed.
class CDownloadSink : public IHttpBodySink {
public:
    explicit CDownloadSink(FileItem& item) : m_item(item) {}
    ~CDownloadSink() override {
        if (m_fp != nullptr)
            std::fclose(m_fp);
        if (!m_strTempPath.empty() && !m_bCommitted)
            platform::DeleteFile(m_strTempPath);
    }
    CDownloadSink(const CDownloadSink&) = delete;
    CDownloadSink& operator=(const CDownloadSink&) = delete;

    Action OnResponseHeaders(const HttpResponse& response) override;
    bool OnBodyData(const char* pData, size_t nSize) override;
    // Ends the decoding and closes the file; the download's result code
    // (0 when all went well).
    int Finish(uint64_t* pnWritten);
    bool Commit();

    // SHA-256 of what was written, for a record that carries a hash.
    std::string HexDigest() { return m_pSha ? m_pSha->HexDigest() : std::string(); }
    bool HasFile() const { return m_fp != nullptr; }
    bool IsGzip() const { return m_pDecoder != nullptr; }
    uint64_t RawBytes() const { return m_nRawBytes; }
    const std::string& TempPath() const { return m_strTempPath; }

    int m_nFailure = 0;  // result code of a local failure during the transfer

private:
    FileItem& m_item;
    std::FILE* m_fp = nullptr;
    // stdio ignores the size of a buffer it is not given, so give it one:
    // large writes keep system calls few on big downloads.
    std::unique_ptr<char[]> m_pFileBuffer;
    std::string m_strTempPath;
    std::unique_ptr<CGzipDecoder> m_pDecoder;
    // Hashes the bytes as they are written (decoded, for gzip): no second pass.
    std::unique_ptr<CSha256> m_pSha;
    uint64_t m_nRawBytes = 0;
    uint64_t m_nWritten = 0;
    // Bounds on what is written and what is received: the expected size
    // when it is known, so an endless body is cut at its end.
    uint64_t m_nMaxWritten = kMaxUnknownSizeBytes;
    uint64_t m_nMaxRaw = kMaxUnknownSizeBytes;
    bool m_bWrittenKnown = false;  // the bounds come from a known size
    bool m_bRawKnown = false;
    bool m_bCommitted = false;

    bool Write(const char* pData, size_t nSize);
    // Logs that the body went past nLimit and fails the download.
    bool TooMuch(uint64_t nLimit, bool bSizeKnown);
};

IHttpBodySink::Action CDownloadSink::OnResponseHeaders(const HttpResponse& response) {
    if (response.nStatus != 200)
        return Action::kDiscard;
    const std::string& strTarget = m_item.m_strTargetFile;
    unsigned dwError = 0;
    int nDir = CFileUtil::CreateDirectories(strTarget, &dwError);
    if (nDir != 1) {
        if (nDir == -2) {
            TideLog(4, "%s'%s' >> Directory path unknown.", kGetPrefix, strTarget.c_str());
        } else if (nDir == -3) {
            TideLog(4, "%s'%s' >> Invalid directory path.", kGetPrefix, strTarget.c_str());
        } else {
            TideLog(4, "%s'%s' >> Directory creation(or exists) failed. (GetLastError() is %d)",
                    kGetPrefix, strTarget.c_str(), static_cast<int>(dwError));
        }
        m_nFailure = -8;
        return Action::kAbort;
    }
    ClearReadOnlyPropertyOfLocalFile(strTarget);
    m_fp = CreateTempBeside(strTarget, &m_strTempPath);
    if (m_fp == nullptr) {
        int nError = platform::GetLastSystemError();
        m_strTempPath.clear();
        TideLog(4, "%sLocal File Open(%s) Fail", kGetPrefix, strTarget.c_str());
        LogLastError(nError);
        m_nFailure = -3;
        return Action::kAbort;
    }
    // Small files get a buffer their size, so thousands of them cost little.
    size_t nBuffer = kFileBufferBytes;
    unsigned long long nExpected = std::strtoull(m_item.m_strFileSize.c_str(), nullptr, 10);
    if (m_item.m_bSizeUnknown == 0 && nExpected < kFileBufferBytes)
        nBuffer = std::max<size_t>(static_cast<size_t>(nExpected) + 1, 4096);
    m_pFileBuffer = std::make_unique<char[]>(nBuffer);
    if (!m_item.m_strSha256.empty())
        m_pSha = std::make_unique<CSha256>();
    std::setvbuf(m_fp, m_pFileBuffer.get(), _IOFBF, nBuffer);
    if (m_item.m_bSizeUnknown == 1) {
        TideLog(1,
                "%sWrite transfer encoded chunked file. So the total size of the file is "
                "unknown.",
                kGetPrefix);
    }
    if (m_item.m_nGzip == 1 || IsGzipEncoding(response.Header("Content-Encoding"))) {
        m_pDecoder = std::make_unique<CGzipDecoder>(
            [this](const char* pData, size_t nSize) { return Write(pData, nSize); });
    }
    if (m_item.m_bSizeUnknown == 0 && !m_item.m_strFileSize.empty()) {
        if (m_pDecoder && m_item.m_bSizeEncoded == 1) {
            // A size from a HEAD of the encoded body bounds what arrives.
            m_nMaxRaw = nExpected;
            m_bRawKnown = true;
        } else {
            m_nMaxWritten = nExpected;
            m_bWrittenKnown = m_bRawKnown = true;
            uint64_t nSlack = m_pDecoder ? nExpected / 8 + kGzipSlackBytes : 0;
            m_nMaxRaw = nExpected > UINT64_MAX - nSlack ? UINT64_MAX : nExpected + nSlack;
        }
    }
    return Action::kReceive;
}

bool CDownloadSink::TooMuch(uint64_t nLimit, bool bSizeKnown) {
    if (!bSizeKnown) {
        TideLog(4, "%s'%s' >> The file of unknown size exceeds %llu bytes; stopped.", kGetPrefix,
                m_item.m_strSourceFile.c_str(), static_cast<unsigned long long>(nLimit));
    } else {
        TideLog(4, "%s'%s' >> The server sends more than the expected %llu bytes; stopped.",
                kGetPrefix, m_item.m_strSourceFile.c_str(),
                static_cast<unsigned long long>(nLimit));
    }
    m_nFailure = -4;
    return false;
}

bool CDownloadSink::Write(const char* pData, size_t nSize) {
    if (nSize > m_nMaxWritten - m_nWritten)
        return TooMuch(m_nMaxWritten, m_bWrittenKnown);
    size_t nDone = std::fwrite(pData, 1, nSize, m_fp);
    m_nWritten += nDone;
    if (m_pSha)
        m_pSha->Update(pData, nDone);
    if (nDone == nSize)
        return true;
    // A full disk or a file-size limit: say which, the old file stays.
    int nError = platform::GetLastSystemError();
    TideLog(4, "%sfwrite() Fail, RetVal = %d, File = %s", kGetPrefix, static_cast<int>(nDone),
            m_item.m_strTargetFile.c_str());
    LogLastError(nError);
    m_nFailure = -9;
    return false;
}

bool CDownloadSink::OnBodyData(const char* pData, size_t nSize) {
    m_nRawBytes += nSize;
    if (!m_pDecoder)
        return Write(pData, nSize);
    if (m_nRawBytes > m_nMaxRaw)
        return TooMuch(m_nMaxRaw, m_bRawKnown);
    if (m_pDecoder->Feed(pData, nSize))
        return true;
    if (m_nFailure == 0)
        m_nFailure = -6;  // corrupt gzip data; no use reading on
    return false;
}

int CDownloadSink::Finish(uint64_t* pnWritten) {
    int nGzip = m_pDecoder ? m_pDecoder->Finish() : kGzipOk;
    bool bClosed = std::fclose(m_fp) == 0;
    int nCloseError = platform::GetLastSystemError();
    m_fp = nullptr;
    if (m_nFailure != 0)
        return m_nFailure;
    if (!bClosed) {
        // The last buffered block could not be written (a full disk, say).
        TideLog(4, "%sfwrite() Fail, RetVal = %d, File = %s", kGetPrefix, 0,
                m_item.m_strTargetFile.c_str());
        LogLastError(nCloseError);
        return -9;
    }
    if (nGzip != kGzipOk)
        return -6;
    *pnWritten = m_nWritten;
    return 0;
}

// Downloads carry no permission bits: a replaced file keeps its own, and a
// new file that is a program by its first bytes becomes executable, so an
// updated program still runs.
void GiveDownloadItsMode(const std::string& strTemp, const std::string& strTarget) {
    if (platform::FileExists(strTarget)) {
        platform::CopyFileMode(strTarget, strTemp);
        return;
    }
    char szMagic[4] = {};
    std::FILE* fp = std::fopen(strTemp.c_str(), "rb");
    if (fp == nullptr)
        return;
    size_t nRead = std::fread(szMagic, 1, sizeof(szMagic), fp);
    std::fclose(fp);
    bool bScript = nRead >= 2 && szMagic[0] == '#' && szMagic[1] == '!';
    bool bElf = nRead == 4 && std::memcmp(szMagic, "\x7f" "ELF", 4) == 0;
    if (bScript || bElf)
        platform::MakeExecutable(strTemp);
}

bool CDownloadSink::Commit() {
    GiveDownloadItsMode(m_strTempPath, m_item.m_strTargetFile);
    m_bCommitted = platform::MoveFileReplace(m_strTempPath, m_item.m_strTargetFile);
    return m_bCommitted;
}

}  // namespace

std::string CSyncEngine::EncodeUrl(const std::string& strPath) const {
    if (m_pCfg != nullptr && m_pCfg->m_bEncodeUrlUtf == 0)
        return strPath;
    std::u16string units;
    std::string strOut;
    if (!platform::Utf8ToUtf16(strPath, &units)) {
        // Not text of the code page: each byte above ASCII is escaped as it is.
        for (char c : strPath) {
            auto b = static_cast<unsigned char>(c);
            if (b <= 0x7F) {
                strOut += c;
            } else {
                AppendEscape(&strOut, b);
            }
        }
        return strOut.size() > kMaxRequestPathBytes ? std::string() : strOut;
    }
    // Too long: refused, the caller reports the request as not opened.
    if (units.size() > kMaxPathUtf16Units)
        return std::string();
    for (size_t i = 0; i < units.size(); ++i) {
        unsigned c = units[i];
        // A surrogate pair is one code point: its four UTF-8 bytes are escaped.
        bool bPair = c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() &&
                     units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
        if (bPair) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00u);
            AppendEscape(&strOut, c / 262144 + 240);
            AppendEscape(&strOut, (c / 4096) % 64 + 128);
            AppendEscape(&strOut, (c / 64) % 64 + 128);
            AppendEscape(&strOut, c % 64 + 128);
        } else if (c <= 0x7F) {
            strOut += static_cast<char>(c);
        } else if (c <= 0x7FF) {
            AppendEscape(&strOut, c / 64 + 192);
            AppendEscape(&strOut, c % 64 + 128);
        } else {
            AppendEscape(&strOut, c / 4096 + 224);
            AppendEscape(&strOut, (c / 64) % 64 + 128);
            AppendEscape(&strOut, c % 64 + 128);
        }
    }
    if (strOut.size() > kMaxRequestPathBytes)
        return std::string();
    return strOut;
}

bool CSyncEngine::AskCertificateQuestion(int nErrCode, const std::string& strErrText) {
    CTideApp* pApp = GetTideApp();
    if (pApp == nullptr || m_pCfg == nullptr || m_pDlg == nullptr)
        return false;
    if (m_pCfg->m_nHttpsMode != 2 || pApp->m_bIgnoreCertError != 0 ||
        !CTideApp::IsCertificateError(nErrCode)) {
        return false;
    }
    std::string strText = std::string("인증서 오류가 발생 했습니다.\r\n") +
                          "오류를 무시(권장하지 않음)하고 계속 진행 하시겠습니까?\r\n\r\n" +
                          strErrText;
    if (m_pDlg->ShowMessageBox(strText, kCertCaption, kCertQuestionStyle) != kIdYes)
        return false;
    pApp->m_bIgnoreCertError = 1;
    return true;
}

int CSyncEngine::GetServerFileInfo(const std::string& strPath, std::string* pstrTime,
                                   uint64_t* pnSize, int bIgnoreCert, int* pnErrCode,
                                   std::string* pstrErrText, int* pbSizeUnknown, int* pnGzip) {
    *pnErrCode = 0;
    pstrErrText->clear();
    *pbSizeUnknown = 0;
    *pnGzip = -1;
    std::string strEncoded = EncodeUrl(strPath);
    int nHttpsMode = m_pCfg != nullptr ? m_pCfg->m_nHttpsMode : 0;
    bool bIgnore = LogCertFlags(kHeadPrefix, nHttpsMode, bIgnoreCert);
    if (!m_pHttpConnection || strEncoded.empty() || strEncoded.size() > kMaxRequestPathBytes) {
        return -1;
    }
    HttpResponse response = m_pHttpConnection->Request("HEAD", strEncoded, bIgnore, nullptr);
    switch (response.eOutcome) {
        case HttpOutcome::kComplete:
            break;
        case HttpOutcome::kNotOpened:
            return -1;
        case HttpOutcome::kStatusUnreadable:
            TideLog(4, "%sQueryInfoStatusCode() Return = %d", kHeadPrefix, 0);
            return -2;
        default:
            *pnErrCode = response.nErrCode;
            *pstrErrText = response.strErrText;
            TideLog(4, "CSyncEngine::GetServerFileInfo>> Exception Msg = (%d) %s",
                    response.nErrCode, response.strErrText.c_str());
            return -9;
    }
    TideLog(1, "%sdwStatusCode = %d", kHeadPrefix, response.nStatus);
    if (response.nStatus != 200) {
        TideLog(4, "%sFile(%s) dwStatusCode = %d", kHeadPrefix, strPath.c_str(), response.nStatus);
        return -5;
    }

    const std::string* pLastModified = response.Header("Last-Modified");
    if (pLastModified == nullptr) {
        TideLog(4, "%sQueryInfo(HTTP_QUERY_LAST_MODIFIED,,) Fail, ErrCode = %d", kHeadPrefix,
                static_cast<int>(kInetErrHeaderNotFound));
        return -3;
    }
    platform::SystemTime st = ParseLastModified(*pLastModified);
    char szTime[kServerTimeTextSize] = {};
    std::snprintf(szTime, sizeof(szTime), "%04d%02d%02d%02d%02d%02d", st.nYear, st.nMonth, st.nDay,
                  st.nHour, st.nMinute, st.nSecond);
    *pstrTime = szTime;
    TideLog(1, "%spLastModified = %s", kHeadPrefix, pLastModified->c_str());

    const std::string* pLength = response.Header("Content-Length");
    if (pLength != nullptr) {
        *pnSize = std::strtoull(pLength->c_str(), nullptr, 10);
        TideLog(1, "%spFileSize = %s", kHeadPrefix, pLength->c_str());
    } else {
        *pnSize = 0;
        *pbSizeUnknown = 1;
        TideLog(4, "%sQueryInfo(HTTP_QUERY_CONTENT_LENGTH,,) Fail, ErrCode = %d", kHeadPrefix,
                static_cast<int>(kInetErrHeaderNotFound));
        const std::string* pTransfer = response.Header("Transfer-Encoding");
        if (pTransfer != nullptr && strcasecmp(pTransfer->c_str(), "chunked") == 0) {
            TideLog(1, "%sTranser encoding chunked. pFileSize = unknown", kHeadPrefix);
        } else {
            TideLog(1, "%spFileSize = unknown", kHeadPrefix);
        }
    }
    *pnGzip = 0;
    if (IsGzipEncoding(response.Header("Content-Encoding"))) {
        *pnGzip = 1;
        TideLog(1, "%sContent encoding GZIP.", kHeadPrefix);
    }
    return 0;
}

int CSyncEngine::GetServerFileInfo(FileItem& item) {
    CTideApp* pApp = GetTideApp();
    if (pApp == nullptr || m_pCfg == nullptr)
        return -1;
    std::string strPath = m_pCfg->m_strBaseUrl + "/" + item.m_strSourceFile;
    std::string strTime;
    uint64_t nSize = 0;
    int nErrCode = 0;
    std::string strErrText;
    int nResult = GetServerFileInfo(strPath, &strTime, &nSize, pApp->m_bIgnoreCertError, &nErrCode,
                                    &strErrText, &item.m_bSizeUnknown, &item.m_nGzip);
    if (nResult < 0 && AskCertificateQuestion(nErrCode, strErrText)) {
        TideLog(2, "CSyncEngine::GetServerFileInfo> Retry GetServerFileInfo()");
        nResult = GetServerFileInfo(strPath, &strTime, &nSize, 1, &nErrCode, &strErrText,
                                    &item.m_bSizeUnknown, &item.m_nGzip);
    }
    if (nResult == 0) {
        item.m_strModifyTime = strTime;
        if (item.m_bSizeUnknown == 0) {
            item.m_strFileSize = std::to_string(nSize);
            item.m_bSizeEncoded = item.m_nGzip == 1 ? 1 : 0;
        }
    }
    return nResult;
}

int CSyncEngine::DownloadOneFileFromServer(FileItem& item, int bIgnoreCert, int* pnErrCode,
                                           std::string* pstrErrText, int /*nIndex*/,
                                           int /*nCount*/) {
    *pnErrCode = 0;
    pstrErrText->clear();
    std::string strPath =
        (m_pCfg != nullptr ? m_pCfg->m_strBaseUrl : std::string()) + "/" + item.m_strSourceFile;
    std::string strEncoded = EncodeUrl(strPath);
    TideLog(1, "%sDownload File URL = %s", kGetPrefix, strPath.c_str());
    int nHttpsMode = m_pCfg != nullptr ? m_pCfg->m_nHttpsMode : 0;
    bool bIgnore = LogCertFlags(kGetPrefix, nHttpsMode, bIgnoreCert);
    if (!m_pHttpConnection || strEncoded.empty() || strEncoded.size() > kMaxRequestPathBytes) {
        TideLog(4, "%sOpenRequest() Return NULL", kGetPrefix);
        return -1;
    }

    CDownloadSink sink(item);
    HttpResponse response = m_pHttpConnection->Request("GET", strEncoded, bIgnore, &sink);
    // A local failure decides first: it is why the transfer was cut short.
    if (sink.m_nFailure != 0 && sink.m_nFailure != -6)
        return sink.m_nFailure;
    switch (response.eOutcome) {
        case HttpOutcome::kNotOpened:
            TideLog(4, "%sOpenRequest() Return NULL", kGetPrefix);
            return -1;
        case HttpOutcome::kStopped:
            TideLog(1, "%sm_nRequestStopFlag = %d", kGetPrefix, m_nRequestStopFlag.load());
            return -7;
        default:
            break;
    }
    bool bTransportError = response.eOutcome == HttpOutcome::kTransportError;
    // A status that arrived decides; an error before it is the HTTP layer's.
    if ((response.nStatus != 0 || !bTransportError) &&
        (response.nStatus != 200 || !sink.HasFile())) {
        TideLog(4, "%sQueryInfoStatusCode(%s) Return = %d", kGetPrefix, strPath.c_str(),
                response.nStatus);
        return -2;
    }
    if (bTransportError) {
        *pnErrCode = response.nErrCode;
        *pstrErrText = response.strErrText;
        TideLog(4, "%sErrCode = %d, ErrMsg = %s", kGetPrefix, response.nErrCode,
                response.strErrText.c_str());
        return -6;
    }
    if (sink.RawBytes() == 0 && response.eOutcome != HttpOutcome::kSinkAborted) {
        uint64_t nListed = std::strtoull(item.m_strFileSize.c_str(), nullptr, 10);
        if (item.m_bSizeUnknown == 1 || nListed > 0) {
            TideLog(4, "%spHttpFile->Read(pBuf, sizeof(pBuf)) => No data.", kGetPrefix);
            return -10;
        }
    }
    if (response.eOutcome == HttpOutcome::kPartialBody) {
        // The server ended the body early: only part of the file arrived.
        const std::string* pLength = response.Header("Content-Length");
        TideLog(4, "%sServer File Size = %lld, Write File Size = %lld", kGetPrefix,
                pLength != nullptr ? std::strtoll(pLength->c_str(), nullptr, 10) : -1LL,
                static_cast<long long>(response.nBodyBytes));
        return -4;
    }

    if (item.m_nGzip == -1) {
        item.m_nGzip = IsGzipEncoding(response.Header("Content-Encoding")) ? 1 : 0;
        if (item.m_nGzip == 1)
            TideLog(1, "%sContent encoding GZIP.", kGetPrefix);
    }
    uint64_t nWritten = 0;
    // The decoder checked every member's CRC and length: a member that
    // decodes to nothing is an empty file, not a failure.
    int nResult = sink.Finish(&nWritten);
    if (nResult == -6) {
        TideLog(4, "%sUnCompressGzipFile(%s) Failed.", kGetPrefix, item.m_strTargetFile.c_str());
        return -6;
    }
    if (nResult != 0)
        return nResult;
    uint64_t nReceived = sink.RawBytes();
    if (sink.IsGzip()) {
        TideLog(
            1,
            "%sUnCompressGzipFile(%s) Success. nCurrentServerReadSize=%lld dwUnCompressSize=%lld",
            kGetPrefix, item.m_strTargetFile.c_str(), static_cast<long long>(nReceived),
            static_cast<long long>(nWritten));
        // A size from the list is the file's; one from a HEAD of this
        // gzip-encoded file is the encoded body's.
        if (item.m_bSizeEncoded == 0)
            nReceived = nWritten;
    }

    // The whole body is compared, so a longer file on the server is caught too.
    if (item.m_bSizeUnknown == 0 && !item.m_strFileSize.empty()) {
        uint64_t nExpected = std::strtoull(item.m_strFileSize.c_str(), nullptr, 10);
        if (nReceived != nExpected) {
            TideLog(4, "%sServer File Size = %lld, Write File Size = %lld", kGetPrefix,
                    static_cast<long long>(nExpected), static_cast<long long>(nReceived));
            return -4;
        }
    }
    // Bytes other than the published ones fail the file as a short one does.
    if (!item.m_strSha256.empty()) {
        std::string strHash = sink.HexDigest();
        if (strHash != item.m_strSha256) {
            TideLog(4, "%s'%s' >> SHA-256 differs from the list. [List=(%s), File=(%s)]",
                    kGetPrefix, item.m_strSourceFile.c_str(), item.m_strSha256.c_str(),
                    strHash.c_str());
            return -4;
        }
    }
    // Archives and fonts get the server's time only once post-processing has
    // used them: one cut off before that still differs and comes again.
    int nTime = DefersServerTime(item)
                    ? (platform::SetFileModifyTime(sink.TempPath(), kPendingFileTime) ? 0 : -1)
                    : SetDownFileModifyDate(sink.TempPath(), item.m_strModifyTime);
    if (nTime < 0) {
        TideLog(4, "%sSetDownFileModifyDate() Fail, RetVal = %d", kGetPrefix, nTime);
        return -5;
    }
    if (!sink.Commit()) {
        int nError = platform::GetLastSystemError();
        TideLog(4, "%sLocal File Open(%s) Fail", kGetPrefix, item.m_strTargetFile.c_str());
        LogLastError(nError);
        return -3;
    }
    return 0;
}
