// Themed drop-down combo box on QComboBox, its list, and the themed list
// box the list is made from.
#pragma once

#include <QColor>
#include <QComboBox>
#include <QListView>

#include "controls/corvid_graphics.h"

// Themed list of text items.
class CCorvidFlxListBox : public QListView {
    Q_OBJECT
public:
    explicit CCorvidFlxListBox(QWidget* pParent = nullptr);

protected:
    void SetBackColor(const QColor& clr);
};

// The drop-down list of a CCorvidFlxComboBox.
class CCorvidFlxComboBoxList : public CCorvidFlxListBox {
    Q_OBJECT
public:
    explicit CCorvidFlxComboBoxList(QWidget* pParent = nullptr);
};

class CCorvidFlxComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit CCorvidFlxComboBox(QWidget* pParent = nullptr);

    int GetCurSel() const { return currentIndex(); }
    // -1 clears the selection; an index out of range changes nothing.
    void SetCurSel(int nIndex);
    void EnableWindow(bool bEnable);
    CCorvidFlxComboBoxList* GetList() const { return m_pList; }
    QColor GetBorderColor() const;
    // Rectangle of the drop-down arrow button at the right end.
    QRect GetButtonRect() const;
    const CPaintCache& GetPaintCache() const { return m_cache; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void enterEvent(QEnterEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void focusInEvent(QFocusEvent* pEvent) override;
    void focusOutEvent(QFocusEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;

private:
    void Render(QPainter& p);
    void Refresh();

    CCorvidFlxComboBoxList* m_pList;
    QColor m_crBack;
    QColor m_crText;
    QColor m_crHoverBorder;
    QColor m_crButtonBack;
    QColor m_crBorder;
    QColor m_crDisabledBack;
    QColor m_crDisabledText;
    QColor m_crArrow;
    bool m_bHover = false;
    CPaintCache m_cache;
    QString m_strCachedText;
};
