// The embedded pictures: every id the dialogs load exists at its size, a
// missing id gives a null image, and the strips cut into their cells.
#include <QPainter>
#include <QtTest>
#include <thread>

#include "controls/corvid_graphics.h"
#include "controls/resources.h"

class CResourcesTest : public QObject {
    Q_OBJECT

private slots:
    void EveryPictureHasItsSize_data();
    void EveryPictureHasItsSize();
    void MissingIdsGiveNull();
    void LoadsOnAWorkerThread();
    void BarPiecesHaveTheirColours();
    void StripsCutIntoSquareCells();
    void ColorKeyLeavesOutOnlyThatColour();
};

void CResourcesTest::EveryPictureHasItsSize_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QSize>("size");
    const std::pair<int, QSize> pictures[] = {
        {193, {800, 450}}, {171, {798, 444}}, {172, {24, 24}},  {173, {24, 24}},  {174, {12, 12}},
        {175, {6, 6}},     {176, {6, 6}},     {177, {1, 6}},    {178, {6, 6}},    {179, {6, 6}},
        {180, {1, 6}},     {181, {24, 24}},   {182, {24, 24}},  {184, {24, 24}},  {185, {24, 24}},
        {188, {340, 180}}, {189, {100, 38}},  {190, {100, 38}}, {191, {100, 38}}, {192, {100, 38}},
        {695, {80, 16}},   {934, {80, 16}},   {151, {80, 16}},  {128, {32, 32}},
    };
    for (const auto& [nId, size] : pictures) {
        QTest::addRow("%d", nId) << nId << size;
    }
}

void CResourcesTest::EveryPictureHasItsSize() {
    QFETCH(int, id);
    QFETCH(QSize, size);
    QImage img = LoadPngResource(id);
    QVERIFY(!img.isNull());
    QCOMPARE(img.size(), size);
    QVERIFY(img.hasAlphaChannel());
}

void CResourcesTest::MissingIdsGiveNull() {
    QVERIFY(LoadPngResource(0).isNull());
    QVERIFY(LoadPngResource(183).isNull());
    QVERIFY(LoadPngResource(9999).isNull());
    QVERIFY(LoadPngResource(-1).isNull());
    QCOMPARE(CursorFromId(kCursorHand).shape(), Qt::PointingHandCursor);
    QCOMPARE(CursorFromId(1).shape(), Qt::ArrowCursor);
}

void CResourcesTest::LoadsOnAWorkerThread() {
    // The engine's worker may load the prompt's pictures.
    QSize size;
    std::thread worker([&size] { size = LoadPngResource(kPngPromptBack).size(); });
    worker.join();
    QCOMPARE(size, QSize(340, 180));
}

void CResourcesTest::BarPiecesHaveTheirColours() {
    const QColor clrYellow(252, 211, 21);
    QCOMPARE(LoadPngResource(kPngBarFullSlice).pixelColor(0, 3), clrYellow);
    QCOMPARE(LoadPngResource(kPngBarFullLeft).pixelColor(5, 3), clrYellow);
    QCOMPARE(LoadPngResource(kPngBarFullRight).pixelColor(0, 3), clrYellow);
    QCOMPARE(LoadPngResource(kPngBarEmptySlice).pixelColor(0, 0), QColor(Qt::white));
    QCOMPARE(LoadPngResource(kPngBarEmptyLeft).pixelColor(5, 3), QColor(Qt::white));
    // Rounded ends: the outer corner is see-through.
    QCOMPARE(LoadPngResource(kPngBarFullLeft).pixelColor(0, 0).alpha(), 0);
    QCOMPARE(LoadPngResource(kPngBarEmptyRight).pixelColor(5, 5).alpha(), 0);
    // Highlighted icons are yellow, normal ones white.
    auto brightest = [](const QImage& img) {
        QColor best(0, 0, 0, 0);
        for (int y = 0; y < img.height(); ++y) {
            for (int x = 0; x < img.width(); ++x) {
                if (img.pixelColor(x, y).alpha() == 255) {
                    return img.pixelColor(x, y);
                }
            }
        }
        return best;
    };
    QCOMPARE(brightest(LoadPngResource(kPngSetupHot)), clrYellow);
    QCOMPARE(brightest(LoadPngResource(kPngSetup)), QColor(Qt::white));
    QCOMPARE(brightest(LoadPngResource(kPngStopHot)), clrYellow);
}

void CResourcesTest::StripsCutIntoSquareCells() {
    CCorvidGraphicsImageList list;
    QVERIFY(list.Load(kPngMarkersLight, QStringLiteral("PNG")));
    QCOMPARE(list.GetCount(), 5);
    QImage imgRing = list.GetImage(2);
    QCOMPARE(imgRing.size(), QSize(16, 16));
    QCOMPARE(imgRing.pixelColor(8, 8).alpha(), 0);  // a ring: hollow centre
    QVERIFY(list.GetImage(5).isNull());
    QVERIFY(list.GetImage(-1).isNull());
    QVERIFY(!list.Load(9999, QStringLiteral("PNG")));
    QCOMPARE(list.GetCount(), 0);
}

void CResourcesTest::ColorKeyLeavesOutOnlyThatColour() {
    QImage img(2, 1, QImage::Format_ARGB32);
    img.setPixelColor(0, 0, kImageKeyColor);
    img.setPixelColor(1, 0, QColor(0, 128, 129));
    QImage target(2, 1, QImage::Format_ARGB32);
    target.fill(Qt::red);
    {
        QPainter p(&target);
        CCorvidGraphics::DrawImage(p, QRect(0, 0, 2, 1), img, QRect(0, 0, 2, 1), kImageKeyColor);
    }
    QCOMPARE(target.pixelColor(0, 0), QColor(Qt::red));
    QCOMPARE(target.pixelColor(1, 0), QColor(0, 128, 129));
}

QTEST_MAIN(CResourcesTest)
#include "resources_test.moc"
