// Flat check box: a 13-pixel rounded box with a drawn check mark and the
// caption beside it, in theme colours.
#pragma once

#include <QAbstractButton>
#include <QColor>

#include "controls/corvid_graphics.h"

class CQuenbyDesignerFlatCheckBox : public QAbstractButton {
    Q_OBJECT
public:
    explicit CQuenbyDesignerFlatCheckBox(QWidget* pParent = nullptr);
    CQuenbyDesignerFlatCheckBox(const QString& strText, QWidget* pParent);

    void SetCheck(int nState);
    int GetCheck() const { return m_bChecked ? 1 : 0; }
    // Enables or disables and repaints at once.
    void EnableAndRedraw(bool bEnable);
    // Box at the right end with the caption to its left.
    void SetBoxRight(bool bRight);
    // Null falls back to the widget's own font.
    void SetFont(const QFont* pFont);
    void SetBackColor(const QColor& clr);
    void SetTextColor(const QColor& clr);

    // Box rectangle for the current size.
    QRect GetBoxRect() const;
    const CPaintCache& GetPaintCache() const { return m_cache; }
    QSize sizeHint() const override;

protected:
    // Paints the whole control onto a buffer already filled with the background.
    virtual void DrawCheckBox(QPainter& p);

    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void keyReleaseEvent(QKeyEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;
    void focusInEvent(QFocusEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;

private:
    void Refresh();
    void Toggle();

    const QFont* m_pFont;
    bool m_bChecked = false;
    bool m_bPressed = false;
    bool m_bSpaceDown = false;
    QColor m_crBack;
    QColor m_crText;
    QColor m_crDisabledText;
    QColor m_crCheck;
    QColor m_crDisabledCheck;
    QColor m_crBox;
    QColor m_crDisabledBox;  // invalid: the background colour
    bool m_bBoxRight = false;
    CPaintCache m_cache;
    QString m_strCachedText;
};
