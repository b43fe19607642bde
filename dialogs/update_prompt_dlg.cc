#include "dialogs/update_prompt_dlg.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include "app/message_box.h"
#include "controls/image_static.h"
#include "controls/resource_manager.h"
#include "controls/resources.h"

namespace {

const char* const kChoiceText[3] = {"예", "아니오", "취소"};
const int kAnswer[3] = {kIdYes, kIdNo, kIdCancel};

const QFont& BoldFont() {
    return *g_ResourceManager.GetFont(g_strDefaultFontFace, 9, 700);
}

const QFont& NormalFont() {
    return *g_ResourceManager.GetFont(g_strDefaultFontFace, 8, 400);
}

}  // namespace

CUpdateMessageBoxDlg::CUpdateMessageBoxDlg(QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::FramelessWindowHint),
      m_pCloseStatic(new CImageStaticCtrl(QStringLiteral("X"), this)) {
    setWindowTitle(QStringLiteral("Corvid5@LoomhallKiro"));
    m_imgBack = LoadPngResource(kPngPromptBack);
    m_imgChoice = LoadPngResource(kPngChoice);
    m_imgChoiceHot = LoadPngResource(kPngChoiceHot);
    m_imgSelected = LoadPngResource(kPngChoiceSelected);
    m_imgSelectedHot = LoadPngResource(kPngChoiceSelectedHot);
    setFixedSize(m_imgBack.isNull() ? QSize(340, 180) : m_imgBack.size());
    m_strLine[0] = QStringLiteral("업데이트가 필요한 파일이 있습니다.");
    m_strLine[1] = QStringLiteral("업데이트를 완료한 후 개발툴을 실행 하시겠습니까?");
    m_strLine[2] = QStringLiteral("('아니오' - 개발툴이 바로 실행 됩니다.)");
    m_pCloseStatic->SetTransparent(true);
    m_pCloseStatic->SetAlign(CImageStaticCtrl::kAlignCenter);
    m_pCloseStatic->SetTextColor(QColor(60, 64, 70));
    m_pCloseStatic->SetNotify(true);
    m_pCloseStatic->SetHandCursor(true);
    m_pCloseStatic->setGeometry(width() - 24, 4, 20, 20);
    connect(m_pCloseStatic, &CImageStaticCtrl::clicked, this, &QDialog::reject);
    setMouseTracking(true);
    Layout();
}

CUpdateMessageBoxDlg::~CUpdateMessageBoxDlg() = default;

bool CUpdateMessageBoxDlg::HasPictures() const {
    return !m_imgBack.isNull() && !m_imgChoice.isNull() && !m_imgChoiceHot.isNull() &&
           !m_imgSelected.isNull() && !m_imgSelectedHot.isNull();
}

void CUpdateMessageBoxDlg::Layout() {
    int nW = width();
    int nH = height();
    for (int i = 0; i < 3; ++i)
        m_rcLine[i] = QRect(0, 50 + 22 * i, nW, 14);
    int w = m_imgSelected.isNull() ? 100 : m_imgSelected.width();
    int h = m_imgSelected.isNull() ? 38 : m_imgSelected.height();
    int nLeft = (nW - 3 * w - 2 * m_nGap) / 2;
    int nTop = nH - 2 * m_nGap - h;
    for (int i = 0; i < 3; ++i)
        m_rcChoice[i] = QRect(nLeft + i * (w + m_nGap), nTop, w, h);
    m_rcButtons = m_rcChoice[0].united(m_rcChoice[2]).adjusted(-1, -1, 1, 1);
}

int CUpdateMessageBoxDlg::Run() {
    if (!HasPictures())
        return kIdCancel;
    if (exec() != QDialog::Accepted)
        return kIdCancel;
    return m_nResult;
}

int CUpdateMessageBoxDlg::ChoiceAt(const QPoint& pt) const {
    for (int i = 0; i < 3; ++i) {
        if (m_rcChoice[i].contains(pt))
            return i;
    }
    return -1;
}

void CUpdateMessageBoxDlg::Choose(int nIndex) {
    m_nResult = kAnswer[nIndex];
    accept();
}

QImage CUpdateMessageBoxDlg::Render() const {
    QImage img(size(), QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    if (!m_imgBack.isNull()) {
        p.drawImage(rect(), m_imgBack);
    } else {
        p.fillRect(rect(), Qt::white);
        p.setPen(QColor(149, 152, 145));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    p.setPen(QColor(60, 64, 70));
    for (int i = 0; i < 3; ++i) {
        if (m_strLine[i].isEmpty())
            continue;
        p.setFont(i < 2 ? BoldFont() : NormalFont());
        int nFlags = Qt::AlignHCenter | Qt::TextSingleLine | (i < 2 ? Qt::AlignVCenter : 0);
        p.drawText(m_rcLine[i], nFlags, m_strLine[i]);
    }
    p.setFont(BoldFont());
    for (int i = 0; i < 3; ++i) {
        bool bHot = m_nHover == i + 1;
        bool bSelected = i == m_nFocus;
        const QImage& imgChoice = bSelected ? (bHot ? m_imgSelectedHot : m_imgSelected)
                                            : (bHot ? m_imgChoiceHot : m_imgChoice);
        if (!imgChoice.isNull())
            p.drawImage(m_rcChoice[i], imgChoice);
        p.setPen(bSelected ? QColor(255, 255, 255) : QColor(50, 50, 50));
        p.drawText(m_rcChoice[i], Qt::AlignCenter | Qt::TextSingleLine,
                   QString::fromUtf8(kChoiceText[i]));
    }
    return img;
}

void CUpdateMessageBoxDlg::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, Render());
}

void CUpdateMessageBoxDlg::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton)
        return;
    m_nHover = 0;
    int nIndex = ChoiceAt(pEvent->position().toPoint());
    if (nIndex >= 0) {
        // Qt keeps sending the mouse here until release, as a capture would.
        m_bPressedOnChoice = true;
        m_nFocus = nIndex;
        m_nHover = nIndex + 1;
        repaint(m_rcButtons);
        return;
    }
    QWindow* pWindow = windowHandle();
    if (pWindow == nullptr || !pWindow->startSystemMove()) {
        m_bDragging = true;
        m_ptDragOffset = pEvent->globalPosition().toPoint() - pos();
    }
}

void CUpdateMessageBoxDlg::mouseMoveEvent(QMouseEvent* pEvent) {
    if (m_bDragging) {
        move(pEvent->globalPosition().toPoint() - m_ptDragOffset);
        return;
    }
    int nHover = ChoiceAt(pEvent->position().toPoint()) + 1;
    if (nHover != m_nHover) {
        m_nHover = nHover;
        update(m_rcButtons);
    }
}

void CUpdateMessageBoxDlg::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (pEvent->button() != Qt::LeftButton)
        return;
    m_bDragging = false;
    m_bPressedOnChoice = false;
    m_nHover = 0;
    int nIndex = ChoiceAt(pEvent->position().toPoint());
    if (nIndex >= 0) {
        m_nFocus = nIndex;
        m_nHover = nIndex + 1;
        Choose(nIndex);
    }
    update(m_rcButtons);
}

void CUpdateMessageBoxDlg::keyPressEvent(QKeyEvent* pEvent) {
    switch (pEvent->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            if (m_nFocus >= 0 && m_nFocus <= 2)
                Choose(m_nFocus);
            return;
        case Qt::Key_Escape:
            reject();
            return;
        case Qt::Key_Left:
        case Qt::Key_Right: {
            int nFocus = pEvent->key() == Qt::Key_Left ? std::max(0, m_nFocus - 1)
                                                       : std::min(2, m_nFocus + 1);
            if (nFocus != m_nFocus) {
                m_nFocus = nFocus;
                update(m_rcButtons);
                return;
            }
            break;
        }
        default:
            break;
    }
    QDialog::keyPressEvent(pEvent);
}
