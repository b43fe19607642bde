// The engine object's life: start values, lists and their clearing, the
// connection set-up, the worker's start and the destructor's stop-and-wait.
#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/file_system.h"
#include "tests/engine/http_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// An engine whose worker runs a test's function instead of a whole update.
class CTestEngine : public CSyncEngine {
public:
    explicit CTestEngine(std::function<void(CSyncEngine&)> fnRun) : m_fnRun(std::move(fnRun)) {}
    ~CTestEngine() override { StopAndWaitWorker(); }

protected:
    void RunSync() override { m_fnRun(*this); }

private:
    std::function<void(CSyncEngine&)> m_fnRun;
};

class SyncEngineTest : public CHttpTestBase {};

TEST_F(SyncEngineTest, NewEngineAndItemStartEmpty) {
    CSyncEngine engine;
    EXPECT_EQ(engine.m_dwConnectTimeOut, 0u);
    EXPECT_EQ(engine.m_dwSendTimeOut, 0u);
    EXPECT_EQ(engine.m_dwRecvTimeOut, 0u);
    EXPECT_EQ(engine.m_bResourceMode, 0);
    EXPECT_EQ(engine.m_nNowRunningFlag, 0);
    EXPECT_EQ(engine.m_nRequestStopFlag, 0);
    EXPECT_TRUE(engine.m_DownFileItemList.empty());
    EXPECT_TRUE(engine.m_ToDownloadFileItemList.empty());
    EXPECT_EQ(engine.m_pHttpConnection, nullptr);
    EXPECT_EQ(engine.m_pCfg, nullptr);

    FileItem item;
    EXPECT_EQ(item.m_bPassOnFail, 0);
    EXPECT_EQ(item.m_bWaitClose, 0);
    EXPECT_EQ(item.m_bSizeUnknown, 0);
    EXPECT_EQ(item.m_nGzip, -1);
    EXPECT_EQ(item.m_nFileType, kFileTypeNormal);
    EXPECT_EQ(item.m_nSysFlag, 2);
    EXPECT_EQ(item.m_bDownloaded, 0);
    EXPECT_TRUE(item.m_strModifyTime.empty() && item.m_strFileSize.empty());
}

TEST_F(SyncEngineTest, InitListFileItemDescribesTheListFile) {
    g_ListFileItem.m_strModifyTime = "20200101000000";
    g_ListFileItem.m_nFileType = kFileTypeZip;
    m_pEngine->m_pCfg = m_pCfg.get();
    m_pEngine->InitListFileItem();
    EXPECT_EQ(g_ListFileItem.m_strSourceFile, "_listfile.txt");
    EXPECT_EQ(g_ListFileItem.m_strTargetRel, "_listfile.txt");
    EXPECT_EQ(g_ListFileItem.m_strTargetFile,
              platform::JoinPath(m_pCfg->m_strLocalBaseDir, "_listfile.txt"));
    EXPECT_EQ(g_ListFileItem.m_nFileType, kFileTypeNormal);
    EXPECT_EQ(g_ListFileItem.m_nSysFlag, 2);
    // Time and size belong to the run's HEAD request.
    EXPECT_EQ(g_ListFileItem.m_strModifyTime, "20200101000000");
    g_ListFileItem = FileItem();
}

TEST_F(SyncEngineTest, ClearAllEmptiesEveryListAndLogsCounts) {
    auto fill = [](FileItemList& list, int n) {
        for (int i = 0; i < n; ++i)
            list.push_back(std::make_unique<FileItem>());
    };
    fill(m_pEngine->m_DownFileItemList, 3);
    fill(m_pEngine->m_RegFileItemList, 2);
    fill(m_pEngine->m_ZipFileItemList, 1);
    fill(m_pEngine->m_RegAsmFileItemList, 4);
    m_pEngine->m_ToDownloadFileItemList.push_back(m_pEngine->m_DownFileItemList.front().get());
    m_pEngine->ClearAllFileItemLists();

    EXPECT_TRUE(m_pEngine->m_DownFileItemList.empty());
    EXPECT_TRUE(m_pEngine->m_RegFileItemList.empty());
    EXPECT_TRUE(m_pEngine->m_ZipFileItemList.empty());
    EXPECT_TRUE(m_pEngine->m_RegAsmFileItemList.empty());
    EXPECT_TRUE(m_pEngine->m_ToDownloadFileItemList.empty());
    std::vector<std::string> vecExpected = {
        "DEBUG CSyncEngine::ClearDownFileItemList> Delete Master Down File List, Cnt = 3",
        "DEBUG CSyncEngine::ClearRegFileItemList> Delete Master Reg File List, Cnt = 2",
        "DEBUG CSyncEngine::ClearZipFileItemList> Delete Master Zip File List, Cnt = 1",
        "DEBUG CSyncEngine::ClearZipRegFileItemList> Delete Master Zip-Reg File List, Cnt = 0",
        "DEBUG CSyncEngine::ClearRegAsmFileItemList> Delete Master Asm File List, Cnt = 4",
    };
    EXPECT_EQ(LogLines(), vecExpected);
}

TEST_F(SyncEngineTest, InitSyncEngineOpensTheConnectionAndLogsTimeouts) {
    m_pEngine->m_dwConnectTimeOut = 1800000;
    m_pEngine->m_dwSendTimeOut = 0;
    m_pEngine->m_dwRecvTimeOut = 25;
    InitEngine(1);
    EXPECT_EQ(m_pEngine->m_pCfg, m_pCfg.get());
    EXPECT_NE(m_pEngine->m_pHttpConnection, nullptr);
    EXPECT_TRUE(HasLogLine("DEBUG",
                           "CSyncEngine::InitSyncEngine> m_dwConnectTimeOut=1800000, "
                           "m_dwSendTimeOut=0, m_dwRecvTimeOut=25"));
}

TEST_F(SyncEngineTest, SecondStartDoesNothing) {
    std::atomic<int> nRuns{0};
    {
        CTestEngine engine([&](CSyncEngine&) {
            TideLog(1, "worker ran");
            ++nRuns;
        });
        EXPECT_EQ(engine.StartSyncThread(), 0);
        EXPECT_EQ(engine.StartSyncThread(), 2);
    }
    EXPECT_EQ(nRuns, 1);
    std::vector<std::string> vecLines = LogLines();
    auto itStart = std::find(vecLines.begin(), vecLines.end(),
                             "INFO  CSyncEngine::StartSyncThread> Start m_pSyncThread...");
    auto itRan = std::find(vecLines.begin(), vecLines.end(), "DEBUG worker ran");
    ASSERT_NE(itStart, vecLines.end());
    ASSERT_NE(itRan, vecLines.end());
    EXPECT_LT(itStart, itRan) << "the worker runs only after its start is logged";
    EXPECT_TRUE(HasLogLine("WARN", "CSyncEngine::StartSyncThread> m_pSyncThread is Not NULL"));
}

TEST_F(SyncEngineTest, DestructorStopsARunningWorkerQuickly) {
    std::atomic<bool> bRunning{false};
    auto engine = std::make_unique<CTestEngine>([&](CSyncEngine& e) {
        e.m_nNowRunningFlag = 1;
        bRunning = true;
        while (e.m_nRequestStopFlag == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        e.m_nNowRunningFlag = 0;
    });
    ASSERT_EQ(engine->StartSyncThread(), 0);
    while (!bRunning)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    auto start = Clock::now();
    engine.reset();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(HasLogLine("INFO", "CSyncEngine::~CSyncEngine> Set m_nRequestStopFlag = 1"));
    EXPECT_EQ(CountLogLinesWith("Terminate QuenbySyncThread"), 0);
}

TEST_F(SyncEngineTest, DestructorStopsAWorkerThatHasNotBegun) {
    std::atomic<bool> bSawStop{false};
    auto engine = std::make_unique<CTestEngine>([&](CSyncEngine& e) {
        // Still starting up when the engine goes away.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        bSawStop = e.m_nRequestStopFlag == 1;
    });
    ASSERT_EQ(engine->StartSyncThread(), 0);
    engine.reset();
    EXPECT_TRUE(bSawStop);
}

TEST_F(SyncEngineTest, DestructorWaitsForAWorkerThatIgnoresTheStop) {
    std::atomic<bool> bRunning{false};
    std::atomic<bool> bFinished{false};
    auto engine = std::make_unique<CTestEngine>([&](CSyncEngine& e) {
        e.m_nNowRunningFlag = 1;
        bRunning = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5500));
        e.m_nNowRunningFlag = 0;
        bFinished = true;
    });
    ASSERT_EQ(engine->StartSyncThread(), 0);
    while (!bRunning)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    auto start = Clock::now();
    engine.reset();
    auto elapsed = Clock::now() - start;
    EXPECT_TRUE(bFinished) << "the engine was freed while its worker ran";
    EXPECT_GE(elapsed, std::chrono::milliseconds(4900));
    EXPECT_TRUE(
        HasLogLine("WARN", "CSyncEngine::~CSyncEngine> Terminate QuenbySyncThread Forcely..."));
}

}  // namespace
