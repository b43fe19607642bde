#include "engine/sync_engine.h"

#include <exception>

#include "app/tide_cfg.h"
#include "app/tide_globals.h"
#include "engine/http_connection.h"
#include "log/my_log.h"
#include "platform/file_system.h"

FileItem g_ListFileItem;

namespace {

// How long the destructor lets a running worker take to notice the stop flag.
constexpr uint64_t kStopWaitMs = 5000;
constexpr unsigned kStopPollMs = 50;

int CountOf(const FileItemList& list) {
    return static_cast<int>(list.size());
}

// Deletes an owning list's items from the head.
void DeleteItems(FileItemList& list) {
    while (!list.empty())
        list.pop_front();
}

}  // namespace

CSyncEngine::CSyncEngine() = default;

CSyncEngine::~CSyncEngine() {
    StopAndWaitWorker();
    m_pBatch.reset();
    m_pHttpConnection.reset();
    // Only now: until the worker has ended it may still use the lists.
    ClearAllFileItemLists();
}

void CSyncEngine::StopAndWaitWorker() {
    if (!m_pSyncThread)
        return;
    if (m_nNowRunningFlag == 1) {
        TideLog(2, "CSyncEngine::~CSyncEngine> Set m_nRequestStopFlag = 1");
        m_nRequestStopFlag = 1;
        uint64_t nDeadline = platform::SystemClock().TickCountMs() + kStopWaitMs;
        while (m_nNowRunningFlag == 1 && platform::SystemClock().TickCountMs() < nDeadline) {
            platform::SleepMs(kStopPollMs);
        }
        if (m_nNowRunningFlag == 1) {
            // A thread cannot be killed safely here; it is waited for instead,
            // since the engine must outlive every access the worker makes.
            TideLog(3, "CSyncEngine::~CSyncEngine> Terminate QuenbySyncThread Forcely...");
        }
    } else {
        // A worker that has not raised its running flag yet must not begin a run now.
        m_nRequestStopFlag = 1;
    }
    if (m_pSyncThread->joinable())
        m_pSyncThread->join();
    m_pSyncThread.reset();
}

int CSyncEngine::InitSyncEngine(CTideCfg* pCfg) {
    m_pCfg = pCfg;
    m_strLinkName = g_szLinkName;
    HttpConnectionSettings settings;
    settings.strHost = pCfg->m_strServer;
    settings.nPort = pCfg->m_nPort;
    settings.bSecure = pCfg->m_nHttpsMode > 0;
    settings.pStopFlag = &m_nRequestStopFlag;
    settings.strCaBundle = CaBundleFromEnvironment();
    m_pBatch.reset();
    m_pHttpConnection = CreateCurlHttpConnection(settings);
    if (!m_pHttpConnection) {
        TideLog(1,
                "CSyncEngine::DownloadListFileFromServer> GetHttpConnection(%s, %d) returns NULL",
                pCfg->m_strServer.c_str(), pCfg->m_nPort);
        return -1;
    }
    TideLog(1,
            "CSyncEngine::InitSyncEngine> m_dwConnectTimeOut=%d, m_dwSendTimeOut=%d, "
            "m_dwRecvTimeOut=%d",
            static_cast<int>(m_dwConnectTimeOut), static_cast<int>(m_dwSendTimeOut),
            static_cast<int>(m_dwRecvTimeOut));
    m_pHttpConnection->SetTimeouts(m_dwConnectTimeOut, m_dwSendTimeOut, m_dwRecvTimeOut);
    return 0;
}

int CSyncEngine::StartSyncThread() {
    if (m_pSyncThread) {
        TideLog(3, "CSyncEngine::StartSyncThread> m_pSyncThread is Not NULL");
        return 2;
    }
    try {
        // Created "suspended": the worker waits until the start is logged.
        m_pSyncThread = std::make_unique<std::thread>([this] {
            m_bWorkerResumed.wait(false);
            RunSync();
            m_bWorkerFinished = true;
        });
    } catch (const std::exception& e) {
        TideLog(4, "CSyncEngine::StartSyncThread> Thread creation failed. (%s)", e.what());
        return 1;
    }
    TideLog(2, "CSyncEngine::StartSyncThread> Start m_pSyncThread...");
    m_bWorkerResumed = true;
    m_bWorkerResumed.notify_one();
    return 0;
}

void CSyncEngine::RunSync() {
    if (m_pPlan != nullptr) {
        PlanThreadMain(this);
    } else {
        SyncThreadMain(this);
    }
}

std::string CSyncEngine::ListFilePath() const {
    if (!m_strListFilePath.empty())
        return m_strListFilePath;
    return platform::JoinPath(m_pCfg->m_strLocalBaseDir, m_pCfg->m_strListFileName);
}

void CSyncEngine::ClearDownFileItemList() {
    TideLog(1, "CSyncEngine::ClearDownFileItemList> Delete Master Down File List, Cnt = %d",
            CountOf(m_DownFileItemList));
    DeleteItems(m_DownFileItemList);
}

void CSyncEngine::ClearRegFileItemList() {
    TideLog(1, "CSyncEngine::ClearRegFileItemList> Delete Master Reg File List, Cnt = %d",
            CountOf(m_RegFileItemList));
    DeleteItems(m_RegFileItemList);
}

void CSyncEngine::ClearZipFileItemList() {
    TideLog(1, "CSyncEngine::ClearZipFileItemList> Delete Master Zip File List, Cnt = %d",
            CountOf(m_ZipFileItemList));
    DeleteItems(m_ZipFileItemList);
}

void CSyncEngine::ClearZipRegFileItemList() {
    TideLog(1, "CSyncEngine::ClearZipRegFileItemList> Delete Master Zip-Reg File List, Cnt = %d",
            CountOf(m_ZipRegFileItemList));
    DeleteItems(m_ZipRegFileItemList);
}

void CSyncEngine::ClearRegAsmFileItemList() {
    TideLog(1, "CSyncEngine::ClearRegAsmFileItemList> Delete Master Asm File List, Cnt = %d",
            CountOf(m_RegAsmFileItemList));
    DeleteItems(m_RegAsmFileItemList);
}

void CSyncEngine::ClearAllFileItemLists() {
    // Not owned: its items belong to the down list.
    m_ToDownloadFileItemList.clear();
    ClearDownFileItemList();
    ClearRegFileItemList();
    ClearZipFileItemList();
    ClearZipRegFileItemList();
    ClearRegAsmFileItemList();
}

void CSyncEngine::InitListFileItem() {
    g_ListFileItem.m_strSourceFile = m_pCfg->m_strListFileName;
    g_ListFileItem.m_strTargetRel = m_pCfg->m_strListFileName;
    g_ListFileItem.m_strTargetFile = ListFilePath();
    g_ListFileItem.m_nFileType = kFileTypeNormal;
    g_ListFileItem.m_nSysFlag = 2;
}
