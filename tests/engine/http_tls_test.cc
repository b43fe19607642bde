// HTTPS against nginx with certificates made by openssl at test time: the
// three modes, the certificate question and its sticky answer, the error
// codes of each kind of bad certificate, and the CA-bundle option.
#include "app/message_box.h"
#include "platform/file_system.h"
#include "tests/engine/http_test_support.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_certs.h"

namespace {

const char kQuestion[] =
    "인증서 오류가 발생 했습니다.\r\n"
    "오류를 무시(권장하지 않음)하고 계속 진행 하시겠습니까?\r\n\r\n";

class TlsTest : public CHttpTestBase {
protected:
    static void SetUpTestSuite() {
        s_pCertDir = new CTempDir;
        std::string strError;
        ASSERT_TRUE(MakeTestCerts(s_pCertDir->Path(), &s_certs, &strError)) << strError;
        const TestCertPair* apPairs[] = {&s_certs.good, &s_certs.expired, &s_certs.otherHost,
                                         &s_certs.selfSigned};
        for (int i = 0; i < 4; ++i) {
            s_apServers[i] = new CNginxServer;
            NginxOptions options;
            options.strCertFile = apPairs[i]->strCert;
            options.strKeyFile = apPairs[i]->strKey;
            ASSERT_TRUE(s_apServers[i]->Start(options)) << s_apServers[i]->Error();
            s_apServers[i]->WriteFile("base/f.txt", "secret");
            s_apServers[i]->WriteFile("base/_listfile.txt", "list");
        }
    }
    static void TearDownTestSuite() {
        for (CNginxServer*& pServer : s_apServers) {
            delete pServer;
            pServer = nullptr;
        }
        delete s_pCertDir;
    }
    void SetUp() override { setenv("TIDEWELL_CA_BUNDLE", s_certs.strCaCert.c_str(), 1); }

    enum Server { kGood, kExpired, kOtherHost, kSelfSigned };
    int PortOf(Server e) const { return s_apServers[e]->Port(); }
    FileItem ListItem() const { return MakeItem("_listfile.txt", "_listfile.txt"); }

    static CTempDir* s_pCertDir;
    static TestCerts s_certs;
    static CNginxServer* s_apServers[4];
};

CTempDir* TlsTest::s_pCertDir = nullptr;
TestCerts TlsTest::s_certs;
CNginxServer* TlsTest::s_apServers[4] = {};

TEST_F(TlsTest, TrustedCertificateNeedsNoQuestion) {
    InitEngine(PortOf(kGood), 2);
    FileItem item = ListItem();
    EXPECT_EQ(m_pEngine->GetServerFileInfo(item), 0);
    EXPECT_EQ(item.m_strFileSize, "4");
    EXPECT_EQ(Download(item), 0);
    EXPECT_EQ(ReadWholeFile(item.m_strTargetFile), "list");
    EXPECT_TRUE(m_frontEnd.MessageBoxes().empty());
    EXPECT_TRUE(HasLogLine("INFO", "CSyncEngine::GetServerFileInfo> - set cert flag 1"));
    EXPECT_TRUE(HasLogLine("INFO", "CSyncEngine::DownloadOneFileFromServer> - set cert flag 1"));
    EXPECT_EQ(CountLogLinesWith("set cert ignore flag"), 0);
    // Also by the name in the certificate.
    InitEngine(PortOf(kGood), 2, "localhost");
    EXPECT_EQ(Head("base/f.txt"), 0);
}

TEST_F(TlsTest, EachBadCertificateHasItsCode) {
    struct Case {
        Server eServer;
        int nCode;
    } aCases[] = {{kExpired, kInetErrCertDateInvalid},
                  {kOtherHost, kInetErrCertNameInvalid},
                  {kSelfSigned, kInetErrInvalidCa}};
    for (const Case& c : aCases) {
        InitEngine(PortOf(c.eServer), 2);
        EXPECT_EQ(Head("base/f.txt"), -9);
        EXPECT_EQ(m_nErrCode, c.nCode) << m_strErrText;
        EXPECT_EQ(CTideApp::IsCertificateError(m_nErrCode), 1);
        FileItem item = MakeItem("f.txt", "f.txt", "6");
        EXPECT_EQ(Download(item), -6);
        EXPECT_EQ(m_nErrCode, c.nCode) << m_strErrText;
        EXPECT_FALSE(platform::FileExists(item.m_strTargetFile));
    }
    // Without the bundle the test authority is unknown.
    unsetenv("TIDEWELL_CA_BUNDLE");
    InitEngine(PortOf(kGood), 2);
    EXPECT_EQ(Head("base/f.txt"), -9);
    EXPECT_EQ(m_nErrCode, kInetErrInvalidCa) << m_strErrText;
}

TEST_F(TlsTest, YesToTheQuestionIgnoresCertificatesFromThenOn) {
    InitEngine(PortOf(kExpired), 2);
    FileItem item = ListItem();
    EXPECT_EQ(m_pEngine->GetServerFileInfo(item), 0);
    std::vector<std::string> vecCalls = m_frontEnd.Calls();
    ASSERT_EQ(vecCalls.size(), 1u);
    EXPECT_EQ(vecCalls[0].rfind(std::string("MessageBox:Corvid5@LoomhallKiro 업데이트:") +
                                    kQuestion + "SSL certificate problem: certificate has expired",
                                0),
              0u)
        << vecCalls[0];
    EXPECT_EQ(m_app.m_bIgnoreCertError, 1);
    EXPECT_TRUE(HasLogLine("INFO", "CSyncEngine::GetServerFileInfo> Retry GetServerFileInfo()"));
    EXPECT_TRUE(HasLogLine("INFO",
                           "CSyncEngine::GetServerFileInfo> Try to SetOption() - set cert ignore "
                           "flag 3"));

    // Later requests ignore the certificate without asking.
    EXPECT_EQ(m_pEngine->GetServerFileInfo(item), 0);
    EXPECT_EQ(Download(item, m_app.m_bIgnoreCertError), 0);
    EXPECT_EQ(m_frontEnd.MessageBoxes().size(), 1u);
    EXPECT_FALSE(m_pEngine->AskCertificateQuestion(kInetErrCertDateInvalid, "again"));
}

TEST_F(TlsTest, NoToTheQuestionKeepsTheFailure) {
    InitEngine(PortOf(kSelfSigned), 2);
    m_frontEnd.QueueMessageBoxAnswer(kIdNo);
    FileItem item = ListItem();
    item.m_strModifyTime.clear();
    EXPECT_EQ(m_pEngine->GetServerFileInfo(item), -9);
    EXPECT_EQ(m_frontEnd.MessageBoxes().size(), 1u);
    EXPECT_EQ(m_app.m_bIgnoreCertError, 0);
    EXPECT_TRUE(item.m_strModifyTime.empty());
    // Not a certificate error: no question.
    EXPECT_FALSE(m_pEngine->AskCertificateQuestion(kInetErrCannotConnect, "refused"));
    EXPECT_EQ(m_frontEnd.MessageBoxes().size(), 1u);
}

TEST_F(TlsTest, ModeOneIgnoresEveryCertificateError) {
    for (Server e : {kExpired, kOtherHost, kSelfSigned}) {
        InitEngine(PortOf(e), 1);
        FileItem item = ListItem();
        EXPECT_EQ(m_pEngine->GetServerFileInfo(item), 0);
        EXPECT_EQ(Download(item), 0);
    }
    EXPECT_TRUE(m_frontEnd.MessageBoxes().empty());
    EXPECT_EQ(m_app.m_bIgnoreCertError, 0);
    for (const char* pszOp : {"GetServerFileInfo", "DownloadOneFileFromServer"}) {
        std::string strPrefix = std::string("CSyncEngine::") + pszOp + "> ";
        EXPECT_TRUE(HasLogLine("INFO", strPrefix + "- set cert flag 1"));
        EXPECT_TRUE(HasLogLine("INFO", strPrefix + "- set cert ignore flag 2"));
        EXPECT_TRUE(HasLogLine("INFO", strPrefix + "Try to SetOption() - set cert ignore flag 3"));
    }
}

TEST_F(TlsTest, ModeZeroSpeaksPlainHttpAndNeverAsks) {
    // Mode 0 speaks plain HTTP, which the TLS port refuses with a status.
    InitEngine(PortOf(kExpired), 0);
    EXPECT_EQ(Head("base/f.txt"), -5);
    EXPECT_EQ(CountLogLinesWith("set cert flag"), 0);
    EXPECT_FALSE(m_pEngine->AskCertificateQuestion(kInetErrCertDateInvalid, "expired"));
}

TEST_F(TlsTest, OneTlsConnectionCarriesManyRequests) {
    InitEngine(PortOf(kGood), 2);
    size_t nBefore = s_apServers[kGood]->AccessLog().size();
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(Head("base/f.txt"), 0);
    std::vector<NginxAccessEntry> vecLog = s_apServers[kGood]->AccessLog();
    ASSERT_EQ(vecLog.size(), nBefore + 10);
    for (size_t i = nBefore; i < vecLog.size(); ++i) {
        EXPECT_EQ(vecLog[i].nConnection, vecLog[nBefore].nConnection);
    }
}

TEST(CertificateCodeTest, VerificationResultsMapToTheKnownCodes) {
    EXPECT_EQ(InetCodeForVerifyResult(10), kInetErrCertDateInvalid);  // expired
    EXPECT_EQ(InetCodeForVerifyResult(9), kInetErrCertDateInvalid);   // not yet valid
    EXPECT_EQ(InetCodeForVerifyResult(0), kInetErrCertNameInvalid);   // host checked by curl
    EXPECT_EQ(InetCodeForVerifyResult(62), kInetErrCertNameInvalid);
    EXPECT_EQ(InetCodeForVerifyResult(20), kInetErrInvalidCa);  // unknown issuer
    EXPECT_EQ(InetCodeForVerifyResult(18), kInetErrInvalidCa);  // self-signed
    EXPECT_EQ(InetCodeForVerifyResult(23), kInetErrCertRevoked);
    EXPECT_EQ(InetCodeForVerifyResult(3), kInetErrRevocationFailed);
    EXPECT_EQ(InetCodeForVerifyResult(26), kInetErrInvalidCert);  // wrong purpose
    for (long n : {0L, 3L, 9L, 10L, 18L, 20L, 23L, 26L, 62L}) {
        EXPECT_EQ(CTideApp::IsCertificateError(InetCodeForVerifyResult(n)), 1) << n;
    }
}

}  // namespace
