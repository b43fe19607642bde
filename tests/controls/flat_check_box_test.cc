// CQuenbyDesignerFlatCheckBox: box size and colours, the check mark, and
// toggling once per release inside.
#include <QSignalSpy>
#include <QtTest>

#include "controls/flat_check_box.h"
#include "widget_test_util.h"

class CFlatCheckBoxTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseLightTheme(); }
    void BoxIsThirteenPixelsOrTheHeight();
    void CheckMarkIsDrawnInItsColour();
    void DisabledBoxUsesTheBackground();
    void ClickTogglesOncePerReleaseInside();
    void SpaceToggles();
};

void CFlatCheckBoxTest::BoxIsThirteenPixelsOrTheHeight() {
    CQuenbyDesignerFlatCheckBox box;
    box.resize(100, 10);
    QCOMPARE(box.GetBoxRect(), QRect(0, 0, 10, 10));
    QImage img = Grab(box);
    QCOMPARE(img.pixelColor(0, 5), QColor(180, 180, 180));
    QCOMPARE(img.pixelColor(9, 5), QColor(180, 180, 180));
    QCOMPARE(img.pixelColor(5, 5), GetThemeColor(191));
    QCOMPARE(img.pixelColor(20, 5), GetThemeColor(0));

    box.resize(100, 20);
    QCOMPARE(box.GetBoxRect(), QRect(0, 3, 13, 13));
    box.SetBoxRight(true);
    QCOMPARE(box.GetBoxRect(), QRect(87, 3, 13, 13));
}

void CFlatCheckBoxTest::CheckMarkIsDrawnInItsColour() {
    CQuenbyDesignerFlatCheckBox box;
    box.resize(100, 20);
    QCOMPARE(Grab(box).pixelColor(5, 10), GetThemeColor(191));
    box.SetCheck(1);
    QCOMPARE(box.GetCheck(), 1);
    // x0 = 3, y0 = 6: the short stroke ends at (5, 10..12).
    QImage img = Grab(box);
    for (int y = 10; y <= 12; ++y) {
        QCOMPARE(img.pixelColor(5, y), GetThemeColor(190));
    }
    QCOMPARE(img.pixelColor(9, 6), GetThemeColor(190));
    box.EnableAndRedraw(false);
    QCOMPARE(Grab(box).pixelColor(5, 10), GetThemeColor(193));
}

void CFlatCheckBoxTest::DisabledBoxUsesTheBackground() {
    CQuenbyDesignerFlatCheckBox box(QStringLiteral(u"URL 인코딩(UTF8)."), nullptr);
    box.resize(160, 20);
    box.setEnabled(false);
    QImage img = Grab(box);
    QCOMPARE(img.pixelColor(6, 9), GetThemeColor(0));
    QCOMPARE(img.pixelColor(0, 9), QColor(210, 210, 210));
    QVERIFY(Near(Darkest(img, QRect(18, 0, 142, 20)), GetThemeColor(192)));
    box.setEnabled(true);
    QVERIFY(Near(Darkest(Grab(box), QRect(18, 0, 142, 20)), GetThemeColor(1)));
}

void CFlatCheckBoxTest::ClickTogglesOncePerReleaseInside() {
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
}

void CFlatCheckBoxTest::SpaceToggles() {
    CQuenbyDesignerFlatCheckBox box;
    box.resize(100, 20);
    box.show();
    box.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&box));
    box.setFocus();
    QTest::keyPress(&box, Qt::Key_Space);
    QCOMPARE(box.GetCheck(), 0);
    QTest::keyRelease(&box, Qt::Key_Space);
    QCOMPARE(box.GetCheck(), 1);
}

QTEST_MAIN(CFlatCheckBoxTest)
#include "flat_check_box_test.moc"
