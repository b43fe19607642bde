// A label that paints itself: plain or gradient background, an optional
// picture at its left, lines of text with alignment, an optional 1-pixel
// frame and vertical dotted lines.
#pragma once

#include <QColor>
#include <QImage>
#include <QStringList>
#include <QWidget>
#include <vector>

#include "controls/corvid_graphics.h"

class CImageStaticCtrl : public QWidget {
    Q_OBJECT
public:
    // Static kinds understood by SetupFromStaticStyle (low bits of a style).
    enum EStaticStyle : unsigned {
        kSsCenter = 0x01,
        kSsRight = 0x02,
        kSsBlackRect = 0x04,
        kSsGrayRect = 0x05,
        kSsWhiteRect = 0x06,
        kSsBlackFrame = 0x07,
        kSsGrayFrame = 0x08,
        kSsWhiteFrame = 0x09,
        kSsEtchedHorz = 0x10,
        kSsEtchedVert = 0x11,
        kSsEtchedFrame = 0x12,
    };
    enum EAlign { kAlignLeft = 0, kAlignCenter = 1, kAlignRight = 2 };

    explicit CImageStaticCtrl(QWidget* pParent = nullptr);
    CImageStaticCtrl(const QString& strText, QWidget* pParent);

    // Takes alignment, frame and rectangle kinds from a static style; a 2-pixel
    // line of a frame or rectangle kind becomes 1 pixel thick.
    void SetupFromStaticStyle(unsigned nStyle);

    // Drops carriage returns and splits at line feeds (quotes group, empty
    // lines vanish).
    void SetText(const QString& strText);
    QString GetText() const { return m_strText; }
    const QStringList& GetLines() const { return m_arrLines; }

    // Mode 0 natural size, 1 natural size and the control resized to it,
    // 2 scaled to fit; nCell >= 0 picks a square cell of a strip.
    void SetImage(const QImage& img, int nMode, int nCell);
    // nIndex >= 0: cell nIndex of the strip through the image list; else the
    // whole picture.
    bool SetImageFromStrip(int nResourceId, int nIndex, int nMode,
                           const QString& strResourceType = QStringLiteral("PNG"), int nCell = -1);
    bool LoadBackImage(int nResourceId, const QString& strResourceType = QStringLiteral("PNG"));

    void SetBackColor(const QColor& clr);
    void SetTextColor(const QColor& clr);
    void SetDisabledTextColor(const QColor& clr);
    void SetFrameColor(const QColor& clr);
    // nMode 0 plain, 2 vertical, other non-zero horizontal.
    void SetGradient(int nMode, const QColor& clrFrom, const QColor& clrTo);
    void SetAlign(int nAlign);
    void SetMargin(int nMargin);
    void SetLineSpacing(int nSpacing);
    void SetImageCell(int nCell);
    void SetNoText(bool bNoText);
    void SetFrame(bool bFrame);
    void SetTransparent(bool bTransparent);
    void SetFont(const QFont* pFont, bool bRedraw = true);
    // Clicks are reported through clicked() only when notify is on.
    void SetNotify(bool bNotify);
    void SetHandCursor(bool bHand);
    // Returns the new line's index, or -1 for negative coordinates or step < 1.
    int AddDotLine(int x, int yTop, int x2, int yBottom, int nStep, const QColor& clr);
    void RemoveDotLine(int nIndex);
    void EnableDotLine(int nIndex, bool bEnable);
    int GetDotLineCount() const { return static_cast<int>(m_arrDotLines.size()); }
    void EnableAndRedraw(bool bEnable);

    bool HasFrame() const { return m_bFrame; }
    bool IsTransparent() const { return m_bTransparent; }
    int GetAlign() const { return m_nAlign; }
    QColor GetFrameColor() const { return m_crFrame; }
    // Where line nLine's text starts (top-left), as painting places it.
    QPoint GetLinePosition(int nLine) const;
    const CPaintCache& GetPaintCache() const { return m_cache; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;

private:
    struct DotLine {
        bool bEnabled;
        int x, yTop, x2, yBottom, nStep;
        QColor clr;
    };
    void Render(QPainter& p);
    void Refresh();
    QRect WorkingRect() const;
    // Width the picture takes in the layout (0 without one).
    int PictureWidth() const;

    const QFont* m_pFont;
    QImage m_pBackImage;
    QImage m_pImage;
    QString m_strText;
    QStringList m_arrLines;
    std::vector<DotLine> m_arrDotLines;
    int m_nLineSpacing = 0;
    int m_nAlign = kAlignLeft;
    int m_nMargin = 0;
    int m_nImageMode = 0;
    int m_nImageCell = -1;
    bool m_bFrame = false;
    bool m_bTransparent = false;
    bool m_bNoText = false;
    bool m_bHandCursor = false;
    bool m_bNotify = false;
    QColor m_crBack;
    QColor m_crText;
    QColor m_crFrame;
    QColor m_crDisabledText{150, 150, 150};
    int m_nGradient = 0;
    QColor m_crGradientFrom{255, 255, 255};
    QColor m_crGradientTo{120, 120, 120};
    CPaintCache m_cache;
};
