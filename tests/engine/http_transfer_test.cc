// HEAD (GetServerFileInfo) and GET (DownloadOneFileFromServer) against nginx,
// Python's http.server and the scripted server: what each answer gives, each
// failure's result code and the files it leaves, the request on the wire,
// keep-alive, time-outs, the stop flag, proxies and HTTPS with its question.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/message_box.h"
#include "platform/file_system.h"
#include "tests/engine/http_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;
using Cert = CServerSet::Cert;

// 2024-03-15 09:07:02 GMT, the items' time text.
constexpr int64_t kItemTime = 1710493622;

class TransferTest : public CHttpTestBase {
protected:
    CNginxServer& Nginx() { return TestServers().Nginx(); }
    CScriptedHttpServer& Scripted() { return TestServers().Scripted(); }
    std::string WriteServed(const std::string& strRel, const std::string& strData) {
        std::string strPath = Nginx().WriteFile(strRel, strData);
        platform::SetFileModifyTime(strPath, kItemTime);
        return strPath;
    }
    // Names in a folder below "install", temporary files included.
    Strings FolderNames(const std::string& strRel) const {
        Strings vecNames;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(m_dir.Sub("install/" + strRel), ec))
            vecNames.push_back(entry.path().filename().string());
        std::sort(vecNames.begin(), vecNames.end());
        return vecNames;
    }
};

// ---- HEAD ----

TEST_F(TransferTest, HeadGivesTimeSizeAndEncoding) {
    WriteServed("base/info/a.bin", std::string(12345, 'a'));
    WriteServed("base/chunked/c.txt", "chunky");
    WriteServed("base/gz/data.txt.gz", GzipOf("plain text"));
    struct Case {
        const char* pszPath;
        uint64_t nSize;
        int bSizeUnknown;
        int nGzip;
    } const kCases[] = {
        {"base/info/a.bin", 12345, 0, 0},
        {"base/chunked/c.txt", 0, 1, 0},
        {"base/gz/data.txt", 30, 0, 1},
    };
    InitEngine(Nginx().Port());
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszPath);
        m_nSize = 0;
        ASSERT_EQ(Head(c.pszPath), 0);
        EXPECT_EQ(m_bSizeUnknown, c.bSizeUnknown);
        EXPECT_EQ(m_nGzip, c.nGzip);
        EXPECT_EQ(m_strTime, "20240315090702");
        if (c.nGzip == 0) {
            EXPECT_EQ(m_nSize, c.nSize);
        }
    }
    // An item takes time and size, but a chunked answer keeps the listed size.
    FileItem item = MakeItem("info/a.bin", "a.bin");
    item.m_strModifyTime.clear();
    ASSERT_EQ(m_pEngine->GetServerFileInfo(item), 0);
    EXPECT_EQ(item.m_strModifyTime, "20240315090702");
    EXPECT_EQ(item.m_strFileSize, "12345");
    FileItem chunked = MakeItem("chunked/c.txt", "c.txt", "77");
    ASSERT_EQ(m_pEngine->GetServerFileInfo(chunked), 0);
    EXPECT_EQ(chunked.m_bSizeUnknown, 1);
    EXPECT_EQ(chunked.m_strFileSize, "77");
}

// {server, path} -> result code and transport error code.
TEST_F(TransferTest, HeadFailuresGiveTheirCodes) {
    std::string strKorean;
    for (int i = 0; i < 115; ++i)
        strKorean += "한";  // short as text, too long at nine bytes a character
    enum Where { kNginx, kScripted, kNobody };
    struct Case {
        Where eWhere;
        std::string strPath;
        int nExpected;
        int nErrCode;
    } const kCases[] = {
        {kNginx, "base/missing.txt", -5, 0},
        {kNginx, "base/error500", -5, 0},
        {kScripted, "nolm/x", -3, 0},
        {kScripted, "garbage/x", -2, 0},
        {kScripted, "empty/x", -9, kInetErrInvalidServerResponse},
        {kScripted, "silent/x", -9, kInetErrTimeout},
        {kNobody, "base/a.txt", -9, kInetErrCannotConnect},
        {kScripted, "ok/" + std::string(1100, 'a'), -1, -1},
        {kScripted, "ok/" + strKorean, -1, -1},
    };
    m_pEngine->m_dwRecvTimeOut = 300;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.strPath.substr(0, 20));
        InitEngine(c.eWhere == kNginx      ? Nginx().Port()
                   : c.eWhere == kScripted ? Scripted().Port()
                                           : FindFreeLoopbackPort());
        size_t nRequests = Scripted().Requests().size();
        m_nErrCode = -1;
        auto start = Clock::now();
        EXPECT_EQ(Head(c.strPath), c.nExpected);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
        if (c.nErrCode >= 0) {
            EXPECT_EQ(m_nErrCode, c.nErrCode) << m_strErrText;
        } else  // refused before anything is sent
            EXPECT_EQ(Scripted().Requests().size(), nRequests);
    }
    EXPECT_TRUE(m_log.Has("ERROR",
                          "CSyncEngine::GetServerFileInfo> File(base/missing.txt) "
                          "dwStatusCode = 404"));
}

// ---- GET ----

TEST_F(TransferTest, DownloadsArriveWholeWithTheListedTime) {
    std::string strData = PatternData(300000);
    std::string strPlain = PatternData(5000, 3) + std::string(100000, 'q');
    Nginx().WriteFile("base/dl/data.bin", strData);
    Nginx().WriteFile("base/dl/empty.txt", "");
    Nginx().WriteFile("base/chunked/c.bin", strData);
    Nginx().WriteFile("base/gz/text.txt.gz", GzipOf(strPlain));
    Nginx().WriteFile("base/dl/plain-gz.txt", strPlain);
    struct Case {
        const char* pszSource;
        const std::string& strContent;
        int bSizeUnknown;
        int nGzip;  // what the item knew before
        bool bHash;
        int nGzipAfter;
    } const kCases[] = {
        {"dl/data.bin", strData, 0, -1, true, 0},
        {"dl/empty.txt", "", 0, -1, false, 0},
        {"chunked/c.bin", strData, 1, -1, true, 0},
        {"gz/text.txt", strPlain, 0, -1, true, 1},       // checked decoded, size and hash
        {"dl/plain-gz.txt", strPlain, 0, 1, false, -1},  // said gzip, came plain
    };
    InitEngine(Nginx().Port());
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszSource);
        std::string strOld = m_dir.WriteFile("install/deep/er/t.bin", "old");
        ASSERT_TRUE(platform::SetReadOnly(strOld, true));
        FileItem item = MakeItem(c.pszSource, "deep/er/t.bin", std::to_string(c.strContent.size()));
        item.m_bSizeUnknown = c.bSizeUnknown;
        item.m_nGzip = c.nGzip;
        if (c.bHash)
            item.m_strSha256 = HashOf(c.strContent);
        ASSERT_EQ(Download(item), 0);
        EXPECT_EQ(m_nErrCode, 0);
        EXPECT_EQ(ReadWholeFile(item.m_strTargetFile), c.strContent);
        platform::FileStatus status;
        ASSERT_TRUE(platform::GetFileStatus(item.m_strTargetFile, &status));
        EXPECT_EQ(status.nModifyTime, kItemTime);
        EXPECT_EQ(FolderNames("deep/er"), Strings{"t.bin"});
        if (c.nGzipAfter >= 0) {
            EXPECT_EQ(item.m_nGzip, c.nGzipAfter);
        }
    }
}

// {server, path, what the item says} -> result code; the old target stays as
// it was and nothing else is left in its folder.
TEST_F(TransferTest, FailedDownloadsGiveTheirCodesAndKeepTheOldFile) {
    std::string strPlain = PatternData(200000, 5);
    Nginx().WriteFile("base/dl/twenty.txt", "01234567890123456789");
    Nginx().WriteFile("base/dl/h.bin", strPlain);
    Nginx().WriteFile("base/gz/h.bin.gz", GzipOf(strPlain));
    Nginx().WriteFile("base/chunked/h.bin", strPlain);
    std::string strSize = std::to_string(strPlain.size());
    std::string strOtherHash(64, 'f');
    enum Where { kNginx, kScripted, kNobody };
    struct Case {
        Where eWhere;
        std::string strSource;  // below "base" on nginx, the whole path on the scripted server
        std::string strSize;
        int bSizeUnknown;
        std::string strHash;
        int nExpected;
        int nErrCode;
    } const kCases[] = {
        {kNginx, "dl/missing.txt", "5", 0, "", -2, 0},
        {kNginx, "error500", "5", 0, "", -2, 0},
        {kNginx, "dl/twenty.txt", "10", 0, "", -4, 0},  // more than listed: stopped
        {kNginx, "gz/h.bin", std::to_string(GzipOf(strPlain).size()), 0, "", -4, 0},
        {kNginx, "dl/h.bin", strSize, 0, strOtherHash, -4, 0},
        {kNginx, "gz/h.bin", strSize, 0, strOtherHash, -4, 0},
        {kNginx, "chunked/h.bin", strSize, 1, strOtherHash, -4, 0},
        {kScripted, "short/x", "1000", 0, "", -4, 0},
        {kScripted, "cutchunk/x", "", 1, "", -4, 0},  // cut, though no size to go by
        {kScripted, "empty200/x", "5", 0, "", -10, 0},
        {kScripted, "badgzip/x", "", 0, "", -6, 0},
        {kScripted, "stall/x", "1000000", 0, "", -6, kInetErrTimeout},
        {kNobody, "a.txt", "1", 0, "", -6, kInetErrCannotConnect},
    };
    m_pEngine->m_dwRecvTimeOut = 300;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.strSource);
        InitEngine(c.eWhere == kNginx      ? Nginx().Port()
                   : c.eWhere == kScripted ? Scripted().Port()
                                           : FindFreeLoopbackPort());
        // The scripted server answers by the path's first segment.
        size_t nSlash = c.strSource.find('/');
        bool bScripted = c.eWhere == kScripted;
        m_pCfg->m_strBaseUrl = bScripted ? c.strSource.substr(0, nSlash) : "base";
        std::string strOld = m_dir.WriteFile("install/f/t.bin", "old");
        FileItem item = MakeItem(bScripted ? c.strSource.substr(nSlash + 1) : c.strSource,
                                 "f/t.bin", c.strSize);
        item.m_bSizeUnknown = c.bSizeUnknown;
        item.m_strSha256 = c.strHash;
        auto start = Clock::now();
        EXPECT_EQ(Download(item), c.nExpected);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
        if (c.nErrCode != 0) {
            EXPECT_EQ(m_nErrCode, c.nErrCode) << m_strErrText;
        }
        EXPECT_EQ(ReadWholeFile(strOld), "old");
        EXPECT_EQ(FolderNames("f"), Strings{"t.bin"});
    }
    EXPECT_TRUE(m_log.Has("ERROR",
                          "CSyncEngine::DownloadOneFileFromServer> 'dl/h.bin' >> "
                          "SHA-256 differs from the list. [List=(" +
                              strOtherHash + "), File=(" + HashOf(strPlain) + ")]"));
}

TEST_F(TransferTest, LocalFailuresGiveTheirCodes) {
    Nginx().WriteFile("base/dl/local.txt", "local");
    Nginx().WriteFile("base/dl/big.bin", PatternData(200000, 4));
    InitEngine(Nginx().Port());
    m_dir.WriteFile("install/plainfile", "a file, not a folder");
    fs::create_directories(m_dir.Sub("install/taken/inner"));
    struct Case {
        std::string strSource;
        std::string strTarget;  // "-": no target path at all; "=": this one as it is
        std::string strTime;
        int nExpected;
    } const kCases[] = {
        {"dl/local.txt", "local.txt", "2024", -5},  // no valid time to set
        {std::string(1100, 'n'), "overlong.txt", "", -1},
        {"dl/local.txt", "-", "", -8},
        {"dl/local.txt", "=local.txt", "", -8},  // no folder in the path
        {"dl/local.txt", "plainfile/sub/local.txt", "", -8},
        {"dl/local.txt", "taken", "", -3},  // the name is a folder's
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.strTarget);
        FileItem item = MakeItem(c.strSource, c.strTarget, "5", c.strTime);
        if (c.strTarget[0] == '-' || c.strTarget[0] == '=')
            item.m_strTargetFile = c.strTarget.substr(1);
        EXPECT_EQ(Download(item), c.nExpected);
        EXPECT_EQ(FolderNames(""), (Strings{"plainfile", "taken"}));
    }
    // A write that fails half way (the file size limit).
    FileItem big = MakeItem("dl/big.bin", "big.bin", "200000");
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    int nResult = Download(big);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(nResult, -9);
    EXPECT_EQ(FolderNames(""), (Strings{"plainfile", "taken"}));
}

TEST_F(TransferTest, ConnectTimeoutEndsAHandshakeThatNeverCompletes) {
    // The black hole's queue is full once a few connections wait in it.
    std::vector<int> vecFillers;
    for (int i = 0; i < 3; ++i) {
        int nFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(Scripted().BlackholePort()));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(nFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        vecFillers.push_back(nFd);
    }
    m_pEngine->m_dwConnectTimeOut = 300;
    InitEngine(Scripted().BlackholePort());
    FileItem hang = MakeItem("x", "hang.bin", "1");
    auto start = Clock::now();
    EXPECT_EQ(Download(hang), -6);
    EXPECT_EQ(m_nErrCode, kInetErrTimeout) << m_strErrText;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    for (int nFd : vecFillers)
        close(nFd);
}

TEST_F(TransferTest, StopEndsATransferQuicklyAndLeavesTheOldTarget) {
    InitEngine(Scripted().Port());
    m_pCfg->m_strBaseUrl = "stall";
    std::string strOld = m_dir.WriteFile("install/stop.bin", "previous version");
    FileItem item = MakeItem("x", "stop.bin", "1000000");
    Strings vecDuring;
    std::string strTargetDuring;
    std::chrono::milliseconds stopToEnd{};
    int nResult = 1;
    RunAndStop([&] { nResult = Download(item); },
               [&] {
                   vecDuring = FolderNames("");
                   strTargetDuring = ReadWholeFile(strOld);
                   return vecDuring.size() == 2;
               },
               &stopToEnd);
    EXPECT_EQ(nResult, -7);
    EXPECT_LT(stopToEnd, std::chrono::milliseconds(1000));
    // While the body came in, it went to a hidden file beside the untouched target.
    EXPECT_EQ(vecDuring, (Strings{".stop.bin.tidewell-part", "stop.bin"}));
    EXPECT_EQ(strTargetDuring, "previous version");
    EXPECT_EQ(FolderNames(""), Strings{"stop.bin"});
    // A server that never answers is left just as quickly.
    m_pCfg->m_strBaseUrl = "silent";
    FileItem silent = MakeItem("x", "silent.bin", "1");
    RunAndStop([&] { nResult = Download(silent); }, [] { return true; }, &stopToEnd);
    EXPECT_EQ(nResult, -7);
    EXPECT_LT(stopToEnd, std::chrono::milliseconds(1000));
}

// ---- The wire and the connection ----

// The request line and the headers our code sets (the rest is the transport's).
TEST_F(TransferTest, RequestOnTheWireCarriesOurHeaders) {
    InitEngine(Scripted().Port());
    size_t nBefore = Scripted().Requests().size();
    ASSERT_EQ(Head("ok/dir name/한.txt"), 0);
    m_pCfg->m_strBaseUrl = "ok";
    FileItem item = MakeItem("a b.txt", "wire.txt");
    EXPECT_EQ(Download(item), 0);
    std::vector<ScriptedRequest> vecRequests = Scripted().Requests();
    ASSERT_EQ(vecRequests.size(), nBefore + 2);
    EXPECT_EQ(
        vecRequests[nBefore].strHead.rfind("HEAD /ok/dir%20name/%ED%95%9C.txt HTTP/1.1\r\n", 0),
        0u);
    EXPECT_EQ(vecRequests[nBefore + 1].strHead.rfind("GET /ok/a%20b.txt HTTP/1.1\r\n", 0), 0u);
    for (const char* pszHeader :
         {"\r\nUser-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64; Trident/7.0; rv:11.0) like "
          "Gecko\r\n",
          "\r\nAccept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
          "application/x-shockwave-flash, application/vnd.ms-excel, "
          "application/vnd.ms-powerpoint, application/msword, */*\r\n"}) {
        EXPECT_NE(vecRequests[nBefore + 1].strHead.find(pszHeader), std::string::npos) << pszHeader;
    }
}

TEST_F(TransferTest, OneConnectionCarriesRequestsPastFailuresButNotPastAClose) {
    WriteServed("base/keep/f.txt", "x");
    InitEngine(Nginx().Port());
    FileItem item = MakeItem("keep/f.txt", "f.txt", "1");
    FileItem missing = MakeItem("keep/missing.txt", "m.txt", "1");
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(Head("base/keep/f.txt"), 0);
    EXPECT_EQ(Head("base/keep/missing"), -5);
    EXPECT_EQ(Download(missing), -2);
    EXPECT_EQ(Download(item), 0);
    std::vector<NginxAccessEntry> vecLog = Nginx().AccessLogFor("/base/keep/", 8);
    ASSERT_EQ(vecLog.size(), 8u);
    for (size_t i = 0; i < vecLog.size(); ++i) {
        EXPECT_EQ(vecLog[i].nConnection, vecLog[0].nConnection);
        EXPECT_EQ(vecLog[i].nRequestNo, vecLog[0].nRequestNo + long(i));
    }
    // nginx closes the connection after a 500; the next request opens another.
    FileItem error = MakeItem("error500", "e.txt", "5");
    EXPECT_EQ(Download(error), -2);
    EXPECT_EQ(Download(item), 0);
}

// {path} -> the request path: UTF-8 escapes for non-ASCII, the transport's
// escapes for the rest, nothing for a path of 1024 bytes or more.
TEST(EncodeUrlTest, NonAsciiBecomesUtf8EscapesAndTheTransportEscapesTheRest) {
    CTideCfg cfg("/nonexistent/Tidewell.ini");
    cfg.m_bEncodeUrlUtf = 1;
    CSyncEngine engine;
    engine.m_pCfg = &cfg;
    const std::pair<std::string, std::string> kCases[] = {
        {"a b/c%d?.txt", "a b/c%d?.txt"},
        {"caf\xC3\xA9", "caf%C3%A9"},
        {"\xF0\x9F\x98\x80.txt", "%F0%9F%98%80.txt"},  // one code point above U+FFFF
        {"x\xB0y", "x%B0y"},                           // not UTF-8: byte by byte
        {std::string(1023, 'a'), std::string(1023, 'a')},
        {std::string(1024, 'a'), ""},
    };
    for (const auto& [strIn, strOut] : kCases)
        EXPECT_EQ(engine.EncodeUrl(strIn), strOut) << strIn.substr(0, 20);
    cfg.m_bEncodeUrlUtf = 0;
    EXPECT_EQ(engine.EncodeUrl("한 b"), "한 b");
    EXPECT_EQ(EscapeRequestTarget("a b/%41%zz\"<>#\x01\x7F\xC3?q=1&x=~_.-"),
              "/a%20b/%41%25zz%22%3C%3E%23%01%7F%C3?q=1&x=~_.-");
    EXPECT_EQ(EscapeRequestTarget("dir\\file"), "/dir/file");
}

// ---- HTTPS ----

class TlsTest : public TransferTest {
protected:
    void SetUp() override {
        TrustTestAuthority();
        for (Cert e : {Cert::kGood, Cert::kExpired, Cert::kOtherHost, Cert::kSelfSigned})
            TestServers().NginxTls(e).WriteFile("base/tls/f.txt", "secret");
    }
    int PortOf(Cert e) { return TestServers().NginxTls(e).Port(); }
    FileItem TlsItem() const { return MakeItem("tls/f.txt", "f.txt"); }
};

// {certificate, host name} -> the failure code in mode 2, none for the good
// one under either of its names; mode 1 ignores every failure.
TEST_F(TlsTest, EachBadCertificateHasItsCodeAndModeOneIgnoresThem) {
    struct Case {
        Cert eServer;
        const char* pszHost;
        int nCode;
    } const kCases[] = {{Cert::kGood, "127.0.0.1", 0},
                        {Cert::kGood, "localhost", 0},
                        {Cert::kExpired, "127.0.0.1", kInetErrCertDateInvalid},
                        {Cert::kOtherHost, "127.0.0.1", kInetErrCertNameInvalid},
                        {Cert::kSelfSigned, "127.0.0.1", kInetErrInvalidCa}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszHost + std::to_string(c.nCode));
        InitEngine(PortOf(c.eServer), 2, c.pszHost);
        EXPECT_EQ(Head("base/tls/f.txt"), c.nCode == 0 ? 0 : -9);
        FileItem item = MakeItem("tls/f.txt", "f" + std::to_string(c.nCode) + c.pszHost);
        EXPECT_EQ(Download(item), c.nCode == 0 ? 0 : -6);
        EXPECT_EQ(m_nErrCode, c.nCode) << m_strErrText;
        EXPECT_EQ(ReadWholeFile(item.m_strTargetFile), c.nCode == 0 ? "secret" : "");
        InitEngine(PortOf(c.eServer), 1, c.pszHost);
        EXPECT_EQ(m_pEngine->GetServerFileInfo(item), 0);
        EXPECT_EQ(Download(item), 0);
    }
    EXPECT_TRUE(m_frontEnd.MessageBoxes().empty());
    EXPECT_EQ(m_app.m_bIgnoreCertError, 0);
    // Whatever the verification found, the user is asked (revoked, no CRL, wrong purpose).
    for (long nVerify : {23L, 3L, 26L, 9L})
        EXPECT_EQ(CTideApp::IsCertificateError(InetCodeForVerifyResult(nVerify)), 1) << nVerify;
    // Mode 0 speaks plain HTTP, which the TLS port refuses with a status, and never asks.
    InitEngine(PortOf(Cert::kExpired), 0);
    EXPECT_EQ(Head("base/tls/f.txt"), -5);
    EXPECT_FALSE(m_pEngine->AskCertificateQuestion(kInetErrCertDateInvalid, "expired"));
}

TEST_F(TlsTest, YesToTheQuestionIgnoresCertificatesFromThenOnAndNoKeepsTheFailure) {
    InitEngine(PortOf(Cert::kSelfSigned), 2);
    m_frontEnd.QueueMessageBoxAnswer(kIdNo);
    FileItem item = TlsItem();
    item.m_strModifyTime.clear();
    EXPECT_EQ(m_pEngine->GetServerFileInfo(item), -9);
    EXPECT_EQ(m_app.m_bIgnoreCertError, 0);
    EXPECT_TRUE(item.m_strModifyTime.empty());
    // Not a certificate error: no question.
    EXPECT_FALSE(m_pEngine->AskCertificateQuestion(kInetErrCannotConnect, "refused"));
    EXPECT_EQ(m_frontEnd.MessageBoxes().size(), 1u);

    InitEngine(PortOf(Cert::kExpired), 2);
    EXPECT_EQ(m_pEngine->GetServerFileInfo(item), 0);
    Strings vecBoxes = m_frontEnd.MessageBoxes();
    ASSERT_EQ(vecBoxes.size(), 2u);
    EXPECT_EQ(vecBoxes[1].rfind("인증서 오류가 발생 했습니다.\r\n"
                                "오류를 무시(권장하지 않음)하고 계속 진행 하시겠습니까?\r\n\r\n"
                                "SSL certificate problem: certificate has expired",
                                0),
              0u)
        << vecBoxes[1];
    EXPECT_EQ(m_app.m_bIgnoreCertError, 1);
    // Later requests ignore the certificate without asking.
    EXPECT_EQ(m_pEngine->GetServerFileInfo(item), 0);
    EXPECT_EQ(Download(item, m_app.m_bIgnoreCertError), 0);
    EXPECT_EQ(m_frontEnd.MessageBoxes().size(), 2u);
    EXPECT_FALSE(m_pEngine->AskCertificateQuestion(kInetErrCertDateInvalid, "again"));
}

}  // namespace
