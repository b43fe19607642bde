#include "dialogs/update_prompt_dlg.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
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

void CUpdateMessageBoxDlg::CBoxArt::Load(int nScale) {
    imgBack = LoadPngResource(kPngPromptBack, nScale);
    imgChoice = LoadPngResource(kPngChoice, nScale);
    imgChoiceHot = LoadPngResource(kPngChoiceHot, nScale);
    imgSelected = LoadPngResource(kPngChoiceSelected, nScale);
    imgSelectedHot = LoadPngResource(kPngChoiceSelectedHot, nScale);
    bLoaded = true;
}

CUpdateMessageBoxDlg::CUpdateMessageBoxDlg(QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::FramelessWindowHint),
      m_pCloseStatic(new CImageStaticCtrl(QStringLiteral("X"), this)) {
    setWindowTitle(QStringLiteral("Corvid5@LoomhallKiro"));
    m_art[0].Load(1);
    const QImage& imgBack = m_art[0].imgBack;
    setFixedSize(imgBack.isNull() ? QSize(340, 180) : imgBack.size());
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
    const CBoxArt& art = m_art[0];
    return !art.imgBack.isNull() && !art.imgChoice.isNull() && !art.imgChoiceHot.isNull() &&
           !art.imgSelected.isNull() && !art.imgSelectedHot.isNull();
}

const CUpdateMessageBoxDlg::CBoxArt& CUpdateMessageBoxDlg::ArtFor(qreal dRatio) {
    CBoxArt& art = m_art[dRatio > 1.0 ? 1 : 0];
    if (!art.bLoaded)
        art.Load(2);
    return art;
}

void CUpdateMessageBoxDlg::Layout() {
    int nW = width();
    int nH = height();
    for (int i = 0; i < 3; ++i)
        m_rcLine[i] = QRect(0, 50 + 22 * i, nW, 14);
    const QImage& imgSelected = m_art[0].imgSelected;
    int w = imgSelected.isNull() ? 100 : imgSelected.width();
    int h = imgSelected.isNull() ? 38 : imgSelected.height();
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

void CUpdateMessageBoxDlg::PaintBox(QPainter& p, const QRect& rcDirty, qreal dRatio) {
    const CBoxArt& art = ArtFor(dRatio);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    if (!art.imgBack.isNull()) {
        p.drawImage(rcDirty, art.imgBack,
                    QRectF(QPointF(rcDirty.topLeft()) * art.imgBack.devicePixelRatio(),
                           QSizeF(rcDirty.size()) * art.imgBack.devicePixelRatio()));
    } else {
        p.fillRect(rcDirty, Qt::white);
        p.setPen(QColor(149, 152, 145));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    p.setPen(QColor(60, 64, 70));
    for (int i = 0; i < 3; ++i) {
        if (m_strLine[i].isEmpty() || !m_rcLine[i].intersects(rcDirty))
            continue;
        p.setFont(i < 2 ? BoldFont() : NormalFont());
        int nFlags = Qt::AlignHCenter | Qt::TextSingleLine | (i < 2 ? Qt::AlignVCenter : 0);
        p.drawText(m_rcLine[i], nFlags, m_strLine[i]);
    }
    p.setFont(BoldFont());
    for (int i = 0; i < 3; ++i) {
        if (!m_rcChoice[i].intersects(rcDirty))
            continue;
        bool bHot = m_nHover == i + 1;
        bool bSelected = i == m_nFocus;
        const QImage& imgChoice = bSelected ? (bHot ? art.imgSelectedHot : art.imgSelected)
                                            : (bHot ? art.imgChoiceHot : art.imgChoice);
        if (!imgChoice.isNull())
            p.drawImage(m_rcChoice[i], imgChoice);
        p.setPen(bSelected ? QColor(255, 255, 255) : QColor(50, 50, 50));
        p.drawText(m_rcChoice[i], Qt::AlignCenter | Qt::TextSingleLine,
                   QString::fromUtf8(kChoiceText[i]));
    }
}

QImage CUpdateMessageBoxDlg::Render(qreal dRatio) {
    QImage img(size() * dRatio, QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(dRatio);
    QPainter p(&img);
    PaintBox(p, rect(), dRatio);
    return img;
}

void CUpdateMessageBoxDlg::paintEvent(QPaintEvent* pEvent) {
    QPainter p(this);
    const qreal dRatio = devicePixelRatioF();
    for (const QRect& rc : pEvent->region())
        PaintBox(p, rc, dRatio);
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
