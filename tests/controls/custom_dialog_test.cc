// CCorvidCustomDialog: which caption buttons show, hit testing of the frame,
// caption button clicks, moving and sizing by hand, and keys.
#include <QLineEdit>
#include <QTimer>

#include "controls/corvid_theme.h"
#include "controls/custom_dialog.h"
#include "tests/support/qt_test.h"

using Dlg = CCorvidCustomDialog;

class CCustomDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { g_CorvidTheme.SetTheme(false, nullptr); }

    // Close always; further buttons to its left, in order, when the frame
    // has them; never Minimize in a modal run.
    void CaptionButtonsFollowTheFrameFlags() {
        Dlg plain;
        QVERIFY(plain.IsCaptionButtonVisible(Dlg::kCmdClose));
        QVERIFY(!plain.IsCaptionButtonVisible(Dlg::kCmdMaximize));
        QVERIFY(!plain.IsCaptionButtonVisible(Dlg::kCmdMinimize));
        Dlg dlg(nullptr, Dlg::kFrameMinimizeBox | Dlg::kFrameMaximizeBox);
        dlg.resize(400, 300);
        const int nMaximize = dlg.GetCaptionButtonRect(Dlg::kCmdMaximize).left();
        QVERIFY(nMaximize < dlg.GetCaptionButtonRect(Dlg::kCmdClose).left());
        QVERIFY(dlg.GetCaptionButtonRect(Dlg::kCmdMinimize).left() < nMaximize);
        dlg.SetCaption(QStringLiteral(u"환경설정 ") + QString(80, QChar('x')));
        QVERIFY(dlg.GetTitleRect().right() < nMaximize);  // the title ends before them
        dlg.SetCaptionButtons(false, true);
        QCOMPARE(dlg.GetCaptionButtonRect(Dlg::kCmdMinimize), QRect());

        Dlg modal(nullptr, Dlg::kFrameMinimizeBox);
        modal.resize(400, 300);
        bool bMinimizeSeen = true;
        QTimer::singleShot(0, &modal, [&] {
            bMinimizeSeen = modal.IsCaptionButtonVisible(Dlg::kCmdMinimize);
            modal.accept();
        });
        QCOMPARE(modal.DoModal(), Dlg::kIdOk);
        QVERIFY(!bMinimizeSeen);
    }

    // 400 x 300, grab size 3, corner length 24; without a thick frame only
    // caption, client and border.
    void HitTest() {
        Dlg fixed;
        fixed.resize(400, 300);
        Dlg sizable(nullptr, Dlg::kFrameResizable);
        sizable.resize(400, 300);
        const struct {
            Dlg* pDlg;
            QPoint pt;
            int nHit;
        } kCases[] = {
            {&fixed, {1, 1}, Dlg::kHtCaption},      {&fixed, {200, 25}, Dlg::kHtClient},
            {&fixed, {0, 0}, Dlg::kHtBorder},       {&fixed, {399, 150}, Dlg::kHtBorder},
            {&fixed, {500, 150}, Dlg::kHtNowhere},  {&sizable, {0, 0}, Dlg::kHtTopLeft},
            {&sizable, {24, 2}, Dlg::kHtTopLeft},   {&sizable, {3, 24}, Dlg::kHtTopLeft},
            {&sizable, {25, 3}, Dlg::kHtTop},       {&sizable, {376, 1}, Dlg::kHtTopRight},
            {&sizable, {398, 100}, Dlg::kHtRight},  {&sizable, {0, 276}, Dlg::kHtBottomLeft},
            {&sizable, {200, 297}, Dlg::kHtBottom}, {&sizable, {380, 298}, Dlg::kHtBottomRight},
            {&sizable, {1, 100}, Dlg::kHtLeft},     {&sizable, {200, 4}, Dlg::kHtCaption},
            {&sizable, {4, 100}, Dlg::kHtClient},
        };
        for (const auto& c : kCases) {
            QVERIFY2(int(c.pDlg->HitTest(c.pt)) == c.nHit,
                     qPrintable(QStringLiteral("%1,%2").arg(c.pt.x()).arg(c.pt.y())));
        }
    }

    // Close lights under the pointer and closes (posted) only when released
    // on it; the frame is rendered again only when something changed.
    void CloseButtonPostsOnlyWhenReleasedOnIt() {
        Dlg dlg;
        dlg.resize(300, 200);
        dlg.show();
        const QPoint ptClose = dlg.GetCaptionButtonRect(Dlg::kCmdClose).center();
        dlg.grab();
        const int nRenders = dlg.GetPaintCache().GetRenderCount();
        const QImage imgIdle = dlg.grab().toImage();
        QCOMPARE(dlg.GetPaintCache().GetRenderCount(), nRenders);
        QTest::mouseMove(&dlg, ptClose);
        QVERIFY(dlg.IsCaptionButtonHover(Dlg::kCmdClose));
        QVERIFY(dlg.grab().toImage() != imgIdle);
        QTest::mousePress(&dlg, Qt::LeftButton, {}, ptClose);
        QTest::mouseRelease(&dlg, Qt::LeftButton, {}, QPoint(100, 100));
        QVERIFY(!dlg.IsCaptionButtonPressed(Dlg::kCmdClose));
        QTest::mouseMove(&dlg, QPoint(100, 10));
        QCOMPARE(dlg.grab().toImage(), imgIdle);
        // Leaving the window from the button ends the hover too.
        QTest::mouseMove(&dlg, ptClose);
        SendLeave(dlg);
        QCOMPARE(dlg.grab().toImage(), imgIdle);
        QCoreApplication::processEvents();
        QVERIFY(dlg.isVisible());

        QTest::mousePress(&dlg, Qt::LeftButton, {}, ptClose);
        QTest::mouseRelease(&dlg, Qt::LeftButton, {}, ptClose);
        QVERIFY(dlg.isVisible());
        QCoreApplication::processEvents();
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }

    // A double click on the caption toggles maximized only with a maximize
    // box, and not on a button; dragging the caption moves, an edge sizes,
    // never below the smallest tracking size.
    void MouseOnTheFrame() {
        Dlg plain;
        plain.resize(300, 200);
        plain.show();
        QTest::mouseDClick(&plain, Qt::LeftButton, {}, QPoint(100, 10));
        QCoreApplication::processEvents();
        QVERIFY(!plain.isMaximized());
        Dlg dlg(nullptr, Dlg::kFrameMaximizeBox | Dlg::kFrameResizable);
        dlg.setGeometry(100, 100, 400, 300);
        dlg.show();
        QTest::mouseDClick(&dlg, Qt::LeftButton, {}, QPoint(100, 10));
        QVERIFY(dlg.isMaximized());
        QTest::mouseDClick(&dlg, Qt::LeftButton, {}, QPoint(100, 10));
        QVERIFY(!dlg.isMaximized());
        QTest::mouseDClick(&dlg, Qt::LeftButton, {},
                           dlg.GetCaptionButtonRect(Dlg::kCmdMaximize).center());
        QVERIFY(!dlg.isMaximized());

        dlg.setGeometry(100, 100, 400, 300);
        const QPoint ptStart = dlg.pos();
        auto drag = [&](QPoint ptFrom, QPoint ptTo) {
            QTest::mousePress(&dlg, Qt::LeftButton, {}, ptFrom);
            QTest::mouseMove(&dlg, ptTo);
            QTest::mouseRelease(&dlg, Qt::LeftButton, {}, ptTo);
        };
        drag(QPoint(50, 10), QPoint(80, 30));
        QCOMPARE(dlg.pos(), ptStart + QPoint(30, 20));
        drag(QPoint(399, 299), QPoint(419, 309));
        QCOMPARE(dlg.size(), QSize(420, 310));
        drag(QPoint(0, 150), QPoint(400, 150));
        QCOMPARE(dlg.width(), 200);
    }

    // Enter accepts and Escape rejects, also from a line edit.
    void EnterAndEscape() {
        for (Qt::Key nKey : {Qt::Key_Return, Qt::Key_Escape}) {
            Dlg dlg;
            auto* pEdit = new QLineEdit(dlg.GetClientArea());
            QVERIFY(ShowActive(dlg));
            pEdit->setFocus();
            dlg.setResult(-1);
            QTest::keyClick(pEdit, nKey);
            QVERIFY(!dlg.isVisible());
            QCOMPARE(dlg.result(),
                     int(nKey == Qt::Key_Return ? QDialog::Accepted : QDialog::Rejected));
        }
    }
};
TIDEWELL_QT_TEST(CCustomDialogTest);

#include "custom_dialog_test.moc"
