// The settings fields, labels and bars: selection and clamping rules, the
// label's caption lines, dotted lines and clicks, which bar pieces are
// filled at each percentage, and the cached picture: rendered again only on
// a change, at the screen's device-pixel ratio.
#include <QPainter>
#include <QSignalSpy>

#include "controls/corvid_theme.h"
#include "controls/flx_combo.h"
#include "controls/flx_edit.h"
#include "controls/flx_group_box.h"
#include "controls/image_progress.h"
#include "controls/image_static.h"
#include "controls/resources.h"
#include "controls/slice_progress.h"
#include "tests/support/qt_test.h"

class CFieldsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { g_CorvidTheme.SetTheme(false, nullptr); }

    // Shown on a screen (also run with QT_SCALE_FACTOR=2), the cached picture
    // has the screen's device pixels; it is rendered again only on a change.
    void ComboSelectsByIndexAndCachesAtTheScreensRatio() {
        CCorvidFlxComboBox combo;
        combo.addItems({QStringLiteral("0 : none"), QStringLiteral(u"1 : 인증서 오류 무시"),
                        QStringLiteral(u"2 : 인증서 오류 발생시 확인 메세지 보기")});
        combo.resize(160, 22);
        QVERIFY(ShowActive(combo));
        QTRY_VERIFY(combo.GetPaintCache().IsValid());
        const qreal dRatio = combo.devicePixelRatioF();
        if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
            QCOMPARE(dRatio, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
        QCOMPARE(combo.GetPaintCache().GetImage().size(), combo.size() * dRatio);
        QCOMPARE(combo.GetPaintCache().GetImage().devicePixelRatio(), dRatio);
        const QImage imgFirst = Grab(combo);
        const int nRenders = combo.GetPaintCache().GetRenderCount();
        Grab(combo);
        QCOMPARE(combo.GetPaintCache().GetRenderCount(), nRenders);
        QSignalSpy spy(&combo, &QComboBox::currentIndexChanged);
        combo.SetCurSel(2);
        QCOMPARE(spy.count(), 1);
        QVERIFY(Grab(combo) != imgFirst);
        combo.SetCurSel(3);  // past the end: unchanged
        QCOMPARE(combo.GetCurSel(), 2);
        const QImage imgEnabled = Grab(combo);
        combo.EnableWindow(false);
        QVERIFY(Grab(combo) != imgEnabled);
        combo.SetCurSel(-1);
        QCOMPARE(combo.GetCurSel(), -1);
    }

    // Disabled, enabled and focused each look different.
    void EditFollowsItsState() {
        CCorvidFlxEditEx edit;
        edit.resize(120, 22);
        edit.setText(QStringLiteral(u"C:/설치"));
        edit.EnableWindow(false);
        const QImage imgDisabled = Grab(edit);
        edit.EnableWindow(true);
        const QImage imgEnabled = Grab(edit);
        QVERIFY(imgEnabled != imgDisabled);
        QVERIFY(ShowActive(edit));
        QVERIFY(Grab(edit) != imgEnabled);
    }

    // The text leaves room for the picture and the margins whatever its
    // alignment; mode 1 sizes the label to the picture and its frame. A
    // group box lets clicks through and breaks its frame only for a caption.
    void LabelPictureAndGroupBox() {
        CImageStaticCtrl label(QStringLiteral(u"서버 IP 주소 :"), nullptr);
        label.resize(200, 20);
        label.SetMargin(4);
        QImage img(16, 16, QImage::Format_ARGB32);
        img.fill(Qt::red);
        label.SetImage(img, 0, -1);
        int nPrevious = 4 + 16;  // margin and picture
        for (int nAlign : {CImageStaticCtrl::kAlignLeft, CImageStaticCtrl::kAlignCenter,
                           CImageStaticCtrl::kAlignRight}) {
            label.SetAlign(nAlign);
            QVERIFY(label.GetLinePosition(0).x() > nPrevious);
            nPrevious = label.GetLinePosition(0).x();
        }
        label.SetFrame(true);
        label.SetImage(img, 1, -1);
        QCOMPARE(label.size(), QSize(18, 18));
        label.SetFrameColor(Qt::blue);
        QCOMPARE(Grab(label).pixelColor(0, 0), QColor(Qt::blue));

        CCorvidFlxGroupBox box(QStringLiteral(u"서버"), nullptr), bare;
        box.resize(200, 100);
        bare.resize(50, 40);
        QVERIFY(box.testAttribute(Qt::WA_TransparentForMouseEvents));
        QVERIFY(!box.GetCaptionRect().isEmpty());
        QVERIFY(bare.GetCaptionRect().isEmpty());
        QVERIFY(Grab(box) != Grab(bare).scaled(200, 100));
    }

    // A caption splits into lines (quotes and blank lines dropped); a
    // separator from a layout comes one pixel high with a frame; a label's
    // picture, state, hidden text and gradient each change what it shows.
    void LabelKindsAndStates() {
        CImageStaticCtrl caption;
        caption.SetText(QStringLiteral("A\r\nB"));
        QCOMPARE(caption.GetLines(), QStringList({"A", "B"}));
        caption.SetText(QStringLiteral("\n\nSize \"(MB)\"\n"));
        QCOMPARE(caption.GetLines(), QStringList({"Size ", "(MB)"}));
        QCOMPARE(caption.GetText(), QStringLiteral("\n\nSize \"(MB)\"\n"));
        QWidget parent;
        auto* pLine = new CImageStaticCtrl(&parent);
        pLine->setGeometry(10, 10, 150, 2);
        pLine->SetupFromStaticStyle(CImageStaticCtrl::kSsEtchedHorz);
        QCOMPARE(pLine->size(), QSize(150, 1));
        QVERIFY(pLine->HasFrame() && pLine->IsTransparent());
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
        const QImage imgDisabled = Grab(label);
        QVERIFY(imgDisabled != imgEnabled);
        label.SetNoText(true);
        QVERIFY(Grab(label) != imgDisabled);
        label.SetNoText(false);
        QCOMPARE(Grab(label), imgDisabled);
        label.SetGradient(1, QColor(0, 0, 0), QColor(200, 200, 200));
        QVERIFY(Grab(label) != imgDisabled);
    }

    void DottedLinesAndClicks() {
        CImageStaticCtrl label;
        label.resize(20, 20);
        QCOMPARE(label.AddDotLine(5, 0, 5, 10, 1, Qt::red), 0);
        QCOMPARE(label.AddDotLine(-1, 0, 5, 10, 1, Qt::red), -1);
        QCOMPARE(label.AddDotLine(5, 0, 5, 10, 0, Qt::red), -1);
        const QImage imgDotted = Grab(label);
        label.EnableDotLine(0, false);
        label.EnableDotLine(7, true);  // out of range: ignored
        QVERIFY(Grab(label) != imgDotted);
        label.RemoveDotLine(3);
        QCOMPARE(label.GetDotLineCount(), 1);
        label.RemoveDotLine(0);
        QCOMPARE(label.GetDotLineCount(), 0);

        label.show();
        QSignalSpy spy(&label, &CImageStaticCtrl::clicked);
        QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(spy.count(), 0);  // only when asked to
        label.SetNotify(true);
        QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(spy.count(), 1);
    }

    // Positions are clamped to the range, and a new range resets them.
    void ImageBarFillsItsShare() {
        CImageProgress bar;
        bar.resize(104, 10);
        const int kCases[][2] = {{50, 50}, {150, 100}, {-3, 0}};
        for (const auto& c : kCases) {
            bar.SetPos(c[0]);
            QCOMPARE(bar.GetFilledWidth(), c[1]);
        }
        bar.SetRange(10, 20);
        QCOMPARE(bar.GetPos(), 10);
        bar.resize(24, 10);
        bar.SetPos(15);
        QCOMPARE(bar.GetFilledWidth(), 10);
        const QImage imgBar = Grab(bar);
        QVERIFY(imgBar.pixelColor(4, 5) != imgBar.pixelColor(18, 5));  // filled, then not
        bar.SetRange(5, 5);
        QCOMPARE(bar.GetFilledWidth(), 0);
        bar.grab();
    }

    // The left cap shows from 1 %, slices fill from the left from 2 %, the
    // right cap only at 100 %; values outside 0..100 show as 0. A repeated
    // value is not rendered again.
    void SliceBarAtEachPercentage() {
        const QColor kYellow(252, 211, 21), kWhite(255, 255, 255);
        const struct {
            int nPercent;
            bool bLeft;
            int nSlices;
            bool bRight;
        } kCases[] = {
            {0, false, 0, false},   {1, true, 0, false},    {2, true, 8, false},
            {98, true, 680, false}, {99, true, 686, false}, {100, true, 686, true},
            {-5, false, 0, false},  {101, false, 0, false},
        };
        for (const auto& c : kCases) {
            CSliceProgressBar bar;
            bar.SetProgress(c.nPercent);
            QImage img = Grab(bar);
            QCOMPARE(img.pixelColor(3, 3), c.bLeft ? kYellow : kWhite);
            QCOMPARE(img.pixelColor(img.width() - 4, 3), c.bRight ? kYellow : kWhite);
            if (c.nSlices > 0)
                QCOMPARE(img.pixelColor(6 + c.nSlices - 1, 3), kYellow);
            if (c.nSlices < kSliceBarSteps)
                QCOMPARE(img.pixelColor(6 + c.nSlices, 3), kWhite);
        }
        CSliceProgressBar bar;
        for (int nPercent : {40, 40, 41}) {
            bar.SetProgress(nPercent);
            bar.grab();
        }
        QCOMPARE(bar.GetPaintCache().GetRenderCount(), 2);
        // A bar wider than its pictures shows its back colour beside them.
        bar.resize(bar.sizeHint() + QSize(10, 0));
        bar.SetBackColor(Qt::blue);
        QCOMPARE(Grab(bar).pixelColor(bar.width() - 2, 1), QColor(Qt::blue));
        // Without all its pictures nothing is drawn.
        CSliceBarImages incomplete;
        QVERIFY(incomplete.Load());
        incomplete.imgEmptySlice = QImage();
        QImage img(100, 6, QImage::Format_ARGB32);
        img.fill(Qt::black);
        QPainter p(&img);
        DrawSliceProgress(p, img.rect(), 50, incomplete);
        QCOMPARE(img.pixelColor(3, 3), QColor(Qt::black));
    }
};
TIDEWELL_QT_TEST(CFieldsTest);

#include "fields_test.moc"
