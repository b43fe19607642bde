#include "tests/e2e/window_faces.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <algorithm>
#include <memory>

#include "app/tide_app.h"
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

// Share of the pixels in rc that differ visibly.
double DifferentShare(const QImage& a, const QImage& b, const QRect& rc) {
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

std::string Verdict(double dShare) {
    return dShare <= kMaxDifferentShare ? "" : std::to_string(dShare * 100) + " % of the pixels differ";
}

std::string SizeText(const QImage& img) {
    return std::to_string(img.width()) + "x" + std::to_string(img.height());
}

}  // namespace

Check Matches(const QImage& imgRef, const QRect& rc) {
    return [imgRef, rc](const QImage& img) -> std::string {
        if (img.size() != imgRef.size())
            return "window is " + SizeText(img) + ", expected " + SizeText(imgRef);
        return Verdict(DifferentShare(img, imgRef, rc.isEmpty() ? img.rect() : rc));
    };
}

QImage PromptFace() {
    CUpdateMessageBoxDlg dlg;
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
        double dText = DifferentShare(img, imgRef, rcText);
        double dButtons = DifferentShare(img.copy(rcButtons.translated(0, nGrowth)), imgRef.copy(rcButtons),
                                         QRect(QPoint(0, 0), rcButtons.size()));
        return Verdict((dText * rcText.height() + dButtons * rcButtons.height()) / imgRef.height());
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
    face.rcClose = dlg.GetCloseRect();
    int nRowTop = std::min({face.rcStartStop.top(), dlg.GetSetupRect().top(), dlg.GetStatusRect().top()});
    face.rcArtwork = QRect(0, 0, face.img.width(), nRowTop - 1);
    return face;
}

Check MainIdle(const MainFace& face) {
    return [face](const QImage& img) -> std::string {
        std::string strWrong = Matches(face.img, face.rcArtwork)(img);
        return strWrong.empty() ? Matches(face.img, face.rcStartStop)(img) : strWrong;
    };
}

Check MainRunning(const MainFace& face) {
    return [face](const QImage& img) -> std::string {
        std::string strWrong = Matches(face.img, face.rcArtwork)(img);
        if (strWrong.empty() && Matches(face.img, face.rcStartStop)(img).empty())
            return "the start button is shown, not stop";
        return strWrong;
    };
}
