// The updater's windows on a real X server. The built executable runs
// against nginx on Xvfb with openbox; xdotool finds its windows by title and
// answers them with keys and clicks; the screen's pixels are compared with
// the same dialogs rendered offscreen in this process. A window that never
// painted (black, or the background of whatever lies under it) fails.
//
// With TIDEWELL_SCREENSHOT_DIR set, the captures the README shows are saved
// there (scripts/screenshots.sh).
#include <signal.h>
#include <sys/stat.h>
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

// A window appears (sanitizer builds start slowly), shows its face, the run ends.
constexpr int kWindowTimeoutMs = 20000;
constexpr int kPaintTimeoutMs = 5000;
constexpr int kExitTimeoutMs = 30000;
const char* const kMainTitle = "Corvid5@LoomhallKiro 업데이트";
const char* const kPromptTitle = "Corvid5@LoomhallKiro";
const char* const kSettingsTitle = "환경설정";
const char* const kToolName = "Corvid@LoomhallKiro";
const char* const kToolScript =
    "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/tool-started.tmp\" && "
    "mv \"$(dirname \"$0\")/tool-started.tmp\" \"$(dirname \"$0\")/tool-started\"\n";
const char* const kFailureText =
    "모든 다운로드 과정을 완료했지만,\n\n"
    "일부 다운로드에 실패한 파일들이 있습니다.\n\n"
    "계속 진행하시겠습니까?\n\n"
    "계속 진행하실 경우 시스템이 정상적으로 동작하지 않을수도 있습니다.";

}  // namespace

class WindowRunTest : public UpdateRunTest {
protected:
    static void SetUpTestSuite() {
        if (!CXDisplay::IsAvailable())
            return;
        s_pDisplay = new CXDisplay;
        s_strStartError.clear();
        s_pDisplay->Start(&s_strStartError);
    }

    static void TearDownTestSuite() {
        delete s_pDisplay;
        s_pDisplay = nullptr;
    }

    void SetUp() override {
        if (!CXDisplay::IsAvailable())
            GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_TRUE(s_strStartError.empty()) << s_strStartError;
        UpdateRunTest::SetUp();
        m_vecFrontEndArgs.clear();
        m_vecEnv.push_back("DISPLAY=" + s_pDisplay->Name());
        // Under the sanitizers the window's system libraries need two
        // allowances: libxkbcommon-x11 strndup()s names that have no final
        // zero (valid, but strict string checks refuse it), and libdbus
        // keeps a buffer to the end.
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

    CXDisplay& X() { return *s_pDisplay; }

    void StartWindow() { m_nPid = Start("1"); }

    // The updater's exit status; -1 when it did not end in time.
    int WaitExit() {
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kExitTimeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            int nStatus = 0;
            if (waitpid(m_nPid, &nStatus, WNOHANG) == m_nPid) {
                m_nPid = -1;
                return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return -1;
    }

    unsigned long WaitForWindow(const std::string& strTitle) {
        return X().WaitForWindow(strTitle, kWindowTimeoutMs);
    }

    // Waits until the window's pixels pass check; the last capture is kept
    // in m_imgLast, and saved next to the build on failure.
    ::testing::AssertionResult Shows(unsigned long nWindow, const Check& check,
                                     const std::string& strName, const QImage& imgRef = QImage()) {
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kPaintTimeoutMs);
        std::string strWrong = "the window is gone";
        do {
            QRect rc = X().Geometry(nWindow);
            if (!rc.isEmpty()) {
                m_imgLast = X().Capture(rc);
                strWrong = check(m_imgLast);
                if (strWrong.empty())
                    return ::testing::AssertionSuccess();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } while (std::chrono::steady_clock::now() < deadline);
        QString strDir = QStringLiteral(TIDEWELL_BINARY_DIR "/window-test-failures");
        QDir().mkpath(strDir);
        QString strBase = strDir + QLatin1Char('/') + QString::fromStdString(strName);
        m_imgLast.save(strBase + QStringLiteral("-screen.png"));
        if (!imgRef.isNull())
            imgRef.save(strBase + QStringLiteral("-expected.png"));
        return ::testing::AssertionFailure() << strName << ": " << strWrong << " (capture in "
                                             << strBase.toStdString() << "-screen.png)";
    }

    ::testing::AssertionResult Shows(unsigned long nWindow, const QImage& imgRef,
                                     const std::string& strName) {
        return Shows(nWindow, Matches(imgRef), strName, imgRef);
    }

    void SaveScreenshot(const char* pName) {
        const char* pDir = getenv("TIDEWELL_SCREENSHOT_DIR");
        if (pDir != nullptr && *pDir != '\0') {
            EXPECT_TRUE(m_imgLast.save(QString::fromLocal8Bit(pDir) + QLatin1Char('/') +
                                       QLatin1String(pName)));
        }
    }

    QPoint OnScreen(unsigned long nWindow, const QRect& rcInWindow) {
        return X().Geometry(nWindow).topLeft() + rcInWindow.center();
    }

    // The release with the development tool, also installed when bInstalled.
    void WriteTool(bool bInstalled) {
        WriteRelease(kToolName, kToolScript, true);
        if (bInstalled) {
            m_dir.WriteFile(std::string("install/") + kToolName, kToolScript);
            chmod(Installed(kToolName).c_str(), 0755);
        }
    }

    // Whether the tool has written its mark within nSeconds.
    bool ToolStarted(int nSeconds = 10) { return WaitForPath(Installed("tool-started"), nSeconds); }

    static CXDisplay* s_pDisplay;
    static std::string s_strStartError;
    int m_nPid = -1;
    QImage m_imgLast;
};

CXDisplay* WindowRunTest::s_pDisplay = nullptr;
std::string WindowRunTest::s_strStartError;

TEST_F(WindowRunTest, FirstUseSettingsThenUpdateAnsweredYes) {
    WriteRelease("app/readme.txt", "hello reader\n");
    // About three seconds at the server's rate: long enough to see the run.
    WriteRelease("slow/big.bin", std::string(300000, 'x'));
    WriteTool(false);
    MakeList();
    platform::DeleteFile(Installed("config/Tidewell.ini"));
    StartWindow();

    unsigned long nSettings = WaitForWindow(kSettingsTitle);
    ASSERT_NE(nSettings, 0u);
    CTideCfg cfg(Installed("config/Tidewell.ini"));
    CXSetupDlg setup(&cfg);
    setup.show();
    QApplication::processEvents();
    ASSERT_TRUE(Shows(nSettings, setup.grab().toImage(), "settings"));
    SaveScreenshot("settings.png");
    const std::pair<int, std::string> fields[] = {
        {CXSetupDlg::kIdServer, "127.0.0.1"},
        {CXSetupDlg::kIdPort, std::to_string(m_nginx.Port())},
        {CXSetupDlg::kIdBaseUrl, "rel"}};
    for (const auto& [nId, strText] : fields) {
        QWidget* pField = setup.GetControl(nId);
        ASSERT_TRUE(X().Click(
            OnScreen(nSettings, QRect(pField->mapTo(&setup, QPoint(0, 0)), pField->size()))));
        ASSERT_TRUE(X().Keys(nSettings, "ctrl+a"));
        ASSERT_TRUE(X().Type(nSettings, strText));
    }
    QWidget* pSave = setup.GetControl(CXSetupDlg::kIdSave);
    ASSERT_TRUE(
        X().Click(OnScreen(nSettings, QRect(pSave->mapTo(&setup, QPoint(0, 0)), pSave->size()))));
    ASSERT_TRUE(X().WaitUntilGone(nSettings, kPaintTimeoutMs));
    ASSERT_TRUE(X().ParkMouse());

    // Saved, the run starts by itself and asks before the first download.
    unsigned long nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    ASSERT_TRUE(Shows(nPrompt, PromptFace(), "prompt"));
    SaveScreenshot("update-prompt.png");
    ASSERT_TRUE(X().Keys(nPrompt, "Return"));

    unsigned long nMain = WaitForWindow(kMainTitle);
    ASSERT_NE(nMain, 0u);
    MainFace face = RenderMain();
    EXPECT_TRUE(Shows(nMain, MainRunning(face), "main-running", face.img));
    SaveScreenshot("main-update.png");

    EXPECT_EQ(WaitExit(), 0) << Log();
    EXPECT_EQ(ReadWholeFile(Installed("app/readme.txt")), "hello reader\n");
    EXPECT_EQ(ReadWholeFile(Installed("slow/big.bin")).size(), 300000u);
    EXPECT_TRUE(ToolStarted());
    std::string strIni = ReadWholeFile(Installed("config/Tidewell.ini"));
    EXPECT_NE(strIni.find("SVR_PORT_NO=" + std::to_string(m_nginx.Port())), std::string::npos)
        << strIni;
    EXPECT_NE(strIni.find("SVR_IP_ADDR=127.0.0.1"), std::string::npos) << strIni;
}

TEST_F(WindowRunTest, PromptRepaintsAndNotNowIsClicked) {
    WriteRelease("a.txt", "aaa");
    WriteTool(true);
    MakeList();
    StartWindow();
    unsigned long nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    unsigned long nMain = WaitForWindow(kMainTitle);
    ASSERT_NE(nMain, 0u);
    ASSERT_TRUE(Shows(nPrompt, PromptFace(), "prompt"));

    // Unmapped and mapped again, the prompt has lost its pixels and must
    // paint anew while its question holds the worker.
    ASSERT_TRUE(X().MinimizeAndRestore(nPrompt));
    EXPECT_TRUE(Shows(nPrompt, PromptFace(), "prompt-restored"));
    // Moved aside, it uncovers part of the main window, which repaints there.
    QRect rcCovered = X().Geometry(nPrompt).translated(-X().Geometry(nMain).topLeft());
    QSize screen = X().ScreenSize();
    ASSERT_TRUE(X().MoveWindow(nPrompt, QPoint(screen.width(), screen.height()) -
                                            QPoint(rcCovered.width(), rcCovered.height())));
    MainFace face = RenderMain();
    EXPECT_TRUE(Shows(nMain, Matches(face.img, rcCovered.intersected(face.rcArtwork)),
                      "main-exposed", face.img));

    // The pointer over "아니오" lights it; a click on it answers.
    QRect rcNo = PromptChoice(1);
    ASSERT_TRUE(X().MoveMouse(OnScreen(nPrompt, rcNo)));
    EXPECT_TRUE(Shows(nPrompt, PromptFace({}, rcNo.center()), "prompt-hover"));
    ASSERT_TRUE(X().Click(OnScreen(nPrompt, rcNo)));
    EXPECT_EQ(WaitExit(), 0) << Log();
    EXPECT_TRUE(ToolStarted());
    EXPECT_FALSE(platform::FileExists(Installed("a.txt")));
}

TEST_F(WindowRunTest, PromptCancelledByKeysLeavesTheWindowIdle) {
    WriteRelease("a.txt", "aaa");
    WriteTool(false);
    MakeList();
    StartWindow();
    unsigned long nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    ASSERT_TRUE(X().Keys(nPrompt, "Right Right"));
    EXPECT_TRUE(Shows(nPrompt, PromptFace({Qt::Key_Right, Qt::Key_Right}), "prompt-cancel"));
    ASSERT_TRUE(X().Keys(nPrompt, "Return"));
    ASSERT_TRUE(X().WaitUntilGone(nPrompt, kPaintTimeoutMs));

    unsigned long nMain = WaitForWindow(kMainTitle);
    ASSERT_NE(nMain, 0u);
    MainFace face = RenderMain();
    ASSERT_TRUE(Shows(nMain, MainIdle(face), "main-idle", face.img));
    SaveScreenshot("main-idle.png");
    ASSERT_TRUE(X().Click(OnScreen(nMain, face.rcClose)));
    EXPECT_EQ(WaitExit(), 0) << Log();
    EXPECT_FALSE(platform::FileExists(Installed("a.txt")));
    EXPECT_FALSE(ToolStarted(1));
}

TEST_F(WindowRunTest, FailureQuestionAnsweredYesByMouse) {
    WriteRelease("good.txt", "good");
    WriteTool(false);
    MakeList();
    AppendToList("missing/a.bin,,,,20240101000000,10\n");
    StartWindow();
    unsigned long nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    ASSERT_TRUE(X().Keys(nPrompt, "Return"));

    unsigned long nBox = WaitForWindow("오류 확인");
    ASSERT_NE(nBox, 0u) << Log();
    BoxFace face = RenderBox(kFailureText, "오류 확인", kMbYesNo | kMbIconQuestion | kMbDefButton2);
    ASSERT_TRUE(Shows(nBox, MatchesBox(face), "failure-question", face.img));
    ASSERT_EQ(face.vecButtons.size(), 2u);
    ASSERT_TRUE(X().Click(OnScreen(nBox, BoxButton(face, 0, X().Geometry(nBox).height()))));
    EXPECT_EQ(WaitExit(), 0) << Log();
    EXPECT_TRUE(ToolStarted());
    EXPECT_EQ(ReadWholeFile(Installed("good.txt")), "good");
}

TEST_F(WindowRunTest, CertificateQuestionOverHttpsAnsweredYes) {
    TestCerts certs;
    std::string strError;
    ASSERT_EQ(RunShell("mkdir -p '" + m_dir.Sub("certs") + "'"), 0);
    ASSERT_TRUE(MakeTestCerts(m_dir.Sub("certs"), &certs, &strError)) << strError;
    CNginxServer https;
    NginxOptions options;
    options.strCertFile = certs.selfSigned.strCert;
    options.strKeyFile = certs.selfSigned.strKey;
    ASSERT_TRUE(https.Start(options)) << https.Error();
    https.WriteFile("rel/a.txt", "over tls");
    std::string strTool = https.WriteFile(std::string("rel/") + kToolName, kToolScript);
    chmod(strTool.c_str(), 0755);
    ASSERT_EQ(RunShell("'" TIDEWELL_BINARY_DIR "/console/TidewellMakeList' '" + https.DocRoot() +
                       "/rel'"),
              0);
    WriteIni(https.Port(), 2);
    StartWindow();

    // The question carries the main window's title: it is the other window.
    unsigned long nMain = 0, nBox = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWindowTimeoutMs);
    while ((nMain == 0 || nBox == 0) && std::chrono::steady_clock::now() < deadline) {
        for (unsigned long nId : X().FindWindows(kMainTitle))
            (X().Geometry(nId).size() == QSize(800, 450) ? nMain : nBox) = nId;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_NE(nBox, 0u) << Log();
    std::string strLog = Log();
    const std::string strMarker = "Exception Msg = (";
    size_t nAt = strLog.find(strMarker);
    ASSERT_NE(nAt, std::string::npos) << strLog;
    nAt = strLog.find(") ", nAt) + 2;
    std::string strCurlText = strLog.substr(nAt, strLog.find('\n', nAt) - nAt);
    BoxFace face = RenderBox(
        "인증서 오류가 발생 했습니다.\r\n"
        "오류를 무시(권장하지 않음)하고 계속 진행 하시겠습니까?\r\n\r\n" +
            strCurlText,
        kMainTitle, kMbYesNo | kMbIconWarning);
    ASSERT_TRUE(Shows(nBox, MatchesBox(face), "certificate-question", face.img));
    ASSERT_TRUE(X().Keys(nBox, "y"));

    unsigned long nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    ASSERT_TRUE(X().Keys(nPrompt, "Return"));
    EXPECT_EQ(WaitExit(), 0) << Log();
    EXPECT_EQ(ReadWholeFile(Installed("a.txt")), "over tls");
    EXPECT_TRUE(ToolStarted());
}

TEST_F(WindowRunTest, ErrorBoxWhenTheServerIsDown) {
    m_nginx.Stop();
    StartWindow();
    unsigned long nBox = WaitForWindow("오류");
    ASSERT_NE(nBox, 0u) << Log();
    CTideApp app(nullptr);
    UpdateLinkNames(app.m_strProductName, "");
    std::string strText = std::string(
                              "리스트 파일 정보를 가져오는 도중에 오류가 발생했습니다.\n"
                              "더이상 진행하지 못하고 종료합니다.\n"
                              "긴급 상황인 경우, 아래의 메뉴를 선택하여 프로그램을 "
                              "기동하십시요.\n메뉴 경로 : 프로그램->") +
                          kProgramGroupName + "->" + g_szLinkName + " - 다운로드 장애시";
    BoxFace face = RenderBox(strText, "오류", kMbOk | kMbIconError);
    ASSERT_TRUE(Shows(nBox, MatchesBox(face), "error-box", face.img));
    ASSERT_TRUE(X().Keys(nBox, "Return"));
    ASSERT_TRUE(X().WaitUntilGone(nBox, kPaintTimeoutMs));

    // The run ended without a result: the window stays, idle, until Escape.
    unsigned long nMain = WaitForWindow(kMainTitle);
    ASSERT_NE(nMain, 0u);
    MainFace main = RenderMain();
    EXPECT_TRUE(Shows(nMain, MainIdle(main), "main-after-error", main.img));
    ASSERT_TRUE(X().Keys(nMain, "Escape"));
    EXPECT_EQ(WaitExit(), 0) << Log();
    EXPECT_FALSE(ToolStarted(1));
}

TEST_F(WindowRunTest, ClosedDuringTheDownloads) {
    for (int i = 1; i <= 5; ++i)
        WriteRelease("slow/f" + std::to_string(i) + ".bin", std::string(150000, 'a' + i));
    WriteTool(false);
    MakeList();
    StartWindow();
    unsigned long nPrompt = WaitForWindow(kPromptTitle);
    ASSERT_NE(nPrompt, 0u) << Log();
    ASSERT_TRUE(X().Keys(nPrompt, "Return"));
    unsigned long nMain = WaitForWindow(kMainTitle);
    ASSERT_NE(nMain, 0u);
    ASSERT_TRUE(WaitForPath(Installed("slow/f1.bin"), 20));

    // The window goes at once; the process follows once the worker has stopped.
    MainFace face = RenderMain();
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
    return RUN_ALL_TESTS();
}
