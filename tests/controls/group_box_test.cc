// CCorvidFlxGroupBox: frame and caption in the theme's colours, and it lets
// clicks through to the controls it surrounds.
#include <QtTest>

#include "controls/flx_group_box.h"
#include "widget_test_util.h"

class CGroupBoxTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseLightTheme(); }
    void FrameAndCaptionInThemeColours();
    void WithoutCaptionTheFrameIsTheEdge();
};

void CGroupBoxTest::FrameAndCaptionInThemeColours() {
    CCorvidFlxGroupBox box(QStringLiteral(u"서버"), nullptr);
    box.resize(200, 100);
    QVERIFY(box.testAttribute(Qt::WA_TransparentForMouseEvents));
    const QRect rcFrame = box.GetFrameRect();
    QVERIFY(rcFrame.top() > 0);
    const QImage img = Grab(box);
    QCOMPARE(img.pixelColor(0, 50), GetThemeColor(26));
    QCOMPARE(img.pixelColor(199, 50), GetThemeColor(26));
    QCOMPARE(img.pixelColor(100, 99), GetThemeColor(26));
    QCOMPARE(img.pixelColor(150, rcFrame.top()), GetThemeColor(26));
    QCOMPARE(img.pixelColor(100, 50), GetThemeColor(0));
    const QRect rcCaption = box.GetCaptionRect();
    QCOMPARE(rcCaption.left(), 8);
    QVERIFY(Near(Darkest(img, rcCaption), GetThemeColor(1)));
    // The frame line is broken behind the caption.
    QCOMPARE(img.pixelColor(rcCaption.left() + 1, rcFrame.top()), GetThemeColor(0));
}

void CGroupBoxTest::WithoutCaptionTheFrameIsTheEdge() {
    CCorvidFlxGroupBox box;
    box.resize(50, 40);
    QCOMPARE(box.GetFrameRect(), QRect(0, 0, 50, 40));
    QVERIFY(box.GetCaptionRect().isEmpty());
    QCOMPARE(Grab(box).pixelColor(25, 0), GetThemeColor(26));
}

QTEST_MAIN(CGroupBoxTest)
#include "group_box_test.moc"
