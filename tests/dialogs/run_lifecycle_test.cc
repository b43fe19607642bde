// The run's lifecycle in the window against a real nginx: Cancel in the
// prompt, Stop and Start during a download and while a question is open,
// notices of an ended run, settings saved while a run goes on, and closing
// while a listed program hangs.
#include <signal.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <atomic>
#include <functional>
#include <thread>

#include "app/message_box.h"
#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "controls/corvid_theme.h"
#include "dialogs/qt_front_end.h"
#include "dialogs/setup_dlg.h"
#include "dialogs/update_prompt_dlg.h"
#include "platform/file_system.h"
#include "tests/dialogs/dialog_test_util.h"
#include "tests/support/nginx_server.h"
#include "tests/support/qt_test.h"

class RunLifecycleTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CTempDir> m_pDir;
    std::unique_ptr<CNginxServer> m_pNginx;
    std::string m_strInstall;

    // A release served below /rel/ (files in /rel/slow/ at 100 kB/s) and an
    // installation that points at it.
    void Serve(const std::vector<std::pair<std::string, std::string>>& vecFiles,
               const std::string& strListArgs = "") {
        m_pNginx = std::make_unique<CNginxServer>();
        NginxOptions options;
        options.strServerSnippet = "location /rel/slow/ { limit_rate 100k; }\n";
        QVERIFY2(m_pNginx->Start(options), m_pNginx->Error().c_str());
        for (const auto& [strPath, strData] : vecFiles)
            m_pNginx->WriteFile("rel/" + strPath, strData);
        std::string strRelease = m_pNginx->DocRoot() + "/rel";
        QCOMPARE(RunShell("chmod -R a+x '" + strRelease + "'"), 0);
        QCOMPARE(RunShell("'" TIDEWELL_BINARY_DIR "/console/TidewellMakeList' " + strListArgs +
                          " '" + strRelease + "'"),
                 0);
        m_strInstall = m_pDir->Sub("install");
        m_pDir->WriteFile("install/config/Tidewell.ini", ValidIni(m_pNginx->Port()));
        g_szBaseDir = m_strInstall;
    }

    // Runs the window (starting by itself) over the served installation
    // until it closes: fnModal answers each modal window, fnPoll runs every
    // 20 ms. A hang fails after a minute rather than waiting.
    void RunWindow(const std::function<void(CTideDlg*, QWidget*)>& fnModal,
                   const std::function<void(CTideDlg*)>& fnPoll) {
        CQtFrontEnd frontEnd;
        CTideApp app(&frontEnd);
        CTideDlg* pDlg = frontEnd.CreateMainDialog(app);
        CModalWatcher watcher([&](QWidget* p) { fnModal(pDlg, p); });
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] { fnPoll(pDlg); });
        poll.start(20);
        QTimer::singleShot(60000, pDlg, [pDlg] { pDlg->OnOK(); });
        pDlg->InitDialog(true);
        pDlg->DoModal();
        poll.stop();
        frontEnd.Shutdown();
    }

private slots:
    void init() {
        g_CorvidTheme.SetTheme(false, nullptr);
        m_pDir = std::make_unique<CTempDir>();
        for (const char* pVar :
             {"HOME", "XDG_DESKTOP_DIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "WINEPREFIX"}) {
            setenv(pVar, m_pDir->Sub(std::string("env-") + pVar).c_str(), 1);
        }
    }

    void cleanup() {
        m_pNginx.reset();
        m_pDir.reset();
    }

    // Cancel in the prompt leaves the window open and idle with nothing
    // fetched. Start again; Stop and Start while its prompt is open (the
    // window does not freeze, the old prompt closes); Stop during the next
    // run's download and Start once more: that run finishes the update.
    void cancelThenStopThenStartAgain() {
        Serve({{"slow/a.bin", std::string(150000, 'a')},
               {"b.txt", "b"},
               {"Corvid@LoomhallKiro", kToolScript}});
        int nPrompts = 0;
        int nStage = 0;
        bool bIdleAfterCancel = false;
        RunWindow(
            [&](CTideDlg* pDlg, QWidget* p) {
                auto* pPrompt = qobject_cast<CUpdateMessageBoxDlg*>(p);
                if (pPrompt == nullptr) {
                    DismissBox(p, nullptr);
                } else if (++nPrompts == 2) {
                    pDlg->OnButtonStop();
                    pDlg->OnButtonStart();
                } else {
                    QTest::keyClick(pPrompt, nPrompts == 1 ? Qt::Key_Escape : Qt::Key_Return);
                }
            },
            [&](CTideDlg* pDlg) {
                if (nStage == 0 && nPrompts == 1 && !pDlg->IsSyncRunning()) {
                    bIdleAfterCancel =
                        pDlg->isVisible() && !platform::FileExists(m_strInstall + "/b.txt");
                    nStage = 1;
                    pDlg->OnButtonStart();
                } else if (nStage == 1 &&
                           platform::FileExists(m_strInstall + "/slow/.a.bin.tidewell-part")) {
                    nStage = 2;
                    pDlg->OnButtonStop();
                    pDlg->OnButtonStart();
                }
            });
        QVERIFY(bIdleAfterCancel);
        QCOMPARE(nPrompts, 4);
        QCOMPARE(ReadWholeFile(m_strInstall + "/slow/a.bin").size(), size_t(150000));
        QCOMPARE(ReadWholeFile(m_strInstall + "/b.txt"), std::string("b"));
        QTRY_VERIFY_WITH_TIMEOUT(platform::FileExists(m_strInstall + "/tool-started"), 20000);
    }

    // What an ended run still sends is dropped: it can neither hide the
    // window, end the new run nor ask anything.
    void noticesOfAnEndedRunAreDropped() {
        m_pDir->WriteFile("install/config/Tidewell.ini", ValidIni(1));
        g_szBaseDir = m_pDir->Sub("install");
        CQtFrontEnd frontEnd;
        CTideApp app(&frontEnd);
        CTideDlg* pDlg = frontEnd.CreateMainDialog(app);
        pDlg->InitDialog(false);
        pDlg->show();
        ISyncFrontEnd* pOld = frontEnd.BeginRun();
        ISyncFrontEnd* pNew = frontEnd.BeginRun();
        std::atomic<int> nAnswer{-1};
        std::atomic<bool> bDone{false};
        std::thread worker([&] {
            pOld->SetStatusText("old run");
            pOld->HideWindow();
            pOld->PostSyncEnd(kSyncEndDone);
            nAnswer = pOld->ShowMessageBox("old question", "caption", kMbYesNo);
            pNew->SetStatusText("new run");
            bDone = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(bDone.load(), 10000);
        worker.join();
        QTRY_COMPARE(pDlg->GetStatus(), QStringLiteral("new run"));
        QCOMPARE(nAnswer.load(), kIdNo);
        QVERIFY(pDlg->isVisible());
        frontEnd.Shutdown();
    }

    // Settings saved while a run goes on reach the next run, not this one.
    // Closing while a listed program that never ends is waited for: the
    // window is gone within moments and the program runs on.
    void settingsSavedDuringARunThenCloseWhileAProgramHangs() {
        Serve({{"slow/a.bin", std::string(150000, 'a')},
               {"b.txt", "b"},
               {"hang.sh",
                "#!/bin/sh\necho $$ > \"$(dirname "
                "\"$0\")/hang.pid\"\nexec sleep 600\n"}},
              "--type 'hang.sh=EXE|w=1'");
        bool bSaved = false;
        bool bSetupOpened = false;
        QElapsedTimer closing;
        RunWindow(
            [&](CTideDlg*, QWidget* p) {
                if (auto* pPrompt = qobject_cast<CUpdateMessageBoxDlg*>(p)) {
                    QTest::keyClick(pPrompt, Qt::Key_Return);
                } else if (auto* pSetup = qobject_cast<CXSetupDlg*>(p)) {
                    static_cast<QLineEdit*>(pSetup->GetControl(CXSetupDlg::kIdBaseUrl))
                        ->setText(QStringLiteral("elsewhere"));
                    QTest::mouseClick(pSetup->GetControl(CXSetupDlg::kIdSave), Qt::LeftButton);
                    bSaved = true;
                } else {
                    DismissBox(p, nullptr);
                }
            },
            [&](CTideDlg* pDlg) {
                if (!bSetupOpened &&
                    platform::FileExists(m_strInstall + "/slow/.a.bin.tidewell-part")) {
                    bSetupOpened = true;
                    pDlg->OnButtonSetup();
                } else if (!closing.isValid() && platform::FileExists(m_strInstall + "/hang.pid")) {
                    closing.start();
                    pDlg->OnOK();
                }
            });
        QVERIFY(bSaved);
        QCOMPARE(ReadWholeFile(m_strInstall + "/b.txt"), std::string("b"));
        QCOMPARE(ReadWholeFile(m_strInstall + "/slow/a.bin").size(), size_t(150000));
        CTideCfg saved(m_strInstall + "/config/Tidewell.ini");
        QCOMPARE(QString::fromStdString(saved.m_strBaseUrl), QStringLiteral("elsewhere"));
        QVERIFY(closing.isValid());
        QVERIFY2(closing.elapsed() < 10000, std::to_string(closing.elapsed()).c_str());
        int nChild = std::atoi(ReadWholeFile(m_strInstall + "/hang.pid").c_str());
        QVERIFY(nChild > 0);
        QCOMPARE(kill(nChild, 0), 0);
        kill(nChild, SIGKILL);
    }
};

TIDEWELL_QT_TEST(RunLifecycleTest);
#include "run_lifecycle_test.moc"
