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

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "app/message_box.h"
#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "app/tide_globals.h"
#include "controls/corvid_theme.h"
#include "dialogs/setup_dlg.h"
#include "dialogs/tide_dlg.h"
#include "dialogs/tide_message_box.h"
#include "dialogs/update_prompt_dlg.h"
#include "platform/file_system.h"
#include "tests/e2e/update_run_fixture.h"
#include "tests/e2e/x_display.h"

namespace {

// What the windows should show, rendered offscreen here with the dialogs' own
// code, and the checks that hold a capture from the screen against it.
// A check of a capture: empty when it holds, else what is wrong.
using Check = std::function<std::string(const QImage&)>;
// A message box as the front end builds it, and its buttons left to right.
struct BoxFace {
    int nHeight = 0;
    std::vector<QRect> vecButtons;
};
// The main window before a run: everything above its button row, the
// start/stop button and the close button.
struct MainFace {
    QImage img;
    QRect rcArtwork, rcStartStop, rcClose;
};

// Focus frames, the caret and glyph edges may differ a little between the
// screen and the offscreen surface; a window that did not paint differs
// almost everywhere.
constexpr int kChannelSlack = 48;
constexpr double kMaxDifferentShare = 0.03;

// Share of the pixels in rc that differ visibly.
double DifferentShare(const QImage& a, const QImage& b, const QRect& rc) {
    QImage imgA = a.convertToFormat(QImage::Format_RGB32);
    QImage imgB = b.convertToFormat(QImage::Format_RGB32);
    long nDifferent = 0;
    for (int y = rc.top(); y <= rc.bottom(); ++y) {
        for (int x = rc.left(); x <= rc.right(); ++x) {
            QRgb p = imgA.pixel(x, y), q = imgB.pixel(x, y);
            int nDiff = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                  std::abs(qBlue(p) - qBlue(q))});
            nDifferent += nDiff > kChannelSlack ? 1 : 0;
        }
    }
    return static_cast<double>(nDifferent) / (static_cast<double>(rc.width()) * rc.height());
}

std::string Verdict(double dShare) {
    return dShare <= kMaxDifferentShare ? ""
                                        : std::to_string(dShare * 100) + " % of the pixels differ";
}

std::string SizeText(const QImage& img) {
    return std::to_string(img.width()) + "x" + std::to_string(img.height());
}

Check Matches(const QImage& imgRef, const QRect& rc = QRect()) {
    return [imgRef, rc](const QImage& img) -> std::string {
        if (img.size() != imgRef.size())
            return "window is " + SizeText(img) + ", expected " + SizeText(imgRef);
        return Verdict(DifferentShare(img, imgRef, rc.isEmpty() ? img.rect() : rc));
    };
}

QImage PromptFace() {
    CUpdateMessageBoxDlg dlg;
    return dlg.Render();
}

QRect PromptChoice(int nIndex) {
    CUpdateMessageBoxDlg dlg;
    return dlg.GetChoiceRect(nIndex);
}

BoxFace RenderBox(const std::string& strText, const std::string& strCaption, unsigned nStyle) {
    std::unique_ptr<QMessageBox> pBox(CreateTideMessageBox(nullptr, strText, strCaption, nStyle));
    pBox->show();
    QApplication::processEvents();
    BoxFace face;
    face.nHeight = pBox->height();
    for (QAbstractButton* pButton : pBox->buttons())
        face.vecButtons.push_back(QRect(pButton->mapTo(pBox.get(), QPoint(0, 0)), pButton->size()));
    std::sort(face.vecButtons.begin(), face.vecButtons.end(),
              [](const QRect& a, const QRect& b) { return a.x() < b.x(); });
    return face;
}

// On the X server the button row may sit a few pixels lower than offscreen.
QRect BoxButton(const BoxFace& face, size_t nIndex, int nHeight) {
    return face.vecButtons.at(nIndex).translated(0, nHeight - face.nHeight);
}

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

Check MainIdle(const MainFace& face) {
    return [face](const QImage& img) -> std::string {
        std::string strWrong = Matches(face.img, face.rcArtwork)(img);
        return strWrong.empty() ? Matches(face.img, face.rcStartStop)(img) : strWrong;
    };
}

Check MainRunning(const MainFace& face) {
    return [face](const QImage& img) -> std::string {
        std::string strWrong = Matches(face.img, face.rcArtwork)(img);
        if (strWrong.empty() && Matches(face.img, face.rcStartStop)(img).empty())
            return "the start button is shown, not stop";
        return strWrong;
    };
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
    ::testing::AssertionResult Shows(unsigned long nWindow, const Check& check,
                                     const std::string& strName, const char* pszShot = nullptr) {
        std::string strWrong = "the window is gone";
        QImage img;
        for (auto end =
                 std::chrono::steady_clock::now() + std::chrono::milliseconds(kPaintTimeoutMs);
             std::chrono::steady_clock::now() < end;
             std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
            QRect rc = X().Geometry(nWindow);
            if (rc.isEmpty())
                continue;
            img = X().Capture(rc);
            strWrong = check(img);
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
    AppendToList("missing/a.bin,,,,20240101000000,10\n");
    platform::DeleteFile(Installed("config/Tidewell.ini"));
    StartWindow();

    unsigned long nSettings = WaitForWindow("환경설정");
    ASSERT_NE(nSettings, 0u);
    CTideCfg cfg(Installed("config/Tidewell.ini"));
    CXSetupDlg setup(&cfg);
    setup.show();
    QApplication::processEvents();
    ASSERT_TRUE(Shows(nSettings, Matches(setup.grab().toImage()), "settings", "settings.png"));
    const std::pair<int, std::string> fields[] = {
        {CXSetupDlg::kIdServer, "127.0.0.1"},
        {CXSetupDlg::kIdPort, std::to_string(m_nginx.Port())},
        {CXSetupDlg::kIdBaseUrl, "rel"}};
    for (const auto& [nId, strText] : fields) {
        ASSERT_TRUE(X().Click(OnScreen(nSettings, InDialog(&setup, setup.GetControl(nId)))));
        ASSERT_TRUE(X().Keys(nSettings, "ctrl+a"));
        ASSERT_TRUE(X().Type(nSettings, strText));
    }
    ASSERT_TRUE(
        X().Click(OnScreen(nSettings, InDialog(&setup, setup.GetControl(CXSetupDlg::kIdSave)))));
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

    // A file failed: the question's "예" is clicked, so the tool starts.
    unsigned long nBox = WaitForWindow("오류 확인");
    ASSERT_NE(nBox, 0u) << Log();
    BoxFace face = RenderBox(
        "모든 다운로드 과정을 완료했지만,\n\n일부 다운로드에 실패한 파일들이 있습니다.\n\n"
        "계속 진행하시겠습니까?\n\n계속 진행하실 경우 시스템이 정상적으로 동작하지 않을수도 "
        "있습니다.",
        "오류 확인", kMbYesNo | kMbIconQuestion | kMbDefButton2);
    ASSERT_TRUE(X().Click(OnScreen(nBox, BoxButton(face, 0, X().Geometry(nBox).height()))));
    EXPECT_EQ(WaitExit(), 0) << Log();
    EXPECT_EQ(ReadWholeFile(Installed("slow/big.bin")).size(), 300000u);
    EXPECT_TRUE(ToolStarted());
    EXPECT_NE(ReadWholeFile(Installed("config/Tidewell.ini"))
                  .find("SVR_PORT_NO=" + std::to_string(m_nginx.Port())),
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

// Closed during the downloads: the window goes at once, the process once
// the worker has stopped, and nothing more is fetched or started.
TEST_F(WindowRunTest, ClosedDuringTheDownloads) {
    for (int i = 1; i <= 5; ++i)
        WriteRelease("slow/f" + std::to_string(i) + ".bin", std::string(150000, 'a' + i));
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
