// The settings dialog: what it loads and shows, the combo rules, the
// edition check for the tool's file, and what Save and Cancel write.
#include <QLineEdit>

#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "controls/corvid_theme.h"
#include "controls/flat_check_box.h"
#include "controls/flx_combo.h"
#include "dialogs/qt_front_end.h"
#include "dialogs/setup_dlg.h"
#include "tests/dialogs/dialog_test_util.h"
#include "tests/support/qt_test.h"

class SetupDlgTest : public QObject {
    Q_OBJECT

    static QLineEdit* Edit(CXSetupDlg& dlg, int nId) {
        return static_cast<QLineEdit*>(dlg.GetControl(nId));
    }
    static CCorvidFlxComboBox* Combo(CXSetupDlg& dlg, int nId) {
        return static_cast<CCorvidFlxComboBox*>(dlg.GetControl(nId));
    }

private slots:
    void initTestCase() { g_CorvidTheme.SetTheme(false, nullptr); }

    // What it loads and shows, then what Save applies: texts as typed (a
    // port that is no number is 0), never the local folder.
    void loadsThenSaveApplies() {
        CTempDir dir;
        dir.WriteFile("config/Tidewell.ini",
                      ValidIni(8080, "SVR_HTTPS=7\r\n[RESOURCE]\r\nALLOW_FILE_TYPE=dll,ocx\r\n"));
        CTideCfg cfg(dir.Sub("config/Tidewell.ini"));
        cfg.m_strLocalBaseDir = dir.Path();
        CXSetupDlg dlg(&cfg);
        dlg.show();
        const std::pair<int, const char*> kTexts[] = {
            {CXSetupDlg::kIdServer, "127.0.0.1"}, {CXSetupDlg::kIdPort, "8080"},
            {CXSetupDlg::kIdBaseUrl, "rel"},      {CXSetupDlg::kIdListFile, "_listfile.txt"},
            {CXSetupDlg::kIdSpan, "5"},           {CXSetupDlg::kIdAllowTypes, "dll,ocx"}};
        for (const auto& [nId, pszText] : kTexts)
            QCOMPARE(Edit(dlg, nId)->text(), QString::fromUtf8(pszText));
        QCOMPARE(Edit(dlg, CXSetupDlg::kIdLocalDir)->text(), QString::fromStdString(dir.Path()));
        QVERIFY(!Edit(dlg, CXSetupDlg::kIdLocalDir)->isEnabled());
        // An HTTPS mode outside 0..2 shows the first item.
        QCOMPARE(Combo(dlg, CXSetupDlg::kIdHttps)->GetCurSel(), 0);
        QCOMPARE(Combo(dlg, CXSetupDlg::kIdRegistryMode)->GetCurSel(), 2);
        for (int nId : {CXSetupDlg::kIdAlwaysRegistry, CXSetupDlg::kIdLinkAppend,
                        CXSetupDlg::kIdRegistryMode})
            QVERIFY2(dlg.GetControl(nId)->isHidden(), qPrintable(QString::number(nId)));

        Edit(dlg, CXSetupDlg::kIdLocalDir)->setText(QStringLiteral("/elsewhere"));
        Edit(dlg, CXSetupDlg::kIdPort)->setText(QStringLiteral("x81"));
        Edit(dlg, CXSetupDlg::kIdSpan)->setText(QStringLiteral("12"));
        Edit(dlg, CXSetupDlg::kIdServer)->setText(QStringLiteral("10.1.2.3"));
        QTest::mouseClick(dlg.GetControl(CXSetupDlg::kIdEncodeUrl), Qt::LeftButton);
        QTest::mouseClick(dlg.GetControl(CXSetupDlg::kIdSave), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        dlg.ApplyTo(cfg);
        QCOMPARE(cfg.m_nPort, 0);
        QCOMPARE(cfg.m_nTimeCheckSpan, 12);
        QCOMPARE(cfg.m_strServer, std::string("10.1.2.3"));
        QCOMPARE(cfg.m_nRegistryMode, 2);
        QCOMPARE(cfg.m_nHttpsMode, 0);
        QCOMPARE(cfg.m_bEncodeUrlUtf, 0);
        QCOMPARE(cfg.m_strLocalBaseDir, dir.Path());
    }

    void editionComboNeedsTheToolsFile() {
        CTempDir dir;
        dir.WriteFile("config/Tidewell.ini", ValidIni(8080));
        CQtFrontEnd frontEnd;
        CTideApp app(&frontEnd);
        app.m_strToolExeName = "Corvid@LoomhallKiro";
        CTideCfg cfg(dir.Sub("config/Tidewell.ini"));
        cfg.m_strLocalBaseDir = dir.Path();
        cfg.m_nRunLoomhallVersion = 1;
        {
            CXSetupDlg dlg(&cfg);
            dlg.show();
            QVERIFY(dlg.GetControl(CXSetupDlg::kIdEdition)->isHidden());
            QVERIFY(dlg.GetControl(CXSetupDlg::kIdEditionLabel)->isHidden());
            QCOMPARE(cfg.m_nRunLoomhallVersion, 0);
            QCOMPARE(QString::fromStdString(app.m_strToolExeName),
                     QStringLiteral("Corvid@Loomhall"));
        }
        dir.WriteFile("Corvid@LoomhallKiro", "#!/bin/sh\n");
        cfg.m_nRunLoomhallVersion = 1;
        CXSetupDlg dlg(&cfg);
        dlg.show();
        // Kept hidden like its label, but left enabled with its selection.
        QVERIFY(dlg.GetControl(CXSetupDlg::kIdEdition)->isEnabled());
        QCOMPARE(Combo(dlg, CXSetupDlg::kIdEdition)->GetCurSel(), 1);
    }
};

TIDEWELL_QT_TEST(SetupDlgTest);
#include "setup_dlg_test.moc"
