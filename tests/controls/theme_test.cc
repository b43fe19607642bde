// The theme's colour overrides and AdjustColor, the resource manager's shared
// fonts, pens and brushes, and the embedded pictures.
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <map>
#include <string>
#include <thread>

#include "controls/corvid_graphics.h"
#include "controls/corvid_theme.h"
#include "controls/resource_manager.h"
#include "controls/resources.h"
#include "tests/support/qt_test.h"

class CThemeTest : public QObject {
    Q_OBJECT

private slots:
    // Both value forms; malformed values and unknown names change nothing;
    // reapplying the same palette keeps set colours, switching clears them.
    void OverridesAndSwitching() {
        CCorvidTheme plain;
        plain.SetTheme(false, nullptr);
        CCorvidTheme theme;
        std::map<std::string, std::string> mapOverrides = {
            {"window_backcolor", "rgb( 255 , 0 , 0 )"},
            {" dialog_backcolor ", " 0000FF "},  // 0x00BBGGRR: FF is red
            {"dialog_forecolor", "0x00ff00"},
            {"window_forecolor", "RGB(256,257,-1)"},  // each channel masked to a byte
            {"button_backcolor", "RGB(1,2)"},
            {"", "FF"},
        };
        theme.SetTheme(false, &mapOverrides);
        QCOMPARE(theme.GetColor(20), QColor(255, 0, 0));
        QCOMPARE(theme.GetColor(0), QColor(255, 0, 0));
        QCOMPARE(theme.GetColor(1), QColor(0, 255, 0));
        QCOMPARE(theme.GetColor(21), QColor(0, 1, 255));
        QCOMPARE(theme.GetColorCount(), plain.GetColorCount());
        std::map<std::string, std::string> mapBad = {{"window_backcolor", "RGB(a,b,c)"},
                                                     {"dialog_backcolor", "nothex"},
                                                     {"dialog_forecolor", ""}};
        CCorvidTheme bad;
        bad.SetTheme(false, &mapBad);
        for (int nId : {0, 1, 20})
            QCOMPARE(bad.GetColor(nId), plain.GetColor(nId));

        theme.SetColor(500, QColor(1, 2, 3));
        theme.SetTheme(false, nullptr);
        QCOMPARE(theme.GetColor(500), QColor(1, 2, 3));
        theme.SetTheme(true, nullptr);
        QVERIFY(!theme.HasColor(500));
    }

    void AdjustColorKeepsRatioWhenBrightening() {
        QCOMPARE(AdjustColor(QColor(250, 100, 0), 10, 10, 10), QColor(255, 105, 5));
        QCOMPARE(AdjustColor(QColor(10, 100, 200), -50, -50, -50), QColor(0, 50, 150));
        QCOMPARE(AdjustColor(QColor(200, 250, 240), 20, 0, 30), QColor(205, 235, 255));
    }

    void PensBrushesAndFontsAreSharedByKey() {
        CResourceManager mgr;
        const QPen* pPen = mgr.GetPen(Qt::SolidLine, 1, QColor(1, 2, 3));
        QCOMPARE(mgr.GetPen(Qt::SolidLine, 1, QColor(1, 2, 3)), pPen);
        QVERIFY(mgr.GetPen(Qt::SolidLine, 2, QColor(1, 2, 3)) != pPen);
        QVERIFY(mgr.GetPen(Qt::DotLine, 1, QColor(1, 2, 3)) != pPen);
        const QBrush* pBrush = mgr.GetBrush(QColor(255, 0, 0));
        QCOMPARE(mgr.GetBrush(QColor(255, 0, 0)), pBrush);
        QVERIFY(mgr.GetBrush(QColor(0, 0, 255)) != pBrush);
        const QFont* pNormal = mgr.GetFont(g_strDefaultFontFace, 9, 400, 0, 0, 0, 0, 0);
        QCOMPARE(mgr.GetFont(g_strDefaultFontFace, 9, 400, 0, 0, 0, 0, 0), pNormal);
        // Weight 1 means bold; 0 and out-of-range weights mean normal.
        const int kWeights[][2] = {{1, 700}, {0, 400}, {650, 600}, {1000, 400}};
        for (const auto& w : kWeights)
            QCOMPARE(mgr.GetFont(g_strDefaultFontFace, 9, w[0])->weight(), w[1]);
        // The face named in the settings falls back to one that Linux has,
        // with Korean glyphs.
        QVERIFY(pNormal->families().contains(QStringLiteral("NanumGothic")));
        QFontMetrics metrics(*GetDefaultFont());
        for (QChar ch : QStringLiteral(u"업데이트"))
            QVERIFY2(metrics.inFont(ch), qPrintable(QFontInfo(*GetDefaultFont()).family()));
    }

    void FontTextRoundTrips() {
        CResourceManager mgr;
        const QFont* pFont = mgr.GetFontFromText(QStringLiteral("Arial,10,1,1,0"));
        QCOMPARE(pFont, mgr.GetFont(QStringLiteral("Arial"), 10, 1, 1, 0, 0, 0, 0));
        QCOMPARE(CResourceManager::GetFontText(pFont, 10), QStringLiteral("Arial,10,1,1,0,0"));
        QVERIFY(mgr.GetFontFromText(QStringLiteral("Arial,10,1,1")) == nullptr);
        QCOMPARE(CResourceManager::GetFontText(nullptr, 9), QString());
        // Without a size the points come from the pixel height.
        const QFont* pSized = mgr.GetFont(QStringLiteral("Arial"), 9, 0);
        QCOMPARE(CResourceManager::GetFontText(pSized, 0),
                 QStringLiteral("Arial,%1,0,0,0,0").arg((pSized->pixelSize() * 3 + 1) / 4));
        QCOMPARE(CResourceManager::GetFontText(mgr.GetFont(QStringLiteral("Arial"), 9, 300), 9),
                 QStringLiteral("Arial,9,300,0,0,0"));
    }
};
TIDEWELL_QT_TEST(CThemeTest);

class CResourcesTest : public QObject {
    Q_OBJECT

private slots:
    void MissingIdsAndWorkerThreads() {
        QVERIFY(LoadPngResource(9999).isNull());
        QVERIFY(LoadPngResource(-1).isNull());
        // The engine's worker may load the prompt's pictures.
        QSize size;
        std::thread worker([&size] { size = LoadPngResource(kPngPromptBack).size(); });
        worker.join();
        QVERIFY(!size.isEmpty());
        QCOMPARE(size, LoadPngResource(kPngPromptBack).size());
    }

    void StripsCutIntoSquareCellsAndTheKeyColourIsLeftOut() {
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

        QImage img(2, 1, QImage::Format_ARGB32);
        img.setPixelColor(0, 0, kImageKeyColor);
        img.setPixelColor(1, 0, QColor(0, 128, 129));
        QImage target(2, 1, QImage::Format_ARGB32);
        target.fill(Qt::red);
        {
            QPainter p(&target);
            CCorvidGraphics::DrawImage(p, QRect(0, 0, 2, 1), img, QRect(0, 0, 2, 1),
                                       kImageKeyColor);
        }
        QCOMPARE(target.pixelColor(0, 0), QColor(Qt::red));
        QCOMPARE(target.pixelColor(1, 0), QColor(0, 128, 129));
    }
};
TIDEWELL_QT_TEST(CResourcesTest);

#include "theme_test.moc"
