// DownloadAndMergeListFile against nginx: the list file fetched, read into
// the lists, and the failures of each step with their result codes.
#include "app/message_box.h"
#include "platform/file_system.h"
#include "tests/engine/http_test_support.h"
#include "tests/support/nginx_server.h"
#include "tests/support/python_servers.h"
#include "tests/support/test_certs.h"

namespace {

using Strings = std::vector<std::string>;

class ListDownloadTest : public CHttpTestBase {
protected:
    static void SetUpTestSuite() {
        s_pCertDir = new CTempDir;
        std::string strError;
        ASSERT_TRUE(MakeTestCerts(s_pCertDir->Path(), &s_certs, &strError)) << strError;
        s_pPlain = new CNginxServer;
        ASSERT_TRUE(s_pPlain->Start()) << s_pPlain->Error();
        s_pExpired = new CNginxServer;
        NginxOptions options;
        options.strCertFile = s_certs.expired.strCert;
        options.strKeyFile = s_certs.expired.strKey;
        ASSERT_TRUE(s_pExpired->Start(options)) << s_pExpired->Error();
        for (CNginxServer* pServer : {s_pPlain, s_pExpired}) {
            pServer->WriteFile("base/_listfile.txt",
                               "# list\r\na/b.dll,,,REG\r\nc.txt,d/c.txt\r\n");
        }
    }
    static void TearDownTestSuite() {
        delete s_pPlain;
        delete s_pExpired;
        delete s_pCertDir;
        s_pPlain = s_pExpired = nullptr;
    }
    void SetUp() override { setenv("TIDEWELL_CA_BUNDLE", s_certs.strCaCert.c_str(), 1); }

    // Run steps 4 and 5 as the worker does them: HEAD of the list, then the list.
    int Run() {
        m_pEngine->InitListFileItem();
        m_pEngine->GetServerFileInfo(g_ListFileItem);
        return m_pEngine->DownloadAndMergeListFile();
    }
    Strings Sources() const {
        Strings vec;
        for (const auto& pItem : m_pEngine->m_DownFileItemList)
            vec.push_back(pItem->m_strSourceFile);
        return vec;
    }
    Strings StatusTexts() const {
        Strings vec;
        for (const std::string& strCall : m_frontEnd.Calls()) {
            if (strCall.rfind("SetStatusText:", 0) == 0)
                vec.push_back(strCall.substr(14));
        }
        return vec;
    }

    static CTempDir* s_pCertDir;
    static TestCerts s_certs;
    static CNginxServer* s_pPlain;
    static CNginxServer* s_pExpired;
};

CTempDir* ListDownloadTest::s_pCertDir = nullptr;
TestCerts ListDownloadTest::s_certs;
CNginxServer* ListDownloadTest::s_pPlain = nullptr;
CNginxServer* ListDownloadTest::s_pExpired = nullptr;

}  // namespace

TEST_F(ListDownloadTest, ListIsFetchedAndReadIntoFreshLists) {
    InitEngine(s_pPlain->Port());
    m_pEngine->m_DownFileItemList.push_back(std::make_unique<FileItem>());  // from a former run
    ASSERT_EQ(0, Run());
    EXPECT_EQ((Strings{"a/b.dll", "c.txt"}), Sources());
    ASSERT_EQ(1u, m_pEngine->m_RegFileItemList.size());
    EXPECT_EQ(m_dir.Sub("install/d/c.txt"), m_pEngine->m_DownFileItemList.back()->m_strTargetFile);
    EXPECT_EQ((Strings{"서버로부터 리스트 파일 다운로드 중...", "리스트 파일 내용 정리중...",
                       "다운로드 리스트 확인 중..."}),
              StatusTexts());
    EXPECT_TRUE(
        HasLogLine("DEBUG", "CSyncEngine::DownloadAndMergeListFile> Start Download List File...."));
    // The list stays in the installation folder.
    EXPECT_EQ("# list\r\na/b.dll,,,REG\r\nc.txt,d/c.txt\r\n",
              ReadWholeFile(m_dir.Sub("install/_listfile.txt")));
}

TEST_F(ListDownloadTest, MissingListOnTheServerGivesMinus1) {
    InitEngine(s_pPlain->Port());
    m_pCfg->m_strListFileName = "none.txt";
    EXPECT_EQ(-1, Run());
    EXPECT_TRUE(m_pEngine->m_DownFileItemList.empty());
    EXPECT_TRUE(HasLogLine("DEBUG",
                           "CSyncEngine::DownloadAndMergeListFileFromServer> Fail To Get "
                           "List File, RetVal = -2"));
    EXPECT_EQ(Strings{"서버로부터 리스트 파일 다운로드 중..."}, StatusTexts());
}

TEST_F(ListDownloadTest, ListThatCannotBeStoredGivesMinus2) {
    InitEngine(s_pPlain->Port());
    m_pEngine->InitListFileItem();
    m_pEngine->GetServerFileInfo(g_ListFileItem);
    // A folder that is not empty where the list is kept: the new list, read
    // beside it, cannot take its place.
    m_dir.WriteFile("install/_listfile.txt/in-the-way", "x");
    EXPECT_EQ(-2, m_pEngine->DownloadAndMergeListFile());
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("install/_listfile.txt.tidewell-new")));
    EXPECT_TRUE(HasLogLine("DEBUG",
                           "CSyncEngine::DownloadAndMergeListFileFromServer> Fail To Get "
                           "Master File List, RetVal = -1"));
}

TEST_F(ListDownloadTest, CertificateErrorAskedOnceThenRetried) {
    InitEngine(s_pExpired->Port(), 2);
    m_pEngine->InitListFileItem();
    // Make the first attempt the list download itself, not the HEAD before it.
    g_ListFileItem.m_strFileSize =
        std::to_string(ReadWholeFile(s_pExpired->DocRoot() + "/base/_listfile.txt").size());
    g_ListFileItem.m_strModifyTime = "20240315090702";
    m_frontEnd.QueueMessageBoxAnswer(kIdYes);
    ASSERT_EQ(0, m_pEngine->DownloadAndMergeListFile());
    EXPECT_EQ(1u, m_frontEnd.MessageBoxes().size());
    EXPECT_EQ(1, m_app.m_bIgnoreCertError.load());
    EXPECT_TRUE(HasLogLine("INFO",
                           "CSyncEngine::DownloadAndMergeListFileFromServer> Retry "
                           "DownloadOneFileFromServer()"));
    EXPECT_EQ((Strings{"a/b.dll", "c.txt"}), Sources());
}

TEST_F(ListDownloadTest, CertificateErrorRefusedGivesMinus1) {
    InitEngine(s_pExpired->Port(), 2);
    m_pEngine->InitListFileItem();
    g_ListFileItem.m_strFileSize = "10";
    g_ListFileItem.m_strModifyTime = "20240315090702";
    m_frontEnd.QueueMessageBoxAnswer(kIdNo);
    EXPECT_EQ(-1, m_pEngine->DownloadAndMergeListFile());
    EXPECT_EQ(0, m_app.m_bIgnoreCertError.load());
    EXPECT_EQ(0, CountLogLinesWith("Retry DownloadOneFileFromServer()"));
    EXPECT_EQ(1, CountLogLinesWith("Fail To Get List File, RetVal = -6"));
}

// A server that gives no ETag (Python's http.server): the GET is made
// conditional with If-Modified-Since, and its 304 reads the installed copy.
TEST_F(ListDownloadTest, ServerWithoutETagAnswers304ToIfModifiedSince) {
    CTempDir www;
    std::string strList = www.WriteFile("base/_listfile.txt", "c.txt,d/c.txt\n");
    ASSERT_TRUE(platform::SetFileModifyTime(strList, 1700000000));
    CPythonHttpServer python;
    ASSERT_TRUE(python.Start(www.Path())) << python.Error();
    InitEngine(python.Port());
    for (int nRun = 0; nRun < 2; ++nRun) {
        ASSERT_EQ(0, Run()) << nRun;
        EXPECT_EQ(Strings{"c.txt"}, Sources()) << nRun;
    }
    EXPECT_EQ(1, CountLogLinesWith("Not modified since the installed copy (304)."));
    EXPECT_EQ("c.txt,d/c.txt\n", ReadWholeFile(m_dir.Sub("install/_listfile.txt")));
}
