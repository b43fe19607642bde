// The updater's windows on a real X server: the built executable runs
// against nginx on Xvfb with openbox; xdotool answers its windows with keys
// and clicks; each window's pixels are held against the same dialog
// rendered offscreen here, so a window that never painted fails.
//
// With TIDEWELL_SCREENSHOT_DIR set, the captures the README shows are saved
// there (scripts/screenshots.sh).
#include <signal.h>
#include <sys/wait.h>

#include <QApplication>
#include <QDir>
#include <algorithm>
#include <chrono>
#include <thread>

#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "app/tide_globals.h"
#include "controls/corvid_theme.h"
#include "dialogs/setup_dlg.h"
#include "dialogs/tide_dlg.h"
#include "dialogs/update_prompt_dlg.h"
#include "platform/file_system.h"
#include "tests/e2e/update_run_fixture.h"
#include "tests/e2e/x_display.h"
#include "tests/support/image_diff.h"

namespace {

// Focus frames, the caret and glyph edges may differ a little between the
// screen and the offscreen surface; a window that did not paint differs
// almost everywhere.
constexpr int kChannelSlack = 48;
constexpr double kMaxDifferentShare = 0.03;

// What is wrong with img against imgRef within rc (all of it when empty).
std::string Mismatch(const QImage& img, const QImage& imgRef, QRect rc = QRect()) {
    if (img.size() != imgRef.size())
        return "the window is not the size of the dialog rendered offscreen";
    double dShare = DifferentShare(img, imgRef, rc.isEmpty() ? img.rect() : rc, kChannelSlack);
    return dShare <= kMaxDifferentShare ? ""
                                        : std::to_string(dShare * 100) + " % of the pixels differ";
}

// The main window before a run, and its artwork: all above the button row.
struct MainFace {
    QImage img;
    QRect rcArtwork, rcStartStop, rcClose;
};

MainFace RenderMain() {
    CTideApp app(nullptr);
    CTideDlg dlg(app, nullptr);
    MainFace face;
    face.img = dlg.Render();
    face.rcStartStop = dlg.GetStartStopRect();
    face.rcClose = dlg.GetCloseRect();
    int nRowTop =
        std::min({face.rcStartStop.top(), dlg.GetSetupRect().top(), dlg.GetStatusRect().top()});
    face.rcArtwork = QRect(0, 0, face.img.width(), nRowTop - 1);
    return face;
}

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
        if (g_pDisplay == nullptr)
            GTEST_SKIP() << "Xvfb is not installed";
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
        m_vecEnv.push_back(std::string("LSAN_OPTIONS=") +
                           (pLsan != nullptr ? std::string(pLsan) + ":" : "") +
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
    int WaitExit() {
        int nExit = Wait(m_nPid, 30).nExit;
        m_nPid = -1;
        return nExit;
    }
    unsigned long WaitForWindow(const std::string& strTitle) {
        return X().WaitForWindow(strTitle, kWindowTimeoutMs);
    }

    // Waits until the window (within rc) shows imgRef; the capture is saved
    // next to the build on failure, and as pszShot when screenshots are asked for.
    ::testing::AssertionResult Shows(unsigned long nWindow, const QImage& imgRef,
                                     const std::string& strName, const char* pszShot = nullptr,
                                     const QRect& rc = QRect()) {
        std::string strWrong = "the window is gone";
        QImage img;
        for (auto end =
                 std::chrono::steady_clock::now() + std::chrono::milliseconds(kPaintTimeoutMs);
             std::chrono::steady_clock::now() < end;
             std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
            QRect rcWindow = X().Geometry(nWindow);
            if (rcWindow.isEmpty())
                continue;
            img = X().Capture(rcWindow);
            strWrong = Mismatch(img, imgRef, rc);
            if (!strWrong.empty())
                continue;
            const char* pDir = getenv("TIDEWELL_SCREENSHOT_DIR");
            if (pszShot != nullptr && pDir != nullptr && *pDir != '\0')
                img.save(QString::fromLocal8Bit(pDir) + QLatin1Char('/') + QLatin1String(pszShot));
            return ::testing::AssertionSuccess();
        }
        QString strFile = QStringLiteral(TIDEWELL_BINARY_DIR "/window-test-failures/") +
                          QString::fromStdString(strName) + QStringLiteral(".png");
        QDir().mkpath(QStringLiteral(TIDEWELL_BINARY_DIR "/window-test-failures"));
        img.save(strFile);
        return ::testing::AssertionFailure()
               << strName << ": " << strWrong << " (" << strFile.toStdString() << ")";
    }

    QPoint OnScreen(unsigned long nWindow, const QRect& rcInWindow) {
        return X().Geometry(nWindow).topLeft() + rcInWindow.center();
    }

    int m_nPid = -1;
};

TEST_F(WindowRunTest, FirstUseSettingsThenUpdateAnsweredYes) {
    WriteRelease("app/readme.txt", "hello reader\n");
    // About three seconds at the server's rate: long enough to see the run.
    WriteRelease("slow/big.bin", std::string(300000, 'x'));
    WriteTool();
    MakeList();
    AppendToList("missing/a.bin,,,,20240101000000,10\n");
    platform::DeleteFile(Installed("config/Tidewell.ini"));
    m_nPid = Start("1");

    unsigned long nSettings = WaitForWindow("환경설정");
    ASSERT_NE(nSettings, 0u);
    CTideCfg cfg(Installed("config/Tidewell.ini"));
    CXSetupDlg setup(&cfg);
    setup.show();
    QApplication::processEvents();
    ASSERT_TRUE(Shows(nSettings, setup.grab().toImage(), "settings", "settings.png"));
    const std::pair<int, std::string> fields[] = {
        {CXSetupDlg::kIdServer, "127.0.0.1"},
        {CXSetupDlg::kIdPort, std::to_string(m_nginx.Port())},
        {CXSetupDlg::kIdBaseUrl, "rel"},
        {CXSetupDlg::kIdSave, ""}};
    for (const auto& [nId, strText] : fields) {
        QWidget* pControl = setup.GetControl(nId);
        QRect rc(pControl->mapTo(&setup, QPoint(0, 0)), pControl->size());
        ASSERT_TRUE(X().Click(OnScreen(nSettings, rc)));
        if (!strText.empty()) {
            ASSERT_TRUE(X().Keys(nSettings, "ctrl+a"));
            ASSERT_TRUE(X().Type(nSettings, strText));
        }
    }
    ASSERT_TRUE(X().WaitUntilGone(nSettings, kPaintTimeoutMs));
    ASSERT_TRUE(X().ParkMouse());

    // Saved, the run starts by itself and asks before the first download.
    unsigned long nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    ASSERT_TRUE(Shows(nPrompt, CUpdateMessageBoxDlg().Render(), "prompt", "update-prompt.png"));
    ASSERT_TRUE(X().Keys(nPrompt, "Return"));
    unsigned long nMain = WaitForWindow(kMainTitle);
    ASSERT_NE(nMain, 0u);
    MainFace face = RenderMain();
    EXPECT_TRUE(Shows(nMain, face.img, "main-running", "main-update.png", face.rcArtwork));
    EXPECT_NE(Mismatch(X().Capture(X().Geometry(nMain)), face.img, face.rcStartStop), "")
        << "the start button is shown, not stop";

    // A file failed: the question is answered "예" by its key, so the tool starts.
    unsigned long nBox = WaitForWindow("오류 확인");
    ASSERT_NE(nBox, 0u) << Log();
    ASSERT_TRUE(X().Keys(nBox, "y"));
    EXPECT_EQ(WaitExit(), 0) << Log();
    EXPECT_EQ(ReadWholeFile(Installed("slow/big.bin")).size(), 300000u);
    EXPECT_TRUE(ToolStarted());
    EXPECT_NE(ReadWholeFile(Installed("config/Tidewell.ini"))
                  .find("SVR_PORT_NO=" + std::to_string(m_nginx.Port())),
              std::string::npos);
}

// Cancel, chosen with the arrow keys, leaves the window idle; Start, clicked,
// asks again. Closed during the downloads, the window goes at once, the
// process once the worker has stopped, and nothing more is fetched or started.
TEST_F(WindowRunTest, PromptCancelledThenStartedAndClosedDuringTheDownloads) {
    for (int i = 1; i <= 5; ++i)
        WriteRelease("slow/f" + std::to_string(i) + ".bin", std::string(150000, 'a' + i));
    WriteTool();
    MakeList();
    m_nPid = Start("1");
    unsigned long nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    ASSERT_TRUE(X().Keys(nPrompt, "Right Right Return"));
    ASSERT_TRUE(X().WaitUntilGone(nPrompt, kPaintTimeoutMs));
    unsigned long nMain = WaitForWindow(kMainTitle);
    ASSERT_NE(nMain, 0u);
    MainFace face = RenderMain();
    QRect rcIdle = face.rcArtwork.united(face.rcStartStop);
    ASSERT_TRUE(Shows(nMain, face.img, "main-idle", "main-idle.png", rcIdle));
    EXPECT_FALSE(platform::FileExists(Installed("slow/f1.bin")));

    ASSERT_TRUE(X().Click(OnScreen(nMain, face.rcStartStop)));
    nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    ASSERT_TRUE(X().Keys(nPrompt, "Return"));
    nMain = WaitForWindow(kMainTitle);
    ASSERT_NE(nMain, 0u);
    ASSERT_TRUE(WaitForPath(Installed("slow/f1.bin"), 20));
    ASSERT_TRUE(X().Click(OnScreen(nMain, face.rcClose)));
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
