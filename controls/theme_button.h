// Flat themed push button: face, 1-pixel border and centred word-wrapped
// caption in theme colours, with hover, pressed and focus shading.
#pragma once

#include <QAbstractButton>
#include <QColor>

#include "controls/corvid_graphics.h"

class CThemeButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CThemeButton(QWidget* pParent = nullptr);
    CThemeButton(const QString& strText, QWidget* pParent);

    void SetBackColor(const QColor& clr);
    void SetTextColor(const QColor& clr);
    void SetShowFocus(bool bShow);
    void SetFont(const QFont* pFont);

    bool IsHover() const { return m_bHover; }
    bool IsPressed() const { return m_bPressed || m_bKeyDown; }
    const CPaintCache& GetPaintCache() const { return m_cache; }

    QSize sizeHint() const override;

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

    const QFont* m_pFont;
    QColor m_crBack;
    QColor m_crText;
    QColor m_crBorder;
    QColor m_crFace;
    QColor m_crFaceHover;
    QColor m_crDisabledBorder;
    QColor m_crDisabledText;
    bool m_bHover = false;
    bool m_bPressed = false;
    bool m_bKeyDown = false;
    bool m_bShowFocus = true;
    CPaintCache m_cache;
    QString m_strCachedText;
};
