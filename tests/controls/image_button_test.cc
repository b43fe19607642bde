// CImageButton: face, hover frames, strip cells by state, clicks by mouse
// and by the Enter key.
#include <QSignalSpy>
#include <QtTest>

#include "controls/image_button.h"
#include "widget_test_util.h"

namespace {

const QColor kFace(40, 60, 80);

// A strip of nCells cells of 10 x 10, each a solid colour from vecColours.
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
    void PlainButtonPaintsOnlyItsFace();
    void HoverShowsRaisedAndPressedSunkenFrame();
    void TwoCellStripNeverShowsFocusOrDisabledCell();
    void FourCellStripShowsEveryState();
    void ColourKeyLeavesTheFaceShowing();
    void ReleaseOutsideSendsNothing();
    void EnterPostsOneCommand();
    void CheckableToggles();
};

void CImageButtonTest::PlainButtonPaintsOnlyItsFace() {
    CImageButton button;
    button.resize(40, 20);
    button.SetBackColor(kFace);
    QCOMPARE(button.GetDrawMode(), 0);
    QVERIFY(AllPixels(Grab(button), QRect(0, 0, 40, 20), kFace));
}

void CImageButtonTest::HoverShowsRaisedAndPressedSunkenFrame() {
    CImageButton button;
    button.resize(40, 20);
    button.SetBackColor(kFace);
    button.show();
    button.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&button));
    QTest::mouseMove(&button, QPoint(20, 10));
    QVERIFY(button.IsHover());
    const QColor clrLight(button.palette().color(QPalette::Light).rgb());
    const QColor clrShadow(button.palette().color(QPalette::Dark).rgb());
    QImage img = Grab(button);
    QCOMPARE(img.pixelColor(0, 0), clrLight);
    QCOMPARE(img.pixelColor(39, 19), clrShadow);
    QCOMPARE(img.pixelColor(20, 10), kFace);

    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(20, 10));
    img = Grab(button);
    QCOMPARE(img.pixelColor(0, 0), clrShadow);
    QCOMPARE(img.pixelColor(39, 19), clrLight);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(20, 10));

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&button, &leave);
    QVERIFY(!button.IsHover());
    QVERIFY(AllPixels(Grab(button), QRect(0, 0, 40, 20), kFace));
}

void CImageButtonTest::TwoCellStripNeverShowsFocusOrDisabledCell() {
    CImageButton button;
    button.SetImage(Strip({Qt::red, Qt::blue}), CImageButton::kModeImage, 2, true);
    QCOMPARE(button.size(), QSize(10, 10));
    QCOMPARE(button.GetImageSize(), QSize(10, 10));
    button.show();
    button.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&button));
    button.setFocus();
    QCOMPARE(button.GetCurrentCell(), 0);
    QCOMPARE(Grab(button).pixelColor(5, 5), QColor(Qt::red));
    button.setEnabled(false);
    QCOMPARE(button.GetCurrentCell(), 0);
    QCOMPARE(Grab(button).pixelColor(5, 5), QColor(Qt::red));
    button.setEnabled(true);
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(button.GetCurrentCell(), 1);
    QCOMPARE(Grab(button).pixelColor(5, 5), QColor(Qt::blue));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(5, 5));
}

void CImageButtonTest::FourCellStripShowsEveryState() {
    CImageButton button;
    button.SetImage(Strip({Qt::red, Qt::blue, Qt::green, Qt::yellow}), CImageButton::kModeImage, 4,
                    true);
    button.show();
    button.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&button));
    button.clearFocus();
    QCOMPARE(Grab(button).pixelColor(5, 5), QColor(Qt::red));
    button.setFocus();
    QCOMPARE(Grab(button).pixelColor(5, 5), QColor(Qt::green));
    button.setEnabled(false);
    QCOMPARE(Grab(button).pixelColor(5, 5), QColor(Qt::yellow));
}

void CImageButtonTest::ColourKeyLeavesTheFaceShowing() {
    CImageButton button;
    button.resize(30, 20);
    button.SetBackColor(kFace);
    QImage img = Strip({kImageKeyColor, Qt::blue});
    img.setPixelColor(0, 0, Qt::red);
    button.SetImage(img, CImageButton::kModePlain, 2, false);
    // No caption: the cell is centred, (30 - (10 + 0 + 5)) / 2 = 7, (20 - 10) / 2 = 5.
    const QImage shot = Grab(button);
    QCOMPARE(shot.pixelColor(7, 5), QColor(Qt::red));
    QCOMPARE(shot.pixelColor(12, 10), kFace);
}

void CImageButtonTest::ReleaseOutsideSendsNothing() {
    CImageButton button;
    button.resize(40, 20);
    button.show();
    QSignalSpy spy(&button, &CImageButton::commandSent);
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(20, 10));
    QVERIFY(button.IsPressed());
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(60, 30));
    QCOMPARE(spy.count(), 0);
    QVERIFY(!button.IsPressed());
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(20, 10));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), false);
    button.setEnabled(false);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(20, 10));
    QCOMPARE(spy.count(), 1);
}

void CImageButtonTest::EnterPostsOneCommand() {
    CImageButton button;
    button.resize(40, 20);
    button.show();
    button.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&button));
    button.setFocus();
    QSignalSpy spy(&button, &CImageButton::commandSent);
    QTest::keyPress(&button, Qt::Key_Return);
    QCOMPARE(spy.count(), 0);  // posted, not sent
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QTest::keyRelease(&button, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 1);
}

void CImageButtonTest::CheckableToggles() {
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

QTEST_MAIN(CImageButtonTest)
#include "image_button_test.moc"
