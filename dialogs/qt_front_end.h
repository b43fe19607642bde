// The window front end: runs the main dialog for the application and takes
// the engine worker's calls. Progress calls are queued to the window; the
// questions and message boxes are shown on the GUI thread while the worker
// waits for the answer.
//
// Each run reports through a channel of its own (BeginRun). Everything a
// channel sends carries its run's number and is dropped on the GUI thread
// once another run has begun or the run was given up, so an ended run can
// neither hide the window nor start the tool during the next one, and its
// open question is closed with its "no" answer. Once the window is closing,
// every question is answered at once the same way.
#pragma once

#include <QPointer>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/app_front_end.h"
#include "engine/sync_front_end.h"

#include "dialogs/tide_dlg.h"

class QDialog;

class CQtFrontEnd : public IAppFrontEnd, public ISyncFrontEnd {
public:
    CQtFrontEnd();
    ~CQtFrontEnd() override;

    // IAppFrontEnd, GUI thread.
    int ShowMessageBox(const std::string& strText, const std::string& strCaption,
                       unsigned nStyle) override;
    int RunMainDialog(CTideApp& app) override;

    // ISyncFrontEnd, from the engine's worker; these calls belong to the
    // run that is current when they arrive.
    void SetStatusText(const std::string& strText) override;
    void SetProgress(int nCurrent, int nTotal) override;
    void AdvanceStage() override;
    void ResetProgress() override;
    void OnButtonStop() override;
    int AskUpdate() override;
    void HideWindow() override;
    void PostSyncEnd(int nCode) override;
    const SpecialDirMap& GetSpecialDirMap() override;
    // GUI thread.
    ISyncFrontEnd* BeginRun() override;
    void AbandonRun() override;

    // The main dialog while RunMainDialog runs (or after CreateMainDialog).
    CTideDlg* GetMainDialog() const { return m_pDlg; }
    // Makes the dialog without running it, for callers that drive it.
    CTideDlg* CreateMainDialog(CTideApp& app);
    // Answers pending and later questions with "no" and joins the run.
    void Shutdown();

private:
    class CRunChannel;
    class CCallWaker;
    // Run number of calls that belong to whichever run is current.
    static constexpr unsigned kCurrentRun = 0;

    // Queues fn to the GUI thread, dropped there if nRun has ended.
    template <typename Fn>
    void Post(unsigned nRun, Fn fn);
    // Runs fn on the GUI thread and returns its answer; nDefault when
    // closing or when nRun has ended.
    template <typename Fn>
    int Ask(unsigned nRun, Fn fn, int nDefault);
    bool IsEnded(unsigned nRun) const { return nRun != kCurrentRun && nRun != m_nRun; }
    // Any thread: adds a call for the GUI thread and wakes it.
    void Queue(std::function<void()> fnCall);
    // GUI thread: runs the queued calls in order; once the window is gone
    // they are dropped (a dropped question gives its "no" answer).
    void RunQueuedCalls();
    int ShowBox(unsigned nRun, const std::string& strText, const std::string& strCaption,
                unsigned nStyle);
    int ShowPrompt(unsigned nRun);

    std::unique_ptr<CTideDlg> m_pOwnedDlg;
    QPointer<CTideDlg> m_pDlg;
    SpecialDirMap m_mapEmpty;
    std::atomic<bool> m_bClosing{false};
    // The current run's number and its question on screen; GUI thread only.
    unsigned m_nRun = 0;
    QPointer<QDialog> m_pQuestion;
    // Channels live as long as the front end: a worker that has not ended
    // yet may still call its own.
    std::vector<std::unique_ptr<CRunChannel>> m_vecChannels;
    // The worker's calls travel through this locked queue, so the hand-over
    // is one ThreadSanitizer sees; only a bare wake-up goes through Qt's.
    std::mutex m_callMutex;
    std::deque<std::function<void()>> m_dequeCalls;
    std::unique_ptr<CCallWaker> m_pWaker;
};
