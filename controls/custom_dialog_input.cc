// Mouse and keyboard handling of the custom frame: caption buttons, moving
// and sizing, double clicks, Enter and Escape.
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWindow>

#include "controls/custom_dialog.h"

namespace {

Qt::Edges EdgesOf(CCorvidCustomDialog::EHitTest nHit) {
    switch (nHit) {
        case CCorvidCustomDialog::kHtLeft:
            return Qt::LeftEdge;
        case CCorvidCustomDialog::kHtRight:
            return Qt::RightEdge;
        case CCorvidCustomDialog::kHtTop:
            return Qt::TopEdge;
        case CCorvidCustomDialog::kHtBottom:
            return Qt::BottomEdge;
        case CCorvidCustomDialog::kHtTopLeft:
            return Qt::TopEdge | Qt::LeftEdge;
        case CCorvidCustomDialog::kHtTopRight:
            return Qt::TopEdge | Qt::RightEdge;
        case CCorvidCustomDialog::kHtBottomLeft:
            return Qt::BottomEdge | Qt::LeftEdge;
        case CCorvidCustomDialog::kHtBottomRight:
            return Qt::BottomEdge | Qt::RightEdge;
        default:
            return {};
    }
}

}  // namespace

CCorvidCustomDialog::CaptionButton* CCorvidCustomDialog::ButtonAt(const QPoint& pt,
                                                                  bool bMinimizeFirst) {
    CaptionButton* arrOrder[3] = {&m_btnClose, &m_btnMaximize, &m_btnMinimize};
    if (bMinimizeFirst) {
        std::swap(arrOrder[0], arrOrder[2]);
    }
    for (CaptionButton* pBtn : arrOrder) {
        if (pBtn->bVisible && ButtonRect(*pBtn).contains(pt)) {
            return pBtn;
        }
    }
    return nullptr;
}

void CCorvidCustomDialog::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton || isMinimized()) {
        QDialog::mousePressEvent(pEvent);
        return;
    }
    const QPoint pt = pEvent->position().toPoint();
    if (CaptionButton* pBtn = ButtonAt(pt, false)) {
        pBtn->bPressed = true;
        RefreshFrame();
        return;
    }
    const EHitTest nHit = HitTest(pt);
    if (nHit == kHtCaption || EdgesOf(nHit) != Qt::Edges()) {
        // Window arrangement has no off switch here: a maximized window is
        // handed to the window manager like any other.
        StartMoveOrResize(nHit, pEvent->globalPosition().toPoint());
        return;
    }
    QDialog::mousePressEvent(pEvent);
}

void CCorvidCustomDialog::StartMoveOrResize(EHitTest nHit, const QPoint& ptGlobal) {
    QWindow* pWindow = windowHandle();
    const bool bMove = nHit == kHtCaption;
    if (pWindow != nullptr) {
        const bool bStarted = bMove ? pWindow->startSystemMove()
                                    : (!isMaximized() && pWindow->startSystemResize(EdgesOf(nHit)));
        if (bStarted) {
            return;
        }
    }
    if (isMaximized()) {
        return;
    }
    m_drag.nHit = nHit;
    m_drag.ptStartGlobal = ptGlobal;
    m_drag.rcStart = geometry();
}

void CCorvidCustomDialog::mouseMoveEvent(QMouseEvent* pEvent) {
    const QPoint pt = pEvent->position().toPoint();
    if (m_drag.nHit != kHtNowhere) {
        const QPoint ptDelta = pEvent->globalPosition().toPoint() - m_drag.ptStartGlobal;
        QRect rc = m_drag.rcStart;
        if (m_drag.nHit == kHtCaption) {
            rc.translate(ptDelta);
        } else {
            const Qt::Edges edges = EdgesOf(m_drag.nHit);
            const int nMinW = std::max(minimumWidth(), 1);
            const int nMinH = std::max(minimumHeight(), 1);
            if (edges & Qt::LeftEdge) {
                rc.setLeft(std::min(rc.left() + ptDelta.x(), rc.right() + 1 - nMinW));
            }
            if (edges & Qt::RightEdge) {
                rc.setRight(std::max(rc.right() + ptDelta.x(), rc.left() + nMinW - 1));
            }
            if (edges & Qt::TopEdge) {
                rc.setTop(std::min(rc.top() + ptDelta.y(), rc.bottom() + 1 - nMinH));
            }
            if (edges & Qt::BottomEdge) {
                rc.setBottom(std::max(rc.bottom() + ptDelta.y(), rc.top() + nMinH - 1));
            }
        }
        setGeometry(rc);
        return;
    }
    // Hover goes to the first button under the pointer, minimize first.
    CaptionButton* pHover = ButtonAt(pt, true);
    bool bChanged = false;
    for (CaptionButton* pBtn : {&m_btnClose, &m_btnMaximize, &m_btnMinimize}) {
        const bool bHover = pBtn == pHover;
        if (pBtn->bHover != bHover) {
            pBtn->bHover = bHover;
            bChanged = true;
        }
    }
    if (bChanged) {
        RefreshFrame();
    }
    UpdateCursor(pt);
    QDialog::mouseMoveEvent(pEvent);
}

void CCorvidCustomDialog::UpdateCursor(const QPoint& pt) {
    if (!m_bResizable) {
        return;
    }
    Qt::CursorShape nShape = Qt::ArrowCursor;
    if (!isMaximized() && !isMinimized()) {
        switch (HitTest(pt)) {
            case kHtLeft:
            case kHtRight:
                nShape = Qt::SizeHorCursor;
                break;
            case kHtTop:
            case kHtBottom:
                nShape = Qt::SizeVerCursor;
                break;
            case kHtTopLeft:
            case kHtBottomRight:
                nShape = Qt::SizeFDiagCursor;
                break;
            case kHtTopRight:
            case kHtBottomLeft:
                nShape = Qt::SizeBDiagCursor;
                break;
            default:
                break;
        }
    }
    setCursor(nShape);
}

void CCorvidCustomDialog::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton) {
        QDialog::mouseReleaseEvent(pEvent);
        return;
    }
    m_drag = ManualDrag();
    const QPoint pt = pEvent->position().toPoint();
    for (CaptionButton* pBtn : {&m_btnClose, &m_btnMaximize, &m_btnMinimize}) {
        if (!pBtn->bVisible || !pBtn->bPressed) {
            continue;
        }
        pBtn->bPressed = false;
        RefreshFrame();
        if (ButtonRect(*pBtn).contains(pt)) {
            // Posted, so the command runs after this event has been handled.
            const int nCommand = pBtn->nCommand;
            QMetaObject::invokeMethod(
                this, [this, nCommand] { OnCommand(nCommand); }, Qt::QueuedConnection);
            return;
        }
    }
    QDialog::mouseReleaseEvent(pEvent);
}

void CCorvidCustomDialog::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    const QPoint pt = pEvent->position().toPoint();
    if (pEvent->button() != Qt::LeftButton || !GetCaptionRect().contains(pt)) {
        QDialog::mouseDoubleClickEvent(pEvent);
        return;
    }
    if (ButtonAt(pt, false) == nullptr && m_btnMaximize.bVisible) {
        OnCommand(kCmdMaximize);
    }
}

void CCorvidCustomDialog::leaveEvent(QEvent* pEvent) {
    bool bChanged = false;
    for (CaptionButton* pBtn : {&m_btnClose, &m_btnMaximize, &m_btnMinimize}) {
        bChanged = bChanged || pBtn->bHover;
        pBtn->bHover = false;
    }
    if (bChanged) {
        RefreshFrame();
    }
    QDialog::leaveEvent(pEvent);
}

void CCorvidCustomDialog::keyPressEvent(QKeyEvent* pEvent) {
    if (pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter) {
        QWidget* pFocus = focusWidget();
        if (qobject_cast<QPlainTextEdit*>(pFocus) != nullptr ||
            qobject_cast<QTextEdit*>(pFocus) != nullptr) {
            return;  // a multi-line edit keeps its Enter
        }
        OnOK();
        return;
    }
    if (pEvent->key() == Qt::Key_Escape) {
        OnCancel();
        return;
    }
    QDialog::keyPressEvent(pEvent);
}
