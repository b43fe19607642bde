// The updater's windows on a real X server: the built executable runs
// against nginx on Xvfb with openbox; xdotool finds its windows by title and
// answers them with keys and clicks; each window's pixels are held against
// the same dialog rendered offscreen here, so a window that never painted
// fails. One flow per behaviour.
//
// With TIDEWELL_SCREENSHOT_DIR set, the captures the README shows are saved
// there (scripts/screenshots.sh).
#include <signal.h>
#include <sys/wait.h>

#include <QApplication>
#include <QDir>
#include <chrono>
#include <thread>

#include "app/message_box.h"
#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "app/tide_globals.h"
#include "controls/corvid_theme.h"
#include "dialogs/setup_dlg.h"
#include "platform/file_system.h"
#include "tests/e2e/update_run_fixture.h"
#include "tests/e2e/window_faces.h"
#include "tests/e2e/x_display.h"
#include "tests/support/test_certs.h"

namespace {

// Sanitizer builds start slowly.
constexpr int kWindowTimeoutMs = 20000;
constexpr int kPaintTimeoutMs = 5000;
const char* const kMainTitle = "Corvid5@LoomhallKiro 업데이트";
const char* const kPromptTitle = "Corvid5@LoomhallKiro";

CXDisplay* g_pDisplay = nullptr;
std::string g_strDisplayError;

}  // namespace

class WindowRunTest : public UpdateRunTest {
protected:
    static void SetUpTestSuite() {
        if (g_pDisplay == nullptr && CXDisplay::IsAvailable()) {
            g_pDisplay = new CXDisplay;
            g_pDisplay->Start(&g_strDisplayError);
        }
    }

    void SetUp() override {
        if (g_pDisplay == nullptr) GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_TRUE(g_strDisplayError.empty()) << g_strDisplayError;
        m_strInstallName = "install";  // the settings dialog shows it in the README
        UpdateRunTest::SetUp();
        m_vecFrontEndArgs.clear();
        m_vecEnv.push_back("DISPLAY=" + X().Name());
        // Under the sanitizers the window's system libraries need two
        // allowances: libxkbcommon-x11 strndup()s names without a final zero,
        // and libdbus keeps a buffer to the end.
        if (const char* pAsan = getenv("ASAN_OPTIONS"))
            m_vecEnv.push_back(std::string("ASAN_OPTIONS=") + pAsan + ":strict_string_checks=0");
        const char* pLsan = getenv("LSAN_OPTIONS");
        m_vecEnv.push_back(std::string("LSAN_OPTIONS=") + (pLsan != nullptr ? std::string(pLsan) + ":" : "") +
                           "suppressions=" TIDEWELL_SOURCE_DIR "/tests/e2e/window_lsan.supp");
        // The offscreen references see the installation the updater sees.
        g_szBaseDir = m_strInstall;
        ASSERT_TRUE(X().ParkMouse());
    }

    void TearDown() override {
        // A test that failed half-way leaves no window behind for the next.
        if (m_nPid > 0) {
            kill(m_nPid, SIGKILL);
            waitpid(m_nPid, nullptr, 0);
        }
    }

    CXDisplay& X() { return *g_pDisplay; }
    void StartWindow() { m_nPid = Start("1"); }
    int WaitExit() {
        int nExit = Wait(m_nPid, 30).nExit;
        m_nPid = -1;
        return nExit;
    }
    unsigned long WaitForWindow(const std::string& strTitle) {
        return X().WaitForWindow(strTitle, kWindowTimeoutMs);
    }

    // Waits until the window's pixels pass check; the capture is saved next
    // to the build on failure, and as strShot when screenshots are asked for.
    ::testing::AssertionResult Shows(unsigned long nWindow, const Check& check, const std::string& strName,
                                     const char* pszShot = nullptr) {
        std::string strWrong = "the window is gone";
        QImage img;
        for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPaintTimeoutMs);
             std::chrono::steady_clock::now() < end;
             std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
            QRect rc = X().Geometry(nWindow);
            if (rc.isEmpty()) continue;
            img = X().Capture(rc);
            strWrong = check(img);
            if (!strWrong.empty()) continue;
            const char* pDir = getenv("TIDEWELL_SCREENSHOT_DIR");
            if (pszShot != nullptr && pDir != nullptr && *pDir != '\0')
                img.save(QString::fromLocal8Bit(pDir) + QLatin1Char('/') + QLatin1String(pszShot));
            return ::testing::AssertionSuccess();
        }
        QString strFile = QStringLiteral(TIDEWELL_BINARY_DIR "/window-test-failures/") +
                          QString::fromStdString(strName) + QStringLiteral(".png");
        QDir().mkpath(QStringLiteral(TIDEWELL_BINARY_DIR "/window-test-failures"));
        img.save(strFile);
        return ::testing::AssertionFailure() << strName << ": " << strWrong << " (" << strFile.toStdString() << ")";
    }

    QPoint OnScreen(unsigned long nWindow, const QRect& rcInWindow) {
        return X().Geometry(nWindow).topLeft() + rcInWindow.center();
    }
    QRect InDialog(QWidget* pDialog, QWidget* pWidget) {
        return QRect(pWidget->mapTo(pDialog, QPoint(0, 0)), pWidget->size());
    }

    int m_nPid = -1;
};

TEST_F(WindowRunTest, FirstUseSettingsThenUpdateAnsweredYes) {
    WriteRelease("app/readme.txt", "hello reader\n");
    // About three seconds at the server's rate: long enough to see the run.
    WriteRelease("slow/big.bin", std::string(300000, 'x'));
    WriteTool();
    MakeList();
    platform::DeleteFile(Installed("config/Tidewell.ini"));
    StartWindow();

    unsigned long nSettings = WaitForWindow("환경설정");
    ASSERT_NE(nSettings, 0u);
    CTideCfg cfg(Installed("config/Tidewell.ini"));
    CXSetupDlg setup(&cfg);
    setup.show();
    QApplication::processEvents();
    ASSERT_TRUE(Shows(nSettings, Matches(setup.grab().toImage()), "settings", "settings.png"));
    const std::pair<int, std::string> fields[] = {{CXSetupDlg::kIdServer, "127.0.0.1"},
                                                  {CXSetupDlg::kIdPort, std::to_string(m_nginx.Port())},
                                                  {CXSetupDlg::kIdBaseUrl, "rel"}};
    for (const auto& [nId, strText] : fields) {
        ASSERT_TRUE(X().Click(OnScreen(nSettings, InDialog(&setup, setup.GetControl(nId)))));
        ASSERT_TRUE(X().Keys(nSettings, "ctrl+a"));
        ASSERT_TRUE(X().Type(nSettings, strText));
    }
    ASSERT_TRUE(X().Click(OnScreen(nSettings, InDialog(&setup, setup.GetControl(CXSetupDlg::kIdSave)))));
    ASSERT_TRUE(X().WaitUntilGone(nSettings, kPaintTimeoutMs));
    ASSERT_TRUE(X().ParkMouse());

    // Saved, the run starts by itself and asks before the first download.
    unsigned long nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    ASSERT_TRUE(Shows(nPrompt, Matches(PromptFace()), "prompt", "update-prompt.png"));
    ASSERT_TRUE(X().Keys(nPrompt, "Return"));
    unsigned long nMain = WaitForWindow(kMainTitle);
    ASSERT_NE(nMain, 0u);
    EXPECT_TRUE(Shows(nMain, MainRunning(RenderMain()), "main-running", "main-update.png"));

    EXPECT_EQ(WaitExit(), 0) << Log();
    EXPECT_EQ(ReadWholeFile(Installed("slow/big.bin")).size(), 300000u);
    EXPECT_TRUE(ToolStarted());
    EXPECT_NE(ReadWholeFile(Installed("config/Tidewell.ini")).find("SVR_PORT_NO=" + std::to_string(m_nginx.Port())),
              std::string::npos);
}

// Unmapped and mapped again while its question holds the worker, the prompt
// paints anew; a click on "아니오" answers it.
TEST_F(WindowRunTest, PromptRepaintsAndNotNowIsClicked) {
    WriteRelease("a.txt", "aaa");
    WriteTool(true);
    MakeList();
    StartWindow();
    unsigned long nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    ASSERT_TRUE(Shows(nPrompt, Matches(PromptFace()), "prompt"));
    ASSERT_TRUE(X().MinimizeAndRestore(nPrompt));
    EXPECT_TRUE(Shows(nPrompt, Matches(PromptFace()), "prompt-restored"));
    ASSERT_TRUE(X().Click(OnScreen(nPrompt, PromptChoice(1))));
    EXPECT_EQ(WaitExit(), 0) << Log();
    EXPECT_TRUE(ToolStarted());
    EXPECT_FALSE(platform::FileExists(Installed("a.txt")));
}

// Cancel, chosen with the arrow keys: the window stays idle until closed.
TEST_F(WindowRunTest, PromptCancelledByKeysLeavesTheWindowIdle) {
    WriteRelease("a.txt", "aaa");
    WriteTool();
    MakeList();
    StartWindow();
    unsigned long nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    ASSERT_TRUE(X().Keys(nPrompt, "Right Right Return"));
    ASSERT_TRUE(X().WaitUntilGone(nPrompt, kPaintTimeoutMs));
    unsigned long nMain = WaitForWindow(kMainTitle);
    ASSERT_NE(nMain, 0u);
    MainFace face = RenderMain();
    ASSERT_TRUE(Shows(nMain, MainIdle(face), "main-idle", "main-idle.png"));
    ASSERT_TRUE(X().Click(OnScreen(nMain, face.rcClose)));
    EXPECT_EQ(WaitExit(), 0) << Log();
    EXPECT_FALSE(platform::FileExists(Installed("a.txt")));
    EXPECT_FALSE(ToolStarted(1));
}

TEST_F(WindowRunTest, FailureQuestionAnsweredYesByMouse) {
    WriteRelease("good.txt", "good");
    WriteTool();
    MakeList();
    AppendToList("missing/a.bin,,,,20240101000000,10\n");
    StartWindow();
    unsigned long nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    ASSERT_TRUE(X().Keys(nPrompt, "Return"));
    unsigned long nBox = WaitForWindow("오류 확인");
    ASSERT_NE(nBox, 0u) << Log();
    BoxFace face = RenderBox(
        "모든 다운로드 과정을 완료했지만,\n\n일부 다운로드에 실패한 파일들이 있습니다.\n\n"
        "계속 진행하시겠습니까?\n\n계속 진행하실 경우 시스템이 정상적으로 동작하지 않을수도 있습니다.",
        "오류 확인", kMbYesNo | kMbIconQuestion | kMbDefButton2);
    ASSERT_TRUE(Shows(nBox, MatchesBox(face), "failure-question"));
    ASSERT_TRUE(X().Click(OnScreen(nBox, BoxButton(face, 0, X().Geometry(nBox).height()))));
    EXPECT_EQ(WaitExit(), 0) << Log();
    EXPECT_TRUE(ToolStarted());
}

// Over HTTPS with a self-signed certificate the run asks; "y" goes on.
TEST_F(WindowRunTest, CertificateQuestionOverHttpsAnsweredYes) {
    TestCerts certs;
    std::string strError;
    ASSERT_EQ(RunShell("mkdir -p '" + m_dir.Sub("certs") + "'"), 0);
    ASSERT_TRUE(MakeTestCerts(m_dir.Sub("certs"), &certs, &strError)) << strError;
    NginxOptions options;
    options.strCertFile = certs.selfSigned.strCert;
    options.strKeyFile = certs.selfSigned.strKey;
    m_nginx.Stop();
    ASSERT_TRUE(m_nginx.Start(options)) << m_nginx.Error();
    WriteRelease("a.txt", "over tls");
    WriteTool();
    MakeList();
    WriteIni(m_nginx.Port(), 2);
    StartWindow();

    // The question carries the main window's title: it is the other window.
    unsigned long nMain = 0, nBox = 0;
    for (int nWaited = 0; (nMain == 0 || nBox == 0) && nWaited < kWindowTimeoutMs; nWaited += 50) {
        for (unsigned long nId : X().FindWindows(kMainTitle))
            (X().Geometry(nId).size() == QSize(800, 450) ? nMain : nBox) = nId;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_NE(nBox, 0u) << Log();
    std::string strLog = Log();
    size_t nAt = strLog.find(") ", strLog.find("Exception Msg = (")) + 2;
    BoxFace face = RenderBox("인증서 오류가 발생 했습니다.\r\n"
                             "오류를 무시(권장하지 않음)하고 계속 진행 하시겠습니까?\r\n\r\n" +
                                 strLog.substr(nAt, strLog.find('\n', nAt) - nAt),
                             kMainTitle, kMbYesNo | kMbIconWarning);
    ASSERT_TRUE(Shows(nBox, MatchesBox(face), "certificate-question"));
    ASSERT_TRUE(X().Keys(nBox, "y"));
    unsigned long nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    ASSERT_TRUE(X().Keys(nPrompt, "Return"));
    EXPECT_EQ(WaitExit(), 0) << Log();
    EXPECT_EQ(ReadWholeFile(Installed("a.txt")), "over tls");
}

// No list: the error box, then the window idle until Escape.
TEST_F(WindowRunTest, ErrorBoxWhenTheServerIsDown) {
    m_nginx.Stop();
    StartWindow();
    unsigned long nBox = WaitForWindow("오류");
    ASSERT_NE(nBox, 0u) << Log();
    CTideApp app(nullptr);
    UpdateLinkNames(app.m_strProductName, "");
    BoxFace face = RenderBox(std::string("리스트 파일 정보를 가져오는 도중에 오류가 발생했습니다.\n"
                                         "더이상 진행하지 못하고 종료합니다.\n"
                                         "긴급 상황인 경우, 아래의 메뉴를 선택하여 프로그램을 "
                                         "기동하십시요.\n메뉴 경로 : 프로그램->") +
                                 kProgramGroupName + "->" + g_szLinkName + " - 다운로드 장애시",
                             "오류", kMbOk | kMbIconError);
    ASSERT_TRUE(Shows(nBox, MatchesBox(face), "error-box"));
    ASSERT_TRUE(X().Keys(nBox, "Return"));
    ASSERT_TRUE(X().WaitUntilGone(nBox, kPaintTimeoutMs));
    unsigned long nMain = WaitForWindow(kMainTitle);
    ASSERT_NE(nMain, 0u);
    EXPECT_TRUE(Shows(nMain, MainIdle(RenderMain()), "main-after-error"));
    ASSERT_TRUE(X().Keys(nMain, "Escape"));
    EXPECT_EQ(WaitExit(), 0) << Log();
}

// Closed during the downloads: the window goes at once, the process once
// the worker has stopped, and nothing more is fetched or started.
TEST_F(WindowRunTest, ClosedDuringTheDownloads) {
    for (int i = 1; i <= 5; ++i) WriteRelease("slow/f" + std::to_string(i) + ".bin", std::string(150000, 'a' + i));
    WriteTool();
    MakeList();
    StartWindow();
    unsigned long nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    ASSERT_TRUE(X().Keys(nPrompt, "Return"));
    unsigned long nMain = WaitForWindow(kMainTitle);
    ASSERT_NE(nMain, 0u);
    ASSERT_TRUE(WaitForPath(Installed("slow/f1.bin"), 20));
    ASSERT_TRUE(X().Click(OnScreen(nMain, RenderMain().rcClose)));
    EXPECT_TRUE(X().WaitUntilGone(nMain, kPaintTimeoutMs));
    EXPECT_EQ(WaitExit(), 0) << Log();
    EXPECT_FALSE(platform::FileExists(Installed("slow/f5.bin")));
    EXPECT_FALSE(ToolStarted(1));
}

int main(int argc, char** argv) {
    // The references are rendered offscreen here; only the updater under
    // test talks to the X server.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    g_CorvidTheme.SetTheme(false, nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    int nResult = RUN_ALL_TESTS();
    delete g_pDisplay;
    return nResult;
}
