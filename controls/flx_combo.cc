#include "controls/flx_combo.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include "controls/corvid_theme.h"
#include "controls/resource_manager.h"

CCorvidFlxListBox::CCorvidFlxListBox(QWidget* pParent) : QListView(pParent) {
    setFont(*GetDefaultFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Base, GetThemeColor(130));
    pal.setColor(QPalette::Window, GetThemeColor(130));
    pal.setColor(QPalette::Text, GetThemeColor(1));
    pal.setColor(QPalette::Mid, GetThemeColor(131));
    pal.setColor(QPalette::Highlight, GetThemeColor(132));
    pal.setColor(QPalette::HighlightedText, GetThemeColor(1));
    pal.setColor(QPalette::AlternateBase, GetThemeColor(133));
    setPalette(pal);
    setFrameShape(QFrame::Box);
}

void CCorvidFlxListBox::SetBackColor(const QColor& clr) {
    QPalette pal = palette();
    pal.setColor(QPalette::Base, clr);
    pal.setColor(QPalette::Window, clr);
    setPalette(pal);
}

CCorvidFlxComboBoxList::CCorvidFlxComboBoxList(QWidget* pParent) : CCorvidFlxListBox(pParent) {
    SetBackColor(GetThemeColor(20));
}

CCorvidFlxComboBox::CCorvidFlxComboBox(QWidget* pParent)
    : QComboBox(pParent),
      m_pList(new CCorvidFlxComboBoxList()),
      m_crBack(GetThemeColor(20)),
      m_crText(GetThemeColor(21)),
      m_crHoverBorder(GetThemeColor(103)),
      m_crButtonBack(GetThemeColor(25)),
      m_crBorder(GetThemeColor(26)),
      m_crDisabledBack(GetThemeColor(22)),
      m_crDisabledText(GetThemeColor(23)),
      m_crArrow(GetThemeColor(104)) {
    setView(m_pList);  // the combo box takes ownership
    setFont(*GetDefaultFont());
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(this, &QComboBox::currentIndexChanged, this, [this] { Refresh(); });
}

void CCorvidFlxComboBox::SetCurSel(int nIndex) {
    if (nIndex >= -1 && nIndex < count()) {
        setCurrentIndex(nIndex);
    }
}

void CCorvidFlxComboBox::EnableWindow(bool bEnable) {
    setEnabled(bEnable);
    m_cache.Invalidate();
    repaint();
}

QColor CCorvidFlxComboBox::GetBorderColor() const {
    if (isEnabled() && (m_bHover || hasFocus())) {
        return m_crHoverBorder;
    }
    return m_crBorder;
}

QRect CCorvidFlxComboBox::GetButtonRect() const {
    const int nSize = std::max(0, height() - 2);
    return QRect(width() - 1 - nSize, 1, nSize, nSize);
}

void CCorvidFlxComboBox::Refresh() {
    m_cache.Invalidate();
    update();
}

void CCorvidFlxComboBox::paintEvent(QPaintEvent*) {
    if (currentText() != m_strCachedText) {
        m_strCachedText = currentText();
        m_cache.Invalidate();
    }
    m_cache.Paint(this, [this](QPainter& p) { Render(p); });
}

void CCorvidFlxComboBox::Render(QPainter& p) {
    const bool bEnabled = isEnabled();
    const QRect rc = rect();
    p.fillRect(rc, bEnabled ? m_crBack : m_crDisabledBack);
    const QRect rcButton = GetButtonRect();
    if (bEnabled && m_bHover) {
        p.fillRect(rcButton, m_crButtonBack);
    }
    // Arrow: a small filled triangle pointing down.
    const QPointF ptCentre = QRectF(rcButton).center();
    QPainterPath path;
    path.moveTo(ptCentre.x() - 4, ptCentre.y() - 2);
    path.lineTo(ptCentre.x() + 4, ptCentre.y() - 2);
    path.lineTo(ptCentre.x(), ptCentre.y() + 2);
    path.closeSubpath();
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.fillPath(path, bEnabled ? m_crArrow : m_crDisabledText);
    p.restore();

    const QRect rcText(4, 0, std::max(0, rcButton.left() - 6), rc.height());
    p.setFont(font());
    p.setPen(bEnabled ? m_crText : m_crDisabledText);
    p.drawText(rcText, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               p.fontMetrics().elidedText(currentText(), Qt::ElideRight, rcText.width()));
    CCorvidGraphics::FrameRect(p, rc, GetBorderColor());
}

void CCorvidFlxComboBox::enterEvent(QEnterEvent* pEvent) {
    m_bHover = true;
    Refresh();
    QComboBox::enterEvent(pEvent);
}

void CCorvidFlxComboBox::leaveEvent(QEvent* pEvent) {
    m_bHover = false;
    Refresh();
    QComboBox::leaveEvent(pEvent);
}

void CCorvidFlxComboBox::focusInEvent(QFocusEvent* pEvent) {
    Refresh();
    QComboBox::focusInEvent(pEvent);
}

void CCorvidFlxComboBox::focusOutEvent(QFocusEvent* pEvent) {
    Refresh();
    QComboBox::focusOutEvent(pEvent);
}

void CCorvidFlxComboBox::changeEvent(QEvent* pEvent) {
    if (pEvent->type() == QEvent::EnabledChange) {
        Refresh();
    }
    QComboBox::changeEvent(pEvent);
}
