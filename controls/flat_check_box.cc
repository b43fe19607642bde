#include "controls/flat_check_box.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "controls/corvid_theme.h"
#include "controls/resource_manager.h"

namespace {

constexpr int kBoxSize = 13;
constexpr int kBoxGap = 5;

}  // namespace

CQuenbyDesignerFlatCheckBox::CQuenbyDesignerFlatCheckBox(QWidget* pParent)
    : QAbstractButton(pParent),
      m_pFont(GetDefaultFont()),
      m_crBack(GetThemeColor(0)),
      m_crText(GetThemeColor(1)),
      m_crDisabledText(GetThemeColor(192)),
      m_crCheck(GetThemeColor(190)),
      m_crDisabledCheck(GetThemeColor(193)),
      m_crBox(GetThemeColor(191)) {
    setFont(*m_pFont);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CQuenbyDesignerFlatCheckBox::CQuenbyDesignerFlatCheckBox(const QString& strText, QWidget* pParent)
    : CQuenbyDesignerFlatCheckBox(pParent) {
    setText(strText);
}

void CQuenbyDesignerFlatCheckBox::SetCheck(int nState) {
    m_bChecked = nState != 0;
    Refresh();
}

void CQuenbyDesignerFlatCheckBox::EnableAndRedraw(bool bEnable) {
    setEnabled(bEnable);
    m_cache.Invalidate();
    repaint();
}

void CQuenbyDesignerFlatCheckBox::SetBoxRight(bool bRight) {
    m_bBoxRight = bRight;
    Refresh();
}

void CQuenbyDesignerFlatCheckBox::SetFont(const QFont* pFont) {
    m_pFont = pFont;
    Refresh();
}

void CQuenbyDesignerFlatCheckBox::SetBackColor(const QColor& clr) {
    m_crBack = clr;
    Refresh();
}

void CQuenbyDesignerFlatCheckBox::SetTextColor(const QColor& clr) {
    m_crText = clr;
    Refresh();
}

QSize CQuenbyDesignerFlatCheckBox::sizeHint() const {
    const QFontMetrics metrics(m_pFont != nullptr ? *m_pFont : font());
    return QSize(kBoxSize + kBoxGap + metrics.horizontalAdvance(text()) + 2,
                 std::max(kBoxSize + 2, metrics.height() + 2));
}

QRect CQuenbyDesignerFlatCheckBox::GetBoxRect() const {
    const int nSize = height() < 14 ? height() : kBoxSize;
    const int nTop = (height() - nSize) / 2;
    const int nLeft = m_bBoxRight ? width() - nSize : 0;
    return QRect(nLeft, nTop, nSize, nSize);
}

void CQuenbyDesignerFlatCheckBox::Refresh() {
    m_cache.Invalidate();
    update();
}

void CQuenbyDesignerFlatCheckBox::Toggle() {
    SetCheck(m_bChecked ? 0 : 1);
    emit clicked(m_bChecked);
}

void CQuenbyDesignerFlatCheckBox::paintEvent(QPaintEvent*) {
    if (text() != m_strCachedText) {
        m_strCachedText = text();
        m_cache.Invalidate();
    }
    m_cache.Paint(this, [this](QPainter& p) {
        p.fillRect(rect(), m_crBack);
        DrawCheckBox(p);
    });
}

void CQuenbyDesignerFlatCheckBox::DrawCheckBox(QPainter& p) {
    const bool bEnabled = isEnabled();
    const QRect rcBox = GetBoxRect();
    QColor clrFill = m_crBox;
    QColor clrOutline(180, 180, 180);
    if (!bEnabled) {
        clrFill = m_crDisabledBox.isValid() ? m_crDisabledBox : m_crBack;
        clrOutline = IsLightTheme() ? QColor(210, 210, 210) : QColor(110, 110, 110);
    }
    CCorvidGraphics::FillRoundRect(p, rcBox, 2.0, clrFill, clrOutline);

    if (m_bChecked) {
        // Three one-pixel strokes make a check mark three pixels thick.
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(bEnabled ? m_crCheck : m_crDisabledCheck, 1));
        const int x0 = rcBox.left() + (rcBox.width() - 7) / 2;
        const int y0 = rcBox.top() + (rcBox.height() - 7) / 2;
        for (int i = 0; i < 3; ++i) {
            p.drawLine(x0, y0 + i + 2, x0 + 2, y0 + i + 4);
            p.drawLine(x0 + 2, y0 + i + 4, x0 + 6, y0 + i);
        }
    }

    const QString strCaption = text();
    if (!strCaption.isEmpty()) {
        QRect rcText = rect();
        if (m_bBoxRight) {
            rcText.setRight(width() - rcBox.width() - kBoxGap - 1);
        } else {
            rcText.setLeft(rcBox.width() + kBoxGap);
        }
        p.setFont(m_pFont != nullptr ? *m_pFont : font());
        p.setPen(bEnabled ? m_crText : m_crDisabledText);
        p.drawText(rcText,
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextExpandTabs,
                   strCaption);
    }
}

void CQuenbyDesignerFlatCheckBox::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        pEvent->ignore();
        return;
    }
    m_bPressed = true;
    setFocus(Qt::MouseFocusReason);
    Refresh();
}

void CQuenbyDesignerFlatCheckBox::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    mousePressEvent(pEvent);
}

void CQuenbyDesignerFlatCheckBox::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        pEvent->ignore();
        return;
    }
    const bool bWasPressed = m_bPressed;
    m_bPressed = false;
    if (bWasPressed && rect().contains(pEvent->position().toPoint())) {
        Toggle();
    }
    Refresh();
}

void CQuenbyDesignerFlatCheckBox::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent->key() == Qt::Key_Space) {
        m_bSpaceDown = !pEvent->isAutoRepeat() || m_bSpaceDown;
        return;
    }
    QAbstractButton::keyPressEvent(pEvent);
}

void CQuenbyDesignerFlatCheckBox::keyReleaseEvent(QKeyEvent* pEvent) {
    if (pEvent->key() == Qt::Key_Space) {
        if (!pEvent->isAutoRepeat() && m_bSpaceDown) {
            m_bSpaceDown = false;
            Toggle();
        }
        return;
    }
    QAbstractButton::keyReleaseEvent(pEvent);
}

void CQuenbyDesignerFlatCheckBox::changeEvent(QEvent* pEvent) {
    if (pEvent->type() == QEvent::EnabledChange) {
        Refresh();
    }
    QAbstractButton::changeEvent(pEvent);
}

void CQuenbyDesignerFlatCheckBox::focusInEvent(QFocusEvent* pEvent) {
    Refresh();
    QAbstractButton::focusInEvent(pEvent);
}

void CQuenbyDesignerFlatCheckBox::focusOutEvent(QFocusEvent* pEvent) {
    m_bSpaceDown = false;
    Refresh();
    QAbstractButton::focusOutEvent(pEvent);
}
