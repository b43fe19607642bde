// CThemeButton: face, border and caption colours by state, and clicks by
// mouse and key.
#include <QSignalSpy>
#include <QtTest>

#include "controls/theme_button.h"
#include "widget_test_util.h"

class CThemeButtonTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseLightTheme(); }
    void FaceAndBorderFollowTheState();
    void FocusDarkensBorderAndDrawsRing();
    void DarkThemeShadesTheOtherWay();
    void DisabledShowsNoFaceAndGreyCaption();
    void KeysClickOnReleaseOnly();
    void MouseClicksOnlyWhenReleasedInside();
};

namespace {

// The pointer may rest where a new window appears; take it off the button.
void Leave(QWidget& widget) {
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&widget, &leave);
}

}  // namespace

void CThemeButtonTest::FaceAndBorderFollowTheState() {
    CThemeButton button;
    button.resize(80, 24);
    button.show();
    Leave(button);
    QImage img = Grab(button);
    QCOMPARE(img.pixelColor(0, 0), GetThemeColor(162));
    QCOMPARE(img.pixelColor(79, 23), GetThemeColor(162));
    QCOMPARE(img.pixelColor(40, 12), GetThemeColor(160));

    QTest::mouseMove(&button, QPoint(40, 12));
    QVERIFY(button.IsHover());
    QCOMPARE(Grab(button).pixelColor(40, 12), GetThemeColor(161));

    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(40, 12));
    QCOMPARE(Grab(button).pixelColor(40, 12), DarkenColor(GetThemeColor(161), 20));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(40, 12));
    QCOMPARE(Grab(button).pixelColor(40, 12), GetThemeColor(161));
}

void CThemeButtonTest::FocusDarkensBorderAndDrawsRing() {
    CThemeButton button;
    button.resize(80, 24);
    button.show();
    button.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&button));
    button.setFocus();
    Leave(button);
    QImage img = Grab(button);
    QCOMPARE(img.pixelColor(0, 0), DarkenColor(GetThemeColor(162), 30));
    QCOMPARE(img.pixelColor(4, 4), LightenColor(GetThemeColor(162), 20));
    QCOMPARE(img.pixelColor(40, 12), GetThemeColor(160));
    button.SetShowFocus(false);
    img = Grab(button);
    QCOMPARE(img.pixelColor(0, 0), GetThemeColor(162));
    QCOMPARE(img.pixelColor(4, 4), GetThemeColor(160));
}

void CThemeButtonTest::DarkThemeShadesTheOtherWay() {
    g_CorvidTheme.SetTheme(true, nullptr);
    {
        CThemeButton button;
        button.resize(80, 24);
        button.show();
        button.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&button));
        button.setFocus();
        Leave(button);
        const QImage img = Grab(button);
        QCOMPARE(img.pixelColor(0, 0), LightenColor(QColor(131, 131, 135), 30));
        QCOMPARE(img.pixelColor(4, 4), DarkenColor(QColor(131, 131, 135), 30));
        QCOMPARE(img.pixelColor(40, 12), QColor(51, 52, 54));
    }
    UseLightTheme();
    QCOMPARE(GetThemeColor(162), QColor(200, 200, 200));
}

void CThemeButtonTest::DisabledShowsNoFaceAndGreyCaption() {
    CThemeButton button(QStringLiteral(u"취소"), nullptr);
    button.resize(80, 24);
    button.setEnabled(false);
    QImage img = Grab(button);
    QCOMPARE(img.pixelColor(0, 0), GetThemeColor(162));
    QCOMPARE(img.pixelColor(3, 12), GetThemeColor(0));
    QVERIFY(Near(Darkest(img, QRect(2, 2, 76, 20)), GetThemeColor(23)));
    button.setEnabled(true);
    img = Grab(button);
    QCOMPARE(img.pixelColor(3, 12), GetThemeColor(160));
    QVERIFY(Near(Darkest(img, QRect(2, 2, 76, 20)), GetThemeColor(1)));
}

void CThemeButtonTest::KeysClickOnReleaseOnly() {
    CThemeButton button;
    button.resize(80, 24);
    button.show();
    button.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&button));
    button.setFocus();
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

void CThemeButtonTest::MouseClicksOnlyWhenReleasedInside() {
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
}

QTEST_MAIN(CThemeButtonTest)
#include "theme_button_test.moc"
