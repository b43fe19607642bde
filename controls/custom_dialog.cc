#include "controls/custom_dialog.h"

#include <QEvent>
#include <QPainter>
#include <QPixmap>

#include "controls/corvid_theme.h"
#include "controls/resource_manager.h"
#include "controls/resources.h"

namespace {

constexpr int kButtonSize = 16;
constexpr int kButtonGap = 6;
constexpr int kIconSize = 16;
constexpr int kIconLeft = 5;

}  // namespace

CCorvidCustomDialog::CCorvidCustomDialog(QWidget* pParent, unsigned nFrameStyle)
    : QDialog(pParent, Qt::Dialog | Qt::FramelessWindowHint),
      m_pCaptionFont(GetDefaultFont()),
      m_crText(GetThemeColor(1)),
      m_crBack(GetThemeColor(0)),
      m_crBorder(GetThemeColor(4)),
      m_crCaption(GetThemeColor(2)),
      m_crCaptionText(GetThemeColor(3)),
      m_crCaptionLine1(GetThemeColor(150)),
      m_crCaptionLine2(GetThemeColor(151)),
      m_pClient(new QWidget(this)) {
    m_btnClose.nCommand = kCmdClose;
    m_btnMaximize.nCommand = kCmdMaximize;
    m_btnMinimize.nCommand = kCmdMinimize;
    for (CaptionButton* pBtn : {&m_btnClose, &m_btnMaximize, &m_btnMinimize}) {
        pBtn->clrFill = m_crCaption;
    }
    m_btnClose.bVisible = true;
    m_btnClose.imgStrip = LoadPngResource(kPngCaptionClose);
    m_btnClose.nCellCount =
        m_btnClose.imgStrip.isNull() ? 0 : m_btnClose.imgStrip.width() / kButtonSize;
    m_btnMinimize.bVisible = (nFrameStyle & kFrameMinimizeBox) != 0;
    m_btnMaximize.bVisible = (nFrameStyle & kFrameMaximizeBox) != 0;
    m_bResizable = (nFrameStyle & kFrameResizable) != 0;

    const QImage imgIcon = LoadPngResource(kPngAppIcon);
    if (!imgIcon.isNull()) {
        m_hIcon = QIcon(QPixmap::fromImage(imgIcon));
        setWindowIcon(m_hIcon);
    }
    setFont(*m_pCaptionFont);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);

    // The client area answers colour requests of the controls on it.
    QPalette pal = m_pClient->palette();
    pal.setColor(QPalette::Window, m_crBack);
    pal.setColor(QPalette::WindowText, GetThemeColor(1));
    m_pClient->setPalette(pal);
    m_pClient->setAutoFillBackground(true);
    if (m_bResizable) {
        setMinimumSize(m_nMinTrackWidth, m_nMinTrackHeight);
    }
    SetClientSize(QSize(300, 200));
}

CCorvidCustomDialog::~CCorvidCustomDialog() = default;

int CCorvidCustomDialog::DoModal() {
    if (m_btnMinimize.bVisible) {
        m_btnMinimize.bVisible = false;
        RefreshFrame();
    }
    return exec() == QDialog::Accepted ? kIdOk : kIdCancel;
}

bool CCorvidCustomDialog::OnInitDialog() {
    return true;
}

void CCorvidCustomDialog::OnOK() {
    accept();
}

void CCorvidCustomDialog::OnCancel() {
    reject();
}

void CCorvidCustomDialog::OnCommand(int nCommand) {
    if (nCommand == kCmdMinimize) {
        showMinimized();
    } else if (nCommand == kCmdMaximize) {
        if (m_btnMaximize.bVisible) {
            if (isMaximized()) {
                showNormal();
            } else {
                showMaximized();
            }
        }
    } else if (nCommand == kCmdClose) {
        close();
    }
}

void CCorvidCustomDialog::SetCaption(const QString& strText) {
    setWindowTitle(strText);
    RefreshFrame();
}

void CCorvidCustomDialog::SetClientSize(const QSize& size) {
    resize(size.width() + 2 * m_nBorderWidth,
           size.height() + m_nCaptionHeight + 2 * m_nBorderWidth);
    m_pClient->setGeometry(GetClientRect());
}

void CCorvidCustomDialog::SetCaptionButtons(bool bMinimize, bool bMaximize) {
    m_btnMinimize.bVisible = bMinimize;
    m_btnMaximize.bVisible = bMaximize;
    RefreshFrame();
}

QRect CCorvidCustomDialog::GetCaptionRect() const {
    return QRect(m_nBorderWidth, m_nBorderWidth, std::max(0, width() - 2 * m_nBorderWidth),
                 m_nCaptionHeight);
}

QRect CCorvidCustomDialog::GetClientRect() const {
    const int nTop = m_nBorderWidth + m_nCaptionHeight;
    return QRect(m_nBorderWidth, nTop, std::max(0, width() - 2 * m_nBorderWidth),
                 std::max(0, height() - nTop - m_nBorderWidth));
}

const CCorvidCustomDialog::CaptionButton* CCorvidCustomDialog::FindButton(int nCommand) const {
    switch (nCommand) {
        case kCmdClose:
            return &m_btnClose;
        case kCmdMaximize:
            return &m_btnMaximize;
        case kCmdMinimize:
            return &m_btnMinimize;
        default:
            return nullptr;
    }
}

CCorvidCustomDialog::CaptionButton* CCorvidCustomDialog::FindButton(int nCommand) {
    return const_cast<CaptionButton*>(std::as_const(*this).FindButton(nCommand));
}

QRect CCorvidCustomDialog::GetCaptionButtonRect(int nCommand) const {
    const CaptionButton* pBtn = FindButton(nCommand);
    return pBtn != nullptr ? ButtonRect(*pBtn) : QRect();
}

bool CCorvidCustomDialog::IsCaptionButtonVisible(int nCommand) const {
    const CaptionButton* pBtn = FindButton(nCommand);
    return pBtn != nullptr && pBtn->bVisible;
}

bool CCorvidCustomDialog::IsCaptionButtonHover(int nCommand) const {
    const CaptionButton* pBtn = FindButton(nCommand);
    return pBtn != nullptr && pBtn->bHover;
}

bool CCorvidCustomDialog::IsCaptionButtonPressed(int nCommand) const {
    const CaptionButton* pBtn = FindButton(nCommand);
    return pBtn != nullptr && pBtn->bPressed;
}

QRect CCorvidCustomDialog::ButtonRect(const CaptionButton& btn) const {
    if (!btn.bVisible) {
        return QRect();
    }
    const QRect rcCaption = GetCaptionRect();
    const int nTop = rcCaption.top() + (rcCaption.height() - kButtonSize) / 2;
    int nRight = width() - kButtonGap;
    for (const CaptionButton* pBtn : {&m_btnClose, &m_btnMaximize, &m_btnMinimize}) {
        if (!pBtn->bVisible) {
            continue;
        }
        if (pBtn == &btn) {
            break;
        }
        nRight -= kButtonSize + kButtonGap;
    }
    return QRect(nRight - kButtonSize, nTop, kButtonSize, kButtonSize);
}

QRect CCorvidCustomDialog::GetTitleRect() const {
    const QRect rcCaption = GetCaptionRect();
    const int nStart = windowIcon().isNull() ? kIconLeft : kIconLeft + kIconSize + 5;
    int nEnd = rcCaption.left() + rcCaption.width();
    for (const CaptionButton* pBtn : {&m_btnClose, &m_btnMaximize, &m_btnMinimize}) {
        if (pBtn->bVisible) {
            nEnd = std::min(nEnd, ButtonRect(*pBtn).left() - 4);
        }
    }
    nEnd = std::max(nEnd, nStart);
    return QRect(nStart, rcCaption.top(), nEnd - nStart, rcCaption.height());
}

CCorvidCustomDialog::EHitTest CCorvidCustomDialog::HitTest(const QPoint& pt) const {
    if (isMinimized()) {
        return kHtNowhere;
    }
    const int x = pt.x();
    const int y = pt.y();
    const int W = width();
    const int H = height();
    if (m_bResizable) {
        const int g = std::max(m_nBorderWidth, 3);
        const int c = m_nCaptionHeight;
        const bool bTop = y <= g;
        const bool bLeft = x <= g;
        const bool bRight = x >= W - g;
        const bool bBottom = y >= H - g;
        if ((bTop && x <= c) || (bLeft && y <= c)) {
            return kHtTopLeft;
        }
        if ((bTop && x >= W - c) || (bRight && y <= c)) {
            return kHtTopRight;
        }
        if ((bLeft && y >= H - c) || (bBottom && x <= c)) {
            return kHtBottomLeft;
        }
        if ((bRight && y >= H - c) || (bBottom && x >= W - c)) {
            return kHtBottomRight;
        }
        if (bTop) {
            return kHtTop;
        }
        if (bBottom) {
            return kHtBottom;
        }
        if (bLeft) {
            return kHtLeft;
        }
        if (bRight) {
            return kHtRight;
        }
    }
    if (GetCaptionRect().contains(pt)) {
        return kHtCaption;
    }
    if (GetClientRect().contains(pt)) {
        return kHtClient;
    }
    return rect().contains(pt) ? kHtBorder : kHtNowhere;
}

void CCorvidCustomDialog::RefreshFrame() {
    m_cache.Invalidate();
    update();
}

void CCorvidCustomDialog::paintEvent(QPaintEvent*) {
    m_cache.Paint(this, [this](QPainter& p) { RenderFrame(p); });
}

void CCorvidCustomDialog::RenderFrame(QPainter& p) {
    const QRect rcCaption = GetCaptionRect();
    p.fillRect(rect(), m_crBack);
    p.fillRect(rcCaption, m_crCaption);
    if (!IsLightTheme()) {
        const int nBottom = rcCaption.top() + rcCaption.height();
        p.fillRect(QRect(rcCaption.left(), nBottom - 1, rcCaption.width(), 1), m_crCaptionLine2);
        p.fillRect(QRect(rcCaption.left(), nBottom - 2, rcCaption.width(), 1), m_crCaptionLine1);
    }
    const QIcon icon = windowIcon();
    if (!icon.isNull()) {
        p.setRenderHint(QPainter::SmoothPixmapTransform, true);
        const QRect rcIcon(kIconLeft, rcCaption.top() + (rcCaption.height() - kIconSize) / 2,
                           kIconSize, kIconSize);
        p.drawPixmap(rcIcon, icon.pixmap(QSize(32, 32)));
    }
    const QString strTitle = windowTitle();
    const QRect rcTitle = GetTitleRect();
    if (!strTitle.isEmpty() && rcTitle.width() > 0) {
        p.setFont(*m_pCaptionFont);
        p.setPen(m_crCaptionText);
        const QString strShown =
            p.fontMetrics().elidedText(strTitle, Qt::ElideRight, rcTitle.width());
        p.drawText(rcTitle, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, strShown);
    }
    for (const CaptionButton* pBtn : {&m_btnMinimize, &m_btnMaximize, &m_btnClose}) {
        if (pBtn->bVisible) {
            DrawCaptionButton(p, *pBtn);
        }
    }
    p.setPen(QPen(m_crBorder, m_nBorderWidth));
    p.setBrush(Qt::NoBrush);
    const qreal dHalf = m_nBorderWidth / 2.0;
    p.drawRect(QRectF(rect()).adjusted(dHalf, dHalf, -dHalf, -dHalf));
}

void CCorvidCustomDialog::DrawCaptionButton(QPainter& p, const CaptionButton& btn) {
    const QRect rcButton = ButtonRect(btn);
    p.fillRect(rcButton, btn.clrFill);
    if (btn.imgStrip.isNull() || btn.nCellCount <= 0) {
        // No picture: a plain glyph keeps minimize and maximize recognisable.
        if (btn.nCommand != kCmdClose) {
            const QColor clrGlyph = btn.bHover ? QColor(255, 255, 255) : m_crCaptionText;
            const QRect rcGlyph = rcButton.adjusted(4, 4, -4, -4);
            if (btn.nCommand == kCmdMinimize) {
                p.fillRect(QRect(rcGlyph.left(), rcGlyph.bottom(), rcGlyph.width(), 1), clrGlyph);
            } else {
                CCorvidGraphics::FrameRect(p, rcGlyph, clrGlyph);
            }
        }
        return;
    }
    int nCell = 0;
    if (btn.bPressed) {
        nCell = 1;
    } else if (!btn.bEnabled && btn.nCellCount >= 4) {
        nCell = 3;
    } else if (btn.bHover && btn.nCellCount >= 5) {
        nCell = 4;
    } else if (btn.nCellCount >= 3) {
        nCell = 2;
    }
    const int nCellSize = btn.imgStrip.height();
    CCorvidGraphics::DrawImage(p, rcButton, btn.imgStrip,
                               QRect(nCell * nCellSize, 0, nCellSize, nCellSize), kCaptionKeyColor);
}

void CCorvidCustomDialog::resizeEvent(QResizeEvent* pEvent) {
    // The frame buffer notices the new size by itself.
    m_pClient->setGeometry(GetClientRect());
    QDialog::resizeEvent(pEvent);
}

void CCorvidCustomDialog::showEvent(QShowEvent* pEvent) {
    if (!m_bInitDone) {
        m_bInitDone = true;
        OnInitDialog();
    }
    QDialog::showEvent(pEvent);
}

void CCorvidCustomDialog::changeEvent(QEvent* pEvent) {
    const QEvent::Type nType = pEvent->type();
    if (nType == QEvent::WindowTitleChange || nType == QEvent::WindowIconChange ||
        nType == QEvent::WindowStateChange) {
        RefreshFrame();
    }
    QDialog::changeEvent(pEvent);
}
