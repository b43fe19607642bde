#include "controls/theme_button.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "controls/corvid_theme.h"
#include "controls/resource_manager.h"

namespace {

bool IsClickKey(const QKeyEvent* pEvent) {
    return pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter ||
           pEvent->key() == Qt::Key_Space;
}

}  // namespace

CThemeButton::CThemeButton(QWidget* pParent)
    : QAbstractButton(pParent),
      m_pFont(GetDefaultFont()),
      m_crBack(GetThemeColor(0)),
      m_crText(GetThemeColor(1)),
      m_crBorder(GetThemeColor(162)),
      m_crFace(GetThemeColor(160)),
      m_crFaceHover(GetThemeColor(161)),
      m_crDisabledBorder(GetThemeColor(22)),
      m_crDisabledText(GetThemeColor(23)) {
    setFont(*m_pFont);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CThemeButton::CThemeButton(const QString& strText, QWidget* pParent) : CThemeButton(pParent) {
    setText(strText);
}

void CThemeButton::SetBackColor(const QColor& clr) {
    m_crBack = clr;
    Refresh();
}

void CThemeButton::SetTextColor(const QColor& clr) {
    m_crText = clr;
    Refresh();
}

void CThemeButton::SetShowFocus(bool bShow) {
    m_bShowFocus = bShow;
    Refresh();
}

void CThemeButton::SetFont(const QFont* pFont) {
    if (pFont != nullptr) {
        m_pFont = pFont;
        setFont(*pFont);
        Refresh();
    }
}

QSize CThemeButton::sizeHint() const {
    const QFontMetrics metrics(*m_pFont);
    return QSize(std::max(75, metrics.horizontalAdvance(text()) + 16), metrics.height() + 10);
}

void CThemeButton::Refresh() {
    m_cache.Invalidate();
    update();
}

void CThemeButton::SetHover(bool bHover) {
    if (m_bHover != bHover) {
        m_bHover = bHover;
        Refresh();
    }
}

void CThemeButton::paintEvent(QPaintEvent*) {
    if (text() != m_strCachedText) {
        m_strCachedText = text();
        m_cache.Invalidate();
    }
    m_cache.Paint(this, [this](QPainter& p) { Render(p); });
}

void CThemeButton::Render(QPainter& p) {
    const QRect rc = rect();
    const bool bLight = IsLightTheme();
    const bool bEnabled = isEnabled();
    p.fillRect(rc, m_crBack);
    QColor clrText = bEnabled ? m_crText : m_crDisabledText;
    if (bEnabled) {
        if (m_bPressed || m_bKeyDown) {
            p.fillRect(rc, DarkenColor(m_crFaceHover, 20));
        } else {
            p.fillRect(rc, m_bHover ? m_crFaceHover : m_crFace);
            if (m_bHover) {
                clrText = bLight ? DarkenColor(clrText, 20) : LightenColor(clrText, 20);
            }
        }
    }
    const bool bFocusShown = m_bShowFocus && hasFocus();
    QColor clrBorder = m_crBorder;
    if (bFocusShown) {
        clrBorder = bLight ? DarkenColor(clrBorder, 30) : LightenColor(clrBorder, 30);
    }
    CCorvidGraphics::FrameRect(p, rc, clrBorder);

    const QString strCaption = text();
    if (!strCaption.isEmpty()) {
        const QRect rcInner = rc.adjusted(2, 2, -2, -2);
        p.setFont(*m_pFont);
        const int nFlags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap;
        const QRect rcText = p.fontMetrics().boundingRect(rcInner, nFlags, strCaption);
        const int yTop = rcInner.top() + (rcInner.height() - rcText.height()) / 2 - 1;
        p.setPen(clrText);
        p.drawText(QRect(rcInner.left(), yTop, rcInner.width(), rcText.height()), nFlags,
                   strCaption);
    }
    if (bFocusShown) {
        CCorvidGraphics::FrameRect(
            p, rc.adjusted(4, 4, -4, -4),
            bLight ? LightenColor(m_crBorder, 20) : DarkenColor(m_crBorder, 30));
    }
}

void CThemeButton::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        pEvent->ignore();
        return;
    }
    setFocus(Qt::MouseFocusReason);
    m_bPressed = true;
    Refresh();
}

void CThemeButton::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    mousePressEvent(pEvent);
}

void CThemeButton::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton || !m_bPressed) {
        pEvent->ignore();
        return;
    }
    setFocus(Qt::MouseFocusReason);
    m_bPressed = false;
    Refresh();
    if (rect().contains(pEvent->position().toPoint())) {
        emit clicked(false);
    }
}

void CThemeButton::mouseMoveEvent(QMouseEvent* pEvent) {
    SetHover(rect().contains(pEvent->position().toPoint()));
}

void CThemeButton::enterEvent(QEnterEvent*) {
    SetHover(true);
}

void CThemeButton::leaveEvent(QEvent*) {
    SetHover(false);
}

void CThemeButton::focusInEvent(QFocusEvent* pEvent) {
    Refresh();
    QAbstractButton::focusInEvent(pEvent);
}

void CThemeButton::focusOutEvent(QFocusEvent* pEvent) {
    if (m_bPressed || m_bKeyDown) {
        m_bHover = false;
        m_bPressed = false;
        m_bKeyDown = false;
    }
    Refresh();
    QAbstractButton::focusOutEvent(pEvent);
}

void CThemeButton::keyPressEvent(QKeyEvent* pEvent) {
    if (!IsClickKey(pEvent)) {
        QAbstractButton::keyPressEvent(pEvent);
        return;
    }
    if (!pEvent->isAutoRepeat()) {
        m_bKeyDown = true;
        Refresh();
    }
}

void CThemeButton::keyReleaseEvent(QKeyEvent* pEvent) {
    if (!IsClickKey(pEvent)) {
        QAbstractButton::keyReleaseEvent(pEvent);
        return;
    }
    if (!pEvent->isAutoRepeat() && m_bKeyDown) {
        m_bKeyDown = false;
        Refresh();
        repaint();
        emit clicked(false);
    }
}

void CThemeButton::changeEvent(QEvent* pEvent) {
    if (pEvent->type() == QEvent::EnabledChange) {
        Refresh();
    }
    QAbstractButton::changeEvent(pEvent);
}
