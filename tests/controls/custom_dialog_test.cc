// CCorvidCustomDialog: which caption buttons show, hit testing of the frame,
// caption button clicks, moving and sizing by hand, and keys.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>

#include "controls/custom_dialog.h"
#include "tests/controls/widget_test_util.h"
#include "tests/support/qt_test.h"

using Dlg = CCorvidCustomDialog;

class CCustomDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseLightTheme(); }

    void CaptionButtonsFollowTheFrameFlags() {
        Dlg plain;
        plain.resize(400, 300);
        QVERIFY(plain.IsCaptionButtonVisible(Dlg::kCmdClose));
        QVERIFY(!plain.IsCaptionButtonVisible(Dlg::kCmdMaximize));
        QVERIFY(!plain.IsCaptionButtonVisible(Dlg::kCmdMinimize));
        QCOMPARE(plain.GetCaptionButtonRect(Dlg::kCmdMaximize), QRect());
        // Further buttons stand to the left of Close, in order.
        Dlg dlg(nullptr, Dlg::kFrameMinimizeBox | Dlg::kFrameMaximizeBox);
        dlg.resize(400, 300);
        const int nClose = dlg.GetCaptionButtonRect(Dlg::kCmdClose).left();
        const int nMaximize = dlg.GetCaptionButtonRect(Dlg::kCmdMaximize).left();
        QVERIFY(nMaximize < nClose);
        QVERIFY(dlg.GetCaptionButtonRect(Dlg::kCmdMinimize).left() < nMaximize);
        dlg.SetCaptionButtons(false, true);
        QCOMPARE(dlg.GetCaptionButtonRect(Dlg::kCmdMinimize), QRect());
        // The title ends before the buttons.
        dlg.SetCaption(QStringLiteral(u"환경설정 ") + QString(80, QChar('x')));
        const QRect rcTitle = dlg.GetTitleRect();
        QVERIFY(rcTitle.right() < nMaximize);
    }

    void ClientAreaKeepsItsSize() {
        Dlg dlg;
        dlg.SetClientSize(QSize(425, 366));
        QCOMPARE(dlg.GetClientRect().size(), QSize(425, 366));
        QCOMPARE(dlg.GetClientArea()->geometry(), dlg.GetClientRect());
    }

    void HitTestWithoutThickFrame() {
        Dlg dlg;
        dlg.resize(400, 300);
        QVERIFY(!dlg.IsResizable());
        const struct {
            QPoint pt;
            int nHit;
        } kCases[] = {
            {{10, 10}, Dlg::kHtCaption},   {{1, 1}, Dlg::kHtCaption}, {{200, 25}, Dlg::kHtClient},
            {{398, 298}, Dlg::kHtClient},  {{0, 0}, Dlg::kHtBorder},  {{399, 150}, Dlg::kHtBorder},
            {{500, 150}, Dlg::kHtNowhere},
        };
        for (const auto& c : kCases) {
            QCOMPARE(int(dlg.HitTest(c.pt)), c.nHit);
        }
    }

    void HitTestCornersAndEdges_data() {
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

    void HitTestCornersAndEdges() {
        QFETCH(QPoint, point);
        QFETCH(int, hit);
        Dlg dlg(nullptr, Dlg::kFrameResizable);
        dlg.resize(400, 300);
        QCOMPARE(int(dlg.HitTest(point)), hit);
    }

    void CloseButtonPostsOnlyWhenReleasedOnIt() {
        Dlg dlg;
        dlg.resize(300, 200);
        dlg.show();
        const QPoint ptClose = dlg.GetCaptionButtonRect(Dlg::kCmdClose).center();
        const QImage imgIdle = Grab(dlg);
        QTest::mouseMove(&dlg, ptClose);
        QVERIFY(dlg.IsCaptionButtonHover(Dlg::kCmdClose));
        QVERIFY(Grab(dlg) != imgIdle);
        QTest::mousePress(&dlg, Qt::LeftButton, {}, ptClose);
        QVERIFY(dlg.IsCaptionButtonPressed(Dlg::kCmdClose));
        QTest::mouseRelease(&dlg, Qt::LeftButton, {}, QPoint(100, 100));
        QVERIFY(!dlg.IsCaptionButtonPressed(Dlg::kCmdClose));
        QTest::mouseMove(&dlg, QPoint(100, 10));
        QVERIFY(!dlg.IsCaptionButtonHover(Dlg::kCmdClose));
        QCOMPARE(Grab(dlg), imgIdle);
        // Leaving the window from the button ends the hover too.
        QTest::mouseMove(&dlg, ptClose);
        SendLeave(dlg);
        QVERIFY(!dlg.IsCaptionButtonHover(Dlg::kCmdClose));
        QCOMPARE(Grab(dlg), imgIdle);
        QCoreApplication::processEvents();
        QVERIFY(dlg.isVisible());

        QTest::mousePress(&dlg, Qt::LeftButton, {}, ptClose);
        QTest::mouseRelease(&dlg, Qt::LeftButton, {}, ptClose);
        QVERIFY(dlg.isVisible());  // posted: runs after the release
        QCoreApplication::processEvents();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }

    void DoubleClickTogglesOnlyWithMaximizeBox() {
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

    void CaptionDragMovesAndEdgeDragResizes() {
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

    // Enter in a line edit accepts; in a multi-line edit it is a new line,
    // and Escape rejects.
    void EnterAndEscape() {
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
            QVERIFY(ShowActive(dlg));
            pEdit->setFocus();
            QTest::keyClick(pEdit, Qt::Key_Return);
            QVERIFY(dlg.isVisible());
            QCOMPARE(pEdit->toPlainText(), QStringLiteral("\n"));
            QTest::keyClick(pEdit, Qt::Key_Escape);
            QVERIFY(!dlg.isVisible());
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
        }
    }

    void ModalRunHasNoMinimizeButton() {
        Dlg dlg(nullptr, Dlg::kFrameMinimizeBox | Dlg::kFrameMaximizeBox);
        bool bMinimizeSeen = true;
        QTimer::singleShot(0, &dlg, [&] {
            bMinimizeSeen = dlg.IsCaptionButtonVisible(Dlg::kCmdMinimize);
            dlg.accept();
        });
        QCOMPARE(dlg.DoModal(), Dlg::kIdOk);
        QVERIFY(!bMinimizeSeen);
    }

    void FrameIsCachedUntilItChanges() {
        Dlg dlg;
        dlg.resize(300, 200);
        Grab(dlg);
        const int nRenders = dlg.GetPaintCache().GetRenderCount();
        Grab(dlg);
        QCOMPARE(dlg.GetPaintCache().GetRenderCount(), nRenders);
    }
};
TIDEWELL_QT_TEST(CCustomDialogTest);

#include "custom_dialog_test.moc"
