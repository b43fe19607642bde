// The settings dialog: edits text copies of the configuration's values on
// the custom frame. It never writes the configuration itself; on Save the
// main dialog applies the result with ApplyTo() and saves the INI file.
#pragma once

#include <QString>
#include <map>

#include "controls/custom_dialog.h"

class CTideCfg;
class CCorvidFlxComboBox;
class CCorvidFlxEditEx;
class CQuenbyDesignerFlatCheckBox;

class CXSetupDlg : public CCorvidCustomDialog {
    Q_OBJECT
public:
    // Control ids, as the rest of the program knows them.
    enum EControlId {
        kIdSave = 1,
        kIdCancelButton = 2,
        kIdServer = 1009,
        kIdPort = 1010,
        kIdBaseUrl = 1011,
        kIdListFile = 1012,
        kIdLinkAppend = 1013,
        kIdLocalDir = 1014,
        kIdGroup = 1015,
        kIdSpan = 1023,
        kIdHttps = 1024,
        kIdRegistryMode = 1026,
        kIdAllowTypes = 1028,
        kIdEncodeUrl = 1029,
        kIdEdition = 1030,
        kIdEditionLabel = 1031,
        kIdAlwaysRegistry = 1032,
        kIdSeparator = 1033,
    };

    explicit CXSetupDlg(CTideCfg* pCfg, QWidget* pParent = nullptr);
    ~CXSetupDlg() override;

    QWidget* GetControl(int nId) const;
    // Writes the edited values into cfg the way the main dialog does on Save
    // (the local folder is never taken from the field).
    void ApplyTo(CTideCfg& cfg) const;

    // The text copies and selections, filled at initialisation and on Save.
    QString m_strBaseUrl, m_strServer, m_strListFileName, m_strPort, m_strLinkAppendName;
    QString m_strLocalBaseDir, m_strTimeCheckSpan, m_strAllowFileType;
    int m_bAlwaysRegistry = 0;
    int m_bEncodeUrlUtf = 0;
    int m_nHttpsMode = 0;
    int m_nRegistryMode = 2;
    int m_nRunLoomhallVersion = 0;

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    void CreateControls();
    CCorvidFlxEditEx* AddEdit(int nId, int nLabelId, const char* pLabel, int nRow);
    CCorvidFlxComboBox* AddCombo(int nId, int nLabelId, const char* pLabel, int nRow,
                                 const char* const* ppItems);

    CTideCfg* m_pCfg;
    std::map<int, QWidget*> m_mapControl;
};
