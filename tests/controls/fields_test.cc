// The settings fields, labels and bars: selection and clamping rules, the
// caption and dotted-line rules of the label, which bar pieces are filled at
// each percentage, and repainting only on a change.
#include <QPainter>
#include <QSignalSpy>

#include "controls/flx_combo.h"
#include "controls/flx_edit.h"
#include "controls/flx_group_box.h"
#include "controls/image_progress.h"
#include "controls/image_static.h"
#include "controls/resource_manager.h"
#include "controls/resources.h"
#include "controls/slice_progress.h"
#include "tests/controls/widget_test_util.h"
#include "tests/support/qt_test.h"

class CFieldsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { UseLightTheme(); }

    void ComboSelectsByIndexAndRepaintsOnChange() {
        CCorvidFlxComboBox combo;
        combo.addItems({QStringLiteral("0 : none"), QStringLiteral(u"1 : 인증서 오류 무시"),
                        QStringLiteral(u"2 : 인증서 오류 발생시 확인 메세지 보기")});
        combo.resize(160, 22);
        QCOMPARE(combo.GetList()->palette().color(QPalette::Base), GetThemeColor(20));
        const QImage imgFirst = Grab(combo);
        const int nRenders = combo.GetPaintCache().GetRenderCount();
        Grab(combo);
        QCOMPARE(combo.GetPaintCache().GetRenderCount(), nRenders);
        QSignalSpy spy(&combo, &QComboBox::currentIndexChanged);
        combo.SetCurSel(2);
        QCOMPARE(combo.GetCurSel(), 2);
        QCOMPARE(spy.count(), 1);
        QVERIFY(Grab(combo) != imgFirst);
        QCOMPARE(combo.GetPaintCache().GetRenderCount(), nRenders + 1);
        combo.SetCurSel(3);  // past the end: unchanged
        QCOMPARE(combo.GetCurSel(), 2);
        const QImage imgEnabled = Grab(combo);
        combo.EnableWindow(false);
        QVERIFY(!combo.isEnabled());
        QVERIFY(Grab(combo) != imgEnabled);
        combo.SetCurSel(-1);
        QCOMPARE(combo.GetCurSel(), -1);
    }

    // Disabled, enabled and focused each show their own colours.
    void EditColoursFollowTheState() {
        CCorvidFlxEditEx edit;
        edit.resize(120, 22);
        edit.setText(QStringLiteral(u"C:/설치"));
        edit.EnableWindow(false);
        QVERIFY(Near(Darkest(Grab(edit), QRect(2, 2, 116, 18)), GetThemeColor(23)));
        edit.EnableWindow(true);
        QVERIFY(Near(Darkest(Grab(edit), QRect(2, 2, 116, 18)), GetThemeColor(21)));
        QCOMPARE(Grab(edit).pixelColor(0, 0), GetThemeColor(26));
        QVERIFY(ShowActive(edit));
        QCOMPARE(edit.GetBorderColor(), GetThemeColor(24));
        QCOMPARE(Grab(edit).pixelColor(0, 0), GetThemeColor(24));
    }

    void GroupBoxBreaksItsFrameForTheCaption() {
        CCorvidFlxGroupBox box(QStringLiteral(u"서버"), nullptr);
        box.resize(200, 100);
        QVERIFY(box.testAttribute(Qt::WA_TransparentForMouseEvents));
        const QRect rcFrame = box.GetFrameRect();
        const QRect rcCaption = box.GetCaptionRect();
        const QImage img = Grab(box);
        QCOMPARE(img.pixelColor(150, rcFrame.top()), GetThemeColor(26));
        QCOMPARE(img.pixelColor(rcCaption.left() + 1, rcFrame.top()), GetThemeColor(0));
        CCorvidFlxGroupBox bare;
        bare.resize(50, 40);
        QCOMPARE(bare.GetFrameRect(), QRect(0, 0, 50, 40));
        QVERIFY(bare.GetCaptionRect().isEmpty());
    }

    void LabelCaptionSplitsIntoLines() {
        CImageStaticCtrl label;
        label.resize(120, 60);
        label.SetText(QStringLiteral("A\r\nB"));
        QCOMPARE(label.GetLines(), QStringList({"A", "B"}));
        const int nLineHeight = QFontMetrics(*GetDefaultFont()).height();
        // Centred as a block.
        QCOMPARE(label.GetLinePosition(1).y() - label.GetLinePosition(0).y(), nLineHeight);
        QCOMPARE(label.GetLinePosition(0).y(), (60 - 2 * nLineHeight) / 2);
        label.SetText(QStringLiteral("\n\nSize \"(MB)\"\n"));
        QCOMPARE(label.GetLines(), QStringList({"Size ", "(MB)"}));
        QCOMPARE(label.GetText(), QStringLiteral("\n\nSize \"(MB)\"\n"));
    }

    void LabelTextLeavesRoomForThePicture() {
        CImageStaticCtrl label(QStringLiteral(u"서버 IP 주소 :"), nullptr);
        label.resize(200, 20);
        label.SetMargin(4);
        QImage img(16, 16, QImage::Format_ARGB32);
        img.fill(Qt::red);
        label.SetImage(img, 0, -1);
        const int nWidth = QFontMetrics(*GetDefaultFont()).horizontalAdvance(label.GetLines()[0]);
        const struct {
            int nAlign;
            int nX;
        } kAligns[] = {
            {CImageStaticCtrl::kAlignLeft, 4 + 19},
            {CImageStaticCtrl::kAlignCenter, 4 + 19 + (200 - 8 - 16 - nWidth) / 2},
            {CImageStaticCtrl::kAlignRight, 200 - 4 - nWidth},
        };
        for (const auto& a : kAligns) {
            label.SetAlign(a.nAlign);
            QCOMPARE(label.GetLinePosition(0).x(), a.nX);
        }
        // Mode 1 sizes the label to the picture and its frame.
        label.SetFrame(true);
        label.SetImage(img, 1, -1);
        QCOMPARE(label.size(), QSize(18, 18));
    }

    void LabelKindsPicturesAndStates() {
        // A separator from a layout comes two pixels high and is drawn as one
        // line in the frame colour, the parent showing around it.
        QWidget parent;
        parent.resize(200, 40);
        auto* pLine = new CImageStaticCtrl(&parent);
        pLine->setGeometry(10, 10, 150, 2);
        pLine->SetupFromStaticStyle(CImageStaticCtrl::kSsEtchedHorz);
        QCOMPARE(pLine->size(), QSize(150, 1));
        QVERIFY(pLine->HasFrame());
        QVERIFY(pLine->IsTransparent());
        pLine->SetFrameColor(QColor(9, 99, 199));
        const QImage imgLine = Grab(parent);
        QVERIFY(AllPixels(imgLine, QRect(10, 10, 150, 1), QColor(9, 99, 199)));
        QVERIFY(imgLine.pixelColor(10, 11) != QColor(9, 99, 199));
        CImageStaticCtrl centred;
        centred.SetupFromStaticStyle(CImageStaticCtrl::kSsCenter);
        QCOMPARE(centred.GetAlign(), int(CImageStaticCtrl::kAlignCenter));
        QVERIFY(!centred.HasFrame());

        CImageStaticCtrl label(QStringLiteral(u"기본 URL :"), nullptr);
        label.resize(40, 16);
        QVERIFY(label.SetImageFromStrip(kPngMarkersLight, 2, 0));
        QVERIFY(!label.SetImageFromStrip(9999, 2, 0));
        const QImage imgEnabled = Grab(label);
        label.EnableAndRedraw(false);
        QVERIFY(Grab(label) != imgEnabled);
        // The text can be hidden and shown again.
        const QImage imgDisabled = Grab(label);
        label.SetNoText(true);
        QVERIFY(Grab(label) != imgDisabled);
        label.SetNoText(false);
        QCOMPARE(Grab(label), imgDisabled);
        label.SetGradient(1, QColor(0, 0, 0), QColor(200, 200, 200));
        QImage shot = Grab(label);
        QVERIFY(shot.pixelColor(0, 8).red() < shot.pixelColor(39, 8).red());
        label.SetGradient(2, QColor(0, 0, 0), QColor(200, 200, 200));
        shot = Grab(label);
        QVERIFY(shot.pixelColor(20, 0).red() < shot.pixelColor(20, 15).red());
    }

    void DottedLinesEveryThirdPixel() {
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
        QVERIFY(Grab(label).pixelColor(5, 0) != QColor(Qt::red));
        label.RemoveDotLine(3);
        QCOMPARE(label.GetDotLineCount(), 1);
        label.RemoveDotLine(0);
        QCOMPARE(label.GetDotLineCount(), 0);
    }

    void LabelReportsClicksOnlyWhenAskedTo() {
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

    // The plain bar fills its share of the width inside a 2-pixel margin;
    // positions are clamped to the range, and a new range resets them.
    void ImageBarFillsItsShare() {
        CImageProgress bar;
        bar.resize(104, 10);
        const struct {
            int nPos;
            int nFilled;
        } kCases[] = {{50, 50}, {150, 100}, {-3, 0}, {100, 100}, {0, 0}};
        for (const auto& c : kCases) {
            bar.SetPos(c.nPos);
            QCOMPARE(bar.GetFilledWidth(), c.nFilled);
        }
        bar.SetPos(50);
        const QImage img = Grab(bar);
        const QColor clrEmpty = img.pixelColor(1, 5);
        QVERIFY(img.pixelColor(2, 5) != clrEmpty);
        QVERIFY(img.pixelColor(51, 5) != clrEmpty);
        QCOMPARE(img.pixelColor(52, 5), clrEmpty);
        bar.SetRange(10, 20);
        QCOMPARE(bar.GetPos(), 10);
        bar.resize(24, 10);
        bar.SetPos(15);
        QCOMPARE(bar.GetFilledWidth(), 10);
        bar.SetRange(5, 5);
        QCOMPARE(bar.GetFilledWidth(), 0);
        bar.grab();
    }
};
TIDEWELL_QT_TEST(CFieldsTest);

namespace {

const QColor kYellow(252, 211, 21);
const QColor kWhite(255, 255, 255);
const QColor kBack(10, 20, 30);

QImage RenderBar(int nPercent) {
    CSliceProgressBar bar;
    bar.SetBackColor(kBack);
    bar.SetProgress(nPercent);
    return bar.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

class CSliceProgressTest : public QObject {
    Q_OBJECT

private slots:
    void PiecesAtEachPercentage_data() {
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
        QTest::newRow("-5 as 0") << -5 << false << 0 << false;
        QTest::newRow("101 as 0") << 101 << false << 0 << false;
    }

    void PiecesAtEachPercentage() {
        QFETCH(int, percent);
        QFETCH(bool, leftFilled);
        QFETCH(int, filledSlices);
        QFETCH(bool, rightFilled);
        QImage img = RenderBar(percent);
        QCOMPARE(img.pixelColor(3, 3), leftFilled ? kYellow : kWhite);
        QCOMPARE(img.pixelColor(img.width() - 4, 3), rightFilled ? kYellow : kWhite);
        // Filled slices run contiguously from the left.
        for (int x = 6; x < 6 + kSliceBarSteps; ++x) {
            QCOMPARE(img.pixelColor(x, 3), x < 6 + filledSlices ? kYellow : kWhite);
        }
        // The rounded ends leave the background showing at the outer corners.
        QCOMPARE(img.pixelColor(0, 0), kBack);
    }

    void RepaintsOnlyWhenTheValueChanges() {
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

    // A wider bar keeps its steps and moves only the right cap; without all
    // its pictures nothing is drawn.
    void WiderBarsStretchOnlyTheEndStates() {
        CSliceBarImages images;
        QVERIFY(images.Load());
        QImage img(images.GetBarWidth() + 22, 6, QImage::Format_ARGB32);
        auto draw = [&](int nPercent, const CSliceBarImages& with) {
            img.fill(kBack);
            QPainter p(&img);
            DrawSliceProgress(p, img.rect(), nPercent, with);
        };
        draw(100, images);
        QCOMPARE(img.pixelColor(img.width() - 20, 3), kYellow);
        QCOMPARE(img.pixelColor(img.width() - 4, 3), kYellow);
        draw(50, images);
        QCOMPARE(img.pixelColor(img.width() - 20, 3), kBack);
        QCOMPARE(img.pixelColor(img.width() - 4, 3), kWhite);
        CSliceBarImages incomplete = images;
        incomplete.imgEmptySlice = QImage();
        QCOMPARE(incomplete.GetBarWidth(), 0);
        draw(50, incomplete);
        QCOMPARE(img.pixelColor(3, 3), kBack);
    }
};
TIDEWELL_QT_TEST(CSliceProgressTest);

#include "fields_test.moc"
