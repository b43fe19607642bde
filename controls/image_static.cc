#include "controls/image_static.h"

#include <QEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

#include "controls/corvid_theme.h"
#include "controls/resource_manager.h"
#include "controls/resources.h"
#include "util/split_string.h"

CImageStaticCtrl::CImageStaticCtrl(QWidget* pParent)
    : QWidget(pParent),
      m_pFont(GetDefaultFont()),
      m_crBack(GetThemeColor(0)),
      m_crText(GetThemeColor(1)),
      m_crFrame(GetThemeColor(26)) {
    setFont(*m_pFont);
    setCursor(Qt::ArrowCursor);
}

CImageStaticCtrl::CImageStaticCtrl(const QString& strText, QWidget* pParent)
    : CImageStaticCtrl(pParent) {
    SetText(strText);
}

void CImageStaticCtrl::SetupFromStaticStyle(unsigned nStyle) {
    m_nAlign = (nStyle & kSsCenter) ? kAlignCenter : (nStyle & kSsRight) ? kAlignRight : kAlignLeft;
    const unsigned nType = nStyle & 0x1F;
    bool bKind = false;
    m_bFrame = false;
    m_bTransparent = false;
    switch (nType) {
        case kSsBlackFrame:
            m_crFrame = QColor(60, 60, 60);
            m_bFrame = m_bTransparent = bKind = true;
            break;
        case kSsGrayFrame:
        case kSsWhiteFrame:
        case kSsEtchedHorz:
        case kSsEtchedVert:
        case kSsEtchedFrame:
            m_crFrame = QColor(210, 210, 210);
            m_bFrame = m_bTransparent = bKind = true;
            break;
        case kSsBlackRect:
            m_crBack = QColor(60, 60, 60);
            bKind = true;
            break;
        case kSsGrayRect:
            m_crBack = QColor(210, 210, 210);
            bKind = true;
            break;
        case kSsWhiteRect:
            m_crBack = QColor(255, 255, 255);
            bKind = true;
            break;
        default:
            break;
    }
    // Separator lines come two pixels thick from layouts; draw them as one.
    if (bKind && parentWidget() != nullptr) {
        if (height() == 2) {
            resize(width(), 1);
        } else if (width() == 2) {
            resize(1, height());
        }
    }
    Refresh();
}

void CImageStaticCtrl::SetText(const QString& strText) {
    m_strText = strText;
    QString strClean = strText;
    strClean.remove(QChar('\r'));
    std::vector<std::string> vecLines;
    SplitString(&vecLines, "\n", strClean.toStdString());
    m_arrLines.clear();
    for (const std::string& strLine : vecLines) {
        m_arrLines << QString::fromStdString(strLine);
    }
    Refresh();
}

void CImageStaticCtrl::SetImage(const QImage& img, int nMode, int nCell) {
    m_pImage = img;
    m_nImageMode = nMode;
    m_nImageCell = nCell;
    if (nMode == 1 && !img.isNull()) {
        const int nExtra = m_bFrame ? 2 : 0;
        resize(img.width() + nExtra, img.height() + nExtra);
    }
    Refresh();
}

bool CImageStaticCtrl::SetImageFromStrip(int nResourceId, int nIndex, int nMode,
                                         const QString& strResourceType, int nCell) {
    QImage img;
    if (nIndex >= 0) {
        CCorvidGraphicsImageList list;
        if (list.Load(nResourceId, strResourceType)) {
            img = list.GetImage(nIndex);
        }
    } else if (strResourceType.compare(QStringLiteral("PNG"), Qt::CaseInsensitive) == 0) {
        img = LoadPngResource(nResourceId);
    }
    SetImage(img, nMode, nCell);
    return !img.isNull();
}

bool CImageStaticCtrl::LoadBackImage(int nResourceId, const QString& strResourceType) {
    m_pBackImage = strResourceType.compare(QStringLiteral("PNG"), Qt::CaseInsensitive) == 0
                       ? LoadPngResource(nResourceId)
                       : QImage();
    Refresh();
    return !m_pBackImage.isNull();
}

void CImageStaticCtrl::SetBackColor(const QColor& clr) {
    m_crBack = clr;
    Refresh();
}

void CImageStaticCtrl::SetTextColor(const QColor& clr) {
    m_crText = clr;
    Refresh();
}

void CImageStaticCtrl::SetDisabledTextColor(const QColor& clr) {
    m_crDisabledText = clr;
    Refresh();
}

void CImageStaticCtrl::SetFrameColor(const QColor& clr) {
    m_crFrame = clr;
    Refresh();
}

void CImageStaticCtrl::SetGradient(int nMode, const QColor& clrFrom, const QColor& clrTo) {
    m_nGradient = nMode;
    m_crGradientFrom = clrFrom;
    m_crGradientTo = clrTo;
    Refresh();
}

void CImageStaticCtrl::SetAlign(int nAlign) {
    m_nAlign = nAlign;
    Refresh();
}

void CImageStaticCtrl::SetMargin(int nMargin) {
    m_nMargin = nMargin;
    Refresh();
}

void CImageStaticCtrl::SetLineSpacing(int nSpacing) {
    m_nLineSpacing = nSpacing;
    Refresh();
}

void CImageStaticCtrl::SetImageCell(int nCell) {
    m_nImageCell = nCell;
    Refresh();
}

void CImageStaticCtrl::SetNoText(bool bNoText) {
    m_bNoText = bNoText;
    Refresh();
}

void CImageStaticCtrl::SetFrame(bool bFrame) {
    m_bFrame = bFrame;
    Refresh();
}

void CImageStaticCtrl::SetTransparent(bool bTransparent) {
    m_bTransparent = bTransparent;
    Refresh();
}

void CImageStaticCtrl::SetFont(const QFont* pFont, bool bRedraw) {
    if (pFont == nullptr) {
        return;
    }
    m_pFont = pFont;
    setFont(*pFont);
    m_cache.Invalidate();
    if (bRedraw) {
        update();
    }
}

void CImageStaticCtrl::SetNotify(bool bNotify) {
    m_bNotify = bNotify;
}

void CImageStaticCtrl::SetHandCursor(bool bHand) {
    m_bHandCursor = bHand;
    setCursor(bHand ? CursorFromId(kCursorHand) : QCursor(Qt::ArrowCursor));
}

int CImageStaticCtrl::AddDotLine(int x, int yTop, int x2, int yBottom, int nStep,
                                 const QColor& clr) {
    if (x < 0 || yTop < 0 || x2 < 0 || yBottom < 0 || nStep < 1) {
        return -1;
    }
    m_arrDotLines.push_back(DotLine{true, x, yTop, x2, yBottom, nStep, clr});
    Refresh();
    return GetDotLineCount() - 1;
}

void CImageStaticCtrl::RemoveDotLine(int nIndex) {
    if (nIndex >= 0 && nIndex < GetDotLineCount()) {
        m_arrDotLines.erase(m_arrDotLines.begin() + nIndex);
        Refresh();
    }
}

void CImageStaticCtrl::EnableDotLine(int nIndex, bool bEnable) {
    if (nIndex >= 0 && nIndex < GetDotLineCount()) {
        m_arrDotLines[static_cast<size_t>(nIndex)].bEnabled = bEnable;
        Refresh();
    }
}

void CImageStaticCtrl::EnableAndRedraw(bool bEnable) {
    setEnabled(bEnable);
    m_cache.Invalidate();
    repaint();
}

void CImageStaticCtrl::Refresh() {
    m_cache.Invalidate();
    update();
}

QRect CImageStaticCtrl::WorkingRect() const {
    return m_bFrame ? rect().adjusted(1, 1, -1, -1) : rect();
}

int CImageStaticCtrl::PictureWidth() const {
    if (m_pImage.isNull()) {
        return 0;
    }
    const int nHeight = m_pImage.height();
    const int nCellWidth =
        m_nImageCell >= 0 ? std::min(nHeight, m_pImage.width()) : m_pImage.width();
    if (m_nImageMode != 2 || nHeight <= 0) {
        return nCellWidth;
    }
    const QRect rcWork = WorkingRect();
    const int nScaled = nCellWidth * rcWork.height() / nHeight;
    return nScaled > rcWork.width() ? rcWork.width() : nScaled;
}

QPoint CImageStaticCtrl::GetLinePosition(int nLine) const {
    const QRect rcWork = WorkingRect();
    const QFontMetrics metrics(*m_pFont);
    const int nLines = static_cast<int>(m_arrLines.size());
    const int nLineHeight = metrics.height();
    const int nBlock = nLines * nLineHeight + std::max(0, nLines - 1) * m_nLineSpacing;
    const int y =
        rcWork.top() + (rcWork.height() - nBlock) / 2 + nLine * (nLineHeight + m_nLineSpacing);
    const int nPicture = PictureWidth();
    const int nLineWidth =
        nLine >= 0 && nLine < nLines ? metrics.horizontalAdvance(m_arrLines[nLine]) : 0;
    int x = rcWork.left() + m_nMargin + (nPicture > 0 ? nPicture + 3 : 0);
    if (m_nAlign == kAlignCenter) {
        x += (rcWork.width() - 2 * m_nMargin - nPicture - nLineWidth) / 2;
    } else if (m_nAlign == kAlignRight) {
        x = rcWork.left() + rcWork.width() - m_nMargin - nLineWidth;
    }
    return QPoint(x, y);
}

void CImageStaticCtrl::paintEvent(QPaintEvent*) {
    m_cache.Paint(this, [this](QPainter& p) { Render(p); });
}

void CImageStaticCtrl::Render(QPainter& p) {
    const QRect rcClient = rect();
    if (!m_bTransparent) {
        if (m_nGradient != 0) {
            QLinearGradient gradient(
                rcClient.topLeft(), m_nGradient == 2 ? rcClient.bottomLeft() : rcClient.topRight());
            gradient.setColorAt(0.0, m_crGradientFrom);
            gradient.setColorAt(1.0, m_crGradientTo);
            p.fillRect(rcClient, gradient);
        } else {
            p.fillRect(rcClient, m_crBack);
        }
    }
    const QRect rcWork = WorkingRect();
    if (!m_pBackImage.isNull()) {
        const QImage imgColumn = CCorvidGraphics::ApplyColorKey(
            m_pBackImage.copy(0, 0, 1, m_pBackImage.height()), kImageKeyColor);
        for (int x = 1; x < rcWork.left() + rcWork.width() - 1; ++x) {
            p.drawImage(QRect(x, 1, 1, rcWork.height() - 1), imgColumn);
        }
    }
    if (!m_pImage.isNull() && !rcWork.isEmpty()) {
        const int nHeight = m_pImage.height();
        int nCellWidth = m_pImage.width();
        int xSource = 0;
        if (m_nImageCell >= 0) {
            nCellWidth = std::min(nHeight, m_pImage.width());
            xSource = std::min(nHeight * m_nImageCell, m_pImage.width() - nCellWidth);
        }
        const QRect rcSource(xSource, 0, nCellWidth, nHeight);
        QRect rcTarget;
        if (m_nImageMode != 2) {
            rcTarget = QRect(rcWork.left() + m_nMargin,
                             rcWork.top() + (rcWork.height() - nHeight) / 2, nCellWidth, nHeight);
        } else {
            int nWidth = nCellWidth * rcWork.height() / std::max(1, nHeight);
            int nScaledHeight = rcWork.height();
            if (nWidth > rcWork.width()) {
                nWidth = rcWork.width();
                nScaledHeight = nHeight * nWidth / std::max(1, nCellWidth);
            }
            rcTarget =
                QRect(rcWork.left() + m_nMargin + (rcWork.width() - m_nMargin - nWidth) / 2,
                      rcWork.top() + (rcWork.height() - nScaledHeight) / 2, nWidth, nScaledHeight);
        }
        p.setRenderHint(QPainter::SmoothPixmapTransform, m_nImageMode == 2);
        CCorvidGraphics::DrawImage(p, rcTarget, m_pImage, rcSource, kImageKeyColor);
    }
    if (!m_bNoText && !m_arrLines.isEmpty()) {
        p.setFont(*m_pFont);
        p.setPen(isEnabled() ? m_crText : m_crDisabledText);
        const QFontMetrics metrics(*m_pFont);
        for (int i = 0; i < m_arrLines.size(); ++i) {
            if (m_arrLines[i].isEmpty()) {
                continue;
            }
            const QPoint pt = GetLinePosition(i);
            p.drawText(
                QRect(pt, QSize(metrics.horizontalAdvance(m_arrLines[i]) + 1, metrics.height())),
                Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, m_arrLines[i]);
        }
    }
    if (m_bFrame) {
        CCorvidGraphics::FrameRect(p, rcClient, m_crFrame);
    }
    for (const DotLine& line : m_arrDotLines) {
        if (!line.bEnabled) {
            continue;
        }
        for (int y = line.yTop; y <= line.yBottom; y += 3) {
            p.fillRect(QRect(line.x, y, 1, 1), line.clr);
        }
    }
}

void CImageStaticCtrl::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (m_bNotify && pEvent->button() == Qt::LeftButton &&
        rect().contains(pEvent->position().toPoint())) {
        emit clicked();
        return;
    }
    QWidget::mouseReleaseEvent(pEvent);
}

void CImageStaticCtrl::changeEvent(QEvent* pEvent) {
    if (pEvent->type() == QEvent::EnabledChange) {
        Refresh();
    }
    QWidget::changeEvent(pEvent);
}
