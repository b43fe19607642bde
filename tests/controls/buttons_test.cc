// The three button kinds: which picture cell each state shows, and clicks by
// mouse and key (a release outside or without its press sends nothing).
#include <QSignalSpy>

#include "controls/flat_check_box.h"
#include "controls/image_button.h"
#include "controls/theme_button.h"
#include "tests/controls/widget_test_util.h"
#include "tests/support/qt_test.h"

namespace {

// A strip of 10 x 10 cells, each a solid colour.
// A double click as the system delivers it: a click, then the double-click
// event and its release.
void DoubleClick(QWidget* pWidget, const QPoint& pt) {
    QTest::mouseClick(pWidget, Qt::LeftButton, {}, pt);
    QTest::mouseDClick(pWidget, Qt::LeftButton, {}, pt);
    QTest::mouseRelease(pWidget, Qt::LeftButton, {}, pt);
}

QImage Strip(const std::vector<QColor>& vecColours) {
    QImage img(10 * static_cast<int>(vecColours.size()), 10, QImage::Format_ARGB32);
    for (size_t i = 0; i < vecColours.size(); ++i) {
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 10; ++x) {
                img.setPixelColor(static_cast<int>(i) * 10 + x, y, vecColours[i]);
            }
        }
    }
    return img;
}

}  // namespace

class CImageButtonTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseLightTheme(); }

    void HoverAndPressChangeTheFrame() {
        const QColor clrFace(40, 60, 80);
        CImageButton button;
        button.resize(40, 20);
        button.SetBackColor(clrFace);
        QVERIFY(ShowActive(button));
        SendLeave(button);
        const QImage imgIdle = Grab(button);
        QVERIFY(AllPixels(imgIdle, QRect(0, 0, 40, 20), clrFace));
        QTest::mouseMove(&button, QPoint(20, 10));
        QVERIFY(button.IsHover());
        const QImage imgHover = Grab(button);
        QVERIFY(imgHover != imgIdle);
        QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(20, 10));
        const QImage imgPressed = Grab(button);
        QVERIFY(imgPressed != imgHover && imgPressed != imgIdle);
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(20, 10));
        SendLeave(button);
        QVERIFY(!button.IsHover());
        QCOMPARE(Grab(button), imgIdle);
    }

    // Cells: 0 normal, 1 pressed, 2 focus, 3 disabled; a two-cell strip has
    // only the first two.
    void StripCellsByState() {
        for (int nCells : {2, 4}) {
            CImageButton button;
            std::vector<QColor> vecCells = {Qt::red, Qt::blue, Qt::green, Qt::yellow};
            vecCells.resize(static_cast<size_t>(nCells));
            button.SetImage(Strip(vecCells), CImageButton::kModeImage, nCells, true);
            QCOMPARE(button.size(), QSize(10, 10));
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

    void ColourKeyLeavesTheFaceShowing() {
        const QColor clrFace(40, 60, 80);
        CImageButton button;
        button.resize(30, 20);
        button.SetBackColor(clrFace);
        QImage img = Strip({kImageKeyColor, Qt::blue});
        img.setPixelColor(0, 0, Qt::red);
        button.SetImage(img, CImageButton::kModePlain, 2, false);
        const QImage shot = Grab(button);
        int nRed = 0;
        int nFace = 0;
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 30; ++x) {
                nRed += shot.pixelColor(x, y) == QColor(Qt::red) ? 1 : 0;
                nFace += shot.pixelColor(x, y) == clrFace ? 1 : 0;
            }
        }
        QCOMPARE(nRed, 1);
        QCOMPARE(nFace, 30 * 20 - 1);
    }

    void ClicksByMouseAndEnter() {
        CImageButton button;
        button.resize(40, 20);
        QVERIFY(ShowActive(button));
        QSignalSpy spy(&button, &CImageButton::commandSent);
        QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(20, 10));
        QVERIFY(button.IsPressed());
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(60, 30));
        QCOMPARE(spy.count(), 0);
        QVERIFY(!button.IsPressed());
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(20, 10));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toBool(), false);
        DoubleClick(&button, QPoint(20, 10));
        QCOMPARE(spy.count(), 3);  // the second click of a double click is not lost

        // Enter posts one command, marked as from the keyboard.
        QTest::keyPress(&button, Qt::Key_Return);
        QCOMPARE(spy.count(), 3);
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 4);
        QCOMPARE(spy.at(3).at(0).toBool(), true);
        QTest::keyRelease(&button, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 4);

        button.setEnabled(false);
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(20, 10));
        QCOMPARE(spy.count(), 4);
    }

    void CheckableToggles() {
        CImageButton button;
        button.resize(40, 20);
        button.show();
        button.SetCheckable(true);
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(button.GetChecked());
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!button.GetChecked());
        button.SetChecked(true);
        button.SetCheckable(false);
        QVERIFY(!button.GetChecked());
    }
};
TIDEWELL_QT_TEST(CImageButtonTest);

class CThemeButtonTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseLightTheme(); }

    // Each state paints differently; focus shades the border darker in the
    // light theme and lighter in the dark one.
    void StatesPaintApart() {
        for (bool bDark : {false, true}) {
            g_CorvidTheme.SetTheme(bDark, nullptr);
            CThemeButton button(QStringLiteral(u"취소"), nullptr);
            button.resize(80, 24);
            QVERIFY(ShowActive(button));
            SendLeave(button);
            const QColor clrBorder = GetThemeColor(162);
            QCOMPARE(Grab(button).pixelColor(0, 0),
                     bDark ? LightenColor(clrBorder, 30) : DarkenColor(clrBorder, 30));
            button.SetShowFocus(false);
            const QImage imgIdle = Grab(button);
            QCOMPARE(imgIdle.pixelColor(0, 0), clrBorder);
            const QPoint ptInside(40 + (bDark ? 1 : 0), 12);  // a move, not the last spot
            QTest::mouseMove(&button, ptInside);
            QVERIFY(button.IsHover());
            const QImage imgHover = Grab(button);
            QTest::mousePress(&button, Qt::LeftButton, {}, ptInside);
            const QImage imgPressed = Grab(button);
            QTest::mouseRelease(&button, Qt::LeftButton, {}, ptInside);
            SendLeave(button);
            button.setEnabled(false);
            const QImage imgDisabled = Grab(button);
            const QImage aShots[] = {imgIdle, imgHover, imgPressed, imgDisabled};
            for (int i = 0; i < 4; ++i) {
                for (int j = i + 1; j < 4; ++j) {
                    QVERIFY2(aShots[i] != aShots[j],
                             qPrintable(QStringLiteral("%1 %2").arg(i).arg(j)));
                }
            }
        }
        UseLightTheme();
    }

    void KeysClickOnReleaseOnly() {
        CThemeButton button;
        button.resize(80, 24);
        QVERIFY(ShowActive(button));
        QSignalSpy spy(&button, &CThemeButton::clicked);
        for (Qt::Key nKey : {Qt::Key_Return, Qt::Key_Space}) {
            QTest::keyPress(&button, nKey);
            QCOMPARE(spy.count(), nKey == Qt::Key_Return ? 0 : 1);
            QVERIFY(button.IsPressed());
            QTest::keyRelease(&button, nKey);
            QVERIFY(!button.IsPressed());
            QCOMPARE(spy.count(), nKey == Qt::Key_Return ? 1 : 2);
        }
        // A release without its press does nothing.
        QTest::keyRelease(&button, Qt::Key_Space);
        QCOMPARE(spy.count(), 2);
    }

    void MouseClicksOnlyWhenReleasedInside() {
        CThemeButton button;
        button.resize(80, 24);
        button.show();
        QSignalSpy spy(&button, &CThemeButton::clicked);
        QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(100, 10));
        QCOMPARE(spy.count(), 0);
        QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(spy.count(), 1);
        QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(spy.count(), 1);
        // The second click of a double click is not lost.
        DoubleClick(&button, QPoint(10, 10));
        QCOMPARE(spy.count(), 3);
    }
};
TIDEWELL_QT_TEST(CThemeButtonTest);

class CFlatCheckBoxTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseLightTheme(); }

    // The box is 13 pixels, or the height when that is less; checked,
    // disabled and enabled paint apart.
    void BoxSizeAndStates() {
        CQuenbyDesignerFlatCheckBox box(QStringLiteral(u"URL 인코딩(UTF8)."), nullptr);
        box.resize(100, 10);
        QCOMPARE(box.GetBoxRect(), QRect(0, 0, 10, 10));
        box.resize(100, 20);
        QCOMPARE(box.GetBoxRect(), QRect(0, 3, 13, 13));
        box.SetBoxRight(true);
        QCOMPARE(box.GetBoxRect(), QRect(87, 3, 13, 13));
        box.SetBoxRight(false);
        const QImage imgOff = Grab(box);
        box.SetCheck(1);
        QCOMPARE(box.GetCheck(), 1);
        const QImage imgOn = Grab(box);
        box.EnableAndRedraw(false);
        const QImage imgDisabled = Grab(box);
        QVERIFY(imgOn != imgOff && imgDisabled != imgOn && imgDisabled != imgOff);
    }

    void ClickTogglesOncePerReleaseInside() {
        CQuenbyDesignerFlatCheckBox box;
        box.resize(100, 10);
        box.show();
        QSignalSpy spy(&box, &CQuenbyDesignerFlatCheckBox::clicked);
        QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(box.GetCheck(), 1);
        QCOMPARE(spy.count(), 1);
        QTest::mousePress(&box, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(&box, Qt::LeftButton, {}, QPoint(150, 5));
        QCOMPARE(box.GetCheck(), 1);
        QCOMPARE(spy.count(), 1);
        QTest::mouseRelease(&box, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(box.GetCheck(), 1);
        QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(50, 5));
        QCOMPARE(box.GetCheck(), 0);
        QCOMPARE(spy.count(), 2);
        // A double click toggles twice: the second click is not lost.
        DoubleClick(&box, QPoint(5, 5));
        QCOMPARE(box.GetCheck(), 0);
        QCOMPARE(spy.count(), 4);
    }

    void SpaceTogglesOnRelease() {
        CQuenbyDesignerFlatCheckBox box;
        box.resize(100, 20);
        QVERIFY(ShowActive(box));
        QTest::keyPress(&box, Qt::Key_Space);
        QCOMPARE(box.GetCheck(), 0);
        QTest::keyRelease(&box, Qt::Key_Space);
        QCOMPARE(box.GetCheck(), 1);
    }
};
TIDEWELL_QT_TEST(CFlatCheckBoxTest);

#include "buttons_test.moc"
