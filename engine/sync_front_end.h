// Everything the engine's worker asks of the front end that runs it (the Qt
// main dialog or the console). All calls come from the worker thread; an
// implementation must be safe for that, and the questions block the worker
// until answered.
#pragma once

#include <map>
#include <string>

// Folders behind the special keys of target paths ("_FONTS", ...).
using SpecialDirMap = std::map<std::string, std::string>;

// The end-of-run codes.
enum : int {
    kSyncEndDone = 0,         // finished; the user may go on
    kSyncEndNoListFile = 2,   // the list file could not be obtained
    kSyncEndUserAbort = 3,    // the user chose not to go on after failures
};

class ISyncFrontEnd {
public:
    virtual ~ISyncFrontEnd() = default;

    virtual void SetStatusText(const std::string& strText) = 0;
    // current * 100 / total percent; (0, 0) is 0 %.
    virtual void SetProgress(int nCurrent, int nTotal) = 0;
    virtual void AdvanceStage() = 0;
    // 0 % and an empty status text.
    virtual void ResetProgress() = 0;
    // Leaves the running state and raises the engine's stop flag.
    virtual void OnButtonStop() = 0;
    // A modal message box owned by the window; returns the answer.
    virtual int ShowMessageBox(const std::string& strText, const std::string& strCaption,
                               unsigned nStyle) = 0;
    // The update prompt: kIdYes update now, kIdNo not now, kIdCancel stop.
    virtual int AskUpdate() = 0;
    virtual void HideWindow() = 0;
    // The run is over (WM_SYNC_END); never called for a stopped run.
    virtual void PostSyncEnd(int nCode) = 0;
    // The special directory map the window loaded at start.
    virtual const SpecialDirMap& GetSpecialDirMap() = 0;

    // Called on the front end's own thread. A new run is about to start:
    // whatever earlier runs still send is dropped from now on and their open
    // questions are answered with "no". Returns what the new run's engine
    // reports to; a front end that serves one run only returns itself.
    virtual ISyncFrontEnd* BeginRun() { return this; }
    // The same dropping without a new run (a run given up before its end).
    virtual void AbandonRun() {}
};
