#include "engine/run_controller.h"

#include <strings.h>

#include <vector>

#include "app/message_box.h"
#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "app/tide_globals.h"
#include "engine/sync_engine.h"
#include "engine/target_path.h"
#include "log/my_log.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "util/crypto.h"

// The tool is a native program here, so it carries no ".exe".
const char* const kToolExeName = "Corvid@LoomhallKiro";
const char* const kUpdaterCaption = "Corvid5@LoomhallKiro 업데이트";

namespace {

constexpr unsigned kStopPollMs = 50;

std::string ToolPath(const CTideApp& app) {
    return platform::JoinPath(g_szBaseDir, app.m_strToolExeName);
}

}  // namespace

CRunController::CRunController() = default;

CRunController::~CRunController() = default;

void CRunController::LoadSettings(CTideApp& app) {
    m_mapSpecialDir = LoadSpecialDirMap();
    m_strIniPath = platform::JoinPath(platform::JoinPath(g_szBaseDir, "config"), "Tidewell.ini");
    m_bIniExisted = platform::FileExists(m_strIniPath);
    m_pCfg = std::make_unique<CTideCfg>(m_strIniPath);
    app.m_strToolExeName = kToolExeName;
    if (app.m_bResourceMode != 0) {
        std::string strTypes =
            platform::GetProfileString("RESOURCE", "ALLOW_FILE_TYPE", "", m_strIniPath);
        if (!strTypes.empty())
            app.ParseAllowFileType(strTypes);
    } else {
        UpdateLinkNames(app.m_strProductName, m_pCfg->m_strLinkAppendName);
    }
}

bool CRunController::NeedsFirstSetup() const {
    if (!m_bIniExisted)
        return true;
    return m_pCfg != nullptr && m_pCfg->m_strLastSetupDate.empty() &&
           strcasecmp(m_pCfg->m_strServer.c_str(), kDefaultServerHost) == 0;
}

void CRunController::OnSettingsSaved(CTideApp& app) {
    app.m_strToolExeName = kToolExeName;
    UpdateLinkNames(app.m_strProductName, m_pCfg->m_strLinkAppendName);
}

int CRunController::StartRun(CTideApp& app, ISyncFrontEnd* pFrontEnd, UpdatePlan* pPlan) {
    if (m_pCfg->IsValidConfig() != 1) {
        pFrontEnd->ShowMessageBox("환경 정보가 올바르지 않습니다. 확인하여 주세요...",
                                  kUpdaterCaption, kMbOk);
        return kInvalidConfig;
    }
    std::string strKey;
    if (!m_pCfg->m_strListPublicKey.empty() &&
        !DecodeEd25519PublicKey(m_pCfg->m_strListPublicKey, &strKey)) {
        TideLog(4, "CTideDlg::OnButtonStart> LIST_PUBLIC_KEY is not base64 of a 32-byte key");
        pFrontEnd->ShowMessageBox(
            "설정 파일의 LIST_PUBLIC_KEY가 올바른 공개 키가 아닙니다.\n"
            "(32바이트 Ed25519 공개 키를 base64로 적어야 합니다.) 업데이트를 시작하지 않습니다.",
            kUpdaterCaption, kMbOk | kMbIconError);
        return kInvalidConfig;
    }
    // Two workers at once would share the run's process-wide values.
    if (!IsWorkerFinished())
        return kBusy;
    if (m_pSyncEngine != nullptr) {
        TideLog(1, "CTideDlg::OnButtonStart> Delete Previous Tide Engine");
        m_pSyncEngine.reset();
    }
    TideLog(1, "CTideDlg::OnButtonStart> Create Tide Engine");
    m_pRunCfg = std::make_unique<CTideCfg>(*m_pCfg);
    m_pSyncEngine = std::make_unique<CSyncEngine>();
    m_pSyncEngine->m_dwConnectTimeOut = app.m_dwConnectTimeOut;
    m_pSyncEngine->m_dwSendTimeOut = app.m_dwSendTimeOut;
    m_pSyncEngine->m_dwRecvTimeOut = app.m_dwRecvTimeOut;
    m_pSyncEngine->m_pDlg = pFrontEnd->BeginRun();
    m_pSyncEngine->m_bResourceMode = app.m_bResourceMode;
    m_pSyncEngine->m_pPlan = pPlan;
    int nRet = m_pSyncEngine->InitSyncEngine(m_pRunCfg.get());
    if (nRet < 0) {
        TideLog(1, "CTideDlg::OnButtonStart> Can't Init Sync Engine, RetVal = %d", nRet);
        m_pSyncEngine.reset();
        return kEngineFailed;
    }
    if (m_pSyncEngine->StartSyncThread() != 0) {
        m_pSyncEngine.reset();
        return kEngineFailed;
    }
    return kStarted;
}

void CRunController::RequestStop() {
    if (m_pSyncEngine == nullptr)
        return;
    TideLog(1, "CTideDlg::OnButtonStop> Set m_pSyncEngine->m_nRequestStopFlag = 1");
    m_pSyncEngine->m_nRequestStopFlag = 1;
}

bool CRunController::IsWorkerFinished() const {
    return m_pSyncEngine == nullptr || m_pSyncEngine->IsWorkerFinished();
}

void CRunController::ClearSpecialDirMap() {
    TideLog(1, "CTideExeApp::ClearSpecialDirMap> Map Count = %d",
            static_cast<int>(m_mapSpecialDir.size()));
    m_mapSpecialDir.clear();
}

int CRunController::StartDevelopmentTool(CTideApp& app) {
    ClearSpecialDirMap();
    app.m_strToolExeName = kToolExeName;
    std::string strTool = ToolPath(app);
    // The engine's launcher knows how to start Windows and native programs;
    // a run that ended without an engine borrows a fresh one for it. The
    // folder goes as one word, whatever it holds.
    CSyncEngine launcher;
    CSyncEngine& engine = m_pSyncEngine != nullptr ? *m_pSyncEngine : launcher;
    return engine.StartExeFileByShellExecute(strTool, std::vector<std::string>{g_szBaseDir}, 0) == 0
               ? 0
               : 1;
}

std::string CRunController::ToolNotStartedText(const CTideApp& app) {
    return "'" + ToolPath(app) + "' 프로그램을 실행할 수 없습니다.";
}

void CRunController::EndRun(int nWaitMs, int nExitCode) {
    if (m_pSyncEngine == nullptr)
        return;
    if (!m_pSyncEngine->IsWorkerFinished()) {
        RequestStop();
        uint64_t nDeadline = platform::SystemClock().TickCountMs() + static_cast<uint64_t>(nWaitMs);
        while (!m_pSyncEngine->IsWorkerFinished() &&
               platform::SystemClock().TickCountMs() < nDeadline) {
            platform::SleepMs(kStopPollMs);
        }
        if (!m_pSyncEngine->IsWorkerFinished()) {
            // The worker is stuck outside our control; a thread cannot be
            // ended safely, so the process ends instead of waiting for ever.
            TideLog(3, "CSyncEngine::~CSyncEngine> Terminate QuenbySyncThread Forcely...");
            TideLog(4, "CRunController::EndRun> The worker did not stop; the process ends now.");
            platform::EndProcessNow(nExitCode);
        }
    }
    m_pSyncEngine.reset();
    m_pRunCfg.reset();
}
