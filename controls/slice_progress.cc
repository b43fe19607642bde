#include "controls/slice_progress.h"

#include <QPainter>

#include "controls/resources.h"

namespace {

int LogicalWidth(const QImage& img) {
    return qRound(img.deviceIndependentSize().width());
}

int LogicalHeight(const QImage& img) {
    return qRound(img.deviceIndependentSize().height());
}

}  // namespace

bool CSliceBarImages::Load(int nScale) {
    imgFullLeft = LoadPngResource(kPngBarFullLeft, nScale);
    imgFullSlice = LoadPngResource(kPngBarFullSlice, nScale);
    imgFullRight = LoadPngResource(kPngBarFullRight, nScale);
    imgEmptyLeft = LoadPngResource(kPngBarEmptyLeft, nScale);
    imgEmptySlice = LoadPngResource(kPngBarEmptySlice, nScale);
    imgEmptyRight = LoadPngResource(kPngBarEmptyRight, nScale);
    return IsComplete();
}

bool CSliceBarImages::IsComplete() const {
    return !imgFullLeft.isNull() && !imgFullSlice.isNull() && !imgFullRight.isNull() &&
           !imgEmptyLeft.isNull() && !imgEmptySlice.isNull() && !imgEmptyRight.isNull();
}

int CSliceBarImages::GetBarWidth() const {
    return IsComplete() ? LogicalWidth(imgFullLeft) + LogicalWidth(imgFullRight) + kSliceBarSteps
                        : 0;
}

int CSliceBarImages::GetBarHeight() const {
    return IsComplete() ? LogicalHeight(imgFullLeft) : 0;
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

// The slice picture over x to xEnd (exclusive). Stretched without smoothing,
// a one-pixel column gives exactly the pixels of one draw per slice.
void DrawSliceRun(QPainter& p, const QImage& imgSlice, int x, int xEnd, int y) {
    if (xEnd <= x) {
        return;
    }
    p.save();
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(QRect(x, y, xEnd - x, LogicalHeight(imgSlice)), imgSlice);
    p.restore();
}

void DrawCap(QPainter& p, int x, int y, const QImage& img) {
    p.drawImage(QRect(QPoint(x, y), img.deviceIndependentSize().toSize()), img);
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
    const int xInner = x0 + LogicalWidth(images.imgFullLeft);
    const int xRightCap = rcBar.left() + rcBar.width() - LogicalWidth(images.imgEmptyRight);
    if (nPercent == 0 || nPercent == 100) {
        const bool bFull = nPercent == 100;
        DrawCap(p, x0, y0, bFull ? images.imgFullLeft : images.imgEmptyLeft);
        DrawSliceRun(p, bFull ? images.imgFullSlice : images.imgEmptySlice, xInner, xRightCap, y0);
        DrawCap(p, xRightCap, y0, bFull ? images.imgFullRight : images.imgEmptyRight);
        return;
    }
    DrawCap(p, x0, y0, images.imgFullLeft);
    const int nStep = std::max(1, LogicalWidth(images.imgFullSlice));
    const int xFilledEnd = xInner + SliceProgressFilledSteps(nPercent) * nStep;
    DrawSliceRun(p, images.imgFullSlice, xInner, xFilledEnd, y0);
    DrawSliceRun(p, images.imgEmptySlice, xFilledEnd, xInner + kSliceBarSteps * nStep, y0);
    DrawCap(p, xRightCap, y0, images.imgEmptyRight);
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
