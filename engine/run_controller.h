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

    enum EStart { kStarted = 0, kInvalidConfig = -1, kEngineFailed = -2 };
    // Destroys a previous engine and starts a new run reporting to pFrontEnd.
    // kInvalidConfig after showing the configuration message through it.
    int StartRun(CTideApp& app, ISyncFrontEnd* pFrontEnd);
    // Raises the running engine's stop flag (the Stop button).
    void RequestStop();
    bool HasEngine() const { return m_pSyncEngine != nullptr; }
    // True when there is no engine or its worker has returned.
    bool IsWorkerFinished() const;
    // Starts the tool with the installation folder as its parameter; 0 started.
    int StartDevelopmentTool(CTideApp& app);
    // Destroys the engine, waiting for its worker.
    void EndRun();

    CTideCfg* GetCfg() const { return m_pCfg.get(); }
    const SpecialDirMap& GetSpecialDirMap() const { return m_mapSpecialDir; }
    const std::string& GetIniPath() const { return m_strIniPath; }

private:
    std::string m_strIniPath;
    bool m_bIniExisted = false;
    SpecialDirMap m_mapSpecialDir;
    std::unique_ptr<CTideCfg> m_pCfg;
    std::unique_ptr<CSyncEngine> m_pSyncEngine;
};
