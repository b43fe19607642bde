#include "controls/slice_progress.h"

#include <QPainter>

#include "controls/resources.h"

bool CSliceBarImages::Load() {
    imgFullLeft = LoadPngResource(kPngBarFullLeft);
    imgFullSlice = LoadPngResource(kPngBarFullSlice);
    imgFullRight = LoadPngResource(kPngBarFullRight);
    imgEmptyLeft = LoadPngResource(kPngBarEmptyLeft);
    imgEmptySlice = LoadPngResource(kPngBarEmptySlice);
    imgEmptyRight = LoadPngResource(kPngBarEmptyRight);
    return IsComplete();
}

bool CSliceBarImages::IsComplete() const {
    return !imgFullLeft.isNull() && !imgFullSlice.isNull() && !imgFullRight.isNull() &&
           !imgEmptyLeft.isNull() && !imgEmptySlice.isNull() && !imgEmptyRight.isNull();
}

int CSliceBarImages::GetBarWidth() const {
    return IsComplete() ? imgFullLeft.width() + imgFullRight.width() + kSliceBarSteps : 0;
}

int CSliceBarImages::GetBarHeight() const {
    return IsComplete() ? imgFullLeft.height() : 0;
}

int SliceProgressFilledSteps(int nPercent) {
    if (nPercent <= 1 || nPercent > 100) {
        return 0;
    }
    if (nPercent >= 99) {
        return kSliceBarSteps;
    }
    return std::min(kSliceBarSteps, (nPercent - 1) * 7 + 1);
}

namespace {

// The slice picture repeated from x to xEnd (exclusive).
void RepeatSlice(QPainter& p, const QImage& imgSlice, int x, int xEnd, int y) {
    const int nStep = std::max(1, imgSlice.width());
    for (; x < xEnd; x += nStep) {
        p.drawImage(QPoint(x, y), imgSlice,
                    QRect(0, 0, std::min(nStep, xEnd - x), imgSlice.height()));
    }
}

}  // namespace

void DrawSliceProgress(QPainter& p, const QRect& rcBar, int nPercent,
                       const CSliceBarImages& images) {
    if (!images.IsComplete()) {
        return;
    }
    if (nPercent < 0 || nPercent > 100) {
        nPercent = 0;
    }
    const int x0 = rcBar.left();
    const int y0 = rcBar.top();
    const int xInner = x0 + images.imgFullLeft.width();
    const int xRightCap = rcBar.left() + rcBar.width() - images.imgEmptyRight.width();
    if (nPercent == 0 || nPercent == 100) {
        const bool bFull = nPercent == 100;
        p.drawImage(QPoint(x0, y0), bFull ? images.imgFullLeft : images.imgEmptyLeft);
        RepeatSlice(p, bFull ? images.imgFullSlice : images.imgEmptySlice, xInner, xRightCap, y0);
        p.drawImage(QPoint(xRightCap, y0), bFull ? images.imgFullRight : images.imgEmptyRight);
        return;
    }
    p.drawImage(QPoint(x0, y0), images.imgFullLeft);
    const int nFilled = SliceProgressFilledSteps(nPercent);
    const int nStep = std::max(1, images.imgFullSlice.width());
    for (int i = 0; i < kSliceBarSteps; ++i) {
        p.drawImage(QPoint(xInner + i * nStep, y0),
                    i < nFilled ? images.imgFullSlice : images.imgEmptySlice);
    }
    p.drawImage(QPoint(xRightCap, y0), images.imgEmptyRight);
}

CSliceProgressBar::CSliceProgressBar(QWidget* pParent) : QWidget(pParent) {
    m_images.Load();
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    resize(sizeHint());
}

QSize CSliceProgressBar::sizeHint() const {
    return QSize(m_images.GetBarWidth(), m_images.GetBarHeight());
}

void CSliceProgressBar::SetProgress(int nPercent) {
    if (nPercent == m_nProgress) {
        return;
    }
    m_nProgress = nPercent;
    m_cache.Invalidate();
    update();
}

void CSliceProgressBar::SetBackColor(const QColor& clr) {
    m_crBack = clr;
    m_cache.Invalidate();
    update();
}

void CSliceProgressBar::paintEvent(QPaintEvent*) {
    m_cache.Paint(this, [this](QPainter& p) {
        if (m_crBack.isValid()) {
            p.fillRect(rect(), m_crBack);
        }
        DrawSliceProgress(p, QRect(QPoint(0, 0), sizeHint()), m_nProgress, m_images);
    });
}
