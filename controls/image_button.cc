#include "controls/image_button.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "controls/resource_manager.h"
#include "controls/resources.h"

CImageButton::CImageButton(QWidget* pParent) : QAbstractButton(pParent) {
    QStringList vecFaces{QStringLiteral(u"굴림")};
    vecFaces << GetFallbackFontFaces();
    m_Font.setFamilies(vecFaces);
    m_Font.setPixelSize(CResourceManager::PointSizeToPixels(9));
    m_crBack = palette().color(QPalette::Button);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int CImageButton::SetBitmap(int nResourceId, int nDrawMode, int nImageCount, bool bResize) {
    return SetImage(LoadPngResource(nResourceId), nDrawMode, nImageCount, bResize);
}

int CImageButton::SetImage(const QImage& img, int nDrawMode, int nImageCount, bool bResize) {
    m_Bitmap = img;
    m_nImageCount = std::max(1, nImageCount);
    m_sizeImage = img.isNull() ? QSize(0, 0) : QSize(img.width() / m_nImageCount, img.height());
    m_nDrawMode = nDrawMode;
    if (bResize && (nDrawMode == kModeImage || nDrawMode == kModeImageText) &&
        !m_sizeImage.isEmpty()) {
        resize(m_sizeImage);
    }
    Refresh();
    return 1;
}

void CImageButton::SetBackColor(const QColor& clr) {
    m_crBack = clr;
    Refresh();
}

void CImageButton::SetTransparentColor(const QColor& clr) {
    m_crTransparent = clr;
    Refresh();
}

void CImageButton::SetCheckable(bool bCheckable) {
    m_bCheckable = bCheckable;
    if (!bCheckable) {
        m_bChecked = false;
    }
    Refresh();
}

void CImageButton::SetChecked(bool bChecked) {
    m_bChecked = m_bCheckable && bChecked;
    Refresh();
}

void CImageButton::SetCursorId(int nCursorId) {
    m_nCursorId = nCursorId;
    if (nCursorId >= 1) {
        setCursor(CursorFromId(nCursorId));
    } else {
        unsetCursor();
    }
}

void CImageButton::SetCaption(const QString& strText) {
    setText(strText);
    Refresh();
}

void CImageButton::SetToolTipText(const QString& strText) {
    m_strToolTip = strText;
    setToolTip(strText);
}

int CImageButton::GetCurrentCell() const {
    if (m_nImageCount >= 4 && !isEnabled()) {
        return 3;
    }
    if (m_bPressed || (m_bCheckable && m_bChecked)) {
        return 1;
    }
    if (m_nImageCount >= 3 && m_bFocus) {
        return 2;
    }
    return 0;
}

void CImageButton::Refresh() {
    m_cache.Invalidate();
    update();
}

bool CImageButton::TracksHover() const {
    return m_nDrawMode == kModePlain || m_nDrawMode == kModeFramed;
}

void CImageButton::SetHover(bool bHover) {
    if (m_bHover != bHover) {
        m_bHover = bHover;
        Refresh();
    }
}

void CImageButton::Click(bool bByKey) {
    if (m_bCheckable) {
        m_bChecked = !m_bChecked;
        Refresh();
    }
    emit commandSent(bByKey);
    emit clicked(m_bChecked);
}

void CImageButton::paintEvent(QPaintEvent*) {
    if (text() != m_strCachedText) {
        m_strCachedText = text();
        m_cache.Invalidate();
    }
    m_cache.Paint(this, [this](QPainter& p) { Render(p); });
}

void CImageButton::Render(QPainter& p) {
    const QRect rc = rect();
    p.fillRect(rc, m_crBack);
    p.setFont(m_Font);
    const QFontMetrics metrics(m_Font);
    const QString strCaption = text();
    const int nTextWidth = strCaption.isEmpty() ? 0 : metrics.horizontalAdvance(strCaption);
    const int nTextHeight = strCaption.isEmpty() ? 0 : metrics.height();
    int xText = (rc.width() - nTextWidth) / 2;
    const int yText = (rc.height() - nTextHeight) / 2;
    const int xImage = (rc.width() - (m_sizeImage.width() + nTextWidth + 5)) / 2;
    const int yImage = (rc.height() - m_sizeImage.height()) / 2;
    const bool bHasImage = !m_Bitmap.isNull();
    if (bHasImage && TracksHover()) {
        xText = xImage + m_sizeImage.width() + 5;
    }
    const QColor clrLight = palette().color(QPalette::Light);
    const QColor clrShadow = palette().color(QPalette::Dark);
    auto drawCell = [&](int nCell, const QPoint& pt, const QColor& clrKey) {
        if (bHasImage) {
            const QRect rcSource(nCell * m_sizeImage.width(), 0, m_sizeImage.width(),
                                 m_sizeImage.height());
            CCorvidGraphics::DrawImage(p, QRect(pt, m_sizeImage), m_Bitmap, rcSource, clrKey);
        }
    };
    if (m_nDrawMode == kModeImage || m_nDrawMode == kModeImageText) {
        drawCell(GetCurrentCell(), QPoint(0, 0), m_crTransparent);
    } else if (m_nDrawMode == kModeFramed) {
        CCorvidGraphics::Draw3dRect(p, rc, clrLight, clrShadow);
        drawCell(0, QPoint(xImage, yImage), kImageKeyColor);
    } else {
        if (isEnabled() && m_bHover) {
            if (m_bPressed) {
                CCorvidGraphics::Draw3dRect(p, rc, clrShadow, clrLight);
            } else {
                CCorvidGraphics::Draw3dRect(p, rc, clrLight, clrShadow);
            }
        }
        drawCell(0, QPoint(xImage, yImage), m_crTransparent);
    }
    if (m_nDrawMode != kModeImage && !strCaption.isEmpty()) {
        p.setPen(isEnabled() ? QColor(0, 0, 0) : QColor(160, 160, 160));
        p.drawText(QRect(xText, yText, nTextWidth, nTextHeight),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, strCaption);
    }
}

void CImageButton::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton || !isEnabled()) {
        pEvent->ignore();
        return;
    }
    setFocus(Qt::MouseFocusReason);
    m_bPressed = true;
    Refresh();
}

void CImageButton::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    mousePressEvent(pEvent);
}

void CImageButton::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        pEvent->ignore();
        return;
    }
    const bool bWasPressed = m_bPressed;
    m_bPressed = false;
    Refresh();
    if (bWasPressed && isEnabled() && rect().contains(pEvent->position().toPoint())) {
        Click(false);
    }
}

void CImageButton::mouseMoveEvent(QMouseEvent* pEvent) {
    if (TracksHover()) {
        const bool bInside = rect().contains(pEvent->position().toPoint());
        SetHover(bInside && QGuiApplication::focusWindow() != nullptr);
    }
}

void CImageButton::enterEvent(QEnterEvent*) {
    // Hover shows only while some window of the program is active.
    if (TracksHover() && QGuiApplication::focusWindow() != nullptr) {
        SetHover(true);
    }
}

void CImageButton::leaveEvent(QEvent*) {
    SetHover(false);
}

void CImageButton::focusInEvent(QFocusEvent* pEvent) {
    m_bFocus = true;
    Refresh();
    QAbstractButton::focusInEvent(pEvent);
}

void CImageButton::focusOutEvent(QFocusEvent* pEvent) {
    m_bFocus = false;
    m_bSpaceDown = false;
    Refresh();
    QAbstractButton::focusOutEvent(pEvent);
}

void CImageButton::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter) {
        // Posted, as a click by key: the receiver runs after this event.
        if (!pEvent->isAutoRepeat()) {
            QMetaObject::invokeMethod(
                this, [this] { Click(true); }, Qt::QueuedConnection);
        }
        return;
    }
    if (pEvent->key() == Qt::Key_Space && !pEvent->isAutoRepeat()) {
        m_bSpaceDown = true;
        return;
    }
    QAbstractButton::keyPressEvent(pEvent);
}

void CImageButton::keyReleaseEvent(QKeyEvent* pEvent) {
    if (pEvent->key() == Qt::Key_Space && !pEvent->isAutoRepeat()) {
        if (m_bSpaceDown) {
            m_bSpaceDown = false;
            Click(false);
        }
        return;
    }
    QAbstractButton::keyReleaseEvent(pEvent);
}

void CImageButton::changeEvent(QEvent* pEvent) {
    if (pEvent->type() == QEvent::EnabledChange || pEvent->type() == QEvent::PaletteChange) {
        if (!isEnabled()) {
            m_bPressed = false;
            m_bHover = false;
        }
        Refresh();
    }
    QAbstractButton::changeEvent(pEvent);
}
