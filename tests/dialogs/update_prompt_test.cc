// The update prompt: its layout for the shipped pictures, the keyboard and
// mouse rules, and the answers 6, 7 and 2.
#include <QTimer>
#include <QtTest>
#include <functional>

#include "app/message_box.h"
#include "controls/image_static.h"
#include "dialogs/update_prompt_dlg.h"

class UpdatePromptTest : public QObject {
    Q_OBJECT

    // Runs the prompt modally while fn drives it; returns Run()'s answer.
    static int RunWith(const std::function<void(CUpdateMessageBoxDlg&)>& fn) {
        CUpdateMessageBoxDlg dlg;
        QTimer::singleShot(0, &dlg, [&dlg, fn] {
            QVERIFY(QTest::qWaitForWindowExposed(&dlg));
            fn(dlg);
            // Whatever fn left open ends here as a cancel.
            if (dlg.isVisible())
                dlg.reject();
        });
        return dlg.Run();
    }

private slots:
    void layoutFollowsThePictures() {
        CUpdateMessageBoxDlg dlg;
        QVERIFY(dlg.HasPictures());
        QCOMPARE(dlg.size(), QSize(340, 180));
        // Three 100 x 38 choices 5 apart, centred, 10 above the bottom.
        QCOMPARE(dlg.GetChoiceRect(0), QRect(15, 132, 100, 38));
        QCOMPARE(dlg.GetChoiceRect(1), QRect(120, 132, 100, 38));
        QCOMPARE(dlg.GetChoiceRect(2), QRect(225, 132, 100, 38));
        QCOMPARE(dlg.GetButtonsRect(), QRect(14, 131, 312, 40));
        QCOMPARE(dlg.GetLineRect(0), QRect(0, 50, 340, 14));
        QCOMPARE(dlg.GetLineRect(2), QRect(0, 94, 340, 14));
        QCOMPARE(dlg.GetFocusIndex(), 0);
    }

    void keyboardChooses() {
        QCOMPARE(RunWith([](CUpdateMessageBoxDlg& d) { QTest::keyClick(&d, Qt::Key_Return); }),
                 kIdYes);
        QCOMPARE(RunWith([](CUpdateMessageBoxDlg& d) { QTest::keyClick(&d, Qt::Key_Space); }),
                 kIdYes);
        QCOMPARE(RunWith([](CUpdateMessageBoxDlg& d) {
                     QTest::keyClick(&d, Qt::Key_Right);
                     QCOMPARE(d.GetFocusIndex(), 1);
                     QTest::keyClick(&d, Qt::Key_Return);
                 }),
                 kIdNo);
        QCOMPARE(RunWith([](CUpdateMessageBoxDlg& d) {
                     QTest::keyClick(&d, Qt::Key_Right);
                     QTest::keyClick(&d, Qt::Key_Right);
                     QTest::keyClick(&d, Qt::Key_Right);
                     QCOMPARE(d.GetFocusIndex(), 2);
                     QTest::keyClick(&d, Qt::Key_Left);
                     QTest::keyClick(&d, Qt::Key_Right);
                     QTest::keyClick(&d, Qt::Key_Enter);
                 }),
                 kIdCancel);
        QCOMPARE(RunWith([](CUpdateMessageBoxDlg& d) {
                     QTest::keyClick(&d, Qt::Key_Left);
                     QCOMPARE(d.GetFocusIndex(), 0);
                     QTest::keyClick(&d, Qt::Key_Escape);
                 }),
                 kIdCancel);
    }

    void mouseChooses() {
        QCOMPARE(RunWith([](CUpdateMessageBoxDlg& d) {
                     QTest::mouseClick(&d, Qt::LeftButton, {}, d.GetChoiceRect(1).center());
                 }),
                 kIdNo);
        // The "X" static cancels.
        QCOMPARE(RunWith([](CUpdateMessageBoxDlg& d) {
                     QTest::mouseClick(d.GetCloseStatic(), Qt::LeftButton);
                 }),
                 kIdCancel);
    }

    void pressThenReleaseOutsideChoosesNothing() {
        CUpdateMessageBoxDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::mousePress(&dlg, Qt::LeftButton, {}, dlg.GetChoiceRect(2).center());
        QCOMPARE(dlg.GetFocusIndex(), 2);
        QCOMPARE(dlg.GetHover(), 3);
        QTest::mouseRelease(&dlg, Qt::LeftButton, {}, QPoint(170, 20));
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.GetFocusIndex(), 2);
        QCOMPARE(dlg.GetHover(), 0);
        // Moving over a choice lights it; the painted face changes with it.
        QImage imgBefore = dlg.Render();
        QTest::mouseMove(&dlg, dlg.GetChoiceRect(0).center());
        QCOMPARE(dlg.GetHover(), 1);
        QVERIFY(dlg.Render() != imgBefore);
        QTest::mouseMove(&dlg, QPoint(170, 20));
        QCOMPARE(dlg.GetHover(), 0);
    }
};

QTEST_MAIN(UpdatePromptTest)
#include "update_prompt_test.moc"
