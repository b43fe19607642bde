// Progress bar painted with a horizontal two-colour gradient inside a 2-pixel
// margin; paints nothing when the range is empty.
#pragma once

#include <QColor>
#include <QWidget>

#include "controls/corvid_graphics.h"

class CImageProgress : public QWidget {
    Q_OBJECT
public:
    explicit CImageProgress(QWidget* pParent = nullptr);

    void SetPos(int nPos);
    int GetPos() const { return m_nPos; }
    // Also moves the position to the minimum.
    void SetRange(int nMin, int nMax);
    void SetBackColor(const QColor& clr);
    // Width of the filled part for the current size and position.
    int GetFilledWidth() const;
    const CPaintCache& GetPaintCache() const { return m_cache; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    int m_nPos = 0;
    int m_nMin = 0;
    int m_nMax = 100;
    QColor m_crBack{230, 230, 230};
    CPaintCache m_cache;
};
