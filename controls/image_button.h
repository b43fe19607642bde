// Classic 3-D push button that can show one cell of a picture strip (colour
// keyed) beside or instead of its caption, with a hover frame.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QSize>

#include "controls/corvid_graphics.h"

class CImageButton : public QAbstractButton {
    Q_OBJECT
public:
    // 0 plain, 1 picture only, 2 picture with the caption over it,
    // 3 raised frame with picture and caption.
    enum EDrawMode { kModePlain = 0, kModeImage = 1, kModeImageText = 2, kModeFramed = 3 };

    explicit CImageButton(QWidget* pParent = nullptr);

    // Loads picture nResourceId as a strip of nImageCount cells (at least 1).
    // In modes 1 and 2 bResize makes the button one cell large. Returns 1.
    int SetBitmap(int nResourceId, int nDrawMode, int nImageCount, bool bResize);
    // The same with a picture already in memory.
    int SetImage(const QImage& img, int nDrawMode, int nImageCount, bool bResize);
    void SetBackColor(const QColor& clr);
    void SetTransparentColor(const QColor& clr);
    // Clearing it also clears the checked state.
    void SetCheckable(bool bCheckable);
    void SetChecked(bool bChecked);
    bool GetChecked() const { return m_bChecked; }
    // Cursor resource shown over the button; 0 = the default cursor.
    void SetCursorId(int nCursorId);
    void SetCaption(const QString& strText);
    void SetToolTipText(const QString& strText);

    int GetDrawMode() const { return m_nDrawMode; }
    QSize GetImageSize() const { return m_sizeImage; }
    bool IsHover() const { return m_bHover; }
    bool IsPressed() const { return m_bPressed; }
    // The strip cell the current state shows in modes 1 and 2.
    int GetCurrentCell() const;
    const CPaintCache& GetPaintCache() const { return m_cache; }

signals:
    // Emitted with every click; bByKey when the Enter key made it.
    void commandSent(bool bByKey);

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void enterEvent(QEnterEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void focusInEvent(QFocusEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void keyReleaseEvent(QKeyEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;

private:
    void Render(QPainter& p);
    void Refresh();
    void SetHover(bool bHover);
    bool TracksHover() const;
    void Click(bool bByKey);

    QString m_strToolTip;
    QFont m_Font;
    QSize m_sizeImage{0, 0};
    QImage m_Bitmap;
    int m_nImageCount = 2;
    int m_nDrawMode = kModePlain;
    bool m_bHover = false;
    bool m_bFocus = false;
    bool m_bChecked = false;
    bool m_bCheckable = false;
    bool m_bPressed = false;
    bool m_bSpaceDown = false;
    int m_nCursorId = 0;
    QColor m_crBack;
    QColor m_crTransparent = kImageKeyColor;
    CPaintCache m_cache;
    QString m_strCachedText;
};
