// The window front end: runs the main dialog for the application and takes
// the engine worker's calls. Progress calls are queued to the window; the
// questions and message boxes are shown on the GUI thread while the worker
// waits for the answer. Once the window is closing, questions are answered
// at once with their "no" answer so that no worker waits on a window that
// is gone while the engine is being joined.
#pragma once

#include <QPointer>
#include <atomic>
#include <memory>

#include "app/app_front_end.h"
#include "engine/sync_front_end.h"

#include "dialogs/tide_dlg.h"

class CQtFrontEnd : public IAppFrontEnd, public ISyncFrontEnd {
public:
    CQtFrontEnd();
    ~CQtFrontEnd() override;

    // IAppFrontEnd, GUI thread.
    int ShowMessageBox(const std::string& strText, const std::string& strCaption,
                       unsigned nStyle) override;
    int RunMainDialog(CTideApp& app) override;

    // ISyncFrontEnd, from the engine's worker.
    void SetStatusText(const std::string& strText) override;
    void SetProgress(int nCurrent, int nTotal) override;
    void AdvanceStage() override;
    void ResetProgress() override;
    void OnButtonStop() override;
    int AskUpdate() override;
    void HideWindow() override;
    void PostSyncEnd(int nCode) override;
    const SpecialDirMap& GetSpecialDirMap() override;

    // The main dialog while RunMainDialog runs (or after CreateMainDialog).
    CTideDlg* GetMainDialog() const { return m_pDlg; }
    // Makes the dialog without running it, for callers that drive it.
    CTideDlg* CreateMainDialog(CTideApp& app);
    // Answers pending and later questions with "no" and joins the run.
    void Shutdown();

private:
    // Runs fn on the GUI thread and returns its answer; nDefault when closing.
    template <typename Fn>
    int AskOnGuiThread(Fn fn, int nDefault);

    std::unique_ptr<CTideDlg> m_pOwnedDlg;
    QPointer<CTideDlg> m_pDlg;
    SpecialDirMap m_mapEmpty;
    std::atomic<bool> m_bClosing{false};
};
