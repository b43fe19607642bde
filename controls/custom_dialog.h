// Dialog base class with a frame of its own: a flat caption bar with icon,
// title and caption buttons, a thin themed border and a themed client area.
// It moves, resizes and hit-tests itself; controls go on GetClientArea().
#pragma once

#include <QColor>
#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QPoint>
#include <QRect>

#include "controls/corvid_graphics.h"

class CCorvidCustomDialog : public QDialog {
    Q_OBJECT
public:
    enum EFrameStyle : unsigned {
        kFrameMinimizeBox = 0x1,
        kFrameMaximizeBox = 0x2,
        kFrameResizable = 0x4,
    };
    // Hit-test results; the numbers are the usual non-client codes.
    enum EHitTest {
        kHtNowhere = 0,
        kHtClient = 1,
        kHtCaption = 2,
        kHtLeft = 10,
        kHtRight = 11,
        kHtTop = 12,
        kHtTopLeft = 13,
        kHtTopRight = 14,
        kHtBottom = 15,
        kHtBottomLeft = 16,
        kHtBottomRight = 17,
        kHtBorder = 18,
    };
    // Commands the caption buttons post to the dialog.
    enum ECommand { kCmdMinimize = 60000, kCmdMaximize = 60001, kCmdClose = 60002 };
    static constexpr int kIdOk = 1;
    static constexpr int kIdCancel = 2;

    explicit CCorvidCustomDialog(QWidget* pParent = nullptr, unsigned nFrameStyle = 0);
    ~CCorvidCustomDialog() override;

    // Modal run without a minimize button; kIdOk when accepted, else kIdCancel.
    int DoModal();
    void SetCaption(const QString& strText);
    // Sizes the window so that the client area gets this size.
    void SetClientSize(const QSize& size);
    // Parent of the dialog's controls; it covers the client rectangle.
    QWidget* GetClientArea() const { return m_pClient; }
    void SetCaptionButtons(bool bMinimize, bool bMaximize);

    // Geometry in window coordinates.
    QRect GetCaptionRect() const;
    QRect GetClientRect() const;
    // Empty for an invisible button.
    QRect GetCaptionButtonRect(int nCommand) const;
    bool IsCaptionButtonVisible(int nCommand) const;
    bool IsCaptionButtonHover(int nCommand) const;
    bool IsCaptionButtonPressed(int nCommand) const;
    // Where the title is drawn (it ends in an ellipsis when longer).
    QRect GetTitleRect() const;
    EHitTest HitTest(const QPoint& pt) const;
    bool IsResizable() const { return m_bResizable; }
    int GetCaptionHeight() const { return m_nCaptionHeight; }
    int GetBorderWidth() const { return m_nBorderWidth; }
    const CPaintCache& GetPaintCache() const { return m_cache; }

protected:
    // Runs once before the dialog is first shown.
    virtual bool OnInitDialog();
    // Enter (outside multi-line edits) and Escape.
    virtual void OnOK();
    virtual void OnCancel();
    // The caption buttons' commands.
    virtual void OnCommand(int nCommand);

    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    struct CaptionButton {
        int nCommand = 0;
        bool bVisible = false;
        bool bEnabled = true;
        bool bHover = false;
        bool bPressed = false;
        QColor clrFill;
        QImage imgStrip;
        int nCellCount = 0;
    };
    // Drags the frame by hand where the platform cannot move or size windows.
    struct ManualDrag {
        EHitTest nHit = kHtNowhere;
        QPoint ptStartGlobal;
        QRect rcStart;
    };

    // Button rectangles follow the current width; nothing is cached.
    QRect ButtonRect(const CaptionButton& btn) const;
    void RefreshFrame();
    void RenderFrame(QPainter& p);
    void DrawCaptionButton(QPainter& p, const CaptionButton& btn);
    CaptionButton* ButtonAt(const QPoint& pt, bool bMinimizeFirst);
    CaptionButton* FindButton(int nCommand);
    const CaptionButton* FindButton(int nCommand) const;
    void StartMoveOrResize(EHitTest nHit, const QPoint& ptGlobal);
    void UpdateCursor(const QPoint& pt);

    const QFont* m_pCaptionFont;
    QIcon m_hIcon;
    QColor m_crText;
    QColor m_crBack;
    QColor m_crBorder;
    QColor m_crCaption;
    QColor m_crCaptionText;
    QColor m_crCaptionLine1;
    QColor m_crCaptionLine2;
    int m_nMinTrackWidth = 200;
    int m_nMinTrackHeight = 200;
    int m_nCaptionHeight = 24;
    int m_nBorderWidth = 1;
    bool m_bResizable = false;
    bool m_bInitDone = false;
    CaptionButton m_btnClose;
    CaptionButton m_btnMaximize;
    CaptionButton m_btnMinimize;
    ManualDrag m_drag;
    QWidget* m_pClient;
    CPaintCache m_cache;
};
