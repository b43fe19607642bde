// The main update window: a borderless face painted from pictures with the
// settings, close and start/stop hot areas, the progress bar, the step
// counter and the status line. It owns the run (through CRunController),
// opens the settings on first use, starts the update by itself and, when the
// run has ended well, starts the development tool and closes. Every method
// runs on the GUI thread; the worker reaches it through CQtFrontEnd.
//
// Painting: the background is drawn once per device-pixel ratio into a
// cached face; a paint event copies only its region of the face and draws
// only the parts that lie in it, each from pictures drawn for the ratio
// (1 or 2), so the text and artwork stay sharp and a change repaints only its
// own area.
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
    // Shows the window centred on its screen and runs until it closes.
    int DoModal();
    // Centres the window on the screen under the pointer (the screen it was
    // started from), else on the primary screen.
    void CenterOnStartScreen();

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
    // The face as painting draws it, at a device-pixel ratio.
    QImage Render(qreal dRatio = 1.0);
    // Where the status line is written.
    QRect GetStatusTextRect() const { return m_rcStatusText; }
    // How often the background has been drawn into the cached face.
    int GetFaceRenderCount() const { return m_nFaceRenders; }

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
    // The pictures of the face for one device-pixel ratio.
    struct CFaceArt {
        QImage imgBack, imgSetup, imgSetupHot, imgClose;
        QImage imgStart, imgStartHot, imgStop, imgStopHot;
        CSliceBarImages barImages;
        bool bLoaded = false;
        void Load(int nScale);
    };

    void InitPaintResources();
    const CFaceArt& ArtFor(qreal dRatio);
    // The background at dRatio, drawn again only when the ratio changed.
    const QImage& FaceFor(qreal dRatio);
    // Everything of the face that lies in rcDirty.
    void PaintFace(QPainter& p, const QRect& rcDirty, qreal dRatio);
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

    // [0] for ratio 1 (and the layout), [1] for 2 and anything above 1.
    CFaceArt m_art[2];
    QImage m_imgFace;
    int m_nFaceRenders = 0;

    QRect m_rcClose, m_rcSetup, m_rcStartStop, m_rcBar, m_rcStep, m_rcProgressRepaint, m_rcStatus;
    QRect m_rcStatusText;
    bool m_bHoverStartStop = false;
    bool m_bHoverClose = false;
    bool m_bHoverSetup = false;
    bool m_bDragging = false;
    QPoint m_ptDragOffset;
};
