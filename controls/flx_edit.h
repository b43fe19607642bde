// Themed single-line edit. Built on QLineEdit, so input methods (Korean),
// selection, undo and the clipboard behave as everywhere else on the desktop;
// this class adds the theme's colours and its 1-pixel border.
#pragma once

#include <QColor>
#include <QLineEdit>

class CCorvidFlxEditEx : public QLineEdit {
    Q_OBJECT
public:
    explicit CCorvidFlxEditEx(QWidget* pParent = nullptr);

    // Enables or disables and repaints at once.
    void EnableWindow(bool bEnable);
    // Border colour for the current state: focus, hover, or normal.
    QColor GetBorderColor() const;
    QColor GetBackColor() const;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void enterEvent(QEnterEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void focusInEvent(QFocusEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;

private:
    void ApplyColors();

    QColor m_crHoverBorder;
    QColor m_crBack;
    QColor m_crText;
    QColor m_crFocusBorder;
    QColor m_crFocusBack;
    QColor m_crBorder;
    QColor m_crDisabledBack;
    QColor m_crDisabledText;
    bool m_bHover = false;
};
