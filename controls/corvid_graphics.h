// Drawing helpers shared by the painted controls: colour-keyed pictures,
// frames, rounded boxes, a picture strip cut into square cells, and the
// cached back buffer every painted widget draws into.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>
#include <functional>
#include <vector>

class QWidget;

// The colour key of the controls' pictures: RGB(0,128,128).
inline const QColor kImageKeyColor{0, 128, 128};
// The colour key of the caption buttons' pictures: magenta.
inline const QColor kCaptionKeyColor{255, 0, 255};

class CCorvidGraphics {
public:
    // A copy in which every opaque pixel of colour clrKey is transparent.
    static QImage ApplyColorKey(const QImage& img, const QColor& clrKey);
    // Draws rcSource of img into rcTarget, leaving out pixels of clrKey.
    static void DrawImage(QPainter& p, const QRect& rcTarget, const QImage& img,
                          const QRect& rcSource, const QColor& clrKey);
    // A 1-pixel frame along the inside of rc.
    static void FrameRect(QPainter& p, const QRect& rc, const QColor& clr);
    // Top and left edges in clrTopLeft, bottom and right in clrBottomRight.
    static void Draw3dRect(QPainter& p, const QRect& rc, const QColor& clrTopLeft,
                           const QColor& clrBottomRight);
    // Anti-aliased rounded box with a 1-pixel outline inside rc.
    static void FillRoundRect(QPainter& p, const QRect& rc, qreal dRadius, const QColor& clrFill,
                              const QColor& clrOutline);
};

// A picture strip cut into square cells (cell width = strip height).
class CCorvidGraphicsImageList {
public:
    bool Load(int nResourceId, const QString& strResourceType = QStringLiteral("PNG"));
    void SetStrip(const QImage& img);
    int GetCount() const { return static_cast<int>(m_vecImages.size()); }
    // A copy of cell nIndex; null when out of range.
    QImage GetImage(int nIndex) const;

private:
    std::vector<QImage> m_vecImages;
};

// Back buffer of a painted widget: rendered again only after Invalidate() or
// a size change, then blitted whole on every paint.
class CPaintCache {
public:
    void Invalidate() { m_bValid = false; }
    bool IsValid() const { return m_bValid; }
    // Paints the buffer onto pWidget, calling fnRender on a cleared
    // (transparent) buffer first when it is stale.
    void Paint(QWidget* pWidget, const std::function<void(QPainter&)>& fnRender);
    const QImage& GetImage() const { return m_img; }
    int GetRenderCount() const { return m_nRenderCount; }

private:
    QImage m_img;
    bool m_bValid = false;
    int m_nRenderCount = 0;
};
