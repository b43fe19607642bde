#include "controls/flx_edit.h"

#include <QEvent>
#include <QPainter>

#include "controls/corvid_graphics.h"
#include "controls/corvid_theme.h"
#include "controls/resource_manager.h"

CCorvidFlxEditEx::CCorvidFlxEditEx(QWidget* pParent)
    : QLineEdit(pParent),
      m_crHoverBorder(GetThemeColor(102)),
      m_crBack(GetThemeColor(20)),
      m_crText(GetThemeColor(21)),
      m_crFocusBorder(GetThemeColor(24)),
      m_crFocusBack(GetThemeColor(25)),
      m_crBorder(GetThemeColor(26)),
      m_crDisabledBack(GetThemeColor(22)),
      m_crDisabledText(GetThemeColor(23)) {
    setFont(*GetDefaultFont());
    setFrame(false);
    setTextMargins(4, 1, 4, 1);
    setAttribute(Qt::WA_InputMethodEnabled, true);
    ApplyColors();
}

void CCorvidFlxEditEx::EnableWindow(bool bEnable) {
    setEnabled(bEnable);
    repaint();
}

QColor CCorvidFlxEditEx::GetBorderColor() const {
    if (!isEnabled()) {
        return m_crBorder;
    }
    if (hasFocus()) {
        return m_crFocusBorder;
    }
    return m_bHover ? m_crHoverBorder : m_crBorder;
}

QColor CCorvidFlxEditEx::GetBackColor() const {
    if (!isEnabled()) {
        return m_crDisabledBack;
    }
    return hasFocus() ? m_crFocusBack : m_crBack;
}

void CCorvidFlxEditEx::ApplyColors() {
    QPalette pal = palette();
    const QColor clrBack = GetBackColor();
    for (QPalette::ColorGroup nGroup : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(nGroup, QPalette::Base, clrBack);
        pal.setColor(nGroup, QPalette::Window, clrBack);
        pal.setColor(nGroup, QPalette::Text, m_crText);
        pal.setColor(nGroup, QPalette::Highlight, m_crFocusBorder);
        pal.setColor(nGroup, QPalette::HighlightedText, QColor(255, 255, 255));
    }
    pal.setColor(QPalette::Disabled, QPalette::Base, m_crDisabledBack);
    pal.setColor(QPalette::Disabled, QPalette::Window, m_crDisabledBack);
    pal.setColor(QPalette::Disabled, QPalette::Text, m_crDisabledText);
    setPalette(pal);
}

void CCorvidFlxEditEx::paintEvent(QPaintEvent* pEvent) {
    {
        QPainter p(this);
        p.fillRect(rect(), GetBackColor());
    }
    QLineEdit::paintEvent(pEvent);
    QPainter p(this);
    CCorvidGraphics::FrameRect(p, rect(), GetBorderColor());
}

void CCorvidFlxEditEx::enterEvent(QEnterEvent* pEvent) {
    m_bHover = true;
    update();
    QLineEdit::enterEvent(pEvent);
}

void CCorvidFlxEditEx::leaveEvent(QEvent* pEvent) {
    m_bHover = false;
    update();
    QLineEdit::leaveEvent(pEvent);
}

void CCorvidFlxEditEx::focusInEvent(QFocusEvent* pEvent) {
    ApplyColors();
    QLineEdit::focusInEvent(pEvent);
}

void CCorvidFlxEditEx::focusOutEvent(QFocusEvent* pEvent) {
    ApplyColors();
    QLineEdit::focusOutEvent(pEvent);
}

void CCorvidFlxEditEx::changeEvent(QEvent* pEvent) {
    if (pEvent->type() == QEvent::EnabledChange) {
        ApplyColors();
    }
    QLineEdit::changeEvent(pEvent);
}
