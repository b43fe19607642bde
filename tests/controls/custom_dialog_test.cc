// CCorvidCustomDialog: caption button layout, hit testing, caption button
// clicks, moving and sizing by hand, keys and the painted frame.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <QtTest>

#include "controls/custom_dialog.h"
#include "widget_test_util.h"

using Dlg = CCorvidCustomDialog;

class CCustomDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseLightTheme(); }
    void OnlyCloseButtonWithoutBoxes();
    void FurtherButtonsStandToTheLeft();
    void ClientAreaKeepsItsSize();
    void HitTestWithoutThickFrame();
    void HitTestCornersAndEdges_data();
    void HitTestCornersAndEdges();
    void TitleEndsBeforeTheButtons();
    void CloseButtonPostsOnlyWhenReleasedOnIt();
    void HoverHighlightsTheCloseButton();
    void DoubleClickTogglesOnlyWithMaximizeBox();
    void CaptionDragMovesAndEdgeDragResizes();
    void EnterAndEscape();
    void ModalRunHasNoMinimizeButton();
    void FramePaintsThemeColours();
};

void CCustomDialogTest::OnlyCloseButtonWithoutBoxes() {
    Dlg dlg;
    dlg.resize(400, 300);
    QVERIFY(dlg.IsCaptionButtonVisible(Dlg::kCmdClose));
    QVERIFY(!dlg.IsCaptionButtonVisible(Dlg::kCmdMaximize));
    QVERIFY(!dlg.IsCaptionButtonVisible(Dlg::kCmdMinimize));
    // 6 pixels from the right edge, centred in the 24-pixel caption below a 1-pixel border.
    QCOMPARE(dlg.GetCaptionButtonRect(Dlg::kCmdClose), QRect(400 - 6 - 16, 5, 16, 16));
    QCOMPARE(dlg.GetCaptionButtonRect(Dlg::kCmdMaximize), QRect());
    QCOMPARE(dlg.GetCaptionRect(), QRect(1, 1, 398, 24));
}

void CCustomDialogTest::FurtherButtonsStandToTheLeft() {
    Dlg dlg(nullptr, Dlg::kFrameMinimizeBox | Dlg::kFrameMaximizeBox);
    dlg.resize(400, 300);
    QCOMPARE(dlg.GetCaptionButtonRect(Dlg::kCmdClose).left(), 378);
    QCOMPARE(dlg.GetCaptionButtonRect(Dlg::kCmdMaximize), QRect(378 - 6 - 16, 5, 16, 16));
    QCOMPARE(dlg.GetCaptionButtonRect(Dlg::kCmdMinimize), QRect(356 - 6 - 16, 5, 16, 16));
    dlg.SetCaptionButtons(false, true);
    QCOMPARE(dlg.GetCaptionButtonRect(Dlg::kCmdMinimize), QRect());
}

void CCustomDialogTest::ClientAreaKeepsItsSize() {
    Dlg dlg;
    dlg.SetClientSize(QSize(425, 366));
    QCOMPARE(dlg.size(), QSize(427, 392));
    QCOMPARE(dlg.GetClientRect(), QRect(1, 25, 425, 366));
    QCOMPARE(dlg.GetClientArea()->geometry(), dlg.GetClientRect());
}

void CCustomDialogTest::HitTestWithoutThickFrame() {
    Dlg dlg;
    dlg.resize(400, 300);
    QVERIFY(!dlg.IsResizable());
    QCOMPARE(dlg.HitTest(QPoint(10, 10)), Dlg::kHtCaption);
    QCOMPARE(dlg.HitTest(QPoint(1, 1)), Dlg::kHtCaption);
    QCOMPARE(dlg.HitTest(QPoint(200, 25)), Dlg::kHtClient);
    QCOMPARE(dlg.HitTest(QPoint(398, 298)), Dlg::kHtClient);
    QCOMPARE(dlg.HitTest(QPoint(0, 0)), Dlg::kHtBorder);
    QCOMPARE(dlg.HitTest(QPoint(399, 150)), Dlg::kHtBorder);
    QCOMPARE(dlg.HitTest(QPoint(500, 150)), Dlg::kHtNowhere);
}

void CCustomDialogTest::HitTestCornersAndEdges_data() {
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<int>("hit");
    // 400 x 300, grab size 3, corner length 24.
    QTest::newRow("top-left corner") << QPoint(0, 0) << int(Dlg::kHtTopLeft);
    QTest::newRow("top edge near left") << QPoint(24, 2) << int(Dlg::kHtTopLeft);
    QTest::newRow("left edge near top") << QPoint(3, 24) << int(Dlg::kHtTopLeft);
    QTest::newRow("top edge") << QPoint(25, 3) << int(Dlg::kHtTop);
    QTest::newRow("top-right corner") << QPoint(399, 0) << int(Dlg::kHtTopRight);
    QTest::newRow("right edge near top") << QPoint(397, 20) << int(Dlg::kHtTopRight);
    QTest::newRow("top edge near right") << QPoint(376, 1) << int(Dlg::kHtTopRight);
    QTest::newRow("right edge") << QPoint(398, 100) << int(Dlg::kHtRight);
    QTest::newRow("bottom-left corner") << QPoint(2, 299) << int(Dlg::kHtBottomLeft);
    QTest::newRow("left edge near bottom") << QPoint(0, 276) << int(Dlg::kHtBottomLeft);
    QTest::newRow("bottom edge") << QPoint(200, 297) << int(Dlg::kHtBottom);
    QTest::newRow("bottom-right corner") << QPoint(399, 299) << int(Dlg::kHtBottomRight);
    QTest::newRow("bottom edge near right") << QPoint(380, 298) << int(Dlg::kHtBottomRight);
    QTest::newRow("left edge") << QPoint(1, 100) << int(Dlg::kHtLeft);
    QTest::newRow("caption below the grab") << QPoint(200, 4) << int(Dlg::kHtCaption);
    QTest::newRow("caption near the left") << QPoint(4, 10) << int(Dlg::kHtCaption);
    QTest::newRow("client") << QPoint(200, 100) << int(Dlg::kHtClient);
    QTest::newRow("client near the left") << QPoint(4, 100) << int(Dlg::kHtClient);
}

void CCustomDialogTest::HitTestCornersAndEdges() {
    QFETCH(QPoint, point);
    QFETCH(int, hit);
    Dlg dlg(nullptr, Dlg::kFrameResizable);
    dlg.resize(400, 300);
    QCOMPARE(int(dlg.HitTest(point)), hit);
}

void CCustomDialogTest::TitleEndsBeforeTheButtons() {
    Dlg dlg;
    dlg.resize(300, 200);
    dlg.SetCaption(QStringLiteral(u"환경설정 ") + QString(80, QChar('x')));
    const QRect rcTitle = dlg.GetTitleRect();
    QCOMPARE(rcTitle.left(), 5 + 16 + 5);  // after the icon
    QCOMPARE(rcTitle.left() + rcTitle.width(), dlg.GetCaptionButtonRect(Dlg::kCmdClose).left() - 4);
    // The elided title runs up to the end of its rectangle, never into the gap.
    const QImage img = Grab(dlg);
    const QRect rcGap(rcTitle.left() + rcTitle.width(), 1, 4, 24);
    QVERIFY(AllPixels(img, rcGap, GetThemeColor(2)));
    QVERIFY(
        !AllPixels(img, QRect(rcTitle.left() + rcTitle.width() - 20, 1, 20, 24), GetThemeColor(2)));
}

void CCustomDialogTest::CloseButtonPostsOnlyWhenReleasedOnIt() {
    Dlg dlg;
    dlg.resize(300, 200);
    dlg.show();
    const QPoint ptClose = dlg.GetCaptionButtonRect(Dlg::kCmdClose).center();
    QTest::mousePress(&dlg, Qt::LeftButton, {}, ptClose);
    QVERIFY(dlg.IsCaptionButtonPressed(Dlg::kCmdClose));
    QTest::mouseRelease(&dlg, Qt::LeftButton, {}, QPoint(100, 100));
    QVERIFY(!dlg.IsCaptionButtonPressed(Dlg::kCmdClose));
    QCoreApplication::processEvents();
    QVERIFY(dlg.isVisible());

    QTest::mousePress(&dlg, Qt::LeftButton, {}, ptClose);
    QTest::mouseRelease(&dlg, Qt::LeftButton, {}, ptClose);
    QVERIFY(dlg.isVisible());  // posted: runs after the release
    QCoreApplication::processEvents();
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
}

void CCustomDialogTest::HoverHighlightsTheCloseButton() {
    Dlg dlg;
    dlg.resize(300, 200);
    dlg.show();
    const QRect rcClose = dlg.GetCaptionButtonRect(Dlg::kCmdClose);
    auto brightest = [&](const QImage& img) {
        int nBest = 0;
        for (int y = rcClose.top(); y <= rcClose.bottom(); ++y) {
            for (int x = rcClose.left(); x <= rcClose.right(); ++x) {
                nBest = std::max(nBest, img.pixelColor(x, y).red());
            }
        }
        return nBest;
    };
    QCOMPARE(brightest(Grab(dlg)), 200);
    QTest::mouseMove(&dlg, rcClose.center());
    QVERIFY(dlg.IsCaptionButtonHover(Dlg::kCmdClose));
    QCOMPARE(brightest(Grab(dlg)), 255);
    QTest::mouseMove(&dlg, QPoint(100, 10));
    QVERIFY(!dlg.IsCaptionButtonHover(Dlg::kCmdClose));
    QCOMPARE(brightest(Grab(dlg)), 200);
}

void CCustomDialogTest::DoubleClickTogglesOnlyWithMaximizeBox() {
    Dlg plain;
    plain.resize(300, 200);
    plain.show();
    QTest::mouseDClick(&plain, Qt::LeftButton, {}, QPoint(100, 10));
    QCoreApplication::processEvents();
    QVERIFY(!plain.isMaximized());

    Dlg dlg(nullptr, Dlg::kFrameMaximizeBox | Dlg::kFrameResizable);
    dlg.resize(300, 200);
    dlg.show();
    QTest::mouseDClick(&dlg, Qt::LeftButton, {}, QPoint(100, 10));
    QVERIFY(dlg.isMaximized());
    QTest::mouseDClick(&dlg, Qt::LeftButton, {}, QPoint(100, 10));
    QVERIFY(!dlg.isMaximized());
    // On a button a double click does nothing else.
    QTest::mouseDClick(&dlg, Qt::LeftButton, {},
                       dlg.GetCaptionButtonRect(Dlg::kCmdMaximize).center());
    QVERIFY(!dlg.isMaximized());
}

void CCustomDialogTest::CaptionDragMovesAndEdgeDragResizes() {
    Dlg dlg(nullptr, Dlg::kFrameResizable);
    dlg.setGeometry(100, 100, 400, 300);
    dlg.show();
    const QPoint ptStart = dlg.pos();
    QTest::mousePress(&dlg, Qt::LeftButton, {}, QPoint(50, 10));
    QTest::mouseMove(&dlg, QPoint(80, 30));
    QTest::mouseRelease(&dlg, Qt::LeftButton, {}, QPoint(80, 30));
    QCOMPARE(dlg.pos(), ptStart + QPoint(30, 20));

    QTest::mousePress(&dlg, Qt::LeftButton, {}, QPoint(399, 299));
    QTest::mouseMove(&dlg, QPoint(419, 309));
    QTest::mouseRelease(&dlg, Qt::LeftButton, {}, QPoint(419, 309));
    QCOMPARE(dlg.size(), QSize(420, 310));
    QCOMPARE(dlg.GetClientArea()->size(), QSize(418, 284));

    // Never below the smallest tracking size.
    QTest::mousePress(&dlg, Qt::LeftButton, {}, QPoint(0, 150));
    QTest::mouseMove(&dlg, QPoint(400, 150));
    QTest::mouseRelease(&dlg, Qt::LeftButton, {}, QPoint(400, 150));
    QCOMPARE(dlg.width(), 200);
}

void CCustomDialogTest::EnterAndEscape() {
    {
        Dlg dlg;
        auto* pEdit = new QLineEdit(dlg.GetClientArea());
        dlg.show();
        pEdit->setFocus();
        QTest::keyClick(pEdit, Qt::Key_Return);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(!dlg.isVisible());
    }
    {
        Dlg dlg;
        auto* pEdit = new QPlainTextEdit(dlg.GetClientArea());
        dlg.show();
        dlg.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        pEdit->setFocus();
        QTest::keyClick(pEdit, Qt::Key_Return);
        QVERIFY(dlg.isVisible());
        QCOMPARE(pEdit->toPlainText(), QStringLiteral("\n"));
        QTest::keyClick(pEdit, Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }
}

void CCustomDialogTest::ModalRunHasNoMinimizeButton() {
    Dlg dlg(nullptr, Dlg::kFrameMinimizeBox | Dlg::kFrameMaximizeBox);
    bool bMinimizeSeen = true;
    QRect rcMaximize;
    QTimer::singleShot(0, &dlg, [&] {
        bMinimizeSeen = dlg.IsCaptionButtonVisible(Dlg::kCmdMinimize);
        rcMaximize = dlg.GetCaptionButtonRect(Dlg::kCmdMaximize);
        dlg.accept();
    });
    QCOMPARE(dlg.DoModal(), Dlg::kIdOk);
    QVERIFY(!bMinimizeSeen);
    QCOMPARE(rcMaximize.left(), dlg.width() - 6 - 16 - 6 - 16);
}

void CCustomDialogTest::FramePaintsThemeColours() {
    Dlg dlg;
    dlg.resize(300, 200);
    QImage img = Grab(dlg);
    QCOMPARE(img.pixelColor(0, 0), GetThemeColor(4));
    QCOMPARE(img.pixelColor(299, 199), GetThemeColor(4));
    QCOMPARE(img.pixelColor(150, 12), GetThemeColor(2));
    QCOMPARE(img.pixelColor(150, 100), GetThemeColor(0));
    QCOMPARE(img.pixelColor(1, 25), GetThemeColor(0));
    const int nRenders = dlg.GetPaintCache().GetRenderCount();
    Grab(dlg);
    QCOMPARE(dlg.GetPaintCache().GetRenderCount(), nRenders);
}

QTEST_MAIN(CCustomDialogTest)
#include "custom_dialog_test.moc"
