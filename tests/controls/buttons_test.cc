// The three button kinds: what each state shows, and clicks by mouse and key
// (a release outside or without its press sends nothing, the second click of
// a double click is not lost).
#include <QPainter>
#include <QSignalSpy>

#include "controls/corvid_theme.h"
#include "controls/flat_check_box.h"
#include "controls/image_button.h"
#include "controls/theme_button.h"
#include "tests/support/qt_test.h"

namespace {

// Idle, hover, pressed and (when it has a look of its own) disabled each
// look different, and idle again after a press looks as before.
void ExpectStatesPaintApart(QWidget& button, bool bDisabledLook) {
    QVERIFY(ShowActive(button));
    static int s_nCall = 0;  // a move, not the last spot
    const QPoint ptInside = button.rect().center() + QPoint(s_nCall++ % 3, 0);
    SendLeave(button);
    const QImage imgIdle = Grab(button);
    QTest::mouseMove(&button, ptInside);
    const QImage imgHover = Grab(button);
    QTest::mousePress(&button, Qt::LeftButton, {}, ptInside);
    const QImage imgPressed = Grab(button);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, ptInside);
    SendLeave(button);
    QCOMPARE(Grab(button), imgIdle);
    button.setEnabled(false);
    const QImage aShots[] = {imgIdle, imgHover, imgPressed, Grab(button)};
    button.setEnabled(true);
    const int nShots = bDisabledLook ? 4 : 3;
    for (int i = 0; i < nShots; ++i) {
        for (int j = i + 1; j < nShots; ++j)
            QVERIFY2(aShots[i] != aShots[j], qPrintable(QStringLiteral("%1 %2").arg(i).arg(j)));
    }
}

// A release outside or without its press clicks nothing; a double click, as
// the system delivers it, is two clicks.
void ExpectMouseClickRules(QWidget& button, const QSignalSpy& spy, const QPoint& pt) {
    const qsizetype nBefore = spy.count();
    QTest::mousePress(&button, Qt::LeftButton, {}, pt);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, pt + QPoint(button.width(), 0));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, pt);
    QCOMPARE(spy.count(), nBefore);
    QTest::mouseClick(&button, Qt::LeftButton, {}, pt);
    QTest::mouseDClick(&button, Qt::LeftButton, {}, pt);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, pt);
    QCOMPARE(spy.count(), nBefore + 2);
}

}  // namespace

class CButtonsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { g_CorvidTheme.SetTheme(false, nullptr); }

    void StatesPaintApart() {
        CImageButton image;
        image.resize(40, 20);
        image.SetBackColor(QColor(40, 60, 80));
        ExpectStatesPaintApart(image, false);
        for (bool bDark : {false, true}) {
            g_CorvidTheme.SetTheme(bDark, nullptr);
            CThemeButton theme(QStringLiteral(u"취소"), nullptr);
            theme.resize(80, 24);
            theme.SetShowFocus(false);
            ExpectStatesPaintApart(theme, true);
        }
        g_CorvidTheme.SetTheme(false, nullptr);
    }

    // Picture cells: 0 normal, 1 pressed, 2 focus, 3 disabled; a two-cell
    // strip has only the first two.
    void ImageButtonCellsByState() {
        const QColor aColours[] = {Qt::red, Qt::blue, Qt::green, Qt::yellow};
        for (int nCells : {2, 4}) {
            QImage img(10 * nCells, 10, QImage::Format_ARGB32);
            QPainter painter(&img);
            for (int i = 0; i < nCells; ++i)
                painter.fillRect(i * 10, 0, 10, 10, aColours[i]);
            painter.end();
            CImageButton button;
            button.SetImage(img, CImageButton::kModeImage, nCells, true);
            QVERIFY(ShowActive(button));
            auto shown = [&] { return Grab(button).pixelColor(5, 5); };
            QCOMPARE(shown(), QColor(nCells == 4 ? Qt::green : Qt::red));
            button.clearFocus();
            QCOMPARE(shown(), QColor(Qt::red));
            button.setEnabled(false);
            QCOMPARE(shown(), QColor(nCells == 4 ? Qt::yellow : Qt::red));
            button.setEnabled(true);
            QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(5, 5));
            QCOMPARE(shown(), QColor(Qt::blue));
            QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(5, 5));
        }
    }

    void ImageButtonClicksByMouseAndEnter() {
        CImageButton button;
        button.resize(40, 20);
        QVERIFY(ShowActive(button));
        QSignalSpy spy(&button, &CImageButton::commandSent);
        QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(20, 10));
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(60, 30));
        QVERIFY(!button.IsPressed());
        ExpectMouseClickRules(button, spy, QPoint(20, 10));
        QCOMPARE(spy.at(0).at(0).toBool(), false);
        // Enter posts one command, marked as from the keyboard.
        QTest::keyPress(&button, Qt::Key_Return);
        QCOMPARE(spy.count(), 2);
        QTest::keyRelease(&button, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 3);
        QCOMPARE(spy.at(2).at(0).toBool(), true);
        button.setEnabled(false);
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(20, 10));
        QCOMPARE(spy.count(), 3);

        button.setEnabled(true);
        button.SetCheckable(true);
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(button.GetChecked());
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!button.GetChecked());
        button.SetChecked(true);
        button.SetCheckable(false);
        QVERIFY(!button.GetChecked());
    }

    // Return and Space click on the release.
    void ThemeButtonClicks() {
        CThemeButton button;
        button.resize(80, 24);
        QVERIFY(ShowActive(button));
        QSignalSpy spy(&button, &CThemeButton::clicked);
        for (Qt::Key nKey : {Qt::Key_Return, Qt::Key_Space}) {
            QTest::keyPress(&button, nKey);
            QVERIFY(button.IsPressed());
            QTest::keyRelease(&button, nKey);
            QVERIFY(!button.IsPressed());
        }
        QCOMPARE(spy.count(), 2);
        QTest::keyRelease(&button, Qt::Key_Space);
        ExpectMouseClickRules(button, spy, QPoint(10, 10));
    }

    // A click on the box or the text toggles; Space toggles on its release.
    void CheckBoxTogglesOncePerReleaseInside() {
        CQuenbyDesignerFlatCheckBox box(QStringLiteral(u"URL 인코딩(UTF8)."), nullptr);
        box.resize(100, 20);
        box.SetBoxRight(true);
        QCOMPARE(box.GetBoxRect().right(), box.width() - 1);
        box.SetBoxRight(false);
        const QImage imgOff = Grab(box);
        QVERIFY(ShowActive(box));
        QSignalSpy spy(&box, &CQuenbyDesignerFlatCheckBox::clicked);
        QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(box.GetCheck(), 1);
        QVERIFY(Grab(box) != imgOff);
        ExpectMouseClickRules(box, spy, QPoint(5, 5));
        QCOMPARE(box.GetCheck(), 1);
        QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(50, 5));
        QCOMPARE(box.GetCheck(), 0);
        QTest::keyPress(&box, Qt::Key_Space);
        QCOMPARE(box.GetCheck(), 0);
        QTest::keyRelease(&box, Qt::Key_Space);
        QCOMPARE(box.GetCheck(), 1);
        const QImage imgOn = Grab(box);
        box.EnableAndRedraw(false);
        QVERIFY(Grab(box) != imgOn && Grab(box) != imgOff);
    }
};
TIDEWELL_QT_TEST(CButtonsTest);

#include "buttons_test.moc"
