// The picture progress bar of the main window: which pieces are filled at
// 0, 1, 33, 99 and 100 per cent, read back from rendered pixels.
#include <QPainter>
#include <QtTest>

#include "controls/slice_progress.h"

namespace {

const QColor kYellow(252, 211, 21);
const QColor kWhite(255, 255, 255);
const QColor kBack(10, 20, 30);

// Middle row of a bar drawn at nPercent on a dark background.
QImage Render(int nPercent) {
    CSliceProgressBar bar;
    bar.SetBackColor(kBack);
    bar.SetProgress(nPercent);
    return bar.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

int CountSlices(const QImage& img, const QColor& clr) {
    int n = 0;
    for (int x = 6; x < 6 + kSliceBarSteps; ++x) {
        n += img.pixelColor(x, 3) == clr ? 1 : 0;
    }
    return n;
}

}  // namespace

class CSliceProgressTest : public QObject {
    Q_OBJECT

private slots:
    void BarHasItsNaturalSize();
    void PiecesAtEachPercentage_data();
    void PiecesAtEachPercentage();
    void FilledSlicesAreContiguousFromTheLeft();
    void OutOfRangeDrawsEmpty();
    void RepaintsOnlyWhenTheValueChanges();
    void WiderBarsStretchOnlyTheEndStates();
};

void CSliceProgressTest::BarHasItsNaturalSize() {
    CSliceProgressBar bar;
    QVERIFY(bar.HasPictures());
    QCOMPARE(bar.sizeHint(), QSize(698, 6));
}

void CSliceProgressTest::PiecesAtEachPercentage_data() {
    QTest::addColumn<int>("percent");
    QTest::addColumn<bool>("leftFilled");
    QTest::addColumn<int>("filledSlices");
    QTest::addColumn<bool>("rightFilled");
    QTest::newRow("0") << 0 << false << 0 << false;
    QTest::newRow("1") << 1 << true << 0 << false;
    QTest::newRow("2") << 2 << true << 8 << false;
    QTest::newRow("33") << 33 << true << 225 << false;
    QTest::newRow("98") << 98 << true << 680 << false;
    QTest::newRow("99") << 99 << true << 686 << false;
    QTest::newRow("100") << 100 << true << 686 << true;
}

void CSliceProgressTest::PiecesAtEachPercentage() {
    QFETCH(int, percent);
    QFETCH(bool, leftFilled);
    QFETCH(int, filledSlices);
    QFETCH(bool, rightFilled);
    QImage img = Render(percent);
    QCOMPARE(img.size(), QSize(698, 6));
    QCOMPARE(img.pixelColor(3, 3), leftFilled ? kYellow : kWhite);
    QCOMPARE(img.pixelColor(694, 3), rightFilled ? kYellow : kWhite);
    QCOMPARE(CountSlices(img, kYellow), filledSlices);
    QCOMPARE(CountSlices(img, kWhite), kSliceBarSteps - filledSlices);
    // The rounded ends leave the background showing at the outer corners.
    QCOMPARE(img.pixelColor(0, 0), kBack);
    QCOMPARE(img.pixelColor(697, 5), kBack);
    QCOMPARE(SliceProgressFilledSteps(percent), percent == 0 ? 0 : filledSlices);
}

void CSliceProgressTest::FilledSlicesAreContiguousFromTheLeft() {
    QImage img = Render(33);
    QCOMPARE(img.pixelColor(6 + 224, 3), kYellow);
    QCOMPARE(img.pixelColor(6 + 225, 3), kWhite);
    QCOMPARE(img.pixelColor(6 + 685, 3), kWhite);
}

void CSliceProgressTest::OutOfRangeDrawsEmpty() {
    QImage imgEmpty = Render(0);
    QCOMPARE(Render(-5), imgEmpty);
    QCOMPARE(Render(101), imgEmpty);
}

void CSliceProgressTest::RepaintsOnlyWhenTheValueChanges() {
    CSliceProgressBar bar;
    bar.SetProgress(40);
    bar.grab();
    QCOMPARE(bar.GetPaintCache().GetRenderCount(), 1);
    bar.SetProgress(40);
    bar.grab();
    QCOMPARE(bar.GetPaintCache().GetRenderCount(), 1);
    bar.SetProgress(41);
    bar.grab();
    QCOMPARE(bar.GetPaintCache().GetRenderCount(), 2);
}

void CSliceProgressTest::WiderBarsStretchOnlyTheEndStates() {
    CSliceBarImages images;
    QVERIFY(images.Load());
    QCOMPARE(images.GetBarWidth(), 698);
    QCOMPARE(images.GetBarHeight(), 6);
    QImage img(720, 6, QImage::Format_ARGB32);
    img.fill(kBack);
    {
        QPainter p(&img);
        DrawSliceProgress(p, QRect(0, 0, 720, 6), 100, images);
    }
    QCOMPARE(img.pixelColor(700, 3), kYellow);  // slices run up to the right cap
    QCOMPARE(img.pixelColor(716, 3), kYellow);
    img.fill(kBack);
    {
        QPainter p(&img);
        DrawSliceProgress(p, QRect(0, 0, 720, 6), 50, images);
    }
    QCOMPARE(img.pixelColor(700, 3), kBack);  // always exactly 686 steps in between
    QCOMPARE(img.pixelColor(716, 3), kWhite);

    CSliceBarImages incomplete = images;
    incomplete.imgEmptySlice = QImage();
    QCOMPARE(incomplete.GetBarWidth(), 0);
    img.fill(kBack);
    {
        QPainter p(&img);
        DrawSliceProgress(p, QRect(0, 0, 720, 6), 50, incomplete);
    }
    QCOMPARE(img.pixelColor(3, 3), kBack);
}

QTEST_MAIN(CSliceProgressTest)
#include "slice_progress_test.moc"
