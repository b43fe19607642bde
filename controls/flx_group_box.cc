#include "controls/flx_group_box.h"

#include <QEvent>
#include <QPainter>

#include "controls/corvid_theme.h"
#include "controls/resource_manager.h"

namespace {

constexpr int kCaptionIndent = 8;
constexpr int kCaptionPad = 3;

}  // namespace

CCorvidFlxGroupBox::CCorvidFlxGroupBox(QWidget* pParent)
    : QWidget(pParent),
      m_crText(GetThemeColor(1)),
      m_crBack(GetThemeColor(0)),
      m_crFrame(GetThemeColor(26)) {
    setFont(*GetDefaultFont());
    // Controls inside the frame are its siblings; it must not take their clicks.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

CCorvidFlxGroupBox::CCorvidFlxGroupBox(const QString& strText, QWidget* pParent)
    : CCorvidFlxGroupBox(pParent) {
    SetText(strText);
}

void CCorvidFlxGroupBox::SetText(const QString& strText) {
    m_strText = strText;
    m_cache.Invalidate();
    update();
}

QRect CCorvidFlxGroupBox::GetCaptionRect() const {
    if (m_strText.isEmpty()) {
        return QRect();
    }
    const QFontMetrics metrics(font());
    return QRect(kCaptionIndent, 0, metrics.horizontalAdvance(m_strText) + 2 * kCaptionPad,
                 metrics.height());
}

QRect CCorvidFlxGroupBox::GetFrameRect() const {
    const int nTop = m_strText.isEmpty() ? 0 : QFontMetrics(font()).height() / 2;
    return QRect(0, nTop, width(), std::max(0, height() - nTop));
}

void CCorvidFlxGroupBox::paintEvent(QPaintEvent*) {
    m_cache.Paint(this, [this](QPainter& p) {
        p.fillRect(rect(), m_crBack);
        CCorvidGraphics::FrameRect(p, GetFrameRect(), m_crFrame);
        const QRect rcCaption = GetCaptionRect();
        if (!rcCaption.isEmpty()) {
            p.fillRect(rcCaption, m_crBack);
            p.setFont(font());
            p.setPen(isEnabled() ? m_crText : GetThemeColor(23));
            p.drawText(rcCaption, Qt::AlignCenter | Qt::TextSingleLine, m_strText);
        }
    });
}

void CCorvidFlxGroupBox::changeEvent(QEvent* pEvent) {
    if (pEvent->type() == QEvent::EnabledChange || pEvent->type() == QEvent::FontChange) {
        m_cache.Invalidate();
        update();
    }
    QWidget::changeEvent(pEvent);
}
