// The main update window: a borderless face painted from pictures with the
// settings, close and start/stop hot areas, the progress bar, the step
// counter and the status line. It owns the run (through CRunController),
// opens the settings on first use, starts the update by itself and, when the
// run has ended well, starts the development tool and closes. Every method
// runs on the GUI thread; the worker reaches it through CQtFrontEnd.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

#include "controls/slice_progress.h"
#include "engine/run_controller.h"

class CTideApp;
class ISyncFrontEnd;

class CTideDlg : public QWidget {
    Q_OBJECT
public:
    CTideDlg(CTideApp& app, ISyncFrontEnd* pFrontEnd, QWidget* pParent = nullptr);
    ~CTideDlg() override;

    // Loads the settings, opens the settings dialog on first use and, with
    // bAutoStart, posts the start of the update.
    void InitDialog(bool bAutoStart = true);
    // Shows the window and runs until it closes.
    int DoModal();

    // The hot areas (empty when their pictures are missing).
    QRect GetCloseRect() const { return m_rcClose; }
    QRect GetSetupRect() const { return m_rcSetup; }
    QRect GetStartStopRect() const { return m_rcStartStop; }
    QRect GetBarRect() const { return m_rcBar; }
    QRect GetStepRect() const { return m_rcStep; }
    QRect GetProgressRepaintRect() const { return m_rcProgressRepaint; }
    QRect GetStatusRect() const { return m_rcStatus; }
    int GetProgress() const { return m_nProgress; }
    int GetStep() const { return m_nStep; }
    QString GetStatus() const { return m_strStatus; }
    bool IsSyncRunning() const { return m_bSyncRunning; }
    CRunController& GetRunController() { return m_run; }
    // The face as painting draws it.
    QImage Render();

    // Progress operations, as the worker's calls arrive.
    void SetProgress(int nDone, int nTotal);
    void SetStatusText(const QString& strText);
    void ResetProgress();
    void AdvanceStage();
    void OnButtonStart();
    void OnButtonStop();
    void OnButtonSetup();
    // The end of a run with its code.
    void OnSyncEnd(int nCode);
    // Close icon: stop, then close.
    void OnOK();
    void ShowAboutBox();

signals:
    void closed();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void InitPaintResources();
    void OnAutoStart();
    void RetryPendingStart();
    void UpdateCursor();

    // How often a start waits for the previous run's worker to be gone.
    static constexpr int kStartRetryMs = 20;

    CTideApp& m_app;
    ISyncFrontEnd* m_pFrontEnd;
    CRunController m_run;
    bool m_bSyncRunning = false;
    bool m_bStartPending = false;
    int m_nStep = 1;
    QString m_strStatus;
    int m_nProgress = 0;
    QColor m_clrBack;

    QImage m_imgBack, m_imgSetup, m_imgSetupHot, m_imgClose;
    QImage m_imgStart, m_imgStartHot, m_imgStop, m_imgStopHot;
    CSliceBarImages m_barImages;
    QImage m_imgCache;

    QRect m_rcClose, m_rcSetup, m_rcStartStop, m_rcBar, m_rcStep, m_rcProgressRepaint, m_rcStatus;
    bool m_bHoverStartStop = false;
    bool m_bHoverClose = false;
    bool m_bHoverSetup = false;
    bool m_bDragging = false;
    QPoint m_ptDragOffset;
};
