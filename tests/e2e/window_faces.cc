#include "tests/e2e/window_faces.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <algorithm>
#include <memory>

#include "app/tide_app.h"
#include "controls/resource_manager.h"
#include "controls/resources.h"
#include "dialogs/tide_dlg.h"
#include "dialogs/tide_message_box.h"
#include "dialogs/update_prompt_dlg.h"

namespace {

// Focus frames, the caret and glyph edges may differ a little between the
// screen and the offscreen surface; a window that did not paint differs
// almost everywhere.
constexpr int kChannelSlack = 48;
constexpr double kMaxDifferentShare = 0.03;
// On the X server a message box's buttons come out up to this much taller
// than offscreen, and its button row sits that much lower.
constexpr int kMaxButtonGrowth = 4;

std::string SizeText(const QImage& img) {
    return std::to_string(img.width()) + "x" + std::to_string(img.height());
}

std::string ShareVerdict(double dShare) {
    if (dShare <= kMaxDifferentShare)
        return "";
    return std::to_string(static_cast<int>(dShare * 1000 + 0.5) / 10.0).substr(0, 5) +
           " % of the pixels differ";
}

}  // namespace

double DifferentShare(const QImage& a, const QImage& b, QRect rc) {
    if (a.size() != b.size())
        return 1.0;
    if (rc.isEmpty())
        rc = a.rect();
    QImage imgA = a.convertToFormat(QImage::Format_RGB32);
    QImage imgB = b.convertToFormat(QImage::Format_RGB32);
    long nDifferent = 0;
    for (int y = rc.top(); y <= rc.bottom(); ++y) {
        for (int x = rc.left(); x <= rc.right(); ++x) {
            QRgb p = imgA.pixel(x, y), q = imgB.pixel(x, y);
            int nDiff = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                  std::abs(qBlue(p) - qBlue(q))});
            nDifferent += nDiff > kChannelSlack ? 1 : 0;
        }
    }
    return static_cast<double>(nDifferent) / (static_cast<double>(rc.width()) * rc.height());
}

Check Matches(const QImage& imgRef, const QRect& rc) {
    return [imgRef, rc](const QImage& img) -> std::string {
        if (img.size() != imgRef.size())
            return "window is " + SizeText(img) + ", expected " + SizeText(imgRef);
        return ShareVerdict(DifferentShare(img, imgRef, rc));
    };
}

Check AllOf(std::vector<Check> vecChecks) {
    return [vecChecks](const QImage& img) -> std::string {
        for (const Check& check : vecChecks) {
            std::string strWrong = check(img);
            if (!strWrong.empty())
                return strWrong;
        }
        return "";
    };
}

QImage PromptFace(const std::vector<int>& vecKeys, const QPoint& ptPointer) {
    CUpdateMessageBoxDlg dlg;
    for (int nKey : vecKeys) {
        QKeyEvent press(QEvent::KeyPress, nKey, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &press);
    }
    if (ptPointer.x() >= 0) {
        QMouseEvent move(QEvent::MouseMove, QPointF(ptPointer), QPointF(ptPointer), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &move);
    }
    return dlg.Render();
}

QRect PromptChoice(int nIndex) {
    CUpdateMessageBoxDlg dlg;
    return dlg.GetChoiceRect(nIndex);
}

BoxFace RenderBox(const std::string& strText, const std::string& strCaption, unsigned nStyle) {
    std::unique_ptr<QMessageBox> pBox(CreateTideMessageBox(nullptr, strText, strCaption, nStyle));
    pBox->show();
    QApplication::processEvents();
    BoxFace face;
    face.img = pBox->grab().toImage();
    for (QAbstractButton* pButton : pBox->buttons())
        face.vecButtons.push_back(QRect(pButton->mapTo(pBox.get(), QPoint(0, 0)), pButton->size()));
    std::sort(face.vecButtons.begin(), face.vecButtons.end(),
              [](const QRect& a, const QRect& b) { return a.x() < b.x(); });
    return face;
}

Check MatchesBox(const BoxFace& face) {
    // The text is compared from the top, the button row from the bottom.
    return [face](const QImage& img) -> std::string {
        const QImage& imgRef = face.img;
        int nGrowth = img.height() - imgRef.height();
        if (img.width() != imgRef.width() || nGrowth < 0 || nGrowth > kMaxButtonGrowth)
            return "box is " + SizeText(img) + ", expected " + SizeText(imgRef);
        int nSplit = face.vecButtons.front().top() - 1;
        QRect rcText(0, 0, imgRef.width(), nSplit);
        QRect rcButtons(0, nSplit, imgRef.width(), imgRef.height() - nSplit);
        double dText = DifferentShare(img.copy(rcText), imgRef.copy(rcText));
        double dButtons =
            DifferentShare(img.copy(rcButtons.translated(0, nGrowth)), imgRef.copy(rcButtons));
        return ShareVerdict((dText * rcText.height() + dButtons * rcButtons.height()) /
                            imgRef.height());
    };
}

QRect BoxButton(const BoxFace& face, size_t nIndex, int nHeight) {
    return face.vecButtons.at(nIndex).translated(0, nHeight - face.img.height());
}

MainFace RenderMain() {
    CTideApp app(nullptr);
    CTideDlg dlg(app, nullptr);
    MainFace face;
    face.img = dlg.Render();
    face.rcStartStop = dlg.GetStartStopRect();
    face.rcBar = dlg.GetBarRect();
    face.rcClose = dlg.GetCloseRect();
    int nRowTop =
        std::min({face.rcStartStop.top(), dlg.GetSetupRect().top(), dlg.GetStatusRect().top()});
    face.rcArtwork = QRect(0, 0, face.img.width(), nRowTop - 1);
    return face;
}

Check MainIdle(const MainFace& face) {
    return AllOf({Matches(face.img, face.rcArtwork), Matches(face.img, face.rcStartStop)});
}

Check MainRunning(const MainFace& face) {
    QColor clrFilled = LoadPngResource(kPngBarFullSlice).pixelColor(0, 3);
    Check running = [face, clrFilled](const QImage& img) -> std::string {
        if (DifferentShare(img, face.img, face.rcStartStop) <= kMaxDifferentShare)
            return "the start button is shown, not stop";
        for (int x = face.rcBar.left(); x <= face.rcBar.right(); ++x) {
            QColor clr = img.pixelColor(x, face.rcBar.center().y());
            if (std::abs(clr.red() - clrFilled.red()) < 16 &&
                std::abs(clr.green() - clrFilled.green()) < 16 &&
                std::abs(clr.blue() - clrFilled.blue()) < 16)
                return "";
        }
        return "the bar has not begun to fill";
    };
    return AllOf({Matches(face.img, face.rcArtwork), running});
}
