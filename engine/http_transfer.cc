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
#include "engine/list_validator.h"
#include "engine/resume.h"
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
// An attempt's answer that the part kept cannot be continued: the file is
// then fetched whole, once.
constexpr int kStartOver = CSyncEngine::kDownloadStartOver;
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
    std::string strPart = PartPathOf(strTarget);
    DiscardPart(strTarget);
    for (int i = 0; i < kMaxTempNames; ++i) {
        *pstrTemp = strPart + (i == 0 ? "" : std::to_string(i));
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
// gzip decoder when the body is gzip. The file is removed unless committed
// or, for a resumable download cut off on the way, kept.
class CDownloadSink : public IHttpBodySink {
public:
    // nResumeSize: the file's size when it may be resumed, else 0; point:
    // what a part kept from before holds.
    CDownloadSink(FileItem& item, uint64_t nResumeSize, const ResumePoint& point)
        : m_item(item), m_nResumeSize(nResumeSize), m_point(point) {}
    ~CDownloadSink() override {
        if (m_fp != nullptr)
            std::fclose(m_fp);
        if (m_strTempPath.empty() || m_bCommitted || m_bKeep)
            return;
        platform::DeleteFile(m_strTempPath);
        if (m_bResumable)
            platform::DeleteFile(PartMetaPathOf(m_item.m_strTargetFile));
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
    // The body continued a part kept from before (206).
    bool IsResumed() const { return m_bResumed; }
    // The server's answer cannot continue the part: fetch the file whole.
    bool NeedsStartOver() const { return m_bStartOver; }
    // A transfer cut off on the way keeps what arrived when it can be
    // resumed; true when kept.
    bool KeepPart() {
        m_bKeep = m_bResumable && m_nFailure == 0 && !m_strTempPath.empty();
        return m_bKeep;
    }
    // Bounds what is written, whatever the expected size (0: no bound).
    void LimitWritten(uint64_t nMax) { m_nCap = nMax; }
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
    uint64_t m_nResumeSize;
    ResumePoint m_point;
    uint64_t m_nCap = 0;
    bool m_bResumable = false;  // the part file has its meta
    bool m_bResumed = false;
    bool m_bStartOver = false;
    bool m_bKeep = false;
    bool m_bCapped = false;  // m_nMaxWritten is the caller's bound

    // Opens the part file for this answer: continued after a 206, anew
    // (with its meta) after a 200 of a resumable file. False when it fails.
    bool OpenPart(const HttpResponse& response, bool bContinue);

    bool Write(const char* pData, size_t nSize);
    // Logs that the body went past nLimit and fails the download.
    bool TooMuch(uint64_t nLimit, bool bSizeKnown);
};

IHttpBodySink::Action CDownloadSink::OnResponseHeaders(const HttpResponse& response) {
    bool bContinue = m_point.nOffset > 0 && response.nStatus == 206;
    if (bContinue && !ContinuesPart(response, m_point.nOffset, m_nResumeSize)) {
        m_bStartOver = true;
        return Action::kAbort;
    }
    if (m_point.nOffset > 0 && response.nStatus == 416) {
        m_bStartOver = true;
        return Action::kDiscard;
    }
    if (response.nStatus != 200 && !bContinue)
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
    if (m_nResumeSize > 0) {
        if (!OpenPart(response, bContinue))
            return Action::kAbort;
    } else {
        m_fp = CreateTempBeside(strTarget, &m_strTempPath);
    }
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
    if (m_bResumed) {
        // The hash goes on from the bytes already there.
        m_nRawBytes = m_nWritten = m_point.nOffset;
        if (m_pSha && !HashFilePrefix(m_strTempPath, m_point.nOffset, m_pSha.get())) {
            m_bStartOver = true;
            return Action::kAbort;
        }
    }
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
    if (m_nCap > 0 && m_nCap < m_nMaxWritten) {
        m_nMaxWritten = m_nCap;
        m_bCapped = true;
    }
    return Action::kReceive;
}

bool CDownloadSink::OpenPart(const HttpResponse& response, bool bContinue) {
    const std::string& strTarget = m_item.m_strTargetFile;
    if (bContinue) {
        m_strTempPath = PartPathOf(strTarget);
        m_fp = std::fopen(m_strTempPath.c_str(), "ab");
        m_bResumable = m_bResumed = m_fp != nullptr;
        if (m_fp != nullptr) {
            TideLog(1, "%s'%s' >> Resumed at byte %llu of %llu.", kGetPrefix,
                    m_item.m_strSourceFile.c_str(),
                    static_cast<unsigned long long>(m_point.nOffset),
                    static_cast<unsigned long long>(m_nResumeSize));
            return true;
        }
        // The part cannot be added to: fetched whole instead.
        m_strTempPath.clear();
        m_bStartOver = true;
        return false;
    }
    if (m_point.nOffset > 0) {
        TideLog(2, "%s'%s' >> The server sent the whole file; the part kept is dropped.",
                kGetPrefix, m_item.m_strSourceFile.c_str());
    }
    m_fp = CreateTempBeside(strTarget, &m_strTempPath);
    // Only a plain body under the deterministic name, with the version it
    // belongs to on disk before its first byte, may be resumed later.
    std::string strValidator = ValidatorOf(response);
    if (m_fp != nullptr && m_strTempPath == PartPathOf(strTarget) && !strValidator.empty() &&
        !IsGzipEncoding(response.Header("Content-Encoding"))) {
        m_bResumable = WritePartMeta(m_item, m_nResumeSize, strValidator);
    }
    return true;
}

bool CDownloadSink::TooMuch(uint64_t nLimit, bool bSizeKnown) {
    if (m_bCapped && nLimit == m_nMaxWritten) {
        TideLog(4, "%s'%s' >> The file is larger than %llu bytes; stopped.", kGetPrefix,
                m_item.m_strSourceFile.c_str(), static_cast<unsigned long long>(nLimit));
    } else if (!bSizeKnown) {
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
    if (m_bCommitted && m_bResumable)
        platform::DeleteFile(PartMetaPathOf(m_item.m_strTargetFile));
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
    HttpRequest request;
    if (PrepareHead(strPath, bIgnoreCert, &request) != 0)
        return -1;
    HttpResponse response = m_pHttpConnection->Request(request.strMethod, request.strPath,
                                                       request.bIgnoreCert, nullptr);
    return FinishHead(strPath, response, pstrTime, pnSize, pnErrCode, pstrErrText, pbSizeUnknown,
                      pnGzip);
}

int CSyncEngine::PrepareHead(const std::string& strPath, int bIgnoreCert, HttpRequest* pRequest) {
    std::string strEncoded = EncodeUrl(strPath);
    int nHttpsMode = m_pCfg != nullptr ? m_pCfg->m_nHttpsMode : 0;
    pRequest->bIgnoreCert = LogCertFlags(kHeadPrefix, nHttpsMode, bIgnoreCert);
    if (!m_pHttpConnection || strEncoded.empty() || strEncoded.size() > kMaxRequestPathBytes) {
        return -1;
    }
    pRequest->strMethod = "HEAD";
    pRequest->strPath = strEncoded;
    pRequest->pSink = nullptr;
    return 0;
}

int CSyncEngine::FinishHead(const std::string& strPath, const HttpResponse& response,
                            std::string* pstrTime, uint64_t* pnSize, int* pnErrCode,
                            std::string* pstrErrText, int* pbSizeUnknown, int* pnGzip) {
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

namespace {

// The sink and headers of one GET: into a new part file, or continuing
// the part at pGet->point.
void MakeFetch(FileItem& item, PreparedDownload* pGet, ListGetExchange* pList) {
    auto pSink = std::make_unique<CDownloadSink>(item, pGet->nResumeSize, pGet->point);
    if (pList != nullptr)
        pSink->LimitWritten(pList->nMaxBytes);
    pGet->request.options = pList != nullptr ? pList->request : RangeRequestOf(pGet->point);
    pGet->request.pSink = pSink.get();
    pGet->pSink = std::move(pSink);
}

// The result of one GET from its response; kStartOver when the answer
// cannot continue the part.
int FetchResult(CSyncEngine& engine, FileItem& item, PreparedDownload& get,
                const HttpResponse& response, ListGetExchange* pList, int* pnErrCode,
                std::string* pstrErrText) {
    auto& sink = static_cast<CDownloadSink&>(*get.pSink);
    const std::string& strPath = get.strPath;
    if (sink.NeedsStartOver())
        return kStartOver;
    // A local failure decides first: it is why the transfer was cut short.
    if (sink.m_nFailure != 0 && sink.m_nFailure != -6)
        return sink.m_nFailure;
    // Cut off on the way: a resumable part stays for the next attempt.
    auto keepPart = [&] {
        if (sink.KeepPart()) {
            TideLog(2, "%s'%s' >> %llu bytes kept to resume from.", kGetPrefix,
                    item.m_strSourceFile.c_str(), static_cast<unsigned long long>(sink.RawBytes()));
        }
    };
    switch (response.eOutcome) {
        case HttpOutcome::kNotOpened:
            TideLog(4, "%sOpenRequest() Return NULL", kGetPrefix);
            return -1;
        case HttpOutcome::kStopped:
            keepPart();
            TideLog(1, "%sm_nRequestStopFlag = %d", kGetPrefix, engine.m_nRequestStopFlag.load());
            return -7;
        default:
            break;
    }
    bool bTransportError = response.eOutcome == HttpOutcome::kTransportError;
    if (pList != nullptr && pList->bConditional && response.nStatus == 304 && !bTransportError) {
        TideLog(1, "%sNot modified since the installed copy (304).", kGetPrefix);
        return CSyncEngine::kNotModified;
    }
    // A status that arrived decides; an error before it is the HTTP layer's.
    bool bBodyStatus = response.nStatus == 200 || (response.nStatus == 206 && sink.IsResumed());
    if ((response.nStatus != 0 || !bTransportError) && (!bBodyStatus || !sink.HasFile())) {
        TideLog(4, "%sQueryInfoStatusCode(%s) Return = %d", kGetPrefix, strPath.c_str(),
                response.nStatus);
        return -2;
    }
    if (bTransportError) {
        keepPart();
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
        keepPart();
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
            if (sink.IsResumed())
                return kStartOver;
            TideLog(4, "%sServer File Size = %lld, Write File Size = %lld", kGetPrefix,
                    static_cast<long long>(nExpected), static_cast<long long>(nReceived));
            return -4;
        }
    }
    // Bytes other than the published ones fail the file as a short one does.
    if (!item.m_strSha256.empty()) {
        std::string strHash = sink.HexDigest();
        if (strHash != item.m_strSha256) {
            if (sink.IsResumed())
                return kStartOver;
            TideLog(4, "%s'%s' >> SHA-256 differs from the list. [List=(%s), File=(%s)]",
                    kGetPrefix, item.m_strSourceFile.c_str(), item.m_strSha256.c_str(),
                    strHash.c_str());
            return -4;
        }
    }
    // Archives and fonts get the server's time only once post-processing has
    // used them: one cut off before that still differs and comes again.
    int nTime = engine.DefersServerTime(item)
                    ? (platform::SetFileModifyTime(sink.TempPath(), kPendingFileTime) ? 0 : -1)
                    : CSyncEngine::SetDownFileModifyDate(sink.TempPath(), item.m_strModifyTime);
    if (nTime < 0) {
        TideLog(4, "%sSetDownFileModifyDate() Fail, RetVal = %d", kGetPrefix, nTime);
        return -5;
    }
    if (pList != nullptr) {
        const std::string* pETag = response.Header("ETag");
        const std::string* pLastModified = response.Header("Last-Modified");
        pList->strETag = pETag != nullptr ? *pETag : std::string();
        pList->strLastModified = pLastModified != nullptr ? *pLastModified : std::string();
        const std::string* pDate = response.Header("Date");
        pList->strDate = pDate != nullptr ? *pDate : std::string();
    }
    if (!sink.Commit()) {
        int nError = platform::GetLastSystemError();
        TideLog(4, "%sLocal File Open(%s) Fail", kGetPrefix, item.m_strTargetFile.c_str());
        LogLastError(nError);
        return -3;
    }
    return 0;
}

}  // namespace

int CSyncEngine::DownloadOneFileFromServer(FileItem& item, int bIgnoreCert, int* pnErrCode,
                                           std::string* pstrErrText, int /*nIndex*/, int /*nCount*/,
                                           ListGetExchange* pList) {
    *pnErrCode = 0;
    pstrErrText->clear();
    PreparedDownload get;
    int nPrepared = PrepareDownload(item, bIgnoreCert, &get, pList);
    if (nPrepared != 0)
        return nPrepared;
    for (int nAttempt = 0;; ++nAttempt) {
        HttpResponse response = m_pHttpConnection->Request(
            get.request.strMethod, get.request.strPath, get.request.bIgnoreCert, get.pSink.get(),
            get.request.options);
        int nResult = FinishDownload(item, get, response, pnErrCode, pstrErrText, pList);
        if (nResult != kStartOver || nAttempt > 0)
            return nResult;
        RestartDownload(item, &get, pList);
    }
}

int CSyncEngine::PrepareDownload(FileItem& item, int bIgnoreCert, PreparedDownload* pGet,
                                 ListGetExchange* pList) {
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
    pGet->strPath = strPath;
    pGet->request.strMethod = "GET";
    pGet->request.strPath = strEncoded;
    pGet->request.bIgnoreCert = bIgnore;
    // A large plain file goes on from what a cut-off attempt kept. The list
    // is asked for gzip-encoded, so it never is.
    pGet->nResumeSize = pList == nullptr ? ResumableSize(item) : 0;
    pGet->point = pGet->nResumeSize > 0 ? FindResumePoint(item, pGet->nResumeSize) : ResumePoint();
    MakeFetch(item, pGet, pList);
    return 0;
}

int CSyncEngine::FinishDownload(FileItem& item, PreparedDownload& get, const HttpResponse& response,
                                int* pnErrCode, std::string* pstrErrText, ListGetExchange* pList) {
    *pnErrCode = 0;
    pstrErrText->clear();
    int nResult = FetchResult(*this, item, get, response, pList, pnErrCode, pstrErrText);
    // The sink goes now: it removes or keeps its file before anything else.
    get.request.pSink = nullptr;
    get.pSink.reset();
    return nResult;
}

void CSyncEngine::RestartDownload(FileItem& item, PreparedDownload* pGet, ListGetExchange* pList) {
    TideLog(2,
            "%s'%s' >> The part kept does not continue the server's file; downloading it "
            "whole.",
            kGetPrefix, item.m_strSourceFile.c_str());
    DiscardPart(item.m_strTargetFile);
    pGet->point = ResumePoint();
    MakeFetch(item, pGet, pList);
}
