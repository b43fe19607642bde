// The update prompt: the keyboard and mouse rules and the answers 6, 7
// and 2, and its painting at a device-pixel ratio of 2.
#include <QTimer>
#include <functional>
#include <vector>

#include "app/message_box.h"
#include "controls/image_static.h"
#include "dialogs/update_prompt_dlg.h"
#include "tests/dialogs/dialog_test_util.h"
#include "tests/support/qt_test.h"

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
    // Return, Space and Enter take the focused choice (Yes at first), the
    // arrows move it without wrapping; Escape, and the "X", cancel.
    void keysAndClicksChoose() {
        const struct {
            std::vector<Qt::Key> vecKeys;
            int nAnswer;
        } kCases[] = {
            {{Qt::Key_Return}, kIdYes},
            {{Qt::Key_Space}, kIdYes},
            {{Qt::Key_Right, Qt::Key_Return}, kIdNo},
            {{Qt::Key_Right, Qt::Key_Right, Qt::Key_Right, Qt::Key_Left, Qt::Key_Right,
              Qt::Key_Enter},
             kIdCancel},
            {{Qt::Key_Left, Qt::Key_Return}, kIdYes},
            {{Qt::Key_Escape}, kIdCancel},
        };
        for (const auto& c : kCases) {
            QCOMPARE(RunWith([&c](CUpdateMessageBoxDlg& d) {
                         for (Qt::Key nKey : c.vecKeys)
                             QTest::keyClick(&d, nKey);
                     }),
                     c.nAnswer);
        }
        QCOMPARE(RunWith([](CUpdateMessageBoxDlg& d) {
                     QTest::mouseClick(&d, Qt::LeftButton, {}, d.GetChoiceRect(1).center());
                 }),
                 kIdNo);
        QCOMPARE(RunWith([](CUpdateMessageBoxDlg& d) {
                     QTest::mouseClick(d.GetCloseStatic(), Qt::LeftButton);
                 }),
                 kIdCancel);
        // A press on a choice focuses it, released outside it chooses
        // nothing; a choice under the pointer lights up.
        QCOMPARE(RunWith([](CUpdateMessageBoxDlg& d) {
                     QTest::mousePress(&d, Qt::LeftButton, {}, d.GetChoiceRect(2).center());
                     QCOMPARE(d.GetHover(), 3);
                     QTest::mouseRelease(&d, Qt::LeftButton, {}, QPoint(170, 20));
                     QVERIFY(d.isVisible());
                     QCOMPARE(d.GetFocusIndex(), 2);
                     QCOMPARE(d.GetHover(), 0);
                     QImage imgBefore = d.Render();
                     QTest::mouseMove(&d, d.GetChoiceRect(0).center());
                     QCOMPARE(d.GetHover(), 1);
                     QVERIFY(d.Render() != imgBefore);
                 }),
                 kIdCancel);
    }

    // Shown (also with QT_SCALE_FACTOR=2), it paints what it renders at the
    // screen's ratio; the "X" at the top is a control of its own. Dark
    // glyphs on white are hinted a little differently at ratio 2.
    void paintsSharpAtRatioTwo() {
        CUpdateMessageBoxDlg dlg;
        ExpectDrawnForRatioTwo(
            dlg,
            {dlg.GetLineRect(0), dlg.GetLineRect(2), dlg.GetChoiceRect(0), dlg.GetChoiceRect(1)},
            0.03);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const qreal dRatio = dlg.devicePixelRatioF();
        if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
            QCOMPARE(dRatio, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
        QRect rcBelowX = QRect(0, 30, dlg.width(), dlg.height() - 30);
        QCOMPARE(DifferentShare(dlg.grab().toImage(), dlg.Render(dRatio),
                                QRect(rcBelowX.topLeft() * dRatio, rcBelowX.size() * dRatio)),
                 0.0);
    }
};

TIDEWELL_QT_TEST(UpdatePromptTest);
#include "update_prompt_test.moc"
