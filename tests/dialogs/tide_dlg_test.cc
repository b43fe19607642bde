// The main window: hot areas for the shipped pictures, the progress and
// step rules as painted, the clicks on its areas, the first-use settings,
// and the end of a run for each code.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <functional>
#include <memory>

#include "app/message_box.h"
#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "controls/corvid_theme.h"
#include "controls/resources.h"
#include "dialogs/qt_front_end.h"
#include "dialogs/setup_dlg.h"
#include "dialogs/tide_dlg.h"
#include "dialogs/tide_message_box.h"
#include "platform/file_system.h"
#include "tests/dialogs/dialog_test_util.h"
#include "tests/support/qt_test.h"

namespace {

const char* const kToolScript =
    "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/tool-started.tmp\" && "
    "mv \"$(dirname \"$0\")/tool-started.tmp\" \"$(dirname \"$0\")/tool-started\"\n";

// Any pixel of rc close to the step counter's colour.
bool HasStepText(const QImage& img, const QRect& rc) {
    for (int y = rc.top(); y <= rc.bottom(); ++y) {
        for (int x = rc.left(); x <= rc.right(); ++x) {
            QColor clr = img.pixelColor(x, y);
            if (clr.red() > 230 && clr.green() > 230 && clr.blue() > 230)
                return true;
        }
    }
    return false;
}

// A loopback port that nothing listens on: bound, then released.
int ClosedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLen = sizeof(addr);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), nLen);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &nLen);
    close(fd);
    return ntohs(addr.sin_port);
}

}  // namespace

class TideDlgTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CTempDir> m_pDir;
    std::unique_ptr<CQtFrontEnd> m_pFrontEnd;
    std::unique_ptr<CTideApp> m_pApp;

    CTideDlg* MakeDialog(const std::string& strIni) {
        m_pDir = std::make_unique<CTempDir>();
        // Start-up makes the config folder before the window exists.
        RunShell("mkdir -p '" + m_pDir->Sub("config") + "'");
        if (!strIni.empty())
            m_pDir->WriteFile("config/Tidewell.ini", strIni);
        g_szBaseDir = m_pDir->Path();
        m_pFrontEnd = std::make_unique<CQtFrontEnd>();
        m_pApp = std::make_unique<CTideApp>(m_pFrontEnd.get());
        return m_pFrontEnd->CreateMainDialog(*m_pApp);
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

    void progressKeepsIntegerPercentages() {
        CTideDlg* pDlg = MakeDialog("");
        pDlg->SetProgress(1, 1);
        QCOMPARE(pDlg->GetProgress(), 100);
        pDlg->SetProgress(0, 0);
        QCOMPARE(pDlg->GetProgress(), 0);
        pDlg->SetProgress(1, 3);
        QCOMPARE(pDlg->GetProgress(), 33);
        pDlg->SetProgress(2, 3);
        QCOMPARE(pDlg->GetProgress(), 66);
        pDlg->SetStatusText(QStringLiteral("a.txt"));
        pDlg->ResetProgress();
        QCOMPARE(pDlg->GetProgress(), 0);
        QVERIFY(pDlg->GetStatus().isEmpty());
    }

    void stepCounterStartsAtOneAndRestartsAtZero() {
        CTideDlg* pDlg = MakeDialog(ValidIni(0));
        pDlg->InitDialog(false);
        QCOMPARE(pDlg->GetStep(), 1);
        QVERIFY(HasStepText(pDlg->Render(), pDlg->GetStepRect()));
        // A port of 0 fails the configuration check: the box, no run.
        QString strText;
        CModalWatcher watcher([&](QWidget* p) { DismissBox(p, &strText); });
        pDlg->OnButtonStart();
        QCOMPARE(strText, QStringLiteral("환경 정보가 올바르지 않습니다. 확인하여 주세요..."));
        QVERIFY(!pDlg->IsSyncRunning());
        QCOMPARE(pDlg->GetStep(), 0);
        QVERIFY(!HasStepText(pDlg->Render(), pDlg->GetStepRect()));
        pDlg->AdvanceStage();
        pDlg->AdvanceStage();
        QCOMPARE(pDlg->GetStep(), 2);
        QVERIFY(HasStepText(pDlg->Render(), pDlg->GetStepRect()));
    }

    void settingsAreaOpensTheSettingsAndCloseAreaCloses() {
        CTideDlg* pDlg = MakeDialog(ValidIni(8080));
        pDlg->InitDialog(false);
        pDlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(pDlg));
        bool bSawSettings = false;
        CModalWatcher watcher([&](QWidget* p) {
            if (auto* pSetup = qobject_cast<CXSetupDlg*>(p)) {
                bSawSettings = true;
                pSetup->reject();
            }
        });
        QTest::mouseClick(pDlg, Qt::LeftButton, {}, pDlg->GetSetupRect().center());
        QVERIFY(bSawSettings);
        QVERIFY(pDlg->isVisible());

        // Hover gives the hand; outside the areas the default cursor.
        QTest::mouseMove(pDlg, pDlg->GetCloseRect().center());
        QCOMPARE(pDlg->cursor().shape(), CursorFromId(kCursorHand).shape());
        QTest::mouseMove(pDlg, QPoint(400, 200));
        QCOMPARE(pDlg->cursor().shape(), Qt::ArrowCursor);
        // Leaving the window from the settings icon puts its normal picture back.
        QImage imgNormal = pDlg->Render().copy(pDlg->GetSetupRect());
        QTest::mouseMove(pDlg, pDlg->GetSetupRect().center());
        QVERIFY(pDlg->Render().copy(pDlg->GetSetupRect()) != imgNormal);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(pDlg, &leave);
        QCOMPARE(pDlg->Render().copy(pDlg->GetSetupRect()), imgNormal);
        QCOMPARE(pDlg->cursor().shape(), Qt::ArrowCursor);

        QSignalSpy closed(pDlg, &CTideDlg::closed);
        QTest::mouseClick(pDlg, Qt::LeftButton, {}, pDlg->GetCloseRect().center());
        QCOMPARE(closed.count(), 1);
        QVERIFY(!pDlg->isVisible());
    }

    void pressOutsideTheAreasDragsTheWindow() {
        CTideDlg* pDlg = MakeDialog(ValidIni(8080));
        pDlg->InitDialog(false);
        pDlg->move(100, 100);
        pDlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(pDlg));
        QPoint ptStart = pDlg->pos();
        QTest::mousePress(pDlg, Qt::LeftButton, {}, QPoint(400, 200));
        QTest::mouseMove(pDlg, QPoint(450, 230));
        QTest::mouseRelease(pDlg, Qt::LeftButton, {}, QPoint(450, 230));
        QCOMPARE(pDlg->pos(), ptStart + QPoint(50, 30));
        // A press on a hot area does not drag.
        QTest::mousePress(pDlg, Qt::LeftButton, {}, pDlg->GetSetupRect().center());
        QTest::mouseMove(pDlg, QPoint(300, 300));
        QCOMPARE(pDlg->pos(), ptStart + QPoint(50, 30));
        CModalWatcher watcher([](QWidget* p) { static_cast<QDialog*>(p)->reject(); });
        QTest::mouseRelease(pDlg, Qt::LeftButton, {}, pDlg->GetSetupRect().center());
    }

    void startStopAreaStartsAndStops() {
        CTideDlg* pDlg = MakeDialog(ValidIni(ClosedPort()));
        pDlg->InitDialog(false);
        pDlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(pDlg));
        QString strError;
        CModalWatcher watcher([&](QWidget* p) { DismissBox(p, &strError); });
        QPoint pt = pDlg->GetStartStopRect().center();
        QImage imgIdle = pDlg->Render().copy(pDlg->GetStartStopRect());
        QTest::mouseMove(pDlg, pt);
        QTest::mouseClick(pDlg, Qt::LeftButton, {}, pt);
        QVERIFY(pDlg->IsSyncRunning());
        QVERIFY(pDlg->Render().copy(pDlg->GetStartStopRect()) != imgIdle);
        // Nothing answers: the error box comes from the worker, then the
        // failed end leaves the window open and idle.
        QTRY_VERIFY_WITH_TIMEOUT(!pDlg->IsSyncRunning(), 30000);
        QVERIFY(strError.startsWith(QStringLiteral("리스트 파일 정보를 가져오는 도중에")));
        QVERIFY(pDlg->isVisible());

        // Start again and stop at once: idle, and the engine's flag is up.
        QTest::mouseClick(pDlg, Qt::LeftButton, {}, pt);
        QVERIFY(pDlg->IsSyncRunning());
        QTest::mouseClick(pDlg, Qt::LeftButton, {}, pt);
        QVERIFY(!pDlg->IsSyncRunning());
        QTRY_VERIFY_WITH_TIMEOUT(pDlg->GetRunController().IsWorkerFinished(), 30000);
    }

    void settingsOpenOnFirstUseAndSaveThroughTheWindow() {
        CTideDlg* pDlg = MakeDialog("");
        bool bSawSettings = false;
        CModalWatcher watcher([&](QWidget* p) {
            if (auto* pSetup = qobject_cast<CXSetupDlg*>(p)) {
                bSawSettings = true;
                static_cast<QLineEdit*>(pSetup->GetControl(CXSetupDlg::kIdServer))
                    ->setText(QStringLiteral("10.0.0.7"));
                QTest::mouseClick(pSetup->GetControl(CXSetupDlg::kIdSave), Qt::LeftButton);
            }
        });
        pDlg->InitDialog(false);
        QVERIFY(bSawSettings);
        CTideCfg cfg(m_pDir->Sub("config/Tidewell.ini"));
        QCOMPARE(QString::fromStdString(cfg.m_strServer), QStringLiteral("10.0.0.7"));
        QVERIFY(!cfg.m_strLastSetupDate.empty());
        QCOMPARE(QString::fromStdString(m_pApp->m_strToolExeName),
                 QStringLiteral("Corvid@LoomhallKiro"));

        // Saved once, the next start goes straight to the update.
        bSawSettings = false;
        CQtFrontEnd frontEnd;
        CTideApp app(&frontEnd);
        frontEnd.CreateMainDialog(app)->InitDialog(false);
        QVERIFY(!bSawSettings);
        frontEnd.Shutdown();
    }

    void syncEndActsOnItsCode() {
        CTideDlg* pDlg = MakeDialog(ValidIni(8080));
        pDlg->InitDialog(false);
        m_pDir->WriteFile("Corvid@LoomhallKiro", kToolScript);
        QVERIFY(RunShell("chmod 755 '" + m_pDir->Sub("Corvid@LoomhallKiro") + "'") == 0);
        pDlg->show();
        QSignalSpy closed(pDlg, &CTideDlg::closed);
        pDlg->OnSyncEnd(2);
        pDlg->OnSyncEnd(3);
        QCOMPARE(closed.count(), 0);
        QVERIFY(!pDlg->IsSyncRunning());
        QVERIFY(!platform::FileExists(m_pDir->Sub("tool-started")));
        pDlg->OnSyncEnd(0);
        QCOMPARE(closed.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(platform::FileExists(m_pDir->Sub("tool-started")), 10000);
        QCOMPARE(ReadWholeFile(m_pDir->Sub("tool-started")), m_pDir->Path() + "\n");
    }

    void messageBoxesKeepTheirButtonsAndAnswers() {
        // The failure question: yes/no, "no" by default, Escape answers no.
        const unsigned nQuestion = kMbYesNo | kMbIconQuestion | kMbDefButton2;
        std::unique_ptr<QMessageBox> pBox(
            CreateTideMessageBox(nullptr, "a\r\nb", "오류 확인", nQuestion));
        QCOMPARE(pBox->text(), QStringLiteral("a\nb"));
        QCOMPARE(pBox->buttons().size(), 2);
        QCOMPARE(TideMessageBoxAnswer(pBox.get(), nQuestion), int(kIdNo));
        CModalWatcher yes([](QWidget* p) {
            if (auto* pShown = qobject_cast<QMessageBox*>(p))
                pShown->buttons()[0]->click();
        });
        QCOMPARE(ShowTideMessageBox(nullptr, "go on?", "오류 확인", nQuestion), int(kIdYes));

        std::unique_ptr<QMessageBox> pError(
            CreateTideMessageBox(nullptr, "x", "오류", kMbOk | kMbIconError));
        QCOMPARE(pError->buttons().size(), 1);
        QCOMPARE(TideMessageBoxAnswer(pError.get(), kMbOk), int(kIdOk));
    }

    void opensCentredOnItsScreen() {
        CTideDlg* pDlg = MakeDialog(ValidIni(8080));
        pDlg->InitDialog(false);
        pDlg->move(37, 11);
        pDlg->CenterOnStartScreen();
        pDlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(pDlg));
        QRect rcScreen = pDlg->screen()->availableGeometry();
        QPoint ptOff = pDlg->frameGeometry().center() - rcScreen.center();
        QVERIFY2(ptOff.manhattanLength() <= 1,
                 qPrintable(QStringLiteral("%1,%2 off centre").arg(ptOff.x()).arg(ptOff.y())));
    }

    // A hover, a status line and a progress step each repaint their own
    // area from the cached face, never the whole window.
    void changesRepaintOnlyTheirArea() {
        CTideDlg* pDlg = MakeDialog(ValidIni(8080));
        pDlg->InitDialog(false);
        pDlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(pDlg));
        CPaintRecorder recorder(pDlg);
        QTest::mouseMove(pDlg, QPoint(400, 200));
        QApplication::processEvents();
        recorder.TakeRegion();
        const int nFaceRenders = pDlg->GetFaceRenderCount();
        const struct {
            const char* pszName;
            std::function<void()> fnChange;
            QRect rcArea;
        } kChanges[] = {
            {"hover on close", [&] { QTest::mouseMove(pDlg, pDlg->GetCloseRect().center()); },
             pDlg->GetCloseRect()},
            {"hover ends", [&] { QTest::mouseMove(pDlg, QPoint(400, 200)); }, pDlg->GetCloseRect()},
            {"status", [&] { pDlg->SetStatusText(QStringLiteral("서버로부터 파일 확인 중...")); },
             pDlg->GetStatusTextRect()},
            {"progress", [&] { pDlg->SetProgress(1, 3); }, pDlg->GetProgressRepaintRect()},
            {"step", [&] { pDlg->AdvanceStage(); }, pDlg->GetStepRect()},
        };
        for (const auto& change : kChanges) {
            change.fnChange();
            QRegion rgn;
            (void)QTest::qWaitFor([&] {
                rgn += recorder.TakeRegion();
                return !rgn.isEmpty();
            });
            QApplication::processEvents();
            rgn += recorder.TakeRegion();
            QVERIFY2(!rgn.isEmpty(), change.pszName);
            QVERIFY2(change.rcArea.contains(rgn.boundingRect()), change.pszName);
        }
        QCOMPARE(pDlg->GetFaceRenderCount(), nFaceRenders);
    }

    // At a device-pixel ratio of 2 the text and the artwork are drawn for the
    // ratio: the same face as at 1, with the detail a scaled-up one lacks.
    void paintsSharpAtRatioTwo() {
        CTideDlg* pDlg = MakeDialog("");
        pDlg->SetStatusText(QStringLiteral("서버로부터 파일 다운로드 중..."));
        pDlg->SetProgress(1, 3);
        pDlg->AdvanceStage();
        QImage imgOne = pDlg->Render(1.0);
        QImage imgTwo = pDlg->Render(2.0);
        QCOMPARE(imgTwo.size(), QSize(1600, 900));
        // Reduced to ratio 1 it is the ratio-1 face.
        QImage imgReduced =
            imgTwo.scaled(imgOne.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        QVERIFY(DifferentShare(imgReduced, imgOne, imgOne.rect()) < 0.01);
        // An enlarged 1x face scores 0 everywhere; these parts score 0.04 to
        // 0.33 (the bar is flat colour and shows no difference).
        const struct {
            const char* pszPart;
            QRect rc;
        } kParts[] = {
            {"close", pDlg->GetCloseRect()},     {"settings", pDlg->GetSetupRect()},
            {"start", pDlg->GetStartStopRect()}, {"status", pDlg->GetStatusTextRect()},
            {"step", pDlg->GetStepRect()},       {"emblem", QRect(350, 130, 100, 100)},
        };
        for (const auto& part : kParts)
            QVERIFY2(DetailShare(imgTwo, imgOne, part.rc) > 0.02, part.pszPart);
    }

    // What the window shows on its screen, put together from partial
    // repaints, is the face rendered at the screen's ratio (the test also
    // runs with QT_SCALE_FACTOR=2). Here during a run: the stop icon, a
    // status line, the bar and the step.
    void screenShowsTheRenderedFace() {
        CTideDlg* pDlg = MakeDialog(ValidIni(ClosedPort()));
        pDlg->InitDialog(false);
        pDlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(pDlg));
        const qreal dRatio = pDlg->devicePixelRatioF();
        if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
            QCOMPARE(dRatio, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
        QString strError;
        CModalWatcher watcher([&](QWidget* p) { DismissBox(p, &strError); });
        // The worker's own reports wait in the event queue until the capture.
        pDlg->OnButtonStart();
        QVERIFY(pDlg->IsSyncRunning());
        QTest::mouseMove(pDlg, pDlg->GetCloseRect().center());
        pDlg->repaint(pDlg->GetCloseRect());
        QTest::mouseMove(pDlg, QPoint(400, 200));
        pDlg->repaint(pDlg->GetCloseRect());
        pDlg->SetStatusText(QStringLiteral("서버로부터 파일 다운로드 중..."));
        pDlg->SetProgress(2, 5);
        pDlg->AdvanceStage();
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
        if (const char* pszDir = getenv("TIDEWELL_SCREENSHOT_DIR");
            pszDir != nullptr && dRatio == 2)
            QVERIFY(imgScreen.save(QString::fromLocal8Bit(pszDir) + "/main-update-ratio2.png"));
        QTRY_VERIFY_WITH_TIMEOUT(pDlg->GetRunController().IsWorkerFinished(), 30000);
    }

    void resourceModeClosesWithoutTheTool() {
        CTideDlg* pDlg = MakeDialog(ValidIni(8080));
        m_pApp->m_bResourceMode = 1;
        pDlg->InitDialog(false);
        m_pDir->WriteFile("Corvid@LoomhallKiro", kToolScript);
        QVERIFY(RunShell("chmod 755 '" + m_pDir->Sub("Corvid@LoomhallKiro") + "'") == 0);
        pDlg->show();
        QSignalSpy closed(pDlg, &CTideDlg::closed);
        pDlg->OnSyncEnd(3);
        QCOMPARE(closed.count(), 1);
        QVERIFY(!platform::FileExists(m_pDir->Sub("tool-started")));
    }
};

TIDEWELL_QT_TEST(TideDlgTest);
#include "tide_dlg_test.moc"
