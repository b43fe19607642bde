#include "controls/corvid_graphics.h"

#include <QWidget>

#include "controls/resources.h"

QImage CCorvidGraphics::ApplyColorKey(const QImage& img, const QColor& clrKey) {
    QImage out = img.convertToFormat(QImage::Format_ARGB32);
    const QRgb rgbKey = clrKey.rgb() & 0x00FFFFFF;
    for (int y = 0; y < out.height(); ++y) {
        auto* pRow = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if (qAlpha(pRow[x]) == 255 && (pRow[x] & 0x00FFFFFF) == rgbKey) {
                pRow[x] = 0;
            }
        }
    }
    return out;
}

void CCorvidGraphics::DrawImage(QPainter& p, const QRect& rcTarget, const QImage& img,
                                const QRect& rcSource, const QColor& clrKey) {
    if (img.isNull() || rcTarget.isEmpty() || rcSource.isEmpty()) {
        return;
    }
    QImage keyed = ApplyColorKey(img.copy(rcSource), clrKey);
    p.drawImage(rcTarget, keyed);
}

void CCorvidGraphics::FrameRect(QPainter& p, const QRect& rc, const QColor& clr) {
    if (rc.isEmpty()) {
        return;
    }
    p.fillRect(QRect(rc.left(), rc.top(), rc.width(), 1), clr);
    p.fillRect(QRect(rc.left(), rc.bottom(), rc.width(), 1), clr);
    p.fillRect(QRect(rc.left(), rc.top(), 1, rc.height()), clr);
    p.fillRect(QRect(rc.right(), rc.top(), 1, rc.height()), clr);
}

void CCorvidGraphics::Draw3dRect(QPainter& p, const QRect& rc, const QColor& clrTopLeft,
                                 const QColor& clrBottomRight) {
    if (rc.isEmpty()) {
        return;
    }
    p.fillRect(QRect(rc.left(), rc.top(), rc.width() - 1, 1), clrTopLeft);
    p.fillRect(QRect(rc.left(), rc.top(), 1, rc.height() - 1), clrTopLeft);
    p.fillRect(QRect(rc.left(), rc.bottom(), rc.width(), 1), clrBottomRight);
    p.fillRect(QRect(rc.right(), rc.top(), 1, rc.height()), clrBottomRight);
}

void CCorvidGraphics::FillRoundRect(QPainter& p, const QRect& rc, qreal dRadius,
                                    const QColor& clrFill, const QColor& clrOutline) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(clrOutline, 1.0));
    p.setBrush(clrFill);
    p.drawRoundedRect(QRectF(rc).adjusted(0.5, 0.5, -0.5, -0.5), dRadius, dRadius);
    p.restore();
}

bool CCorvidGraphicsImageList::Load(int nResourceId, const QString& strResourceType) {
    m_vecImages.clear();
    if (strResourceType.compare(QStringLiteral("PNG"), Qt::CaseInsensitive) != 0) {
        return false;
    }
    QImage img = LoadPngResource(nResourceId);
    if (img.isNull()) {
        return false;
    }
    SetStrip(img);
    return true;
}

void CCorvidGraphicsImageList::SetStrip(const QImage& img) {
    m_vecImages.clear();
    const int nCell = img.height();
    if (nCell <= 0) {
        return;
    }
    for (int x = 0; x + nCell <= img.width(); x += nCell) {
        m_vecImages.push_back(img.copy(x, 0, nCell, nCell));
    }
}

QImage CCorvidGraphicsImageList::GetImage(int nIndex) const {
    if (nIndex < 0 || nIndex >= GetCount()) {
        return QImage();
    }
    return m_vecImages[static_cast<size_t>(nIndex)];
}

void CPaintCache::Paint(QWidget* pWidget, const std::function<void(QPainter&)>& fnRender) {
    const qreal dRatio = pWidget->devicePixelRatioF();
    const QSize sizePixels = pWidget->size() * dRatio;
    if (!m_bValid || m_img.size() != sizePixels) {
        m_img = QImage(sizePixels, QImage::Format_ARGB32_Premultiplied);
        m_img.setDevicePixelRatio(dRatio);
        m_img.fill(Qt::transparent);
        QPainter p(&m_img);
        fnRender(p);
        m_bValid = true;
        ++m_nRenderCount;
    }
    QPainter p(pWidget);
    p.drawImage(0, 0, m_img);
}
