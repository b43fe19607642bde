// The check pass and the download pass with several requests at a time
// (PARALLEL_TRANSFERS above 1), on the worker thread through one IHttpBatch.
//
// Each file goes through the same steps as in the one-at-a-time passes
// (download_passes.cc), so its own log lines keep their order; the lines of
// different files may interleave. The check pass takes the HEAD results in
// list order, so the update question comes where it would come one at a
// time; the download pass takes each result as it arrives. The certificate
// question is asked once the requests under way have ended, and the files
// it concerns are asked for again with the answer.
#include <memory>
#include <vector>

#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "engine/sync_engine.h"
#include "log/my_log.h"

namespace {

// What the check pass knows of one item while its HEAD is under way.
// Ends what is still under way when a pass returns early (a stop, the
// user's "not now", an exception), so the next pass starts with none.
class CAbandonAtExit {
public:
    explicit CAbandonAtExit(IHttpBatch& batch) : m_batch(batch) {}
    ~CAbandonAtExit() { m_batch.Abandon(); }
    CAbandonAtExit(const CAbandonAtExit&) = delete;
    CAbandonAtExit& operator=(const CAbandonAtExit&) = delete;

private:
    IHttpBatch& m_batch;
};

struct HeadState {
    bool bNeedHead = false;
    bool bDone = false;     // the HEAD's result is in
    bool bDecided = false;  // taken in and compared; waits for the question
    bool bDiffers = false;
    int nRet = 0;
    std::string strPath;
    std::string strTime;
    uint64_t nSize = 0;
    int nErrCode = 0;
    std::string strErrText;
};

}  // namespace

int CSyncEngine::CheckFilesInParallel(IHttpBatch& batch) {
    CAbandonAtExit abandon(batch);
    CTideApp* pApp = GetTideApp();
    std::vector<FileItem*> vecItems;
    for (auto& pItem : m_DownFileItemList)
        vecItems.push_back(pItem.get());
    size_t n = vecItems.size();
    std::vector<HeadState> vecState(n);
    std::vector<size_t> vecCertFailed;  // items whose HEAD waits for the question
    int nResult = 1;
    bool bPromptPending = true;
    size_t nIssue = 0;
    size_t nTake = 0;

    // Starts the HEAD of item k (or ends it at once when it cannot be sent).
    auto Issue = [&](size_t k, int bIgnoreCert) {
        HeadState& state = vecState[k];
        FileItem& item = *vecItems[k];
        item.m_bSizeUnknown = 0;
        item.m_nGzip = -1;
        state.nErrCode = 0;
        state.strErrText.clear();
        HttpRequest request;
        if (PrepareHead(state.strPath, bIgnoreCert, &request) != 0) {
            state.nRet = -1;
            state.bDone = true;
            return;
        }
        batch.Start(k, request);
    };

    for (;;) {
        // Take the items whose results are in, in list order.
        while (nTake < nIssue) {
            HeadState& state = vecState[nTake];
            FileItem& item = *vecItems[nTake];
            if (state.bNeedHead && !state.bDone)
                break;
            if (!state.bDecided) {
                ShowCheckProgress(static_cast<int>(nTake + 1), static_cast<int>(n));
                if (item.m_bUnsafeTarget != 0) {
                    TakeUnsafeItem(item, &nResult);
                    if (m_nRequestStopFlag != 0)
                        return nResult;
                    ++nTake;
                    continue;
                }
                bool bKnown =
                    !state.bNeedHead ||
                    TakeServerFileInfo(item, state.nRet, state.strTime, state.nSize, &nResult);
                state.bDiffers = bKnown && DecideOnItem(item);
                state.bDecided = true;
            }
            if (state.bDiffers) {
                // The question waits for the requests under way: while it is
                // open nothing moves, and their time-outs would run out.
                if (bPromptPending && batch.Running() > 0)
                    break;
                if (int nChoice = QueueDownload(item, &bPromptPending); nChoice != 0)
                    return nChoice;
            }
            if (m_nRequestStopFlag != 0) {
                LogStopRequest("CSyncEngine::DownloadFilesInListFromServer");
                return nResult;
            }
            ++nTake;
        }
        if (nTake == n)
            return nResult;
        if (m_nRequestStopFlag != 0 && batch.Running() == 0 && vecCertFailed.empty()) {
            LogStopRequest("CSyncEngine::DownloadFilesInListFromServer");
            return nResult;
        }

        bool bQuestionWaits =
            nTake < nIssue && vecState[nTake].bDecided && vecState[nTake].bDiffers;
        bool bHold = bQuestionWaits || !vecCertFailed.empty() || m_nRequestStopFlag != 0;
        while (!bHold && nIssue < n && batch.Running() < batch.Capacity()) {
            size_t k = nIssue++;
            vecState[k].bNeedHead = NeedsServerInfo(*vecItems[k]);
            if (vecState[k].bNeedHead) {
                vecState[k].strPath = ServerInfoPath(*vecItems[k]);
                Issue(k, pApp->m_bIgnoreCertError);
            }
        }
        if (batch.Running() == 0 && !vecCertFailed.empty()) {
            const HeadState& first = vecState[vecCertFailed.front()];
            bool bRetry = AskCertificateQuestion(first.nErrCode, first.strErrText);
            for (size_t k : vecCertFailed) {
                if (bRetry) {
                    TideLog(
                        2, "CSyncEngine::DownloadFilesInListFromServer> Retry GetServerFileInfo()");
                    pApp->m_bIgnoreCertError = 1;
                    Issue(k, 1);
                } else {
                    vecState[k].bDone = true;
                }
            }
            vecCertFailed.clear();
            continue;
        }
        if (batch.Running() == 0)
            continue;  // items issued without a request are taken above

        std::vector<HttpBatchResult> vecDone;
        batch.Wait(&vecDone);
        for (HttpBatchResult& done : vecDone) {
            HeadState& state = vecState[done.nTag];
            FileItem& item = *vecItems[done.nTag];
            state.nRet =
                FinishHead(state.strPath, done.response, &state.strTime, &state.nSize,
                           &state.nErrCode, &state.strErrText, &item.m_bSizeUnknown, &item.m_nGzip);
            if (IsCertRetryCase(state.nRet, state.nErrCode)) {
                vecCertFailed.push_back(done.nTag);
            } else {
                state.bDone = true;
            }
        }
    }
}

int CSyncEngine::DownloadFilesInParallel(IHttpBatch& batch) {
    CAbandonAtExit abandon(batch);
    CTideApp* pApp = GetTideApp();
    std::vector<FileItem*> vecItems(m_ToDownloadFileItemList.begin(),
                                    m_ToDownloadFileItemList.end());
    size_t n = vecItems.size();
    std::vector<std::unique_ptr<PreparedDownload>> vecGets(n);
    std::vector<bool> vecTaken(n, false);
    std::vector<bool> vecRestarted(n, false);
    struct CertFailure {
        size_t k;
        int nRet;
        int nErrCode;
        std::string strErrText;
    };
    std::vector<CertFailure> vecCertFailed;
    int nResult = 1;
    int nTaken = 0;
    size_t nIssue = 0;
    bool bStopLogged = false;

    auto Take = [&](size_t k, int nRet) {
        ShowDownloadProgress(++nTaken, static_cast<int>(n));
        TakeDownloadResult(*vecItems[k], nRet, &nResult);
        vecTaken[k] = true;
        if (m_nRequestStopFlag != 0 && !bStopLogged) {
            bStopLogged = true;
            LogStopRequest("CSyncEngine::ProcDownloadFilesInListFromServer");
        }
    };
    auto Issue = [&](size_t k, int bIgnoreCert) {
        auto pGet = std::make_unique<PreparedDownload>();
        int nRet = PrepareDownload(*vecItems[k], bIgnoreCert, pGet.get());
        if (nRet != 0) {
            Take(k, nRet);
            return;
        }
        batch.Start(k, pGet->request);
        vecGets[k] = std::move(pGet);
    };

    for (;;) {
        while (vecCertFailed.empty() && m_nRequestStopFlag == 0 && nIssue < n &&
               batch.Running() < batch.Capacity()) {
            Issue(nIssue++, pApp->m_bIgnoreCertError);
        }
        if (batch.Running() == 0) {
            if (vecCertFailed.empty())
                break;
            bool bRetry = AskCertificateQuestion(vecCertFailed.front().nErrCode,
                                                 vecCertFailed.front().strErrText);
            for (const CertFailure& failure : vecCertFailed) {
                if (bRetry && m_nRequestStopFlag == 0) {
                    TideLog(2,
                            "CSyncEngine::ProcDownloadFilesInListFromServer> Retry "
                            "DownloadOneFileFromServer()");
                    pApp->m_bIgnoreCertError = 1;
                    Issue(failure.k, 1);
                } else {
                    Take(failure.k, failure.nRet);
                }
            }
            vecCertFailed.clear();
            continue;
        }
        std::vector<HttpBatchResult> vecDone;
        batch.Wait(&vecDone);
        for (HttpBatchResult& done : vecDone) {
            size_t k = done.nTag;
            int nErrCode = 0;
            std::string strErrText;
            int nRet =
                FinishDownload(*vecItems[k], *vecGets[k], done.response, &nErrCode, &strErrText);
            if (nRet == kDownloadStartOver && !vecRestarted[k]) {
                // The part kept does not continue the server's file: once more, whole.
                vecRestarted[k] = true;
                RestartDownload(*vecItems[k], vecGets[k].get());
                batch.Start(k, vecGets[k]->request);
                continue;
            }
            vecGets[k].reset();
            if (IsCertRetryCase(nRet, nErrCode)) {
                vecCertFailed.push_back(CertFailure{k, nRet, nErrCode, strErrText});
            } else {
                Take(k, nRet);
            }
        }
    }
    // The post-processing lists keep the list's order, as one at a time.
    for (size_t k = 0; k < n; ++k) {
        if (vecTaken[k] && vecItems[k]->m_bDownloaded == 1)
            AddPostProcessCopy(*vecItems[k]);
    }
    return nResult;
}
