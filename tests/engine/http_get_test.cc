// GET requests (DownloadOneFileFromServer) against nginx, Python's
// http.server and a scripted server: every result code, gzip, unknown sizes,
// the crash-safe replacement of the target, time-outs and the stop flag.
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

#include "platform/file_system.h"
#include "tests/engine/http_test_support.h"
#include "tests/support/nginx_server.h"
#include "tests/support/python_servers.h"
#include "util/crypto.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// 2024-03-15 09:07:02 GMT, the items' time text.
constexpr int64_t kItemTime = 1710493622;

// A connection attempt left pending (non-blocking); the caller closes it.
int StartConnect(int nPort) {
    int nFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(nPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(nFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    return nFd;
}

class GetTest : public CHttpTestBase {
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
    // Names in the target's folder, temporary files included.
    std::vector<std::string> FolderNames(const std::string& strRel) const {
        std::vector<std::string> vecNames;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(m_dir.Sub("install/" + strRel), ec)) {
            vecNames.push_back(entry.path().filename().string());
        }
        std::sort(vecNames.begin(), vecNames.end());
        return vecNames;
    }
    // Runs a download on another thread and raises the stop flag while it waits.
    int DownloadAndStop(FileItem& item, std::chrono::milliseconds* pStopToEnd,
                        const std::function<void()>& fnWhileRunning = {}) {
        int nResult = 1;
        std::thread worker([&] { nResult = Download(item); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (fnWhileRunning)
            fnWhileRunning();
        auto stop = Clock::now();
        m_pEngine->m_nRequestStopFlag = 1;
        worker.join();
        *pStopToEnd = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stop);
        return nResult;
    }

    static CNginxServer* s_pNginx;
    static CScriptedHttpServer* s_pScripted;
};

CNginxServer* GetTest::s_pNginx = nullptr;
CScriptedHttpServer* GetTest::s_pScripted = nullptr;

TEST_F(GetTest, DownloadWritesTheFileWithTheServerTime) {
    std::string strData = PatternData(300000);
    s_pNginx->WriteFile("base/dl/data.bin", strData);
    InitEngine(s_pNginx->Port());
    FileItem item = MakeItem("dl/data.bin", "deep/er/data.bin", std::to_string(strData.size()));
    ASSERT_EQ(Download(item), 0);
    EXPECT_EQ(m_nErrCode, 0);
    EXPECT_EQ(ReadWholeFile(item.m_strTargetFile), strData);
    platform::FileStatus status;
    ASSERT_TRUE(platform::GetFileStatus(item.m_strTargetFile, &status));
    EXPECT_EQ(status.nModifyTime, kItemTime);
    EXPECT_EQ(FolderNames("deep/er"), std::vector<std::string>{"data.bin"});
    EXPECT_EQ(item.m_nGzip, 0);
    EXPECT_TRUE(HasLogLine("DEBUG",
                           "CSyncEngine::DownloadOneFileFromServer> Download File URL = "
                           "base/dl/data.bin"));
}

TEST_F(GetTest, EmptyFileAndReadOnlyTargetAreFine) {
    s_pNginx->WriteFile("base/dl/empty.txt", "");
    s_pNginx->WriteFile("base/dl/ro.txt", "new content");
    InitEngine(s_pNginx->Port());
    FileItem empty = MakeItem("dl/empty.txt", "empty.txt", "0");
    EXPECT_EQ(Download(empty), 0);
    EXPECT_TRUE(platform::FileExists(empty.m_strTargetFile));
    EXPECT_EQ(ReadWholeFile(empty.m_strTargetFile), "");

    std::string strOld = m_dir.WriteFile("install/ro.txt", "old");
    ASSERT_TRUE(platform::SetReadOnly(strOld, true));
    FileItem ro = MakeItem("dl/ro.txt", "ro.txt", "11");
    EXPECT_EQ(Download(ro), 0);
    EXPECT_EQ(ReadWholeFile(strOld), "new content");
    EXPECT_TRUE(HasLogLine("DEBUG",
                           "CSyncEngine::ClearReadOnlyPropertyOfLocalFile> Try To Remove Read "
                           "Only Property, File = " +
                               strOld));
}

TEST_F(GetTest, UnknownSizeReadsToTheEnd) {
    std::string strData = PatternData(70000, 2);
    s_pNginx->WriteFile("base/chunked/c.bin", strData);
    InitEngine(s_pNginx->Port());
    FileItem item = MakeItem("chunked/c.bin", "c.bin");
    item.m_bSizeUnknown = 1;
    ASSERT_EQ(Download(item), 0);
    EXPECT_EQ(ReadWholeFile(item.m_strTargetFile), strData);
    EXPECT_TRUE(HasLogLine("DEBUG",
                           "CSyncEngine::DownloadOneFileFromServer> Write transfer encoded chunked "
                           "file. So the total size of the file is unknown."));

    InitEngine(s_pScripted->Port());
    m_pCfg->m_strBaseUrl = "chunked";
    FileItem scripted = MakeItem("x", "x.txt");
    scripted.m_bSizeUnknown = 1;
    ASSERT_EQ(Download(scripted), 0);
    EXPECT_EQ(ReadWholeFile(scripted.m_strTargetFile), "chunk-onechunk-two");
}

TEST_F(GetTest, GzipBodyIsDecodedAndCheckedAgainstTheDecodedSize) {
    std::string strPlain = PatternData(5000, 3) + std::string(100000, 'q');
    s_pNginx->WriteFile("base/gz/text.txt.gz", GzipOf(strPlain));
    InitEngine(s_pNginx->Port());
    FileItem item = MakeItem("gz/text.txt", "text.txt", std::to_string(strPlain.size()));
    ASSERT_EQ(Download(item), 0);
    EXPECT_EQ(ReadWholeFile(item.m_strTargetFile), strPlain);
    EXPECT_EQ(item.m_nGzip, 1);
    EXPECT_TRUE(
        HasLogLine("DEBUG", "CSyncEngine::DownloadOneFileFromServer> Content encoding GZIP."));
    EXPECT_EQ(CountLogLinesWith("UnCompressGzipFile(" + item.m_strTargetFile +
                                ") Success. "
                                "nCurrentServerReadSize="),
              1);

    // Checked against the encoded size instead, the download fails.
    FileItem wrong = MakeItem("gz/text.txt", "wrong.txt", std::to_string(GzipOf(strPlain).size()));
    EXPECT_EQ(Download(wrong), -4);
    EXPECT_FALSE(platform::FileExists(wrong.m_strTargetFile));

    // An item known as gzip whose body arrives plain is taken as it is.
    s_pNginx->WriteFile("base/dl/plain-gz.txt", "not compressed");
    FileItem plain = MakeItem("dl/plain-gz.txt", "plain-gz.txt", "14");
    plain.m_nGzip = 1;
    EXPECT_EQ(Download(plain), 0);
    EXPECT_EQ(ReadWholeFile(plain.m_strTargetFile), "not compressed");
}

TEST_F(GetTest, CorruptGzipGivesMinus6AndNoFile) {
    InitEngine(s_pScripted->Port());
    m_pCfg->m_strBaseUrl = "badgzip";
    FileItem item = MakeItem("x", "bad.txt");
    EXPECT_EQ(Download(item), -6);
    EXPECT_TRUE(HasLogLine("ERROR", "CSyncEngine::DownloadOneFileFromServer> UnCompressGzipFile(" +
                                        item.m_strTargetFile + ") Failed."));
    EXPECT_TRUE(FolderNames("").empty());
}

TEST_F(GetTest, StatusOtherThan200GivesMinus2AndKeepsTheConnection) {
    s_pNginx->WriteFile("base/keep/after.txt", "after");
    InitEngine(s_pNginx->Port());
    std::string strOld = m_dir.WriteFile("install/gone.txt", "old copy");
    FileItem missing = MakeItem("keep/missing.txt", "gone.txt", "5");
    EXPECT_EQ(Download(missing), -2);
    EXPECT_TRUE(HasLogLine("ERROR",
                           "CSyncEngine::DownloadOneFileFromServer> QueryInfoStatusCode("
                           "base/keep/missing.txt) Return = 404"));
    EXPECT_EQ(ReadWholeFile(strOld), "old copy") << "a failed request leaves the target alone";
    FileItem after = MakeItem("keep/after.txt", "after.txt", "5");
    EXPECT_EQ(Download(after), 0);
    std::vector<NginxAccessEntry> vecLog = s_pNginx->AccessLogFor("/base/keep/", 2);
    ASSERT_EQ(vecLog.size(), 2u);
    EXPECT_EQ(vecLog[0].nStatus, 404);
    EXPECT_EQ(vecLog[1].nConnection, vecLog[0].nConnection);
    EXPECT_EQ(vecLog[1].nRequestNo, vecLog[0].nRequestNo + 1);
    // nginx closes the connection after a 500; the next request opens another.
    FileItem error = MakeItem("error500", "e.txt", "5");
    EXPECT_EQ(Download(error), -2);
    EXPECT_EQ(Download(after), 0);
    EXPECT_EQ(ReadWholeFile(after.m_strTargetFile), "after");
}

TEST_F(GetTest, WrongSizeGivesMinus4AndKeepsTheOldTarget) {
    s_pNginx->WriteFile("base/dl/twenty.txt", "01234567890123456789");
    InitEngine(s_pNginx->Port());
    std::string strOld = m_dir.WriteFile("install/twenty.txt", "old");
    // A listed size shorter than the file: not the first 10 bytes, but no
    // reading on past them either.
    FileItem item = MakeItem("dl/twenty.txt", "twenty.txt", "10");
    EXPECT_EQ(Download(item), -4);
    EXPECT_TRUE(HasLogLine("ERROR",
                           "CSyncEngine::DownloadOneFileFromServer> 'dl/twenty.txt' >> The server "
                           "sends more than the expected 10 bytes; stopped."));
    EXPECT_EQ(ReadWholeFile(strOld), "old");
    EXPECT_EQ(FolderNames(""), std::vector<std::string>{"twenty.txt"});
}

TEST_F(GetTest, ListedHashIsCheckedAsTheBodyStreamsIn) {
    std::string strPlain = PatternData(200000, 5);
    CSha256 sha;
    sha.Update(strPlain.data(), strPlain.size());
    std::string strHash = sha.HexDigest();
    std::string strOtherHash(64, 'f');
    s_pNginx->WriteFile("base/dl/h.bin", strPlain);
    s_pNginx->WriteFile("base/gz/h.bin.gz", GzipOf(strPlain));
    s_pNginx->WriteFile("base/chunked/h.bin", strPlain);
    InitEngine(s_pNginx->Port());
    struct Case {
        const char* pszSource;
        std::string strHash;
        int bSizeUnknown;
        int nExpected;
    } const kCases[] = {
        {"dl/h.bin", strHash, 0, 0},
        {"dl/h.bin", strOtherHash, 0, -4},
        {"gz/h.bin", strHash, 0, 0},  // the hash of the decoded content
        {"gz/h.bin", strOtherHash, 0, -4},
        {"chunked/h.bin", strOtherHash, 1, -4},  // no size to go by: the hash still holds
    };
    for (const Case& c : kCases) {
        std::string strOld = m_dir.WriteFile("install/h.bin", "old");
        FileItem item = MakeItem(c.pszSource, "h.bin", std::to_string(strPlain.size()));
        item.m_strSha256 = c.strHash;
        item.m_bSizeUnknown = c.bSizeUnknown;
        EXPECT_EQ(Download(item), c.nExpected) << c.pszSource;
        EXPECT_EQ(ReadWholeFile(strOld), c.nExpected == 0 ? strPlain : "old") << c.pszSource;
        EXPECT_EQ(FolderNames(""), std::vector<std::string>{"h.bin"}) << c.pszSource;
    }
    EXPECT_TRUE(HasLogLine("ERROR", "CSyncEngine::DownloadOneFileFromServer> 'dl/h.bin' >> "
                                    "SHA-256 differs from the list. [List=(" +
                                        strOtherHash + "), File=(" + strHash + ")]"));
}

TEST_F(GetTest, BodyEndingEarlyGivesMinus4) {
    InitEngine(s_pScripted->Port());
    m_pCfg->m_strBaseUrl = "short";
    FileItem shortBody = MakeItem("x", "short.txt", "1000");
    EXPECT_EQ(Download(shortBody), -4);
    // Even when the size is unknown, a cut body is known to be cut.
    m_pCfg->m_strBaseUrl = "cutchunk";
    FileItem cut = MakeItem("x", "cut.txt");
    cut.m_bSizeUnknown = 1;
    EXPECT_EQ(Download(cut), -4);
    EXPECT_TRUE(FolderNames("").empty());
}

TEST_F(GetTest, NoDataGivesMinus10) {
    InitEngine(s_pScripted->Port());
    m_pCfg->m_strBaseUrl = "empty200";
    FileItem item = MakeItem("x", "nodata.txt", "5");
    EXPECT_EQ(Download(item), -10);
    EXPECT_TRUE(HasLogLine("ERROR",
                           "CSyncEngine::DownloadOneFileFromServer> pHttpFile->Read(pBuf, "
                           "sizeof(pBuf)) => No data."));
    EXPECT_TRUE(FolderNames("").empty());
}

TEST_F(GetTest, LocalFailuresGiveTheirCodes) {
    s_pNginx->WriteFile("base/dl/local.txt", "local");
    InitEngine(s_pNginx->Port());
    FileItem badTime = MakeItem("dl/local.txt", "local.txt", "5", "2024");
    EXPECT_EQ(Download(badTime), -5);
    EXPECT_TRUE(HasLogLine("ERROR",
                           "CSyncEngine::DownloadOneFileFromServer> SetDownFileModifyDate() Fail, "
                           "RetVal = -1"));
    EXPECT_TRUE(FolderNames("").empty());

    FileItem overlong = MakeItem(std::string(1100, 'n'), "overlong.txt", "5");
    EXPECT_EQ(Download(overlong), -1);
    EXPECT_TRUE(
        HasLogLine("ERROR", "CSyncEngine::DownloadOneFileFromServer> OpenRequest() Return NULL"));

    FileItem noPath = MakeItem("dl/local.txt", "", "5");
    noPath.m_strTargetFile.clear();
    EXPECT_EQ(Download(noPath), -8);
    EXPECT_TRUE(HasLogLine(
        "ERROR", "CSyncEngine::DownloadOneFileFromServer> '' >> Directory path unknown."));
    FileItem noFolder = MakeItem("dl/local.txt", "", "5");
    noFolder.m_strTargetFile = "local.txt";
    EXPECT_EQ(Download(noFolder), -8);
    EXPECT_TRUE(HasLogLine(
        "ERROR", "CSyncEngine::DownloadOneFileFromServer> 'local.txt' >> Invalid directory path."));

    m_dir.WriteFile("install/plainfile", "a file, not a folder");
    FileItem noDir = MakeItem("dl/local.txt", "plainfile/sub/local.txt", "5");
    EXPECT_EQ(Download(noDir), -8);
    EXPECT_EQ(CountLogLinesWith("Directory creation(or exists) failed."), 1);

    // The target's name is taken by a folder, so the finished file cannot be put there.
    fs::create_directories(m_dir.Sub("install/taken/inner"));
    FileItem taken = MakeItem("dl/local.txt", "taken", "5");
    EXPECT_EQ(Download(taken), -3);
    EXPECT_TRUE(HasLogLine("ERROR", "CSyncEngine::DownloadOneFileFromServer> Local File Open(" +
                                        taken.m_strTargetFile + ") Fail"));
    EXPECT_EQ(FolderNames(""), (std::vector<std::string>{"plainfile", "taken"}));
}

TEST_F(GetTest, WriteFailureGivesMinus9) {
    s_pNginx->WriteFile("base/dl/big.bin", PatternData(200000, 4));
    InitEngine(s_pNginx->Port());
    FileItem item = MakeItem("dl/big.bin", "big.bin", "200000");
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    int nResult = Download(item);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(nResult, -9);
    EXPECT_TRUE(FolderNames("").empty());
}

TEST_F(GetTest, TransportFailuresGiveMinus6WithCodeAndText) {
    InitEngine(FindFreeLoopbackPort());
    FileItem item = MakeItem("a.txt", "a.txt", "1");
    EXPECT_EQ(Download(item), -6);
    EXPECT_EQ(m_nErrCode, kInetErrCannotConnect);
    EXPECT_TRUE(HasLogLine("ERROR",
                           "CSyncEngine::DownloadOneFileFromServer> ErrCode = 12029, "
                           "ErrMsg = " +
                               m_strErrText));
}

TEST_F(GetTest, ReceiveAndConnectTimeoutsEndTheTransfer) {
    m_pEngine->m_dwRecvTimeOut = 300;
    InitEngine(s_pScripted->Port());
    m_pCfg->m_strBaseUrl = "stall";
    FileItem item = MakeItem("x", "stall.bin", "1000000");
    auto start = Clock::now();
    EXPECT_EQ(Download(item), -6);
    EXPECT_EQ(m_nErrCode, kInetErrTimeout);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(FolderNames("").empty());

    // A listener whose queue is full never completes the handshake.
    CSyncEngine other;
    other.m_dwConnectTimeOut = 300;
    std::vector<int> vecFillers;
    for (int i = 0; i < 3; ++i)
        vecFillers.push_back(StartConnect(s_pScripted->BlackholePort()));
    m_pCfg->m_nPort = s_pScripted->BlackholePort();
    ASSERT_EQ(other.InitSyncEngine(m_pCfg.get()), 0);
    FileItem hang = MakeItem("x", "hang.bin", "1");
    int nErr = 0;
    std::string strErr;
    start = Clock::now();
    EXPECT_EQ(other.DownloadOneFileFromServer(hang, 0, &nErr, &strErr), -6);
    EXPECT_EQ(nErr, kInetErrTimeout) << strErr;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    for (int nFd : vecFillers)
        close(nFd);
}

TEST_F(GetTest, StopEndsATransferQuicklyAndLeavesTheOldTarget) {
    InitEngine(s_pScripted->Port());
    m_pCfg->m_strBaseUrl = "stall";
    std::string strOld = m_dir.WriteFile("install/stop.bin", "previous version");
    FileItem item = MakeItem("x", "stop.bin", "1000000");
    std::vector<std::string> vecDuring;
    std::string strTargetDuring;
    std::chrono::milliseconds stopToEnd{};
    int nResult = DownloadAndStop(item, &stopToEnd, [&] {
        vecDuring = FolderNames("");
        strTargetDuring = ReadWholeFile(strOld);
    });
    EXPECT_EQ(nResult, -7);
    EXPECT_LT(stopToEnd, std::chrono::milliseconds(1000));
    EXPECT_TRUE(
        HasLogLine("DEBUG", "CSyncEngine::DownloadOneFileFromServer> m_nRequestStopFlag = 1"));
    // While the body came in, it went to a hidden file beside the untouched target.
    EXPECT_EQ(vecDuring, (std::vector<std::string>{".stop.bin.tidewell-part", "stop.bin"}));
    EXPECT_EQ(strTargetDuring, "previous version");
    EXPECT_EQ(FolderNames(""), std::vector<std::string>{"stop.bin"});

    // A server that never answers is left just as quickly.
    m_pEngine->m_nRequestStopFlag = 0;
    m_pCfg->m_strBaseUrl = "silent";
    FileItem silent = MakeItem("x", "silent.bin", "1");
    EXPECT_EQ(DownloadAndStop(silent, &stopToEnd), -7);
    EXPECT_LT(stopToEnd, std::chrono::milliseconds(1000));
}

TEST_F(GetTest, PythonServerServesDownloadsOnOneConnection) {
    std::string strData = PatternData(50000, 5);
    s_pNginx->WriteFile("base/py/a.bin", strData);
    s_pNginx->WriteFile("base/py/b.txt", "second");
    CPythonHttpServer python;
    ASSERT_TRUE(python.Start(s_pNginx->DocRoot())) << python.Error();
    InitEngine(python.Port());
    FileItem a = MakeItem("py/a.bin", "a.bin", "50000");
    FileItem b = MakeItem("py/b.txt", "b.txt", "6");
    FileItem missing = MakeItem("py/none", "none", "6");
    EXPECT_EQ(Download(a), 0);
    EXPECT_EQ(Download(missing), -2);
    EXPECT_EQ(Download(b), 0);
    EXPECT_EQ(ReadWholeFile(a.m_strTargetFile), strData);
    EXPECT_EQ(ReadWholeFile(b.m_strTargetFile), "second");
}

TEST_F(GetTest, KeepAliveHoldsAcrossHeadAndGet) {
    InitEngine(s_pScripted->Port());
    m_pCfg->m_strBaseUrl = "ok";
    size_t nBefore = s_pScripted->Requests().size();
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(Head("ok/h" + std::to_string(i)), 0);
        FileItem item = MakeItem("g" + std::to_string(i), "g" + std::to_string(i), "14");
        ASSERT_EQ(Download(item), 0);
    }
    std::vector<ScriptedRequest> vecRequests = s_pScripted->Requests();
    ASSERT_EQ(vecRequests.size(), nBefore + 10);
    for (size_t i = nBefore; i < vecRequests.size(); ++i) {
        EXPECT_EQ(vecRequests[i].nConnection, vecRequests[nBefore].nConnection);
    }
}

}  // namespace
