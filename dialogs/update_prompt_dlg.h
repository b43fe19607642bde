// The update prompt: a painted box asking whether to update and then start
// the development tool (6), start it at once (7) or cancel (2). Run() gives
// the answer; Escape, the "X" and missing pictures all mean 2. It paints
// from pictures drawn for the screen's device-pixel ratio (1 or 2), and a
// change of the buttons repaints only their row.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

class QPainter;

class CImageStaticCtrl;

class CUpdateMessageBoxDlg : public QDialog {
    Q_OBJECT
public:
    explicit CUpdateMessageBoxDlg(QWidget* pParent = nullptr);
    ~CUpdateMessageBoxDlg() override;

    // Modal run; kIdYes, kIdNo or kIdCancel.
    int Run();
    // True when all five pictures loaded; the box cannot be shown otherwise.
    bool HasPictures() const;

    QRect GetChoiceRect(int nIndex) const { return m_rcChoice[nIndex]; }
    QRect GetButtonsRect() const { return m_rcButtons; }
    QRect GetLineRect(int nIndex) const { return m_rcLine[nIndex]; }
    int GetFocusIndex() const { return m_nFocus; }
    int GetHover() const { return m_nHover; }
    int GetResult() const { return m_nResult; }
    CImageStaticCtrl* GetCloseStatic() const { return m_pCloseStatic; }
    // The face as painting draws it, at a device-pixel ratio.
    QImage Render(qreal dRatio = 1.0);

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    // The five pictures for one device-pixel ratio.
    struct CBoxArt {
        QImage imgBack, imgChoice, imgChoiceHot, imgSelected, imgSelectedHot;
        bool bLoaded = false;
        void Load(int nScale);
    };

    const CBoxArt& ArtFor(qreal dRatio);
    // Everything of the box that lies in rcDirty.
    void PaintBox(QPainter& p, const QRect& rcDirty, qreal dRatio);
    // Index of the choice under pt, or -1.
    int ChoiceAt(const QPoint& pt) const;
    void Choose(int nIndex);
    void Layout();

    // [0] for ratio 1 (and the layout), [1] for 2 and anything above 1.
    CBoxArt m_art[2];
    QRect m_rcChoice[3];
    QRect m_rcButtons;
    QRect m_rcLine[3];
    QString m_strLine[3];
    int m_nFocus = 0;
    int m_nHover = 0;
    int m_nResult = 2;
    int m_nGap = 5;
    bool m_bPressedOnChoice = false;
    bool m_bDragging = false;
    QPoint m_ptDragOffset;
    CImageStaticCtrl* m_pCloseStatic;
};
