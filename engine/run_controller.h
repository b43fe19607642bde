// The run's lifecycle shared by every front end: loads the settings and the
// special folders, creates, starts and stops the engine, and starts the
// development tool when a run has ended well. No windows, no threads of its
// own; the front end calls it from its one user-interface thread.
#pragma once

#include <memory>
#include <string>

#include "engine/sync_front_end.h"

class CSyncEngine;
class CTideApp;
class CTideCfg;
struct UpdatePlan;

// Name of the development tool in the installation folder.
extern const char* const kToolExeName;
// Caption of the updater's own message boxes.
extern const char* const kUpdaterCaption;

class CRunController {
public:
    CRunController();
    ~CRunController();
    CRunController(const CRunController&) = delete;
    CRunController& operator=(const CRunController&) = delete;

    // Special folders, config/Tidewell.ini, the tool name, and either the
    // resource mode's extensions or the shortcut names.
    void LoadSettings(CTideApp& app);
    // True when the INI file was present at LoadSettings.
    bool IniExisted() const { return m_bIniExisted; }
    // No INI file, or a never-saved one still naming the default server.
    bool NeedsFirstSetup() const;
    // After the settings were saved: tool name and shortcut names again.
    void OnSettingsSaved(CTideApp& app);

    enum EStart { kStarted = 0, kInvalidConfig = -1, kEngineFailed = -2, kBusy = -3 };
    // Starts a new run reporting to pFrontEnd->BeginRun(); the engine works
    // on its own copy of the settings, so saving them never races the run.
    // kInvalidConfig after showing the configuration message through it;
    // kBusy while an earlier run's worker is still ending (nothing started:
    // try again once IsWorkerFinished()). Never waits for a worker.
    // With pPlan the run only plans into it (see CSyncEngine::m_pPlan).
    int StartRun(CTideApp& app, ISyncFrontEnd* pFrontEnd, UpdatePlan* pPlan = nullptr);
    // Raises the running engine's stop flag (the Stop button).
    void RequestStop();
    bool HasEngine() const { return m_pSyncEngine != nullptr; }
    // True when there is no engine or its worker has returned.
    bool IsWorkerFinished() const;
    // Empties the special directory map (the run is over), then starts the
    // tool with the installation folder as its one parameter; 0 started.
    int StartDevelopmentTool(CTideApp& app);
    // What the user is told when StartDevelopmentTool failed.
    static std::string ToolNotStartedText(const CTideApp& app);
    void ClearSpecialDirMap();
    // Destroys the engine. A worker still going is asked to stop and given
    // nWaitMs to end; one that does not is given up and the process ends at
    // once with nExitCode, leaving what the worker waits for (a program it
    // started, say) running and every file as it is.
    void EndRun(int nWaitMs = kEndRunWaitMs, int nExitCode = 4);

    // How long EndRun waits by default for a stopped worker.
    static constexpr int kEndRunWaitMs = 5000;

    CTideCfg* GetCfg() const { return m_pCfg.get(); }
    const SpecialDirMap& GetSpecialDirMap() const { return m_mapSpecialDir; }
    const std::string& GetIniPath() const { return m_strIniPath; }

private:
    std::string m_strIniPath;
    bool m_bIniExisted = false;
    SpecialDirMap m_mapSpecialDir;
    std::unique_ptr<CTideCfg> m_pCfg;
    // The run's own copy of the settings; lives as long as its engine.
    std::unique_ptr<CTideCfg> m_pRunCfg;
    std::unique_ptr<CSyncEngine> m_pSyncEngine;
};
