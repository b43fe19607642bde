// The main window: progress and step rules, the clicks and hovers on its
// areas, the end of a run for each code, its boxes, and its painting: on its
// screen what it renders from its cached face, drawn for the screen's ratio.
#include <QLineEdit>
#include <QPaintEvent>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <functional>
#include <memory>

#include "app/message_box.h"
#include "app/tide_app.h"
#include "controls/corvid_theme.h"
#include "dialogs/qt_front_end.h"
#include "dialogs/setup_dlg.h"
#include "dialogs/tide_dlg.h"
#include "dialogs/tide_message_box.h"
#include "platform/file_system.h"
#include "tests/dialogs/dialog_test_util.h"
#include "tests/support/qt_test.h"
#include "tests/support/server_process.h"

namespace {

// Records the regions a widget is asked to paint.
class CPaintRecorder : public QObject {
public:
    explicit CPaintRecorder(QWidget* pWidget) { pWidget->installEventFilter(this); }
    QRegion m_rgn;

protected:
    bool eventFilter(QObject* pObject, QEvent* pEvent) override {
        if (pEvent->type() == QEvent::Paint)
            m_rgn += static_cast<QPaintEvent*>(pEvent)->region();
        return QObject::eventFilter(pObject, pEvent);
    }
};

}  // namespace

class TideDlgTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CTempDir> m_pDir;
    std::unique_ptr<CQtFrontEnd> m_pFrontEnd;
    std::unique_ptr<CTideApp> m_pApp;

    // The window over a scratch installation, initialised (not started) and
    // exposed.
    CTideDlg* MakeDialog(const std::string& strIni) {
        m_pDir = std::make_unique<CTempDir>();
        m_pDir->WriteFile("config/Tidewell.ini", strIni);
        m_pDir->WriteFile("Corvid@LoomhallKiro", kToolScript);
        RunShell("chmod 755 '" + m_pDir->Sub("Corvid@LoomhallKiro") + "'");
        g_szBaseDir = m_pDir->Path();
        m_pFrontEnd = std::make_unique<CQtFrontEnd>();
        m_pApp = std::make_unique<CTideApp>(m_pFrontEnd.get());
        CTideDlg* pDlg = m_pFrontEnd->CreateMainDialog(*m_pApp);
        pDlg->InitDialog(false);
        pDlg->show();
        (void)QTest::qWaitForWindowExposed(pDlg);
        return pDlg;
    }

private slots:
    void initTestCase() { g_CorvidTheme.SetTheme(false, nullptr); }

    void cleanup() {
        if (m_pFrontEnd)
            m_pFrontEnd->Shutdown();
        m_pFrontEnd.reset();
        m_pApp.reset();
        m_pDir.reset();
    }

    // The settings icon opens the settings (Cancel writes nothing), the
    // start area starts and stops a run, the close area closes; hot areas
    // give the hand and light up until the pointer leaves; a press elsewhere
    // drags the window, on a hot area it does not.
    void areasClickHoverAndDrag() {
        const std::string strIni = ValidIni(FindFreeLoopbackPort());
        CTideDlg* pDlg = MakeDialog(strIni);
        bool bSawSettings = false;
        CModalWatcher watcher([&](QWidget* p) {
            DismissBox(p, nullptr);
            if (auto* pSetup = qobject_cast<CXSetupDlg*>(p)) {
                bSawSettings = true;
                static_cast<QLineEdit*>(pSetup->GetControl(CXSetupDlg::kIdServer))
                    ->setText(QStringLiteral("10.9.9.9"));
                QTest::mouseClick(pSetup->GetControl(CXSetupDlg::kIdCancelButton), Qt::LeftButton);
            }
        });
        QTest::mouseClick(pDlg, Qt::LeftButton, {}, pDlg->GetSetupRect().center());
        QVERIFY(bSawSettings);
        QCOMPARE(ReadWholeFile(m_pDir->Sub("config/Tidewell.ini")), strIni);  // Cancel kept it
        QPoint ptStart = pDlg->GetStartStopRect().center();
        QImage imgIdle = pDlg->Render().copy(pDlg->GetStartStopRect());
        QTest::mouseClick(pDlg, Qt::LeftButton, {}, ptStart);
        QVERIFY(pDlg->IsSyncRunning());
        QVERIFY(pDlg->Render().copy(pDlg->GetStartStopRect()) != imgIdle);
        QTest::mouseClick(pDlg, Qt::LeftButton, {}, ptStart);
        QVERIFY(!pDlg->IsSyncRunning());
        QTRY_VERIFY_WITH_TIMEOUT(pDlg->GetRunController().IsWorkerFinished(), 30000);

        QTest::mouseMove(pDlg, QPoint(400, 200));
        QImage imgNormal = pDlg->Render().copy(pDlg->GetSetupRect());
        QTest::mouseMove(pDlg, pDlg->GetSetupRect().center());
        QCOMPARE(pDlg->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(pDlg->Render().copy(pDlg->GetSetupRect()) != imgNormal);
        SendLeave(*pDlg);
        QCOMPARE(pDlg->Render().copy(pDlg->GetSetupRect()), imgNormal);
        QCOMPARE(pDlg->cursor().shape(), Qt::ArrowCursor);

        pDlg->move(100, 100);
        QPoint ptPos = pDlg->pos();
        QTest::mousePress(pDlg, Qt::LeftButton, {}, QPoint(400, 200));
        QTest::mouseMove(pDlg, QPoint(450, 230));
        QTest::mouseRelease(pDlg, Qt::LeftButton, {}, QPoint(450, 230));
        QCOMPARE(pDlg->pos(), ptPos + QPoint(50, 30));
        QTest::mousePress(pDlg, Qt::LeftButton, {}, pDlg->GetCloseRect().center());
        QTest::mouseMove(pDlg, QPoint(300, 300));
        QCOMPARE(pDlg->pos(), ptPos + QPoint(50, 30));

        QSignalSpy closed(pDlg, &CTideDlg::closed);
        QTest::mouseRelease(pDlg, Qt::LeftButton, {}, pDlg->GetCloseRect().center());
        QCOMPARE(closed.count(), 1);
    }

    // Only a good end closes the window and starts the tool with the
    // installation folder; in resource mode every end closes, without it. A
    // tool that does not start is said in a box before the window closes.
    void syncEndActsOnItsCode() {
        const struct {
            int bResourceMode, nCode;
            bool bCloses, bTool, bToolMissing;
        } kCases[] = {{0, 3, false, false, false},
                      {0, 0, true, true, false},
                      {1, 3, true, false, false},
                      {0, 0, true, false, true}};
        for (const auto& c : kCases) {
            CTideDlg* pDlg = MakeDialog(ValidIni(8080));
            m_pApp->m_bResourceMode = c.bResourceMode;
            if (c.bToolMissing)
                platform::DeleteFile(m_pDir->Sub("Corvid@LoomhallKiro"));
            QSignalSpy closed(pDlg, &CTideDlg::closed);
            QString strBox;
            int nClosedAtBox = -1;
            CModalWatcher watcher([&](QWidget* p) {
                nClosedAtBox = int(closed.count());
                DismissBox(p, &strBox);
            });
            pDlg->OnSyncEnd(c.nCode);
            QCOMPARE(closed.count(), c.bCloses ? 1 : 0);
            QVERIFY(!pDlg->IsSyncRunning());
            QCOMPARE(strBox.toStdString(),
                     c.bToolMissing
                         ? "'" + m_pDir->Sub("Corvid@LoomhallKiro' 프로그램을 실행할 수 없습니다.")
                         : std::string());
            QCOMPARE(nClosedAtBox, c.bToolMissing ? 0 : -1);
            if (c.bTool) {
                QTRY_VERIFY_WITH_TIMEOUT(platform::FileExists(m_pDir->Sub("tool-started")), 10000);
                QCOMPARE(ReadWholeFile(m_pDir->Sub("tool-started")), m_pDir->Path() + "\n");
            } else {
                QTest::qWait(100);
                QVERIFY(!platform::FileExists(m_pDir->Sub("tool-started")));
            }
            cleanup();
        }
    }

    // Escape gives the box's cancel answer ("no" for a yes/no question);
    // the default button is the one the style names; "\r\n" breaks a line.
    void messageBoxesKeepTheirButtonsAndAnswers() {
        const struct {
            unsigned nStyle;
            int nEscape, nDefault;
        } kCases[] = {{kMbYesNo | kMbIconQuestion | kMbDefButton2, kIdNo, kIdNo},
                      {kMbOk | kMbIconError, kIdOk, kIdOk},
                      {kMbOkCancel | kMbIconWarning, kIdCancel, kIdOk}};
        for (const auto& c : kCases) {
            std::unique_ptr<QMessageBox> pBox(
                CreateTideMessageBox(nullptr, "a\r\nb", "", c.nStyle));
            QCOMPARE(pBox->text(), QStringLiteral("a\nb"));
            QCOMPARE(TideMessageBoxAnswer(pBox.get(), c.nStyle), c.nEscape);
            QCOMPARE(pBox->defaultButton()->property("tideAnswer").toInt(), c.nDefault);
        }
    }

    // Centred on its screen; a hover, a status line, a progress step and a
    // stage each repaint only their own area, from the cached face. Whole
    // percentages, rounded down (1 of 1 is 100); the step starts at one, a
    // refused start (port 0 fails the check: its box, no run) sets it to 0.
    void centredRepaintsOnlyWhatChangedProgressAndStep() {
        CTideDlg* pDlg = MakeDialog(ValidIni(0));
        QCOMPARE(pDlg->GetStep(), 1);
        pDlg->move(37, 11);
        pDlg->CenterOnStartScreen();
        QPoint ptOff =
            pDlg->frameGeometry().center() - pDlg->screen()->availableGeometry().center();
        QVERIFY(ptOff.manhattanLength() <= 1);
        CPaintRecorder recorder(pDlg);
        QTest::mouseMove(pDlg, QPoint(400, 200));
        QApplication::processEvents();
        const int nFaceRenders = pDlg->GetFaceRenderCount();
        const std::pair<std::function<void()>, QRect> kChanges[] = {
            {[&] { QTest::mouseMove(pDlg, pDlg->GetCloseRect().center()); }, pDlg->GetCloseRect()},
            {[&] { QTest::mouseMove(pDlg, QPoint(400, 200)); }, pDlg->GetCloseRect()},
            {[&] { pDlg->SetStatusText(QStringLiteral("a.txt")); }, pDlg->GetStatusTextRect()},
            {[&] { pDlg->SetProgress(1, 3); }, pDlg->GetProgressRepaintRect()},
            {[&] { pDlg->AdvanceStage(); }, pDlg->GetStepRect()},
        };
        for (const auto& [fnChange, rcArea] : kChanges) {
            recorder.m_rgn = QRegion();
            fnChange();
            QVERIFY(QTest::qWaitFor([&] { return !recorder.m_rgn.isEmpty(); }));
            QApplication::processEvents();
            QVERIFY(rcArea.contains(recorder.m_rgn.boundingRect()));
        }
        QCOMPARE(pDlg->GetFaceRenderCount(), nFaceRenders);
        QCOMPARE(pDlg->GetStep(), 2);
        const int kCases[][3] = {{1, 1, 100}, {0, 0, 0}, {2, 3, 66}};
        for (const auto& c : kCases) {
            pDlg->SetProgress(c[0], c[1]);
            QCOMPARE(pDlg->GetProgress(), c[2]);
        }
        pDlg->ResetProgress();
        QCOMPARE(pDlg->GetProgress(), 0);
        QVERIFY(pDlg->GetStatus().isEmpty());
        QString strText;
        CModalWatcher watcher([&](QWidget* p) { DismissBox(p, &strText); });
        pDlg->OnButtonStart();
        QCOMPARE(strText, QStringLiteral("환경 정보가 올바르지 않습니다. 확인하여 주세요..."));
        QVERIFY(!pDlg->IsSyncRunning());
        QCOMPARE(pDlg->GetStep(), 0);
    }

    // What the window shows on its screen, put together from partial
    // repaints during a run, is the face rendered at the screen's ratio (also
    // run with QT_SCALE_FACTOR=2); that face is drawn for the ratio.
    void screenShowsTheRenderedFace() {
        CTideDlg* pDlg = MakeDialog(ValidIni(FindFreeLoopbackPort()));
        const qreal dRatio = pDlg->devicePixelRatioF();
        if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
            QCOMPARE(dRatio, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
        CModalWatcher watcher([&](QWidget* p) { DismissBox(p, nullptr); });
        // The worker's own reports wait in the event queue until the capture.
        pDlg->OnButtonStart();
        QTest::mouseMove(pDlg, pDlg->GetCloseRect().center());
        pDlg->repaint(pDlg->GetCloseRect());
        QTest::mouseMove(pDlg, QPoint(400, 200));
        pDlg->repaint(pDlg->GetCloseRect());
        pDlg->SetStatusText(QStringLiteral("서버로부터 파일 다운로드 중..."));
        pDlg->SetProgress(2, 5);
        pDlg->AdvanceStage();
        pDlg->repaint(pDlg->GetStatusTextRect()
                          .united(pDlg->GetProgressRepaintRect())
                          .united(pDlg->GetStepRect()));
        QImage imgScreen = pDlg->screen()->grabWindow(pDlg->winId()).toImage();
        // The offscreen platform grabs a scaled window at its logical size
        // only; there the window's own grab shows its painting at the ratio.
        if (imgScreen.size() != pDlg->size() * dRatio)
            imgScreen = pDlg->grab().toImage();
        QCOMPARE(imgScreen.size(), pDlg->size() * dRatio);
        QCOMPARE(DifferentShare(imgScreen, pDlg->Render(dRatio), imgScreen.rect()), 0.0);
        // Text and artwork, the icons and the picture at the centre.
        ExpectDrawnForRatioTwo(
            *pDlg,
            {pDlg->GetCloseRect(), pDlg->GetSetupRect(), pDlg->GetStartStopRect(),
             pDlg->GetStatusTextRect(), pDlg->GetStepRect(), QRect(350, 130, 100, 100)},
            0.01);
        if (const char* pszDir = getenv("TIDEWELL_SCREENSHOT_DIR");
            pszDir != nullptr && dRatio == 2)
            QVERIFY(imgScreen.save(QString::fromLocal8Bit(pszDir) + "/main-update-ratio2.png"));
        QTRY_VERIFY_WITH_TIMEOUT(pDlg->GetRunController().IsWorkerFinished(), 30000);
    }
};

TIDEWELL_QT_TEST(TideDlgTest);
#include "tide_dlg_test.moc"
