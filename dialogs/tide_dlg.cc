#include "dialogs/tide_dlg.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include "app/message_box.h"
#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "controls/corvid_theme.h"
#include "controls/resource_manager.h"
#include "controls/resources.h"
#include "dialogs/about_dlg.h"
#include "dialogs/setup_dlg.h"
#include "dialogs/tide_message_box.h"
#include "log/my_log.h"

namespace {

// The window's face is the background picture's size.
constexpr int kClientWidth = 800;
constexpr int kClientHeight = 450;

const QFont& StepFont() {
    return *g_ResourceManager.GetFont(QStringLiteral("Arial"), 8, 400);
}

const QFont& StatusFont() {
    return *g_ResourceManager.GetFont(g_strDefaultFontFace, 9, 400);
}

// A picture's size in logical pixels, whatever ratio it was drawn for.
QSize LogicalSize(const QImage& img) {
    return img.deviceIndependentSize().toSize();
}

}  // namespace

void CTideDlg::CFaceArt::Load(int nScale) {
    imgBack = LoadPngResource(kPngMainBack, nScale);
    imgSetup = LoadPngResource(kPngSetup, nScale);
    imgSetupHot = LoadPngResource(kPngSetupHot, nScale);
    imgClose = LoadPngResource(kPngClose, nScale);
    imgStart = LoadPngResource(kPngStart, nScale);
    imgStartHot = LoadPngResource(kPngStartHot, nScale);
    imgStop = LoadPngResource(kPngStop, nScale);
    imgStopHot = LoadPngResource(kPngStopHot, nScale);
    barImages.Load(nScale);
    bLoaded = true;
}

CTideDlg::CTideDlg(CTideApp& app, ISyncFrontEnd* pFrontEnd, QWidget* pParent)
    : QWidget(pParent, Qt::Window | Qt::FramelessWindowHint), m_app(app), m_pFrontEnd(pFrontEnd) {
    setFixedSize(kClientWidth, kClientHeight);
    setWindowIcon(QIcon(QPixmap::fromImage(LoadPngResource(kPngAppIcon))));
    setMouseTracking(true);
    m_clrBack = GetThemeColor(0);
    InitPaintResources();
}

CTideDlg::~CTideDlg() = default;

void CTideDlg::InitPaintResources() {
    m_art[0].Load(1);
    const CFaceArt& art = m_art[0];
    int nW = width();
    int nH = height();
    if (!art.imgClose.isNull()) {
        m_rcClose = QRect(QPoint(nW - LogicalSize(art.imgClose).width() - 10, 10),
                          LogicalSize(art.imgClose));
    }
    if (!art.barImages.IsComplete())
        return;
    int nBarWidth = art.barImages.GetBarWidth();
    m_rcBar = QRect((nW - nBarWidth) / 2, nH - 25, nBarWidth, art.barImages.GetBarHeight());
    // Right and bottom as exclusive edges, as the layout rules count them.
    int nBarRight = m_rcBar.x() + m_rcBar.width();
    int nBarBottom = m_rcBar.y() + m_rcBar.height();
    m_rcStep = QRect(nBarRight - 22, nBarBottom + 2, 32, (nH - 2) - (nBarBottom + 2));
    m_rcProgressRepaint = m_rcBar.united(
        QRect(nBarRight + 4, m_rcBar.y() - 5, nW - (nBarRight + 4), m_rcBar.height() + 10));
    m_rcStatus = m_rcBar.translated(1, -20);
    if (!art.imgSetup.isNull() && !art.imgSetupHot.isNull()) {
        QSize sizeIcon = LogicalSize(art.imgSetup);
        m_rcSetup = QRect(QPoint(nBarRight - sizeIcon.width(), m_rcBar.y() - 2 - sizeIcon.height()),
                          sizeIcon);
    }
    if (!art.imgStart.isNull() && !art.imgStartHot.isNull() && !art.imgStop.isNull() &&
        !art.imgStopHot.isNull()) {
        QSize sizeIcon = LogicalSize(art.imgStart);
        m_rcStartStop =
            QRect(QPoint(m_rcBar.x() - 3, m_rcBar.y() - 2 - sizeIcon.height()), sizeIcon);
    }
    // The status line sits above the bar, between the start/stop button and
    // the settings icon, so that the user sees what the run is doing.
    int nLeft = m_rcStartStop.isEmpty() ? m_rcStatus.x() : m_rcStartStop.right() + 8;
    int nRight = m_rcSetup.isEmpty() ? m_rcStatus.right() : m_rcSetup.left() - 8;
    m_rcStatusText = QRect(nLeft, m_rcStatus.center().y() - 9, nRight - nLeft, 18);
}

const CTideDlg::CFaceArt& CTideDlg::ArtFor(qreal dRatio) {
    CFaceArt& art = m_art[dRatio > 1.0 ? 1 : 0];
    if (!art.bLoaded)
        art.Load(2);
    return art;
}

void CTideDlg::InitDialog(bool bAutoStart) {
    m_run.LoadSettings(m_app);
    setWindowTitle(QStringLiteral("Corvid5@LoomhallKiro 업데이트"));
    if (m_run.NeedsFirstSetup())
        OnButtonSetup();
    if (bAutoStart)
        QMetaObject::invokeMethod(
            this, [this] { OnAutoStart(); }, Qt::QueuedConnection);
}

int CTideDlg::DoModal() {
    QEventLoop loop;
    connect(this, &CTideDlg::closed, &loop, &QEventLoop::quit);
    CenterOnStartScreen();
    show();
    loop.exec();
    return 0;
}

void CTideDlg::CenterOnStartScreen() {
    QScreen* pScreen = QGuiApplication::screenAt(QCursor::pos());
    if (pScreen == nullptr)
        pScreen = QGuiApplication::primaryScreen();
    if (pScreen == nullptr)
        return;
    QRect rcAvailable = pScreen->availableGeometry();
    QRect rc(QPoint(0, 0), frameGeometry().size());
    rc.moveCenter(rcAvailable.center());
    // Larger than the screen: its top-left corner stays on it.
    move(std::max(rc.left(), rcAvailable.left()), std::max(rc.top(), rcAvailable.top()));
}

void CTideDlg::OnAutoStart() {
    show();
    raise();
    OnButtonStart();
}

void CTideDlg::OnButtonStart() {
    if (m_bSyncRunning)
        return;
    m_nStep = 0;
    if (m_pFrontEnd == nullptr)
        return;
    int nStart = m_run.StartRun(m_app, m_pFrontEnd);
    if (nStart == CRunController::kBusy) {
        // The stopped run is still ending: give it up (its question closes,
        // what it still sends is dropped) and start once its worker is gone.
        // The window never waits for a worker.
        m_run.RequestStop();
        m_pFrontEnd->AbandonRun();
        m_bStartPending = true;
        m_bSyncRunning = true;
        QTimer::singleShot(kStartRetryMs, this, [this] { RetryPendingStart(); });
    } else if (nStart == CRunController::kStarted) {
        m_bSyncRunning = true;
        repaint(m_rcStartStop);
    }
    update(m_rcStartStop);
    update(m_rcStep);
}

void CTideDlg::RetryPendingStart() {
    if (!m_bStartPending)
        return;
    if (!m_run.IsWorkerFinished()) {
        QTimer::singleShot(kStartRetryMs, this, [this] { RetryPendingStart(); });
        return;
    }
    m_bStartPending = false;
    m_bSyncRunning = false;
    OnButtonStart();
}

void CTideDlg::OnButtonStop() {
    m_bSyncRunning = false;
    m_bStartPending = false;
    m_run.RequestStop();
    update(m_rcStartStop);
}

void CTideDlg::OnButtonSetup() {
    if (m_run.GetCfg() == nullptr)
        return;
    CXSetupDlg dlg(m_run.GetCfg(), this);
    if (dlg.DoModal() != CCorvidCustomDialog::kIdOk)
        return;
    dlg.ApplyTo(*m_run.GetCfg());
    m_run.GetCfg()->SaveConfig();
    m_run.OnSettingsSaved(m_app);
}

void CTideDlg::OnSyncEnd(int nCode) {
    if (m_app.m_bResourceMode != 0) {
        close();
        return;
    }
    if (nCode != kSyncEndDone) {
        m_bSyncRunning = false;
        update(m_rcStartStop);
        return;
    }
    // A window that just vanished would leave the user guessing why nothing
    // started; the engine has hidden it by now, so the box stands alone.
    if (m_run.StartDevelopmentTool(m_app) != 0)
        ShowTideMessageBox(isVisible() ? this : nullptr, CRunController::ToolNotStartedText(m_app),
                           kUpdaterCaption, kMbOk | kMbIconError);
    close();
}

void CTideDlg::OnOK() {
    OnButtonStop();
    // A moment for the worker to notice the flag before the window goes.
    QThread::msleep(200);
    close();
}

void CTideDlg::ShowAboutBox() {
    CAboutDlg dlg(this);
    dlg.exec();
}

void CTideDlg::SetProgress(int nDone, int nTotal) {
    int nPercent = 0;
    if (nDone == 1 && nTotal == 1) {
        nPercent = 100;
    } else if (nTotal != 0) {
        nPercent = static_cast<int>(static_cast<long long>(nDone) * 100 / nTotal);
    }
    if (nPercent == m_nProgress)
        return;
    m_nProgress = nPercent;
    update(m_rcProgressRepaint);
}

void CTideDlg::SetStatusText(const QString& strText) {
    if (strText == m_strStatus)
        return;
    m_strStatus = strText;
    update(m_rcStatusText);
}

void CTideDlg::ResetProgress() {
    m_nProgress = 0;
    m_strStatus.clear();
    update(m_rcProgressRepaint);
    update(m_rcStatusText);
}

void CTideDlg::AdvanceStage() {
    ++m_nStep;
    update(m_rcStep);
}

const QImage& CTideDlg::FaceFor(qreal dRatio) {
    if (m_imgFace.isNull() || m_imgFace.devicePixelRatio() != dRatio ||
        m_imgFace.deviceIndependentSize().toSize() != size()) {
        const CFaceArt& art = ArtFor(dRatio);
        m_imgFace = QImage(size() * dRatio, QImage::Format_ARGB32_Premultiplied);
        m_imgFace.setDevicePixelRatio(dRatio);
        QPainter p(&m_imgFace);
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        if (!art.imgBack.isNull()) {
            p.drawImage(rect(), art.imgBack);
        } else {
            p.fillRect(rect(), m_clrBack);
        }
        ++m_nFaceRenders;
    }
    return m_imgFace;
}

void CTideDlg::PaintFace(QPainter& p, const QRect& rcDirty, qreal dRatio) {
    const QImage& imgFace = FaceFor(dRatio);
    const CFaceArt& art = ArtFor(dRatio);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.drawImage(rcDirty, imgFace,
                QRectF(QPointF(rcDirty.topLeft()) * dRatio, QSizeF(rcDirty.size()) * dRatio));
    auto DrawPicture = [&](const QRect& rc, const QImage& img) {
        if (!rc.isEmpty() && rc.intersects(rcDirty))
            p.drawImage(rc, img);
    };
    DrawPicture(m_rcSetup, m_bHoverSetup ? art.imgSetupHot : art.imgSetup);
    DrawPicture(m_rcClose, art.imgClose);
    DrawPicture(m_rcStartStop, m_bHoverStartStop
                                   ? (m_bSyncRunning ? art.imgStopHot : art.imgStartHot)
                                   : (m_bSyncRunning ? art.imgStop : art.imgStart));
    if (!m_rcBar.isEmpty() && m_rcBar.intersects(rcDirty))
        DrawSliceProgress(p, m_rcBar, m_nProgress, art.barImages);
    p.setPen(QColor(252, 252, 252));
    if (!m_strStatus.isEmpty() && !m_rcStatus.isEmpty() && m_rcStatusText.intersects(rcDirty)) {
        p.setFont(StatusFont());
        p.drawText(
            m_rcStatusText, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
            p.fontMetrics().elidedText(m_strStatus, Qt::ElideMiddle, m_rcStatusText.width()));
    }
    if (m_nStep > 0 && !m_rcStep.isEmpty() && m_rcStep.intersects(rcDirty)) {
        p.setFont(StepFont());
        p.drawText(m_rcStep, Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                   QString::asprintf("%d / 2", m_nStep));
    }
}

QImage CTideDlg::Render(qreal dRatio) {
    QImage img(size() * dRatio, QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(dRatio);
    QPainter p(&img);
    PaintFace(p, rect(), dRatio);
    return img;
}

void CTideDlg::paintEvent(QPaintEvent* pEvent) {
    QPainter p(this);
    const qreal dRatio = devicePixelRatioF();
    for (const QRect& rc : pEvent->region())
        PaintFace(p, rc, dRatio);
}

void CTideDlg::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton)
        return;
    QPoint pt = pEvent->position().toPoint();
    if (m_rcStartStop.contains(pt) && !m_bHoverStartStop) {
        // A press without a move since the pointer came back (a box closed
        // over it) still counts as hovering.
        m_bHoverStartStop = true;
        UpdateCursor();
        update(m_rcStartStop);
    }
    if (m_rcSetup.contains(pt) || m_rcClose.contains(pt) || m_rcStartStop.contains(pt))
        return;
    QWindow* pWindow = windowHandle();
    if (pWindow == nullptr || !pWindow->startSystemMove()) {
        m_bDragging = true;
        m_ptDragOffset = pEvent->globalPosition().toPoint() - pos();
    }
}

void CTideDlg::mouseMoveEvent(QMouseEvent* pEvent) {
    QPoint pt = pEvent->position().toPoint();
    if (m_bDragging) {
        move(pEvent->globalPosition().toPoint() - m_ptDragOffset);
        return;
    }
    // Only the first flag that changes is acted on, as each move is small.
    struct {
        bool* pbFlag;
        QRect rc;
    } hot[] = {{&m_bHoverClose, m_rcClose},
               {&m_bHoverSetup, m_rcSetup},
               {&m_bHoverStartStop, m_rcStartStop}};
    for (auto& area : hot) {
        bool bInside = area.rc.contains(pt);
        if (bInside != *area.pbFlag) {
            *area.pbFlag = bInside;
            update(area.rc);
            break;
        }
    }
    UpdateCursor();
}

void CTideDlg::UpdateCursor() {
    if (m_bHoverClose || m_bHoverSetup || m_bHoverStartStop) {
        setCursor(CursorFromId(kCursorHand));
    } else {
        unsetCursor();
    }
}

void CTideDlg::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton)
        return;
    m_bDragging = false;
    QPoint pt = pEvent->position().toPoint();
    if (m_rcSetup.contains(pt)) {
        OnButtonSetup();
    } else if (m_rcClose.contains(pt)) {
        OnOK();
    } else if (m_rcStartStop.contains(pt) && m_bHoverStartStop) {
        if (m_bSyncRunning) {
            OnButtonStop();
        } else {
            OnButtonStart();
        }
    }
}

void CTideDlg::leaveEvent(QEvent* pEvent) {
    // A pointer that leaves the window from a hot area leaves no icon lit.
    if (m_bHoverClose || m_bHoverSetup || m_bHoverStartStop) {
        m_bHoverClose = m_bHoverSetup = m_bHoverStartStop = false;
        UpdateCursor();
        update(m_rcClose);
        update(m_rcSetup);
        update(m_rcStartStop);
    }
    QWidget::leaveEvent(pEvent);
}

void CTideDlg::keyPressEvent(QKeyEvent* pEvent) {
    // Escape ends the window without raising the stop flag; the engine is
    // stopped when it is destroyed.
    if (pEvent->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(pEvent);
}

void CTideDlg::contextMenuEvent(QContextMenuEvent* pEvent) {
    // Stands in for the system menu's about item of a framed window.
    QMenu menu(this);
    QAction* pAbout = menu.addAction(QStringLiteral("Tidewell Info(&A)..."));
    if (menu.exec(pEvent->globalPos()) == pAbout)
        ShowAboutBox();
}

void CTideDlg::closeEvent(QCloseEvent* pEvent) {
    QWidget::closeEvent(pEvent);
    emit closed();
}
