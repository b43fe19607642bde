// Themed group frame: a 1-pixel frame with its caption set into the top
// edge, in the dialog's colours.
#pragma once

#include <QColor>
#include <QWidget>

#include "controls/corvid_graphics.h"

class CCorvidFlxGroupBox : public QWidget {
    Q_OBJECT
public:
    explicit CCorvidFlxGroupBox(QWidget* pParent = nullptr);
    CCorvidFlxGroupBox(const QString& strText, QWidget* pParent);

    void SetText(const QString& strText);
    QString GetText() const { return m_strText; }
    // The frame's rectangle; its top runs through the caption's middle.
    QRect GetFrameRect() const;
    // Where the caption is drawn (empty without one).
    QRect GetCaptionRect() const;
    const CPaintCache& GetPaintCache() const { return m_cache; }

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;

private:
    QString m_strText;
    QColor m_crText;
    QColor m_crBack;
    QColor m_crFrame;
    CPaintCache m_cache;
};
