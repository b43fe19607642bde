// The check pass and the download pass over the list file's items.
#include <exception>
#include <set>
#include <vector>

#include "app/message_box.h"
#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "engine/leftovers.h"
#include "engine/resume.h"
#include "engine/sync_engine.h"
#include "log/my_log.h"
#include "platform/file_system.h"
#include "platform/system_error.h"

namespace {

const char* const kCheckingServer = "서버로부터 파일 확인 중...";
const char* const kCheckingTargets = "다운로드 대상파일 확인 중...";
const char* const kDownloading = "서버로부터 파일 다운로드 중...";

// A copy of a downloaded item for the post-processing lists.
std::unique_ptr<FileItem> PostProcessCopy(const FileItem& item) {
    auto pCopy = std::make_unique<FileItem>();
    pCopy->m_bDownloaded = 1;
    pCopy->m_nSysFlag = item.m_nSysFlag;
    pCopy->m_nFileType = item.m_nFileType;
    pCopy->m_strFileSize = item.m_strFileSize;
    pCopy->m_strModifyTime = item.m_strModifyTime;
    pCopy->m_strSourceFile = item.m_strSourceFile;
    pCopy->m_strTargetFile = item.m_strTargetFile;
    pCopy->m_bSizeUnknown = item.m_bSizeUnknown;
    pCopy->m_nGzip = item.m_nGzip;
    pCopy->m_bSizeEncoded = item.m_bSizeEncoded;
    return pCopy;
}

}  // namespace

void CSyncEngine::LogStopRequest(const char* pszFunc) const {
    TideLog(1, "%s> m_nRequestStopFlag = %d", pszFunc, m_nRequestStopFlag.load());
}

bool CSyncEngine::IsCertRetryCase(int nRet, int nErrCode) const {
    CTideApp* pApp = GetTideApp();
    return nRet < 0 && pApp != nullptr && m_pCfg != nullptr && m_pCfg->m_nHttpsMode == 2 &&
           pApp->m_bIgnoreCertError == 0 && CTideApp::IsCertificateError(nErrCode) != 0;
}

void CSyncEngine::ShowCheckProgress(int nDone, int nCount) {
    m_pDlg->SetProgress(nDone, nCount);
    m_pDlg->SetStatusText(kCheckingTargets);
}

void CSyncEngine::ShowDownloadProgress(int nDone, int nCount) {
    m_pDlg->SetProgress(nDone, nCount);
    m_pDlg->SetStatusText(kDownloading);
}

bool CSyncEngine::NeedsServerInfo(const FileItem& item) {
    // A delete record asks nothing of the server: its file is usually gone
    // there, and a failed HEAD would fail the whole check pass.
    if (item.m_bUnsafeTarget != 0 || item.m_nFileType == kFileTypeDel)
        return false;
    return item.m_bSizeUnknown == 1 ? item.m_strModifyTime.empty()
                                    : (item.m_strFileSize.empty() || item.m_strModifyTime.empty());
}

std::string CSyncEngine::ServerInfoPath(const FileItem& item) const {
    std::string strPath = m_pCfg->m_strBaseUrl + "/" + item.m_strSourceFile;
    for (char& c : strPath) {
        if (c == '\\')
            c = '/';
    }
    TideLog(1, "CSyncEngine::DownloadFilesInListFromServer> URL = %s", strPath.c_str());
    return strPath;
}

void CSyncEngine::TakeUnsafeItem(FileItem& item, int* pnResult) {
    // Refused when the list was read: a failed file, never touched.
    item.m_bDownloaded = 0;
    item.m_nDownloadReason = kReasonUnchecked;
    if (item.m_bPassOnFail == 0)
        *pnResult = 0;
}

bool CSyncEngine::TakeServerFileInfo(FileItem& item, int nRet, const std::string& strTime,
                                     uint64_t nSize, int* pnResult) {
    if (nRet != 0) {
        item.m_bDownloaded = 0;
        item.m_nDownloadReason = kReasonUnchecked;
        TideLog(4,
                "CSyncEngine::DownloadFilesInListFromServer> GetServerFileInfo() Fail, "
                "RetVal = %d",
                nRet);
        if (item.m_bPassOnFail == 0)
            *pnResult = 0;
        return false;
    }
    item.m_strModifyTime = strTime;
    if (item.m_bSizeUnknown == 0) {
        item.m_strFileSize = std::to_string(nSize);
        item.m_bSizeEncoded = item.m_nGzip == 1 ? 1 : 0;
        TideLog(1,
                "CSyncEngine::DownloadFilesInListFromServer> Server File ModifyTime "
                "= %s, FileSize = %s",
                item.m_strModifyTime.c_str(), item.m_strFileSize.c_str());
    } else {
        TideLog(1,
                "CSyncEngine::DownloadFilesInListFromServer> Server File ModifyTime "
                "= %s, FileSize = unknown",
                item.m_strModifyTime.c_str());
    }
    return true;
}

bool CSyncEngine::DecideOnItem(FileItem& item) {
    if (IsFileToDownload(item) != 0)
        return true;
    TideLog(1,
            "CSyncEngine::DownloadFilesInListFromServer> '%s' >> The file is the "
            "same as the server.",
            item.m_strTargetFile.c_str());
    return false;
}

int CSyncEngine::AskUpdateOnce(bool* pbPromptPending) {
    CTideApp* pApp = GetTideApp();
    // A plan asks nothing: it lists every file.
    if (pApp->m_bResourceMode != 0 || !*pbPromptPending || m_pPlan != nullptr)
        return 0;
    *pbPromptPending = false;
    int nChoice = m_pDlg->AskUpdate();
    if (nChoice == kIdNo)
        return 2;
    if (nChoice == kIdCancel)
        return 3;
    return 0;
}

int CSyncEngine::QueueDownload(FileItem& item, bool* pbPromptPending) {
    int nChoice = AskUpdateOnce(pbPromptPending);
    if (nChoice == 0)
        m_ToDownloadFileItemList.push_back(&item);
    return nChoice;
}

int CSyncEngine::DownloadFilesInListFromServer() {
    CTideApp* pApp = GetTideApp();
    if (pApp == nullptr || m_pCfg == nullptr)
        return -1;
    try {
        TideLog(1, "CSyncEngine::DownloadFilesInListFromServer> Start Download From Server(%s, %d)",
                m_pCfg->m_strServer.c_str(), m_pCfg->m_nPort);
        m_pDlg->SetStatusText(kCheckingServer);
        int n = static_cast<int>(m_DownFileItemList.size());
        TideLog(1, "CSyncEngine::DownloadFilesInListFromServer> Total File Count = %d", n);
        if (n < 1)
            return 1;
        if (IHttpBatch* pBatch = StartBatch())
            return CheckFilesInParallel(*pBatch);

        int nResult = 1;
        bool bPromptPending = true;
        int i = 0;
        for (auto& pItem : m_DownFileItemList) {
            FileItem& item = *pItem;
            ++i;
            ShowCheckProgress(i, n);

            if (item.m_bUnsafeTarget != 0) {
                TakeUnsafeItem(item, &nResult);
                if (m_nRequestStopFlag != 0)
                    return nResult;
                continue;
            }
            bool bKnown = true;
            if (NeedsServerInfo(item)) {
                std::string strPath = ServerInfoPath(item);
                std::string strTime;
                uint64_t nSize = 0;
                int nErrCode = 0;
                std::string strErrText;
                int nRet =
                    GetServerFileInfo(strPath, &strTime, &nSize, pApp->m_bIgnoreCertError,
                                      &nErrCode, &strErrText, &item.m_bSizeUnknown, &item.m_nGzip);
                if (IsCertRetryCase(nRet, nErrCode) &&
                    AskCertificateQuestion(nErrCode, strErrText)) {
                    TideLog(
                        2, "CSyncEngine::DownloadFilesInListFromServer> Retry GetServerFileInfo()");
                    pApp->m_bIgnoreCertError = 1;
                    nRet = GetServerFileInfo(strPath, &strTime, &nSize, 1, &nErrCode, &strErrText,
                                             &item.m_bSizeUnknown, &item.m_nGzip);
                }
                bKnown = TakeServerFileInfo(item, nRet, strTime, nSize, &nResult);
            }
            if (bKnown && DecideOnItem(item)) {
                if (int nChoice = QueueDownload(item, &bPromptPending); nChoice != 0)
                    return nChoice;
            }
            if (m_nRequestStopFlag != 0) {
                LogStopRequest("CSyncEngine::DownloadFilesInListFromServer");
                return nResult;
            }
        }
        return nResult;
    } catch (const std::exception& e) {
        TideLog(1, "CSyncEngine::DownloadFilesInListFromServer> Error : %s", e.what());
        return -2;
    }
}

void CSyncEngine::RemoveLeftovers() {
    // Every folder a listed file goes to, besides the installation's tree.
    std::set<std::string> setFolders;
    for (const auto& pItem : m_DownFileItemList) {
        if (pItem->m_bUnsafeTarget != 0)
            continue;
        size_t nSep = pItem->m_strTargetFile.find_last_of(platform::kPathSep);
        if (nSep != std::string::npos && nSep > 0)
            setFolders.insert(pItem->m_strTargetFile.substr(0, nSep));
    }
    // Parts of large files this run is about to fetch are resumed, not swept.
    std::set<std::string> setKeep;
    for (const FileItem* pItem : m_ToDownloadFileItemList) {
        if (ResumableSize(*pItem) > 0) {
            setKeep.insert(PartPathOf(pItem->m_strTargetFile));
            setKeep.insert(PartMetaPathOf(pItem->m_strTargetFile));
        }
    }
    std::string strRoot = m_pCfg->m_strLocalBaseDir;
    while (strRoot.size() > 1 && strRoot.back() == platform::kPathSep)
        strRoot.pop_back();
    int nRemoved = RemoveLeftoverTempFiles(strRoot, setFolders, setKeep);
    if (nRemoved > 0) {
        TideLog(2, "CSyncEngine::ProcDownloadFilesInListFromServer> %d leftover file(s) removed",
                nRemoved);
    }
}

void CSyncEngine::TakeDownloadResult(FileItem& item, int nRet, int* pnResult) {
    if (nRet >= 0) {
        item.m_bDownloaded = 1;
        return;
    }
    item.m_bDownloaded = 0;
    TideLog(1,
            "CSyncEngine::ProcDownloadFilesInListFromServer> "
            "DownloadFilesInListFromServer() Fail, RetVal = %d",
            nRet);
    // The download went to a temporary file that is gone now, so
    // the local copy is still whole: keep it, the next run tries again.
    TideLog(3, "CSyncEngine::ProcDownloadFilesInListFromServer> Keep Local File = %s",
            item.m_strTargetFile.c_str());
    if (item.m_bPassOnFail == 0)
        *pnResult = 0;
}

void CSyncEngine::AddPostProcessCopy(const FileItem& item) {
    if (item.m_nFileType == kFileTypeZip) {
        m_ZipFileItemList.push_back(PostProcessCopy(item));
    } else if (item.m_nFileType == kFileTypeZipReg) {
        m_ZipRegFileItemList.push_back(PostProcessCopy(item));
    } else if (item.m_nFileType == kFileTypeAsm) {
        m_RegAsmFileItemList.push_back(PostProcessCopy(item));
    }
}

IHttpBatch* CSyncEngine::StartBatch() {
    int nParallel = m_pCfg != nullptr ? m_pCfg->m_nParallelTransfers : 1;
    if (nParallel <= 1 || !m_pHttpConnection)
        return nullptr;
    // One batch for both passes, so the download pass goes on the check
    // pass's connections.
    if (!m_pBatch) {
        m_pBatch = m_pHttpConnection->StartBatch(static_cast<size_t>(nParallel));
        // Not fatal: the files then go one at a time.
        if (!m_pBatch)
            TideLog(3, "CSyncEngine::StartBatch> No parallel transfers; one at a time");
    }
    return m_pBatch.get();
}

int CSyncEngine::ProcDownloadFilesInListFromServer() {
    if (m_nRequestStopFlag != 0)
        return 1;
    CTideApp* pApp = GetTideApp();
    if (pApp == nullptr || m_pCfg == nullptr)
        return -1;
    try {
        TideLog(
            1, "CSyncEngine::ProcDownloadFilesInListFromServer> Start Download From Server(%s, %d)",
            m_pCfg->m_strServer.c_str(), m_pCfg->m_nPort);
        m_pDlg->SetStatusText(kDownloading);
        RemoveLeftovers();
        int n = static_cast<int>(m_ToDownloadFileItemList.size());
        TideLog(1, "CSyncEngine::ProcDownloadFilesInListFromServer> Total File Count = %d", n);
        if (n < 1)
            return 1;

        int nResult = 1;
        if (IHttpBatch* pBatch = StartBatch()) {
            nResult = DownloadFilesInParallel(*pBatch);
        } else {
            int i = 0;
            for (FileItem* pItem : m_ToDownloadFileItemList) {
                FileItem& item = *pItem;
                ++i;
                ShowDownloadProgress(i, n);

                int nErrCode = 0;
                std::string strErrText;
                int nRet = DownloadOneFileFromServer(item, pApp->m_bIgnoreCertError, &nErrCode,
                                                     &strErrText, i, n);
                if (IsCertRetryCase(nRet, nErrCode) &&
                    AskCertificateQuestion(nErrCode, strErrText)) {
                    TideLog(2,
                            "CSyncEngine::ProcDownloadFilesInListFromServer> Retry "
                            "DownloadOneFileFromServer()");
                    pApp->m_bIgnoreCertError = 1;
                    nRet = DownloadOneFileFromServer(item, 1, &nErrCode, &strErrText, i, n);
                }
                TakeDownloadResult(item, nRet, &nResult);
                if (item.m_bDownloaded == 1)
                    AddPostProcessCopy(item);
                if (m_nRequestStopFlag != 0) {
                    LogStopRequest("CSyncEngine::ProcDownloadFilesInListFromServer");
                    break;
                }
            }
        }
        // What was written reaches the disk before the run reports it.
        std::vector<std::string> vecWritten;
        for (const FileItem* pItem : m_ToDownloadFileItemList) {
            if (pItem->m_bDownloaded == 1)
                vecWritten.push_back(pItem->m_strTargetFile);
        }
        SyncFileSystemsOf(vecWritten);
        return nResult;
    } catch (const std::exception& e) {
        TideLog(1, "CSyncEngine::ProcDownloadFilesInListFromServer> Error : %s", e.what());
        return -2;
    }
}
