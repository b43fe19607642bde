#include "dialogs/setup_dlg.h"

#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "controls/corvid_theme.h"
#include "controls/flat_check_box.h"
#include "controls/flx_combo.h"
#include "controls/flx_edit.h"
#include "controls/flx_group_box.h"
#include "controls/image_static.h"
#include "controls/resources.h"
#include "controls/theme_button.h"
#include "engine/run_controller.h"
#include "platform/file_system.h"

namespace {

constexpr int kLabelLeft = 24;
constexpr int kLabelWidth = 170;
constexpr int kFieldLeft = 200;
constexpr int kFieldWidth = 255;
constexpr int kRowTop = 30;
constexpr int kRowStep = 30;
constexpr int kRowHeight = 22;

const char* const kHttpsItems[] = {"0 : none", "1 : 인증서 오류 무시",
                                   "2 : 인증서 오류 발생시 확인 메세지 보기", nullptr};
const char* const kRegistryItems[] = {"0 : Regsvr32", "1 : LoadLibraryEx", "2 : ShellExecuteEx",
                                      nullptr};
const char* const kEditionItems[] = {"0 : Corvid5 Loomhall", "1 : Corvid5 Loomhall Kiro", nullptr};

// Labels whose bullet is picture 2 of the marker strip.
const int kBulletLabels[] = {1034, 1018, 1017, 1016, 1031, 1027, 1025, 1021, 1019, 1022, 1020};

int ClampSelection(int nValue, int nFallback) {
    return nValue < 0 || nValue > 2 ? nFallback : nValue;
}

}  // namespace

CXSetupDlg::CXSetupDlg(CTideCfg* pCfg, QWidget* pParent)
    : CCorvidCustomDialog(pParent), m_pCfg(pCfg) {
    SetCaption(QStringLiteral("환경설정"));
    SetClientSize(QSize(480, 370));
    CreateControls();
}

CXSetupDlg::~CXSetupDlg() = default;

QWidget* CXSetupDlg::GetControl(int nId) const {
    auto it = m_mapControl.find(nId);
    return it == m_mapControl.end() ? nullptr : it->second;
}

CCorvidFlxEditEx* CXSetupDlg::AddEdit(int nId, int nLabelId, const char* pLabel, int nRow) {
    QWidget* pClient = GetClientArea();
    auto* pLabelCtrl = new CImageStaticCtrl(QString::fromUtf8(pLabel), pClient);
    pLabelCtrl->setGeometry(kLabelLeft, kRowTop + nRow * kRowStep, kLabelWidth, kRowHeight);
    auto* pEdit = new CCorvidFlxEditEx(pClient);
    pEdit->setGeometry(kFieldLeft, kRowTop + nRow * kRowStep, kFieldWidth, kRowHeight);
    m_mapControl[nLabelId] = pLabelCtrl;
    m_mapControl[nId] = pEdit;
    return pEdit;
}

CCorvidFlxComboBox* CXSetupDlg::AddCombo(int nId, int nLabelId, const char* pLabel, int nRow,
                                         const char* const* ppItems) {
    QWidget* pClient = GetClientArea();
    auto* pLabelCtrl = new CImageStaticCtrl(QString::fromUtf8(pLabel), pClient);
    pLabelCtrl->setGeometry(kLabelLeft, kRowTop + nRow * kRowStep, kLabelWidth, kRowHeight);
    auto* pCombo = new CCorvidFlxComboBox(pClient);
    pCombo->setGeometry(kFieldLeft, kRowTop + nRow * kRowStep, kFieldWidth, kRowHeight);
    for (const char* const* pp = ppItems; *pp != nullptr; ++pp) {
        pCombo->addItem(QString::fromUtf8(*pp));
    }
    m_mapControl[nLabelId] = pLabelCtrl;
    m_mapControl[nId] = pCombo;
    return pCombo;
}

void CXSetupDlg::CreateControls() {
    QWidget* pClient = GetClientArea();
    auto* pGroup = new CCorvidFlxGroupBox(pClient);
    pGroup->setGeometry(10, 8, 460, 300);
    m_mapControl[kIdGroup] = pGroup;

    AddCombo(kIdHttps, 1034, "HTTPS :", 0, kHttpsItems);
    AddEdit(kIdServer, 1016, "서버 IP 주소 :", 1);
    AddEdit(kIdPort, 1017, "서버 포트 번호 :", 2);
    AddEdit(kIdBaseUrl, 1018, "기본 URL :", 3);
    AddEdit(kIdListFile, 1019, "리스트 파일 이름 :", 4);
    AddEdit(kIdLocalDir, 1021, "로컬 기본 디렉토리 :", 5);
    AddEdit(kIdSpan, 1022, "체크 타임 SPAN :", 6);
    auto* pEncode = new CQuenbyDesignerFlatCheckBox(QStringLiteral("URL 인코딩(UTF8)."), pClient);
    pEncode->setGeometry(kFieldLeft, kRowTop + 7 * kRowStep, kFieldWidth, kRowHeight);
    m_mapControl[kIdEncodeUrl] = pEncode;
    AddEdit(kIdAllowTypes, 1027, "리소스 업데이트 파일 확장자 :", 8);

    // Fields the template keeps hidden share rows with visible ones.
    auto* pAlways =
        new CQuenbyDesignerFlatCheckBox(QStringLiteral("항상 레지스트리 등록 실행."), pClient);
    pAlways->setGeometry(kLabelLeft, kRowTop + 7 * kRowStep, kLabelWidth, kRowHeight);
    m_mapControl[kIdAlwaysRegistry] = pAlways;
    AddEdit(kIdLinkAppend, 1020, "링크 이름 추가 :", 8)->hide();
    GetControl(1020)->hide();
    AddCombo(kIdRegistryMode, 1025, "레지스트리 등록 모드 :", 6, kRegistryItems)->hide();
    GetControl(1025)->hide();
    AddCombo(kIdEdition, kIdEditionLabel, "완료 후 실행 :", 8, kEditionItems)->hide();
    GetControl(kIdEditionLabel)->hide();

    auto* pSeparator = new CImageStaticCtrl(pClient);
    pSeparator->setGeometry(10, 320, 460, 1);
    m_mapControl[kIdSeparator] = pSeparator;
    auto* pSave = new CThemeButton(QStringLiteral("저장"), pClient);
    pSave->setGeometry(280, 332, 90, 28);
    auto* pCancel = new CThemeButton(QStringLiteral("취소"), pClient);
    pCancel->setGeometry(380, 332, 90, 28);
    m_mapControl[kIdSave] = pSave;
    m_mapControl[kIdCancelButton] = pCancel;
    connect(pSave, &QAbstractButton::clicked, this, [this] { OnOK(); });
    connect(pCancel, &QAbstractButton::clicked, this, [this] { OnCancel(); });

    auto* pHttps = static_cast<CCorvidFlxComboBox*>(GetControl(kIdHttps));
    connect(pHttps, &QComboBox::currentIndexChanged, this,
            [this](int nIndex) { m_nHttpsMode = ClampSelection(nIndex, 0); });
    connect(static_cast<CCorvidFlxComboBox*>(GetControl(kIdRegistryMode)),
            &QComboBox::currentIndexChanged, this,
            [this](int nIndex) { m_nRegistryMode = nIndex; });
    connect(static_cast<CCorvidFlxComboBox*>(GetControl(kIdEdition)),
            &QComboBox::currentIndexChanged, this,
            [this](int nIndex) { m_nRunLoomhallVersion = nIndex; });
    connect(pEncode, &QAbstractButton::clicked, this,
            [this, pEncode] { m_bEncodeUrlUtf = pEncode->GetCheck(); });
    connect(pAlways, &QAbstractButton::clicked, this,
            [this, pAlways] { m_bAlwaysRegistry = pAlways->GetCheck(); });
}

bool CXSetupDlg::OnInitDialog() {
    CCorvidCustomDialog::OnInitDialog();
    static_cast<CImageStaticCtrl*>(GetControl(kIdSeparator))->SetBackColor(GetThemeColor(26));
    QImage imgBullets = LoadPngResource(GetThemeMode() == 1 ? kPngMarkersDark : kPngMarkersLight);
    for (int nId : kBulletLabels) {
        auto* pLabel = static_cast<CImageStaticCtrl*>(GetControl(nId));
        pLabel->SetImage(imgBullets, 0, 2);
        pLabel->SetTextColor(GetThemeColor(1));
        pLabel->SetBackColor(GetThemeColor(0));
    }

    const CTideCfg& cfg = *m_pCfg;
    m_strBaseUrl = QString::fromStdString(cfg.m_strBaseUrl);
    m_strServer = QString::fromStdString(cfg.m_strServer);
    m_strListFileName = QString::fromStdString(cfg.m_strListFileName);
    m_strPort = QString::number(cfg.m_nPort);
    m_strLinkAppendName = QString::fromStdString(cfg.m_strLinkAppendName);
    m_strLocalBaseDir = QString::fromStdString(cfg.m_strLocalBaseDir);
    m_strTimeCheckSpan = QString::number(cfg.m_nTimeCheckSpan);
    static_cast<CCorvidFlxEditEx*>(GetControl(kIdLocalDir))->EnableWindow(false);

    m_nHttpsMode = ClampSelection(cfg.m_nHttpsMode, 0);
    m_nRegistryMode = ClampSelection(cfg.m_nRegistryMode, 2);
    m_bEncodeUrlUtf = cfg.m_bEncodeUrlUtf;
    m_bAlwaysRegistry = cfg.m_bAlwaysRegistry;
    auto* pAlways = static_cast<CQuenbyDesignerFlatCheckBox*>(GetControl(kIdAlwaysRegistry));
    pAlways->EnableAndRedraw(false);
    pAlways->hide();
    m_strAllowFileType = QString::fromStdString(cfg.m_strAllowFileType);

    // Without the Kiro edition installed the other edition's tool is started.
    std::string strTool = platform::JoinPath(cfg.m_strLocalBaseDir, kToolExeName);
    m_nRunLoomhallVersion = cfg.m_nRunLoomhallVersion;
    if (!platform::FileExists(strTool)) {
        m_pCfg->m_nRunLoomhallVersion = 0;
        m_nRunLoomhallVersion = 0;
        if (CTideApp* pApp = GetTideApp()) {
            pApp->m_strProductName = "Corvid5 Loomhall Kiro";
            pApp->m_strToolExeName = "Corvid@Loomhall";
        }
        static_cast<CCorvidFlxComboBox*>(GetControl(kIdEdition))->EnableWindow(false);
        GetControl(kIdEdition)->hide();
        GetControl(kIdEditionLabel)->hide();
    }

    // Transfer the members to the controls; selection signals may rewrite
    // the members, so the values are taken first.
    int nHttps = m_nHttpsMode, nRegistry = m_nRegistryMode, nEdition = m_nRunLoomhallVersion;
    static_cast<CCorvidFlxComboBox*>(GetControl(kIdHttps))->SetCurSel(nHttps);
    static_cast<CCorvidFlxComboBox*>(GetControl(kIdRegistryMode))->SetCurSel(nRegistry);
    static_cast<CCorvidFlxComboBox*>(GetControl(kIdEdition))->SetCurSel(nEdition);
    m_nHttpsMode = nHttps;
    m_nRegistryMode = nRegistry;
    m_nRunLoomhallVersion = nEdition;
    static_cast<CQuenbyDesignerFlatCheckBox*>(GetControl(kIdEncodeUrl))->SetCheck(m_bEncodeUrlUtf);
    pAlways->SetCheck(m_bAlwaysRegistry);
    auto setText = [this](int nId, const QString& str) {
        static_cast<CCorvidFlxEditEx*>(GetControl(nId))->setText(str);
    };
    setText(kIdBaseUrl, m_strBaseUrl);
    setText(kIdServer, m_strServer);
    setText(kIdListFile, m_strListFileName);
    setText(kIdPort, m_strPort);
    setText(kIdLinkAppend, m_strLinkAppendName);
    setText(kIdLocalDir, m_strLocalBaseDir);
    setText(kIdSpan, m_strTimeCheckSpan);
    setText(kIdAllowTypes, m_strAllowFileType);
    return true;
}

void CXSetupDlg::OnOK() {
    auto text = [this](int nId) { return static_cast<CCorvidFlxEditEx*>(GetControl(nId))->text(); };
    m_strLocalBaseDir = text(kIdLocalDir);
    m_strPort = text(kIdPort);
    m_strServer = text(kIdServer);
    m_strBaseUrl = text(kIdBaseUrl);
    m_strListFileName = text(kIdListFile);
    m_strLinkAppendName = text(kIdLinkAppend);
    m_strTimeCheckSpan = text(kIdSpan);
    m_strAllowFileType = text(kIdAllowTypes);
    m_bEncodeUrlUtf =
        static_cast<CQuenbyDesignerFlatCheckBox*>(GetControl(kIdEncodeUrl))->GetCheck();
    m_bAlwaysRegistry =
        static_cast<CQuenbyDesignerFlatCheckBox*>(GetControl(kIdAlwaysRegistry))->GetCheck();
    CCorvidCustomDialog::OnOK();
}

void CXSetupDlg::ApplyTo(CTideCfg& cfg) const {
    cfg.m_nPort = atoi(m_strPort.toStdString().c_str());
    cfg.m_strServer = m_strServer.toStdString();
    cfg.m_strBaseUrl = m_strBaseUrl.toStdString();
    cfg.m_strListFileName = m_strListFileName.toStdString();
    cfg.m_strLinkAppendName = m_strLinkAppendName.toStdString();
    cfg.m_nTimeCheckSpan = atoi(m_strTimeCheckSpan.toStdString().c_str());
    int nHttps = static_cast<CCorvidFlxComboBox*>(GetControl(kIdHttps))->GetCurSel();
    cfg.m_nHttpsMode = ClampSelection(nHttps, 0);
    // The registry combo is hidden and not read.
    cfg.m_nRegistryMode = 2;
    cfg.m_bAlwaysRegistry = m_bAlwaysRegistry;
    cfg.m_bEncodeUrlUtf = m_bEncodeUrlUtf;
    cfg.m_strAllowFileType = m_strAllowFileType.toStdString();
}
