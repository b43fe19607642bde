// A whole update through the window against a real nginx on loopback: the
// window starts the run by itself, the prompt is answered on the GUI thread
// while the worker waits, the bar reaches 100 %, the window hides and the
// development tool is started from the installation folder.
#include <QtTest>
#include <cstdlib>

#include "app/tide_app.h"
#include "controls/corvid_theme.h"
#include "dialogs/qt_front_end.h"
#include "dialogs/update_prompt_dlg.h"
#include "platform/file_system.h"
#include "tests/dialogs/dialog_test_util.h"
#include "tests/support/nginx_server.h"

namespace {

const char* const kToolScript =
    "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/tool-started.tmp\" && "
    "mv \"$(dirname \"$0\")/tool-started.tmp\" \"$(dirname \"$0\")/tool-started\"\n";

// Counts the times the window is hidden.
class CHideCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* pEvent) override {
        if (pEvent->type() == QEvent::Hide)
            ++m_nHides;
        return false;
    }
    int m_nHides = 0;
};

}  // namespace

class GuiUpdateRunTest : public QObject {
    Q_OBJECT

private slots:
    void windowRunsAWholeUpdate() {
        g_CorvidTheme.SetTheme(false, nullptr);
        CTempDir dir;
        for (const char* pVar :
             {"HOME", "XDG_DESKTOP_DIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "WINEPREFIX"}) {
            setenv(pVar, dir.Sub(std::string("env-") + pVar).c_str(), 1);
        }
        CNginxServer nginx;
        QVERIFY2(nginx.Start(), nginx.Error().c_str());
        std::string strRelease = nginx.DocRoot() + "/rel";
        nginx.WriteFile("rel/app/readme.txt", "hello reader\n");
        nginx.WriteFile("rel/data/big.bin", std::string(200000, 'x'));
        std::string strTool = nginx.WriteFile("rel/Corvid@LoomhallKiro", kToolScript);
        QCOMPARE(RunShell("chmod 755 '" + strTool + "'"), 0);
        QCOMPARE(
            RunShell("'" TIDEWELL_BINARY_DIR "/console/TidewellMakeList' '" + strRelease + "'"), 0);

        std::string strInstall = dir.Sub("install");
        dir.WriteFile("install/config/Tidewell.ini", ValidIni(nginx.Port()));
        g_szBaseDir = strInstall;

        CQtFrontEnd frontEnd;
        CTideApp app(&frontEnd);
        CTideDlg* pDlg = frontEnd.CreateMainDialog(app);
        CHideCounter hides;
        pDlg->installEventFilter(&hides);
        int nPrompts = 0;
        CModalWatcher watcher([&](QWidget* p) {
            if (auto* pPrompt = qobject_cast<CUpdateMessageBoxDlg*>(p)) {
                ++nPrompts;
                QTest::keyClick(pPrompt, Qt::Key_Return);
            } else {
                DismissBox(p, nullptr);
            }
        });
        pDlg->InitDialog(true);
        pDlg->DoModal();

        QCOMPARE(nPrompts, 1);
        QCOMPARE(pDlg->GetProgress(), 100);
        QVERIFY(hides.m_nHides >= 1);
        QVERIFY(!pDlg->isVisible());
        QCOMPARE(ReadWholeFile(strInstall + "/app/readme.txt"), std::string("hello reader\n"));
        QCOMPARE(ReadWholeFile(strInstall + "/data/big.bin").size(), size_t(200000));
        QTRY_VERIFY_WITH_TIMEOUT(platform::FileExists(strInstall + "/tool-started"), 20000);
        QCOMPARE(ReadWholeFile(strInstall + "/tool-started"), strInstall + "\n");
        frontEnd.Shutdown();
    }

    void noDisplayMeansTheTerminal() {
        // Without DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM the executable
        // cannot open a window: the terminal reports the missing settings.
        CTempDir dir;
        std::string strExe = dir.Sub("TidewellKiro");
        QCOMPARE(RunShell("cp '" TIDEWELL_BINARY_DIR "/console/TidewellKiro' '" + strExe + "'"), 0);
        int nExit = RunShell("env -i HOME='" + dir.Path() + "' PATH=/usr/bin:/bin '" + strExe +
                             "' 1 </dev/null >'" + dir.Sub("out.txt") + "' 2>&1");
        QCOMPARE(nExit, 1);
        QVERIFY(ReadWholeFile(dir.Sub("out.txt")).find("설정 파일이 없습니다") !=
                std::string::npos);
    }
};

QTEST_MAIN(GuiUpdateRunTest)
#include "gui_update_run_test.moc"
