// Both passes with PARALLEL_TRANSFERS = 8 against nginx over HTTP/1.1 and
// over HTTPS with HTTP/2: the same files, results and per-file log lines as
// one request at a time, failures included; HTTP/2 really runs as streams of
// one connection; a stop ends every transfer at once and leaves old files
// whole; "not now" and cancel end the check as before; the certificate
// question is asked once for all.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "app/message_box.h"
#include "platform/file_system.h"
#include "tests/engine/http_test_support.h"
#include "tests/support/nginx_server.h"
#include "tests/support/python_servers.h"
#include "tests/support/test_certs.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kParallel = 8;
constexpr int kFileCount = 24;
constexpr int kSlowFileCount = 12;
// Below the size from which a cut-off download is kept for resuming.
constexpr size_t kSlowFileBytes = 512 * 1024;

std::string FileName(int i) {
    return "f" + std::to_string(100 + i) + ".dat";
}

class ParallelTest : public CHttpTestBase, public ::testing::WithParamInterface<bool> {
protected:
    static void SetUpTestSuite() {
        s_pScripted = new CScriptedHttpServer;
        ASSERT_TRUE(s_pScripted->Start()) << s_pScripted->Error();
        s_pCertDir = new CTempDir;
        std::string strError;
        ASSERT_TRUE(MakeTestCerts(s_pCertDir->Path(), &s_certs, &strError)) << strError;
        // /base/cut/ ends its body early (the scripted server closes after
        // 100 of 1000 bytes); /base/slow/ sends 64 KiB a second.
        std::string strSnippet =
            "location /base/cut/ { rewrite ^ /short/x break; proxy_pass "
            "http://127.0.0.1:" +
            std::to_string(s_pScripted->Port()) + "; }\nlocation /base/slow/ { limit_rate 64k; }\n";
        for (bool bTls : {false, true}) {
            CNginxServer*& pServer = bTls ? s_pTls : s_pPlain;
            pServer = new CNginxServer;
            NginxOptions options;
            options.strServerSnippet = strSnippet;
            if (bTls) {
                options.strCertFile = s_certs.good.strCert;
                options.strKeyFile = s_certs.good.strKey;
                options.bHttp2 = true;
            }
            ASSERT_TRUE(pServer->Start(options)) << pServer->Error();
            for (int i = 0; i < kFileCount; ++i)
                pServer->WriteFile("base/" + FileName(i), PatternData(1000 + i * 7919, i));
            for (int i = 0; i < kSlowFileCount; ++i)
                pServer->WriteFile("base/slow/" + FileName(i), PatternData(kSlowFileBytes, i));
        }
    }
    static void TearDownTestSuite() {
        delete s_pPlain;
        delete s_pTls;
        delete s_pScripted;
        delete s_pCertDir;
    }
    void SetUp() override { setenv("TIDEWELL_CA_BUNDLE", s_certs.strCaCert.c_str(), 1); }

    bool IsTls() const { return GetParam(); }
    CNginxServer& Server() const { return IsTls() ? *s_pTls : *s_pPlain; }

    // A fresh engine with nParallel requests at a time, installing below
    // "install<nParallel>".
    void Reset(int nParallel) {
        m_pEngine = std::make_unique<CSyncEngine>();
        m_pEngine->m_pDlg = &m_frontEnd;
        m_frontEnd.SetStopFlag(&m_pEngine->m_nRequestStopFlag);
        m_pCfg->m_nParallelTransfers = nParallel;
        m_strInstall = "install" + std::to_string(nParallel);
        InitEngine(Server().Port(), IsTls() ? 2 : 0);
    }
    void Add(const std::string& strSource, const std::string& strSize, bool bPassOnFail = false) {
        FileItem item = MakeItem(strSource, m_strInstall + "/" + strSource, strSize);
        item.m_bPassOnFail = bPassOnFail ? 1 : 0;
        m_pEngine->m_DownFileItemList.push_back(std::make_unique<FileItem>(item));
    }
    // The release with its faults: listed sizes for even files, a HEAD for
    // odd ones, a file the server lacks (one may fail, one may not), and a
    // body cut short.
    void AddRelease() {
        for (int i = 0; i < kFileCount; ++i) {
            Add(FileName(i), i % 2 == 0 ? std::to_string(1000 + i * 7919) : "");
            if (i % 2 == 1)
                m_pEngine->m_DownFileItemList.back()->m_strModifyTime.clear();
        }
        Add("missing.dat", "10");
        Add("missing-may-fail.dat", "10", true);
        Add("cut/x", "1000");
    }

    struct PassResult {
        int nCheck = 0;
        int nDownload = 0;
        std::vector<std::string> vecToDownload;
        std::map<std::string, int> mapDownloaded;
        std::map<std::string, std::string> mapFiles;
        std::vector<std::string> vecLog;  // the passes' lines, folder name left out
    };
    PassResult RunPasses() {
        size_t nLogBefore = LogLines().size();
        PassResult result;
        result.nCheck = m_pEngine->DownloadFilesInListFromServer();
        if (result.nCheck == 1)
            result.nDownload = m_pEngine->ProcDownloadFilesInListFromServer();
        for (const FileItem* pItem : m_pEngine->m_ToDownloadFileItemList)
            result.vecToDownload.push_back(pItem->m_strSourceFile);
        for (const auto& pItem : m_pEngine->m_DownFileItemList) {
            result.mapDownloaded[pItem->m_strSourceFile] = pItem->m_bDownloaded;
            result.mapFiles[pItem->m_strSourceFile] = ReadWholeFile(pItem->m_strTargetFile);
        }
        std::vector<std::string> vecLines = LogLines();
        for (size_t i = nLogBefore; i < vecLines.size(); ++i) {
            std::string strLine = vecLines[i];
            size_t nAt = strLine.find(m_strInstall + "/");
            if (nAt != std::string::npos)
                strLine.replace(nAt, m_strInstall.size(), "install");
            result.vecLog.push_back(strLine);
        }
        return result;
    }
    // The lines that name strName, in their order.
    static std::vector<std::string> LinesNaming(const std::vector<std::string>& vecLog,
                                                const std::string& strName) {
        std::vector<std::string> vec;
        for (const std::string& strLine : vecLog) {
            if (strLine.find(strName) != std::string::npos)
                vec.push_back(strLine);
        }
        return vec;
    }

    std::string m_strInstall;
    static CNginxServer* s_pPlain;
    static CNginxServer* s_pTls;
    static CScriptedHttpServer* s_pScripted;
    static CTempDir* s_pCertDir;
    static TestCerts s_certs;
};

CNginxServer* ParallelTest::s_pPlain = nullptr;
CNginxServer* ParallelTest::s_pTls = nullptr;
CScriptedHttpServer* ParallelTest::s_pScripted = nullptr;
CTempDir* ParallelTest::s_pCertDir = nullptr;
TestCerts ParallelTest::s_certs;

TEST_P(ParallelTest, SameFilesResultsAndLogLinesAsOneAtATime) {
    Reset(1);
    AddRelease();
    PassResult one = RunPasses();
    size_t nSeen = Server().AccessLog().size();
    Reset(kParallel);
    AddRelease();
    PassResult many = RunPasses();

    EXPECT_EQ(one.nCheck, 1);
    EXPECT_EQ(one.nDownload, 0);  // missing.dat and the cut body may not fail
    EXPECT_EQ(many.nCheck, one.nCheck);
    EXPECT_EQ(many.nDownload, one.nDownload);
    EXPECT_EQ(many.vecToDownload, one.vecToDownload);  // the list's order
    EXPECT_EQ(many.mapDownloaded, one.mapDownloaded);
    EXPECT_EQ(many.mapFiles, one.mapFiles);
    EXPECT_EQ(one.mapDownloaded["cut/x"], 0);
    EXPECT_EQ(one.mapFiles[FileName(3)], PatternData(1000 + 3 * 7919, 3));
    // The same lines, and each file's own in the same order.
    std::vector<std::string> vecOne = one.vecLog;
    std::vector<std::string> vecMany = many.vecLog;
    std::sort(vecOne.begin(), vecOne.end());
    std::sort(vecMany.begin(), vecMany.end());
    EXPECT_EQ(vecMany, vecOne);
    for (const std::string& strName : one.vecToDownload)
        EXPECT_EQ(LinesNaming(many.vecLog, strName), LinesNaming(one.vecLog, strName)) << strName;
    EXPECT_GT(CountLogLinesWith("Server File Size = 1000, Write File Size = 100"), 1);

    // The requests went side by side: over TLS as HTTP/2 streams of one
    // connection, otherwise on several HTTP/1.1 connections, never more than 8.
    std::vector<NginxAccessEntry> vecLog = Server().AccessLog();
    std::map<long, int> mapConnections;
    for (size_t i = nSeen; i < vecLog.size(); ++i) {
        ++mapConnections[vecLog[i].nConnection];
        EXPECT_NE(vecLog[i].strRequest.find(IsTls() ? "HTTP/2.0" : "HTTP/1.1"), std::string::npos)
            << vecLog[i].strRequest;
    }
    EXPECT_EQ(vecLog.size() - nSeen, kFileCount / 2 + kFileCount + 3);
    if (IsTls()) {
        EXPECT_EQ(mapConnections.size(), 1u);
    } else {
        EXPECT_GT(mapConnections.size(), 1u);
        // The cut body costs its connection; every other one is kept.
        EXPECT_LE(mapConnections.size(), static_cast<size_t>(kParallel) + 1);
    }
}

TEST_P(ParallelTest, NotNowOrCancelEndsTheCheckAsOneAtATime) {
    for (int nAnswer : {kIdNo, kIdCancel}) {
        Reset(kParallel);
        AddRelease();
        m_frontEnd.QueueUpdateAnswer(nAnswer);
        PassResult result = RunPasses();
        EXPECT_EQ(result.nCheck, nAnswer == kIdNo ? 2 : 3);
        EXPECT_TRUE(result.vecToDownload.empty());
        EXPECT_EQ(result.mapFiles[FileName(0)], "");
    }
    std::vector<std::string> vecCalls = m_frontEnd.Calls();
    EXPECT_EQ(std::count_if(vecCalls.begin(), vecCalls.end(),
                            [](const std::string& s) { return s.rfind("AskUpdate", 0) == 0; }),
              2);
}

TEST_P(ParallelTest, StopEndsEveryTransferAtOnceAndOldFilesStayWhole) {
    Reset(kParallel);
    for (int i = 0; i < kSlowFileCount; ++i) {
        std::string strSource = "slow/" + FileName(i);
        Add(strSource, std::to_string(kSlowFileBytes));
        m_dir.WriteFile("install/" + m_strInstall + "/" + strSource, "old " + std::to_string(i));
    }
    int nCheck = m_pEngine->DownloadFilesInListFromServer();
    ASSERT_EQ(nCheck, 1);
    int nResult = -99;
    std::thread worker([&] { nResult = m_pEngine->ProcDownloadFilesInListFromServer(); });
    // Stopped once every slot has a transfer under way (its temporary file).
    std::string strFolder = m_dir.Sub("install/" + m_strInstall + "/slow");
    auto PartFiles = [&] {
        int nFiles = 0;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(strFolder, ec))
            nFiles += entry.path().filename().string().find("tidewell-part") != std::string::npos;
        return nFiles;
    };
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (PartFiles() < kParallel && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(PartFiles(), kParallel);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto stop = Clock::now();
    m_pEngine->m_nRequestStopFlag = 1;
    worker.join();
    auto nStopMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stop).count();
    EXPECT_LT(nStopMs, 1000);
    EXPECT_EQ(nResult, 0);
    EXPECT_EQ(CountLogLinesWith("DownloadOneFileFromServer> m_nRequestStopFlag = 1"), kParallel);
    for (int i = 0; i < kSlowFileCount; ++i) {
        EXPECT_EQ(ReadWholeFile(strFolder + "/" + FileName(i)), "old " + std::to_string(i));
    }
    EXPECT_EQ(PartFiles(), 0);
}

TEST_P(ParallelTest, CertificateQuestionIsAskedOnceForAll) {
    if (!IsTls())
        GTEST_SKIP() << "plain HTTP has no certificates";
    unsetenv("TIDEWELL_CA_BUNDLE");  // the test authority is unknown now
    Reset(kParallel);
    for (int i = 0; i < kFileCount; ++i)
        Add(FileName(i), i % 2 == 0 ? std::to_string(1000 + i * 7919) : "");
    m_frontEnd.QueueMessageBoxAnswer(kIdYes);
    PassResult result = RunPasses();
    EXPECT_EQ(result.nCheck, 1);
    EXPECT_EQ(result.nDownload, 1);
    EXPECT_EQ(m_frontEnd.MessageBoxes().size(), 1u);
    EXPECT_GE(CountLogLinesWith("Retry GetServerFileInfo()"), 1);
    EXPECT_LE(CountLogLinesWith("Retry GetServerFileInfo()"), kParallel);
    EXPECT_EQ(result.mapFiles[FileName(5)], PatternData(1000 + 5 * 7919, 5));
}

INSTANTIATE_TEST_SUITE_P(Protocols, ParallelTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return std::string(param.param ? "Https2" : "Http1");
                         });

}  // namespace
