// The theme's palettes, overrides and AdjustColor, and the resource
// manager's caches.
#include <QFontInfo>
#include <QFontMetrics>
#include <QtTest>

#include "controls/corvid_theme.h"
#include "controls/resource_manager.h"

class CThemeTest : public QObject {
    Q_OBJECT

private slots:
    void PalettesHoldEveryIdWithTheirValues();
    void DerivedIdsFollowTheirSources();
    void ReapplyingKeepsColoursAndSwitchingClears();
    void OverridesTakeBothValueForms();
    void MalformedOverridesChangeNothing();
    void AdjustColorKeepsRatioWhenBrightening();
    void PensAndBrushesAreSharedByKey();
    void FontsAreSharedByKeyAndWeightOneIsBold();
    void FontTextRoundTrips();
    void KoreanTextHasGlyphs();
};

void CThemeTest::PalettesHoldEveryIdWithTheirValues() {
    CCorvidTheme theme;
    QCOMPARE(theme.GetThemeMode(), -1);
    QCOMPARE(theme.GetColor(0), QColor(0, 0, 0));
    theme.SetTheme(false, nullptr);
    QCOMPARE(theme.GetThemeMode(), 0);
    QCOMPARE(theme.GetColorCount(), 97);
    QCOMPARE(theme.GetColor(0), QColor(250, 250, 250));
    QCOMPARE(theme.GetColor(26), QColor(210, 210, 210));
    QCOMPARE(theme.GetColor(104), QColor(70, 97, 133));
    QCOMPARE(theme.GetColor(161), QColor(253, 253, 255));
    QCOMPARE(theme.GetColor(193), QColor(150, 150, 150));
    QCOMPARE(theme.GetColor(999), QColor(0, 0, 0));

    CCorvidTheme dark;
    dark.SetTheme(true, nullptr);
    QCOMPARE(dark.GetThemeMode(), 1);
    QCOMPARE(dark.GetColorCount(), 97);
    QCOMPARE(dark.GetColor(0), QColor(61, 62, 64));
    QCOMPARE(dark.GetColor(24), QColor(75, 110, 174));
    QCOMPARE(dark.GetColor(191), QColor(87, 88, 92));
}

void CThemeTest::DerivedIdsFollowTheirSources() {
    CCorvidTheme light;
    light.SetTheme(false, nullptr);
    QCOMPARE(light.GetColor(44), light.GetColor(0));
    QCOMPARE(light.GetColor(180), light.GetColor(0));
    QCOMPARE(light.GetColor(72), light.GetColor(26));
    QCOMPARE(light.GetColor(117), QColor(92, 115, 131));

    CCorvidTheme dark;
    dark.SetTheme(true, nullptr);
    QCOMPARE(dark.GetColor(44), QColor(61, 62, 64));
    QCOMPARE(dark.GetColor(46), QColor(103, 104, 106));
    QCOMPARE(dark.GetColor(72), QColor(103, 104, 106));
    QCOMPARE(dark.GetColor(181), QColor(195, 195, 195));
}

void CThemeTest::ReapplyingKeepsColoursAndSwitchingClears() {
    CCorvidTheme theme;
    theme.SetTheme(false, nullptr);
    theme.SetColor(500, QColor(1, 2, 3));
    theme.SetTheme(false, nullptr);  // same palette: nothing is cleared
    QCOMPARE(theme.GetColor(500), QColor(1, 2, 3));
    theme.SetTheme(true, nullptr);
    QVERIFY(!theme.HasColor(500));
    QCOMPARE(theme.GetColorCount(), 97);
}

void CThemeTest::OverridesTakeBothValueForms() {
    CCorvidTheme theme;
    std::map<std::string, std::string> mapOverrides = {
        {"window_backcolor", "rgb( 255 , 0 , 0 )"},
        {" dialog_backcolor ", " 0000FF "},
        {"dialog_forecolor", "0x00ff00"},
        {"window_forecolor", "RGB(256,257,-1)"},
    };
    theme.SetTheme(false, &mapOverrides);
    QCOMPARE(theme.GetColor(20), QColor(255, 0, 0));
    QCOMPARE(theme.GetColor(0), QColor(255, 0, 0));  // 0x00BBGGRR: FF is red
    QCOMPARE(theme.GetColor(1), QColor(0, 255, 0));
    QCOMPARE(theme.GetColor(21), QColor(0, 1, 255));  // each channel masked to a byte
}

void CThemeTest::MalformedOverridesChangeNothing() {
    CCorvidTheme theme;
    std::map<std::string, std::string> mapOverrides = {
        {"window_backcolor", "RGB(1,2)"},   {"window_forecolor", "RGB(a,b,c)"},
        {"dialog_backcolor", "nothex"},     {"dialog_forecolor", ""},
        {"button_backcolor", "RGB(1,2,3)"}, {"", "FF"},
    };
    theme.SetTheme(false, &mapOverrides);
    QCOMPARE(theme.GetColor(20), QColor(250, 250, 253));
    QCOMPARE(theme.GetColor(21), QColor(50, 50, 50));
    QCOMPARE(theme.GetColor(0), QColor(250, 250, 250));
    QCOMPARE(theme.GetColor(1), QColor(50, 50, 50));
    QCOMPARE(theme.GetColorCount(), 97);
}

void CThemeTest::AdjustColorKeepsRatioWhenBrightening() {
    QCOMPARE(AdjustColor(QColor(250, 100, 0), 10, 10, 10), QColor(255, 105, 5));
    QCOMPARE(AdjustColor(QColor(10, 100, 200), -50, -50, -50), QColor(0, 50, 150));
    QCOMPARE(AdjustColor(QColor(200, 250, 240), 20, 0, 30), QColor(205, 235, 255));
    QCOMPARE(DarkenColor(QColor(10, 40, 255), 20), QColor(0, 20, 235));
    QCOMPARE(LightenColor(QColor(10, 240, 255), 20), QColor(30, 255, 255));
}

void CThemeTest::PensAndBrushesAreSharedByKey() {
    CResourceManager mgr;
    const QPen* pPen = mgr.GetPen(Qt::SolidLine, 1, QColor(1, 2, 3));
    QCOMPARE(mgr.GetPen(Qt::SolidLine, 1, QColor(1, 2, 3)), pPen);
    QVERIFY(mgr.GetPen(Qt::SolidLine, 2, QColor(1, 2, 3)) != pPen);
    QVERIFY(mgr.GetPen(Qt::DotLine, 1, QColor(1, 2, 3)) != pPen);
    QCOMPARE(pPen->color(), QColor(1, 2, 3));
    QCOMPARE(mgr.GetPenCount(), 3);
    QCOMPARE(CResourceManager::PenKey(Qt::SolidLine, 1, QColor(1, 2, 3)),
             QStringLiteral("1,1,197121"));

    const QBrush* pBrush = mgr.GetBrush(QColor(255, 0, 0));
    QCOMPARE(mgr.GetBrush(QColor(255, 0, 0)), pBrush);
    QVERIFY(mgr.GetBrush(QColor(0, 0, 255)) != pBrush);
    QCOMPARE(CResourceManager::BrushKey(QColor(0, 0, 255)), QStringLiteral("16711680"));
    QCOMPARE(pBrush->color(), QColor(255, 0, 0));
}

void CThemeTest::FontsAreSharedByKeyAndWeightOneIsBold() {
    CResourceManager mgr;
    const QFont* pNormal = mgr.GetFont(g_strDefaultFontFace, 9, 400, 0, 0, 0, 0, 0);
    QCOMPARE(mgr.GetFont(g_strDefaultFontFace, 9, 400, 0, 0, 0, 0, 0), pNormal);
    const QFont* pBold = mgr.GetFont(g_strDefaultFontFace, 9, 1, 0, 0, 0, 0, 0);
    QVERIFY(pBold != pNormal);
    QCOMPARE(pBold->weight(), 700);
    QCOMPARE(pNormal->weight(), 400);
    QCOMPARE(mgr.GetFont(g_strDefaultFontFace, 9, 0)->weight(), 400);
    QCOMPARE(mgr.GetFont(g_strDefaultFontFace, 9, 650)->weight(), 600);
    QCOMPARE(mgr.GetFont(g_strDefaultFontFace, 9, 1000)->weight(), 400);
    QCOMPARE(mgr.GetFontCount(), 5);
    QCOMPARE(CResourceManager::FontKey(g_strDefaultFontFace, 9, 400, 0, 0, 0, 0, 0),
             QStringLiteral(u"맑은 고딕,9,400,0,0,0,0,0"));
    // 9 points at the screen's 96 dpi: MulDiv(90, 96, 720) = 12 pixels.
    QCOMPARE(pNormal->pixelSize(), CResourceManager::PointSizeToPixels(9));
    QCOMPARE(pNormal->families().first(), g_strDefaultFontFace);
    QVERIFY(pNormal->families().contains(QStringLiteral("NanumGothic")));
}

void CThemeTest::FontTextRoundTrips() {
    CResourceManager mgr;
    const QFont* pFont = mgr.GetFontFromText(QStringLiteral("Arial,10,1,1,0"));
    QVERIFY(pFont != nullptr);
    QCOMPARE(pFont, mgr.GetFont(QStringLiteral("Arial"), 10, 1, 1, 0, 0, 0, 0));
    QCOMPARE(CResourceManager::GetFontText(pFont, 10), QStringLiteral("Arial,10,1,1,0,0"));
    QVERIFY(mgr.GetFontFromText(QStringLiteral("Arial,10,1,1")) == nullptr);
    QCOMPARE(CResourceManager::GetFontText(nullptr, 9), QString());
    // Derived size from the pixel height: (|h| * 3 + 1) / 4.
    const QFont* pSized = mgr.GetFont(QStringLiteral("Arial"), 9, 0);
    QCOMPARE(CResourceManager::GetFontText(pSized, 0),
             QStringLiteral("Arial,%1,0,0,0,0").arg((pSized->pixelSize() * 3 + 1) / 4));
    QCOMPARE(CResourceManager::GetFontText(mgr.GetFont(QStringLiteral("Arial"), 9, 300), 9),
             QStringLiteral("Arial,9,300,0,0,0"));
}

void CThemeTest::KoreanTextHasGlyphs() {
    const QFont* pFont = g_ResourceManager.GetFont(g_strDefaultFontFace, 9, 0);
    QCOMPARE(g_ResourceManager.GetFont(g_strDefaultFontFace, 9, 0), GetDefaultFont());
    QFontMetrics metrics(*pFont);
    const QString strKorean = QStringLiteral(u"업데이트");
    for (QChar ch : strKorean) {
        QVERIFY2(metrics.inFont(ch), qPrintable(QFontInfo(*pFont).family()));
    }
    QVERIFY(metrics.horizontalAdvance(strKorean) > 0);
}

QTEST_MAIN(CThemeTest)
#include "theme_test.moc"
