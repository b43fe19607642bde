// The main window's progress bar: a left cap, 686 one-pixel slices and a
// right cap, each filled (yellow) or empty (white), drawn from pictures.
// Sizes are logical pixels whatever the pictures' device-pixel ratio.
#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>

#include "controls/corvid_graphics.h"

class QPainter;

// Slices between the caps, whatever the percentage.
constexpr int kSliceBarSteps = 686;

// The six pieces; the bar exists only when all of them loaded.
struct CSliceBarImages {
    QImage imgFullLeft, imgFullSlice, imgFullRight;
    QImage imgEmptyLeft, imgEmptySlice, imgEmptyRight;

    // Loads the pictures 175 to 180 (nScale 2: those drawn for a ratio of
    // 2); true when all six are there.
    bool Load(int nScale = 1);
    bool IsComplete() const;
    // Left cap + right cap + 686, and the left cap's height; 0 when incomplete.
    int GetBarWidth() const;
    int GetBarHeight() const;
};

// Draws the bar with its top-left at rcBar's and its right cap at rcBar's
// right end. nPercent outside 0..100 counts as 0. At 1..99 slice i is filled
// when i <= (p - 1) * 7, none at 1 %, all 686 at 99 %, and the right cap stays
// empty; 0 and 100 draw the all-empty and all-filled bars. Every slice is the
// same column of pixels, so a run of them is one stretched draw.
void DrawSliceProgress(QPainter& p, const QRect& rcBar, int nPercent,
                       const CSliceBarImages& images);
// Number of filled slices DrawSliceProgress draws for a percentage.
int SliceProgressFilledSteps(int nPercent);

// The bar as a widget of its natural size; draws nothing without pictures.
class CSliceProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit CSliceProgressBar(QWidget* pParent = nullptr);

    // Stores the percentage and repaints when it changed.
    void SetProgress(int nPercent);
    int GetProgress() const { return m_nProgress; }
    // Fill behind the rounded caps; an invalid colour leaves them transparent.
    void SetBackColor(const QColor& clr);
    bool HasPictures() const { return m_images.IsComplete(); }
    const CPaintCache& GetPaintCache() const { return m_cache; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    CSliceBarImages m_images;
    CPaintCache m_cache;
    QColor m_crBack;
    int m_nProgress = 0;
};
