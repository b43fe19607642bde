// CCorvidFlxComboBox: selection by index, its themed list, and the colours
// it paints enabled and disabled.
#include <QSignalSpy>
#include <QtTest>

#include "controls/flx_combo.h"
#include "widget_test_util.h"

class CFlxComboTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseLightTheme(); }
    void SelectionByIndex();
    void ListUsesTheWindowColour();
    void PaintsThemeColoursAndRepaintsOnChange();
};

void CFlxComboTest::SelectionByIndex() {
    CCorvidFlxComboBox combo;
    combo.addItems({QStringLiteral("0 : none"), QStringLiteral(u"1 : 인증서 오류 무시"),
                    QStringLiteral(u"2 : 인증서 오류 발생시 확인 메세지 보기")});
    QCOMPARE(combo.GetCurSel(), 0);
    QSignalSpy spy(&combo, &QComboBox::currentIndexChanged);
    combo.SetCurSel(2);
    QCOMPARE(combo.GetCurSel(), 2);
    QCOMPARE(spy.count(), 1);
    combo.SetCurSel(3);
    QCOMPARE(combo.GetCurSel(), 2);
    combo.SetCurSel(-1);
    QCOMPARE(combo.GetCurSel(), -1);
    combo.EnableWindow(false);
    QVERIFY(!combo.isEnabled());
}

void CFlxComboTest::ListUsesTheWindowColour() {
    CCorvidFlxComboBox combo;
    QVERIFY(combo.GetList() != nullptr);
    QCOMPARE(combo.view(), static_cast<QAbstractItemView*>(combo.GetList()));
    QCOMPARE(combo.GetList()->palette().color(QPalette::Base), GetThemeColor(20));
}

void CFlxComboTest::PaintsThemeColoursAndRepaintsOnChange() {
    CCorvidFlxComboBox combo;
    combo.addItems({QStringLiteral("0 : Regsvr32"), QStringLiteral("1 : LoadLibraryEx")});
    combo.resize(160, 22);
    QImage img = Grab(combo);
    QCOMPARE(img.pixelColor(0, 0), GetThemeColor(26));
    QCOMPARE(img.pixelColor(100, 2), GetThemeColor(20));
    QVERIFY(Near(Darkest(img, QRect(2, 2, 100, 18)), GetThemeColor(21)));
    const int nRenders = combo.GetPaintCache().GetRenderCount();
    Grab(combo);
    QCOMPARE(combo.GetPaintCache().GetRenderCount(), nRenders);
    combo.SetCurSel(1);
    Grab(combo);
    QCOMPARE(combo.GetPaintCache().GetRenderCount(), nRenders + 1);

    combo.EnableWindow(false);
    img = Grab(combo);
    QCOMPARE(img.pixelColor(100, 2), GetThemeColor(22));
    QVERIFY(Near(Darkest(img, QRect(2, 2, 100, 18)), GetThemeColor(23)));
}

QTEST_MAIN(CFlxComboTest)
#include "flx_combo_test.moc"
