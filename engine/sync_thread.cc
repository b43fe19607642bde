// One whole update run on the engine's worker thread, in its fixed order,
// ending with the end-of-run code the front end acts on.
#include "app/message_box.h"
#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "app/tide_globals.h"
#include "engine/sync_engine.h"
#include "log/my_log.h"
#include "platform/system_error.h"
#include "platform/windows_side.h"
#include "util/sock_util.h"

namespace {

const char* const kDownloadComplete = "프로그램 다운로드 완료";

// "Some downloads failed; go on?" Only Yes counts as yes.
bool AskGoOnDespiteFailures(ISyncFrontEnd* pDlg) {
    std::string strText =
        "모든 다운로드 과정을 완료했지만,\n\n"
        "일부 다운로드에 실패한 파일들이 있습니다.\n\n"
        "계속 진행하시겠습니까?\n\n"
        "계속 진행하실 경우 시스템이 정상적으로 동작하지 않을수도 있습니다.";
    return pDlg->ShowMessageBox(strText, "오류 확인",
                                kMbYesNo | kMbIconQuestion | kMbDefButton2) == kIdYes;
}

}  // namespace

int CSyncEngine::GetAndDisplaySystemInfo() {
    std::string strWindows = platform::GetWindowsFolder();
    if (strWindows.empty()) {
        int nError = platform::GetLastSystemError();
        TideLog(4, "CSyncEngine::GetAndDisplaySystemInfo> GetWindowsDirectory() Fail, ErrCode = %d",
                nError);
        if (g_pMyLog != nullptr) g_pMyLog->LogLastErrorText();
        return -1;
    }
    std::string strSystem = platform::GetSystemFolder();
    if (strSystem.empty()) {
        int nError = platform::GetLastSystemError();
        TideLog(4, "CSyncEngine::GetAndDisplaySystemInfo> GetSystemDirectory() Fail, ErrCode = %d",
                nError);
        if (g_pMyLog != nullptr) g_pMyLog->LogLastErrorText();
        return -2;
    }
    g_szWindowsDir = strWindows;
    g_szSystemDir = strSystem;
    TideLog(1, "CSyncEngine::GetAndDisplaySystemInfo> Windows Directory : %s", strWindows.c_str());
    TideLog(1, "CSyncEngine::GetAndDisplaySystemInfo> System Directory : %s", strSystem.c_str());
    CSockUtil::GetLocalIpAddr(&m_szLocalIp);
    TideLog(1, "CSyncEngine::GetAndDisplaySystemInfo> Local IP Addr : %s", m_szLocalIp.c_str());
    return 0;
}

int CSyncEngine::SyncThreadMain(CSyncEngine* pEngine) {
    CSyncEngine& e = *pEngine;
    ISyncFrontEnd* pDlg = e.m_pDlg;
    int nAllSequenceSuccessFlag = 1;

    TideLog(1, "SyncThreadMain::Start Thread Main Function, Set m_nNowRunningFlag = 1");
    e.m_nNowRunningFlag = 1;

    if (e.GetAndDisplaySystemInfo() < 0) {
        e.m_nNowRunningFlag = 0;
        return -1;
    }
    e.InitListFileItem();

    if (e.GetServerFileInfo(g_ListFileItem) < 0) {
        std::string strLines =
            "리스트 파일 정보를 가져오는 도중에 오류가 발생했습니다.\n"
            "더이상 진행하지 못하고 종료합니다.\n"
            "긴급 상황인 경우, 아래의 메뉴를 선택하여 프로그램을 기동하십시요.\n";
        std::string strText = strLines + "메뉴 경로 : 프로그램->" + kProgramGroupName + "->" +
                              e.m_strLinkName + " - 다운로드 장애시";
        pDlg->ShowMessageBox(strText, "오류", kMbOk | kMbIconError);
        e.m_nNowRunningFlag = 0;
        TideLog(1, "SyncThreadMain::Exit Thread Main Function By Failure...");
        pDlg->PostSyncEnd(kSyncEndNoListFile);
        return 0;
    }

    if (e.DownloadAndMergeListFile() < 0) {
        pDlg->ShowMessageBox(
            "리스트 파일을 가져오는 도중에 오류가 발생했습니다.\r\n잠시후에 재시도 하여 주십시요.",
            "오류", kMbOk | kMbIconError);
        pDlg->SetStatusText("");
        pDlg->PostSyncEnd(kSyncEndNoListFile);
        e.m_nNowRunningFlag = 0;
        TideLog(1, "SyncThreadMain::Exit Thread Main Function By Failure.");
        return 0;
    }

    pDlg->AdvanceStage();
    int r = e.DownloadFilesInListFromServer();
    pDlg->AdvanceStage();
    if (e.m_nRequestStopFlag != 0) {
        // Stopped while checking: a check cut short is no failure to ask about.
        e.m_nNowRunningFlag = 0;
        TideLog(1, "SyncThreadMain::Exit Thread Main Function By Stop....");
        return 0;
    }
    if (r < 1) {
        nAllSequenceSuccessFlag = 0;
    } else if (r == 1) {
        int s = e.ProcDownloadFilesInListFromServer();
        if (e.m_nRequestStopFlag != 0) {
            // The transfer the stop cut short is no failure to ask about:
            // the user asked for no more, so neither a question nor the tool.
            e.m_nNowRunningFlag = 0;
            TideLog(1, "SyncThreadMain::Exit Thread Main Function By Stop....");
            return 0;
        }
        if (s < 1) {
            int nCode = kSyncEndUserAbort;
            if (AskGoOnDespiteFailures(pDlg)) {
                pDlg->HideWindow();
                nCode = kSyncEndDone;
            }
            e.m_nNowRunningFlag = 0;
            TideLog(1, "SyncThreadMain::Exit Thread Main Function By Failure....");
            pDlg->PostSyncEnd(nCode);
            return 0;
        }
    } else if (r == 2) {
        e.m_nNowRunningFlag = 0;
        TideLog(1, "SyncThreadMain::Exit Thread Main Function By Normal....");
        pDlg->PostSyncEnd(kSyncEndDone);
        return 0;
    } else if (r == 3) {
        e.m_nNowRunningFlag = 0;
        e.m_nRequestStopFlag = 1;
        pDlg->OnButtonStop();
        return 0;
    }

    if (e.m_bResourceMode == 1) {
        e.CommitListVersion();
        pDlg->SetStatusText(kDownloadComplete);
        TideLog(1, "SyncThreadMain::nAllSequenceSuccessFlag = %d", nAllSequenceSuccessFlag);
        pDlg->HideWindow();
        e.m_nNowRunningFlag = 0;
        TideLog(1, "SyncThreadMain::Exit Thread Main Function By Normal....");
        pDlg->PostSyncEnd(kSyncEndDone);
        return 0;
    }

    e.HandleRegistryTypeFiles();
    bool bAlways = e.m_pCfg != nullptr && e.m_pCfg->m_bAlwaysRegistry != 0;
    int nRegResult = bAlways ? e.HandleRegisterTypeFilesByRegSvr32(e.m_RegFileItemList)
                             : e.HandleRegisterTypeFilesByRegSvr32(e.m_ToDownloadFileItemList);
    if (nRegResult < 0) nAllSequenceSuccessFlag = 0;
    e.HandleDeleteTypeFiles();
    if (e.HandleFontTypeFiles() < 0) nAllSequenceSuccessFlag = 0;
    if (e.HandleZipTypeFiles(e.m_ZipFileItemList) < 0) nAllSequenceSuccessFlag = 0;
    if (e.HandleZipRegTypeFiles(e.m_ZipRegFileItemList) < 0) nAllSequenceSuccessFlag = 0;
    if (e.HandleRegisterTypeFilesByRegAsm(e.m_RegAsmFileItemList) < 0) nAllSequenceSuccessFlag = 0;
    e.HandleExecuteTypeFiles();
    if (e.m_nRequestStopFlag != 0) {
        // Stopped while programs ran (their waits end at once): the user
        // asked for no more, so neither a question nor the tool follows.
        e.m_nNowRunningFlag = 0;
        TideLog(1, "SyncThreadMain::Exit Thread Main Function By Stop....");
        return 0;
    }

    e.CommitListVersion();
    pDlg->SetStatusText(kDownloadComplete);
    TideLog(1, "SyncThreadMain::Register Download Info Complete....");
    TideLog(1, "SyncThreadMain::nAllSequenceSuccessFlag = %d", nAllSequenceSuccessFlag);

    int nCode = kSyncEndDone;
    if (nAllSequenceSuccessFlag == 1) {
        TideLog(1, "SyncThreadMain::Hide CTideDlg");
        pDlg->HideWindow();
    } else if (AskGoOnDespiteFailures(pDlg)) {
        pDlg->HideWindow();
    } else {
        nCode = kSyncEndUserAbort;
    }
    e.m_nNowRunningFlag = 0;
    TideLog(1, "SyncThreadMain::Exit Thread Main Function By Normal....");
    pDlg->PostSyncEnd(nCode);
    return 0;
}
