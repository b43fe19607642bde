// CImageStaticCtrl: caption lines, layout with a picture, frames from
// static kinds, pictures, gradients and dotted lines.
#include <QSignalSpy>
#include <QtTest>

#include "controls/image_static.h"
#include "controls/resource_manager.h"
#include "controls/resources.h"
#include "widget_test_util.h"

class CImageStaticTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseLightTheme(); }
    void CaptionSplitsIntoLinesCentredAsABlock();
    void CentredTextLeavesRoomForThePicture();
    void EtchedSeparatorBecomesOneThemedLine();
    void ModeOneResizesToThePicturePlusFrame();
    void MarkerPictureIsDrawnWithoutItsKeyColour();
    void GradientRunsAcrossTheControl();
    void DottedLinesEveryThirdPixel();
    void DisabledTextIsGrey();
    void NotifyReportsClicks();
};

void CImageStaticTest::CaptionSplitsIntoLinesCentredAsABlock() {
    CImageStaticCtrl label;
    label.resize(120, 60);
    label.SetText(QStringLiteral("A\r\nB"));
    QCOMPARE(label.GetLines(), QStringList({"A", "B"}));
    const int nLineHeight = QFontMetrics(*GetDefaultFont()).height();
    QCOMPARE(label.GetLinePosition(0), QPoint(0, (60 - 2 * nLineHeight) / 2));
    QCOMPARE(label.GetLinePosition(1), QPoint(0, (60 - 2 * nLineHeight) / 2 + nLineHeight));

    label.SetText(QStringLiteral("\n\nSize \"(MB)\"\n"));
    QCOMPARE(label.GetLines(), QStringList({"Size ", "(MB)"}));
    QCOMPARE(label.GetText(), QStringLiteral("\n\nSize \"(MB)\"\n"));
}

void CImageStaticTest::CentredTextLeavesRoomForThePicture() {
    CImageStaticCtrl label(QStringLiteral(u"서버 IP 주소 :"), nullptr);
    label.resize(200, 20);
    label.SetMargin(4);
    label.SetAlign(CImageStaticCtrl::kAlignCenter);
    QImage img(16, 16, QImage::Format_ARGB32);
    img.fill(Qt::red);
    label.SetImage(img, 0, -1);
    const int nWidth = QFontMetrics(*GetDefaultFont()).horizontalAdvance(label.GetLines()[0]);
    QCOMPARE(label.GetLinePosition(0).x(), 4 + 19 + (200 - 8 - 16 - nWidth) / 2);
    label.SetAlign(CImageStaticCtrl::kAlignRight);
    QCOMPARE(label.GetLinePosition(0).x(), 200 - 4 - nWidth);
    label.SetAlign(CImageStaticCtrl::kAlignLeft);
    QCOMPARE(label.GetLinePosition(0).x(), 4 + 19);
    // The picture sits at the margin, vertically centred.
    const QImage shot = Grab(label);
    QCOMPARE(shot.pixelColor(4, 2), QColor(Qt::red));
    QCOMPARE(shot.pixelColor(3, 2), GetThemeColor(0));
    QCOMPARE(shot.pixelColor(4, 1), GetThemeColor(0));
}

void CImageStaticTest::EtchedSeparatorBecomesOneThemedLine() {
    QWidget parent;
    parent.resize(200, 40);
    parent.setAutoFillBackground(true);
    QPalette pal = parent.palette();
    pal.setColor(QPalette::Window, QColor(1, 2, 3));
    parent.setPalette(pal);
    auto* pLine = new CImageStaticCtrl(&parent);
    pLine->setGeometry(10, 10, 150, 2);
    pLine->SetupFromStaticStyle(CImageStaticCtrl::kSsEtchedHorz);
    QCOMPARE(pLine->size(), QSize(150, 1));
    QVERIFY(pLine->HasFrame());
    QVERIFY(pLine->IsTransparent());
    pLine->SetFrameColor(QColor(9, 99, 199));
    QImage img = Grab(parent);
    QVERIFY(AllPixels(img, QRect(10, 10, 150, 1), QColor(9, 99, 199)));
    QCOMPARE(img.pixelColor(10, 11), QColor(1, 2, 3));

    CImageStaticCtrl centred;
    centred.SetupFromStaticStyle(CImageStaticCtrl::kSsCenter);
    QCOMPARE(centred.GetAlign(), int(CImageStaticCtrl::kAlignCenter));
    QVERIFY(!centred.HasFrame());
}

void CImageStaticTest::ModeOneResizesToThePicturePlusFrame() {
    CImageStaticCtrl label;
    label.resize(50, 50);
    label.SetFrame(true);
    QImage img(16, 16, QImage::Format_ARGB32);
    img.fill(Qt::blue);
    label.SetImage(img, 1, -1);
    QCOMPARE(label.size(), QSize(18, 18));
    QImage shot = Grab(label);
    QCOMPARE(shot.pixelColor(0, 0), GetThemeColor(26));
    QCOMPARE(shot.pixelColor(1, 1), QColor(Qt::blue));
    QCOMPARE(shot.pixelColor(16, 16), QColor(Qt::blue));
}

void CImageStaticTest::MarkerPictureIsDrawnWithoutItsKeyColour() {
    CImageStaticCtrl label;
    label.resize(40, 16);
    QVERIFY(label.SetImageFromStrip(kPngMarkersLight, 2, 0));
    QImage shot = Grab(label);
    QCOMPARE(shot.pixelColor(8, 8), GetThemeColor(0));  // the ring's hollow centre
    QVERIFY(Darkest(shot, QRect(0, 0, 16, 16)).lightness() < 200);
    QVERIFY(!label.SetImageFromStrip(9999, 2, 0));

    QImage keyed(4, 4, QImage::Format_ARGB32);
    keyed.fill(kImageKeyColor);
    keyed.setPixelColor(1, 1, Qt::red);
    label.SetImage(keyed, 0, -1);
    shot = Grab(label);
    QCOMPARE(shot.pixelColor(0, 6), GetThemeColor(0));
    QCOMPARE(shot.pixelColor(1, 7), QColor(Qt::red));
}

void CImageStaticTest::GradientRunsAcrossTheControl() {
    CImageStaticCtrl label;
    label.resize(100, 20);
    label.SetGradient(1, QColor(0, 0, 0), QColor(200, 200, 200));
    QImage shot = Grab(label);
    QVERIFY(shot.pixelColor(0, 10).red() < 5);
    QVERIFY(shot.pixelColor(99, 10).red() > 190);
    QCOMPARE(shot.pixelColor(50, 0), shot.pixelColor(50, 19));
    label.SetGradient(2, QColor(0, 0, 0), QColor(200, 200, 200));
    shot = Grab(label);
    QCOMPARE(shot.pixelColor(0, 10), shot.pixelColor(99, 10));
    QVERIFY(shot.pixelColor(50, 19).red() > shot.pixelColor(50, 0).red());
}

void CImageStaticTest::DottedLinesEveryThirdPixel() {
    CImageStaticCtrl label;
    label.resize(20, 20);
    QCOMPARE(label.AddDotLine(5, 0, 5, 10, 1, Qt::red), 0);
    QCOMPARE(label.AddDotLine(-1, 0, 5, 10, 1, Qt::red), -1);
    QCOMPARE(label.AddDotLine(5, 0, 5, 10, 0, Qt::red), -1);
    QImage shot = Grab(label);
    for (int y = 0; y <= 12; ++y) {
        const bool bDot = y % 3 == 0 && y <= 10;
        QCOMPARE(shot.pixelColor(5, y) == QColor(Qt::red), bDot);
    }
    label.EnableDotLine(0, false);
    label.EnableDotLine(7, true);  // out of range: ignored
    QCOMPARE(Grab(label).pixelColor(5, 0), GetThemeColor(0));
    label.RemoveDotLine(3);
    QCOMPARE(label.GetDotLineCount(), 1);
    label.RemoveDotLine(0);
    QCOMPARE(label.GetDotLineCount(), 0);
}

void CImageStaticTest::DisabledTextIsGrey() {
    CImageStaticCtrl label(QStringLiteral(u"기본 URL :"), nullptr);
    label.resize(120, 20);
    QVERIFY(Near(Darkest(Grab(label), label.rect()), GetThemeColor(1)));
    label.EnableAndRedraw(false);
    QVERIFY(Near(Darkest(Grab(label), label.rect()), QColor(150, 150, 150)));
    label.SetNoText(true);
    QVERIFY(AllPixels(Grab(label), label.rect(), GetThemeColor(0)));
}

void CImageStaticTest::NotifyReportsClicks() {
    CImageStaticCtrl label(QStringLiteral("X"), nullptr);
    label.resize(20, 20);
    label.show();
    QSignalSpy spy(&label, &CImageStaticCtrl::clicked);
    QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(spy.count(), 0);
    label.SetNotify(true);
    QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(spy.count(), 1);
}

QTEST_MAIN(CImageStaticTest)
#include "image_static_test.moc"
