// CImageProgress: the filled width inside its 2-pixel margin and the empty
// range.
#include <QtTest>

#include "controls/image_progress.h"
#include "widget_test_util.h"

class CImageProgressTest : public QObject {
    Q_OBJECT

private slots:
    void FillsItsShareOfTheInnerWidth();
    void EmptyRangePaintsNothing();
    void RangeResetsThePosition();
};

void CImageProgressTest::FillsItsShareOfTheInnerWidth() {
    CImageProgress bar;
    bar.resize(104, 10);
    bar.SetPos(50);
    QCOMPARE(bar.GetFilledWidth(), 50);
    const QImage img = Grab(bar);
    const QColor clrBack(230, 230, 230);
    QCOMPARE(img.pixelColor(1, 5), clrBack);
    QVERIFY(img.pixelColor(2, 5) != clrBack);
    QVERIFY(img.pixelColor(51, 5) != clrBack);
    QCOMPARE(img.pixelColor(52, 5), clrBack);
    QCOMPARE(img.pixelColor(30, 1), clrBack);
    bar.SetPos(150);  // clamped to the maximum
    QCOMPARE(bar.GetFilledWidth(), 100);
    bar.SetPos(-3);
    QCOMPARE(bar.GetFilledWidth(), 0);
}

void CImageProgressTest::EmptyRangePaintsNothing() {
    CImageProgress bar;
    bar.resize(104, 10);
    bar.SetRange(5, 5);
    bar.grab();
    const QImage& img = bar.GetPaintCache().GetImage();
    QVERIFY(!img.isNull());
    QCOMPARE(img.pixelColor(50, 5).alpha(), 0);
    QCOMPARE(bar.GetFilledWidth(), 0);
}

void CImageProgressTest::RangeResetsThePosition() {
    CImageProgress bar;
    bar.SetPos(40);
    bar.SetRange(10, 20);
    QCOMPARE(bar.GetPos(), 10);
    bar.resize(24, 10);
    bar.SetPos(15);
    QCOMPARE(bar.GetFilledWidth(), 10);
}

QTEST_MAIN(CImageProgressTest)
#include "image_progress_test.moc"
