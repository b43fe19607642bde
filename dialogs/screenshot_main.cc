// Renders the updater's windows offscreen into PNG files for the README:
// the main window idle and in the middle of a download, the update prompt
// and the settings dialog. Usage: tidewell_screenshots OUTPUT_DIR
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "app/tide_globals.h"
#include "controls/corvid_theme.h"
#include "dialogs/qt_front_end.h"
#include "dialogs/setup_dlg.h"
#include "dialogs/tide_dlg.h"
#include "dialogs/update_prompt_dlg.h"

namespace {

bool Save(const QImage& img, const QString& strDir, const char* pName) {
    QString strPath = strDir + QLatin1Char('/') + QLatin1String(pName);
    if (!img.save(strPath)) {
        fprintf(stderr, "cannot write %s\n", qPrintable(strPath));
        return false;
    }
    printf("%s\n", qPrintable(strPath));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    QString strOut = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(strOut);
    const std::map<std::string, std::string> mapNoOverrides;
    g_CorvidTheme.SetTheme(false, &mapNoOverrides);

    // A sample installation with a saved configuration.
    QTemporaryDir tempDir;
    g_szBaseDir = tempDir.path().toStdString();
    QDir(tempDir.path()).mkpath(QStringLiteral("config"));
    std::ofstream(g_szBaseDir + "/config/Tidewell.ini")
        << "[TIDE]\r\nSVR_IP_ADDR=update.example.net\r\nSVR_PORT_NO=8080\r\n"
           "DOWNLOAD_BASE_URL=corvid/release\r\nLIST_FILE_NAME=_listfile.txt\r\n"
           "SVR_HTTPS=2\r\nTIME_CHECK_SPAN=5\r\nENCODE_URL_UTF=1\r\n"
           "LAST_SETUP_DATE=2026-01-01 00:00:00\r\n[RESOURCE]\r\nALLOW_FILE_TYPE=dll,ocx\r\n";

    CQtFrontEnd frontEnd;
    CTideApp app(&frontEnd);
    CTideDlg* pDlg = frontEnd.CreateMainDialog(app);
    pDlg->InitDialog(false);
    bool bOk = Save(pDlg->Render(), strOut, "main-idle.png");

    // Step 2 of 2: the download pass.
    pDlg->AdvanceStage();
    pDlg->SetStatusText(QStringLiteral("서버로부터 파일 다운로드 중..."));
    pDlg->SetProgress(47, 100);
    bOk = Save(pDlg->Render(), strOut, "main-update.png") && bOk;

    CUpdateMessageBoxDlg prompt;
    prompt.show();
    QApplication::processEvents();
    bOk = Save(prompt.grab().toImage(), strOut, "update-prompt.png") && bOk;
    prompt.hide();

    // A stable folder in the picture instead of the scratch one.
    pDlg->GetRunController().GetCfg()->m_strLocalBaseDir = "/opt/corvid";
    CXSetupDlg setup(pDlg->GetRunController().GetCfg());
    setup.show();
    QApplication::processEvents();
    bOk = Save(setup.grab().toImage(), strOut, "settings.png") && bOk;
    setup.hide();
    frontEnd.Shutdown();
    return bOk ? 0 : 1;
}
