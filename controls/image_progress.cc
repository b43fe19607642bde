#include "controls/image_progress.h"

#include <QLinearGradient>
#include <QPainter>

CImageProgress::CImageProgress(QWidget* pParent) : QWidget(pParent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void CImageProgress::SetPos(int nPos) {
    if (nPos == m_nPos) {
        return;
    }
    m_nPos = nPos;
    m_cache.Invalidate();
    repaint();
}

void CImageProgress::SetRange(int nMin, int nMax) {
    m_nMin = nMin;
    m_nMax = nMax;
    m_nPos = nMin;
    m_cache.Invalidate();
    update();
}

void CImageProgress::SetBackColor(const QColor& clr) {
    m_crBack = clr;
    m_cache.Invalidate();
    update();
}

int CImageProgress::GetFilledWidth() const {
    if (m_nMax <= m_nMin) {
        return 0;
    }
    const int nPos = std::clamp(m_nPos, m_nMin, m_nMax);
    const int nInner = std::max(0, width() - 4);
    return static_cast<int>(static_cast<long long>(nInner) * (nPos - m_nMin) / (m_nMax - m_nMin));
}

void CImageProgress::paintEvent(QPaintEvent*) {
    m_cache.Paint(this, [this](QPainter& p) {
        if (m_nMax <= m_nMin) {
            return;
        }
        p.fillRect(rect(), m_crBack);
        QLinearGradient gradient(0, 0, width(), 0);
        gradient.setColorAt(0.0, QColor(91, 164, 213));
        gradient.setColorAt(1.0, QColor(195, 133, 232));
        p.fillRect(QRect(2, 2, GetFilledWidth(), std::max(0, height() - 4)), gradient);
    });
}
