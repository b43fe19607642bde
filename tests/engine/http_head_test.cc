// HEAD requests (GetServerFileInfo) against nginx, Python's http.server and a
// scripted server: every result code, the headers read, the request as it
// goes on the wire, keep-alive, time-outs and the proxy settings.
#include <chrono>

#include "platform/file_system.h"
#include "tests/engine/http_test_support.h"
#include "tests/support/nginx_server.h"
#include "tests/support/python_servers.h"

namespace {

using Clock = std::chrono::steady_clock;

// 2024-03-15 09:07:02 GMT.
constexpr int64_t kFileTime = 1710493622;

class HeadTest : public CHttpTestBase {
protected:
    static void SetUpTestSuite() {
        s_pNginx = new CNginxServer;
        NginxOptions options;
        options.strServerSnippet = kTestNginxLocations;
        ASSERT_TRUE(s_pNginx->Start(options)) << s_pNginx->Error();
        s_pScripted = new CScriptedHttpServer;
        ASSERT_TRUE(s_pScripted->Start()) << s_pScripted->Error();
    }
    static void TearDownTestSuite() {
        delete s_pNginx;
        delete s_pScripted;
    }
    std::string WriteServed(const std::string& strRel, const std::string& strData) {
        std::string strPath = s_pNginx->WriteFile(strRel, strData);
        platform::SetFileModifyTime(strPath, kFileTime);
        return strPath;
    }

    static CNginxServer* s_pNginx;
    static CScriptedHttpServer* s_pScripted;
};

CNginxServer* HeadTest::s_pNginx = nullptr;
CScriptedHttpServer* HeadTest::s_pScripted = nullptr;

TEST_F(HeadTest, FileOnNginxGivesTimeAndSize) {
    WriteServed("base/info/a.bin", std::string(12345, 'a'));
    InitEngine(s_pNginx->Port());
    ASSERT_EQ(Head("base/info/a.bin"), 0);
    EXPECT_EQ(m_strTime, "20240315090702");
    EXPECT_EQ(m_nSize, 12345u);
    EXPECT_EQ(m_bSizeUnknown, 0);
    EXPECT_EQ(m_nGzip, 0);
    EXPECT_EQ(m_nErrCode, 0);
    EXPECT_TRUE(HasLogLine("DEBUG", "CSyncEngine::GetServerFileInfo> dwStatusCode = 200"));
    EXPECT_TRUE(HasLogLine(
        "DEBUG", "CSyncEngine::GetServerFileInfo> pLastModified = Fri, 15 Mar 2024 09:07:02 GMT"));
    EXPECT_TRUE(HasLogLine("DEBUG", "CSyncEngine::GetServerFileInfo> pFileSize = 12345"));
}

TEST_F(HeadTest, ItemGetsTimeAndSizeButNotAnUnknownSize) {
    WriteServed("base/info/item.txt", "12345");
    WriteServed("base/chunked/item.txt", "12345");
    InitEngine(s_pNginx->Port());
    FileItem item = MakeItem("info/item.txt", "item.txt");
    item.m_strModifyTime.clear();
    ASSERT_EQ(m_pEngine->GetServerFileInfo(item), 0);
    EXPECT_EQ(item.m_strModifyTime, "20240315090702");
    EXPECT_EQ(item.m_strFileSize, "5");
    EXPECT_EQ(item.m_nGzip, 0);

    FileItem chunked = MakeItem("chunked/item.txt", "item.txt", "77");
    ASSERT_EQ(m_pEngine->GetServerFileInfo(chunked), 0);
    EXPECT_EQ(chunked.m_bSizeUnknown, 1);
    EXPECT_EQ(chunked.m_strFileSize, "77");
    EXPECT_TRUE(m_frontEnd.MessageBoxes().empty());
}

TEST_F(HeadTest, ResponseWithoutLengthMeansSizeUnknown) {
    WriteServed("base/chunked/c.txt", "chunky");
    InitEngine(s_pNginx->Port());
    ASSERT_EQ(Head("base/chunked/c.txt"), 0);
    EXPECT_EQ(m_bSizeUnknown, 1);
    EXPECT_EQ(m_nSize, 0u);
    EXPECT_TRUE(HasLogLine("ERROR",
                           "CSyncEngine::GetServerFileInfo> QueryInfo(HTTP_QUERY_CONTENT_LENGTH,,) "
                           "Fail, ErrCode = 12150"));
    EXPECT_TRUE(HasLogLine("DEBUG", "CSyncEngine::GetServerFileInfo> pFileSize = unknown"));

    InitEngine(s_pScripted->Port());
    ASSERT_EQ(Head("chunked/x"), 0);
    EXPECT_EQ(m_bSizeUnknown, 1);
    EXPECT_TRUE(HasLogLine(
        "DEBUG", "CSyncEngine::GetServerFileInfo> Transer encoding chunked. pFileSize = unknown"));
}

TEST_F(HeadTest, GzipContentEncodingIsReported) {
    WriteServed("base/gz/data.txt.gz", GzipOf("plain text"));
    InitEngine(s_pNginx->Port());
    ASSERT_EQ(Head("base/gz/data.txt"), 0);
    EXPECT_EQ(m_nGzip, 1);
    EXPECT_TRUE(HasLogLine("DEBUG", "CSyncEngine::GetServerFileInfo> Content encoding GZIP."));
}

TEST_F(HeadTest, StatusOtherThan200GivesMinus5) {
    InitEngine(s_pNginx->Port());
    EXPECT_EQ(Head("base/missing.txt"), -5);
    EXPECT_TRUE(HasLogLine("ERROR",
                           "CSyncEngine::GetServerFileInfo> File(base/missing.txt) "
                           "dwStatusCode = 404"));
    EXPECT_EQ(Head("base/error500"), -5);
    EXPECT_TRUE(HasLogLine("DEBUG", "CSyncEngine::GetServerFileInfo> dwStatusCode = 500"));
    EXPECT_EQ(m_nErrCode, 0);
}

TEST_F(HeadTest, MissingLastModifiedGivesMinus3) {
    InitEngine(s_pScripted->Port());
    EXPECT_EQ(Head("nolm/x"), -3);
    EXPECT_TRUE(HasLogLine("ERROR",
                           "CSyncEngine::GetServerFileInfo> QueryInfo(HTTP_QUERY_LAST_MODIFIED,,) "
                           "Fail, ErrCode = 12150"));
}

TEST_F(HeadTest, ReplyWithoutStatusGivesMinus2) {
    InitEngine(s_pScripted->Port());
    EXPECT_EQ(Head("garbage/x"), -2);
    EXPECT_TRUE(
        HasLogLine("ERROR", "CSyncEngine::GetServerFileInfo> QueryInfoStatusCode() Return = 0"));
}

TEST_F(HeadTest, TransportFailuresGiveMinus9WithCodeAndText) {
    InitEngine(s_pScripted->Port());
    EXPECT_EQ(Head("empty/x"), -9);
    EXPECT_EQ(m_nErrCode, kInetErrInvalidServerResponse);
    EXPECT_FALSE(m_strErrText.empty());

    // Nothing listens on a port that was just released.
    InitEngine(FindFreeLoopbackPort());
    EXPECT_EQ(Head("base/a.txt"), -9);
    EXPECT_EQ(m_nErrCode, kInetErrCannotConnect);
    EXPECT_TRUE(HasLogLine(
        "ERROR", "CSyncEngine::GetServerFileInfo>> Exception Msg = (12029) " + m_strErrText));
}

TEST_F(HeadTest, ReceiveTimeoutEndsASilentRequest) {
    m_pEngine->m_dwRecvTimeOut = 300;
    InitEngine(s_pScripted->Port());
    auto start = Clock::now();
    EXPECT_EQ(Head("silent/x"), -9);
    auto elapsed = Clock::now() - start;
    EXPECT_EQ(m_nErrCode, kInetErrTimeout);
    EXPECT_GE(elapsed, std::chrono::milliseconds(250));
    EXPECT_LT(elapsed, std::chrono::seconds(3));
}

TEST_F(HeadTest, OverlongPathIsRefusedBeforeSending) {
    InitEngine(s_pScripted->Port());
    size_t nBefore = s_pScripted->Requests().size();
    EXPECT_EQ(Head("ok/" + std::string(1100, 'a')), -1);
    // Short enough as text, too long once each character is nine bytes.
    std::string strKorean;
    for (int i = 0; i < 115; ++i)
        strKorean += "한";
    EXPECT_EQ(Head("ok/" + strKorean), -1);
    EXPECT_EQ(s_pScripted->Requests().size(), nBefore);
}

TEST_F(HeadTest, RequestOnTheWireIsExactlyAsSpecified) {
    InitEngine(s_pScripted->Port());
    size_t nBefore = s_pScripted->Requests().size();
    ASSERT_EQ(Head("ok/dir name/한.txt"), 0);
    FileItem item = MakeItem("a b.txt", "wire.txt");
    m_pCfg->m_strBaseUrl = "ok";
    EXPECT_EQ(Download(item), 0);
    std::vector<ScriptedRequest> vecRequests = s_pScripted->Requests();
    ASSERT_EQ(vecRequests.size(), nBefore + 2);
    std::string strHeaders = "Host: 127.0.0.1:" + std::to_string(s_pScripted->Port()) +
                             "\r\n"
                             "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64; Trident/7.0; "
                             "rv:11.0) like Gecko\r\n"
                             "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
                             "application/x-shockwave-flash, application/vnd.ms-excel, "
                             "application/vnd.ms-powerpoint, application/msword, */*\r\n\r\n";
    EXPECT_EQ(vecRequests[nBefore].strHead,
              "HEAD /ok/dir%20name/%ED%95%9C.txt HTTP/1.1\r\n" + strHeaders);
    EXPECT_EQ(vecRequests[nBefore + 1].strHead, "GET /ok/a%20b.txt HTTP/1.1\r\n" + strHeaders);
}

TEST_F(HeadTest, OneConnectionCarriesManyRequests) {
    for (int i = 0; i < 20; ++i)
        WriteServed("base/many/f" + std::to_string(i), "x");
    InitEngine(s_pNginx->Port());
    size_t nBefore = s_pNginx->AccessLog().size();
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(Head("base/many/f" + std::to_string(i)), 0);
    ASSERT_EQ(Head("base/missing-in-between"), -5);
    ASSERT_EQ(Head("base/many/f0"), 0);
    std::vector<NginxAccessEntry> vecLog = s_pNginx->AccessLog(nBefore + 22);
    ASSERT_EQ(vecLog.size(), nBefore + 22);
    for (size_t i = nBefore; i < vecLog.size(); ++i) {
        EXPECT_EQ(vecLog[i].nConnection, vecLog[nBefore].nConnection);
        EXPECT_EQ(vecLog[i].nRequestNo,
                  vecLog[nBefore].nRequestNo + static_cast<long>(i - nBefore));
        EXPECT_EQ(vecLog[i].strMethod, "HEAD");
    }
}

TEST_F(HeadTest, EncodedNamesReachTheFileOnBothServers) {
    WriteServed("base/한글 이름.txt", "k");
    InitEngine(s_pNginx->Port());
    EXPECT_EQ(Head("base/한글 이름.txt"), 0);
    // Unencoded, the transport still escapes the bytes that cannot stand in the line.
    m_pCfg->m_bEncodeUrlUtf = 0;
    EXPECT_EQ(Head("base/한글 이름.txt"), 0);
    std::vector<NginxAccessEntry> vecLog =
        s_pNginx->AccessLogFor("/base/%ED%95%9C%EA%B8%80%20%EC%9D%B4%EB%A6%84.txt", 2);
    EXPECT_EQ(vecLog.size(), 2u);

    CPythonHttpServer python;
    ASSERT_TRUE(python.Start(s_pNginx->DocRoot())) << python.Error();
    m_pCfg->m_bEncodeUrlUtf = 1;
    InitEngine(python.Port());
    EXPECT_EQ(Head("base/한글 이름.txt"), 0);
    EXPECT_EQ(m_strTime, "20240315090702");
    EXPECT_EQ(m_nSize, 1u);
    EXPECT_EQ(Head("base/nothing-here"), -5);
}

TEST_F(HeadTest, ProxyFromTheEnvironmentIsUsed) {
    setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(s_pScripted->Port())).c_str(), 1);
    InitEngine(8080, 0, "updates.invalid");
    size_t nBefore = s_pScripted->Requests().size();
    EXPECT_EQ(Head("ok/via-proxy.txt"), 0);
    std::vector<ScriptedRequest> vecRequests = s_pScripted->Requests();
    ASSERT_EQ(vecRequests.size(), nBefore + 1);
    EXPECT_EQ(vecRequests.back().strHead.rfind(
                  "HEAD http://updates.invalid:8080/ok/via-proxy.txt HTTP/1.1\r\n", 0),
              0u)
        << vecRequests.back().strHead;
    unsetenv("http_proxy");
}

TEST(EncodeUrlTest, NonAsciiBecomesUtf8EscapesAndAsciiStays) {
    CTideCfg cfg("/nonexistent/Tidewell.ini");
    cfg.m_bEncodeUrlUtf = 1;
    CSyncEngine engine;
    engine.m_pCfg = &cfg;
    EXPECT_EQ(engine.EncodeUrl("a b/c%d?.txt"), "a b/c%d?.txt");
    EXPECT_EQ(engine.EncodeUrl("caf\xC3\xA9"), "caf%C3%A9");
    EXPECT_EQ(engine.EncodeUrl("한"), "%ED%95%9C");
    // A character above U+FFFF is one code point, so the server finds the name.
    EXPECT_EQ(engine.EncodeUrl("\xF0\x9F\x98\x80.txt"), "%F0%9F%98%80.txt");
    // Bytes that are not UTF-8 are escaped one by one.
    EXPECT_EQ(engine.EncodeUrl("x\xB0y"), "x%B0y");
    EXPECT_EQ(engine.EncodeUrl(std::string(1023, 'a')), std::string(1023, 'a'));
    EXPECT_EQ(engine.EncodeUrl(std::string(1024, 'a')), "");
    cfg.m_bEncodeUrlUtf = 0;
    EXPECT_EQ(engine.EncodeUrl("한 b"), "한 b");
}

TEST(EncodeUrlTest, TransportEscapesWhatCannotStandInARequestLine) {
    EXPECT_EQ(EscapeRequestTarget("a b/%41%zz\"<>#{}|^`\x01\x7F\xC3"),
              "/a%20b/%41%25zz%22%3C%3E%23%7B%7D%7C%5E%60%01%7F%C3");
    EXPECT_EQ(EscapeRequestTarget("dir\\file?q=1&x=~_.-"), "/dir/file?q=1&x=~_.-");
}

}  // namespace
