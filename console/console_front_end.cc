#include "console/console_front_end.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include "app/message_box.h"
#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "app/tide_globals.h"
#include "log/my_log.h"
#include "platform/file_system.h"
#include "platform/profile.h"

int CConsoleFrontEnd::ShowMessageBox(const std::string& strText, const std::string& strCaption,
                                     unsigned nStyle) {
    std::cerr << "[" << strCaption << "] " << strText << std::endl;
    unsigned nButtons = nStyle & kMbButtonMask;
    if (nButtons == kMbOk) return kIdOk;
    bool bDefaultSecond = (nStyle & kMbDefButtonMask) == kMbDefButton2;
    int nYes = nButtons == kMbOkCancel ? kIdOk : kIdYes;
    int nNo = nButtons == kMbOkCancel ? kIdCancel : kIdNo;
    if (m_options.bAssumeYes) return nYes;
    if (m_options.bAssumeNo) return nNo;
    if (isatty(STDIN_FILENO) == 0) return bDefaultSecond ? nNo : nYes;
    for (;;) {
        std::cerr << (bDefaultSecond ? "(y/N) " : "(Y/n) ") << std::flush;
        std::string strAnswer;
        if (!std::getline(std::cin, strAnswer)) return bDefaultSecond ? nNo : nYes;
        if (strAnswer.empty()) return bDefaultSecond ? nNo : nYes;
        if (strAnswer == "y" || strAnswer == "Y") return nYes;
        if (strAnswer == "n" || strAnswer == "N") return nNo;
        if (nButtons == kMbYesNoCancel && (strAnswer == "c" || strAnswer == "C")) return kIdCancel;
    }
}

int CConsoleFrontEnd::RunMainDialog(CTideApp& app) {
    std::string strIni =
        platform::JoinPath(platform::JoinPath(g_szBaseDir, "config"), "Tidewell.ini");
    auto pCfg = std::make_unique<CTideCfg>(strIni);
    app.m_strToolExeName = std::string("Corvid@LoomhallKiro");
    if (app.m_bResourceMode != 0) {
        std::string strTypes = platform::GetProfileString("RESOURCE", "ALLOW_FILE_TYPE", "", strIni);
        if (!strTypes.empty()) app.ParseAllowFileType(strTypes);
    } else {
        UpdateLinkNames(app.m_strProductName, pCfg->m_strLinkAppendName);
    }
    TideLog(2, "CConsoleFrontEnd::RunMainDialog> Server = %s:%d, List = %s/%s",
            pCfg->m_strServer.c_str(), pCfg->m_nPort, pCfg->m_strBaseUrl.c_str(),
            pCfg->m_strListFileName.c_str());
    std::cout << "Installation: " << g_szBaseDir << "\n"
              << "Server: " << pCfg->m_strServer << ":" << pCfg->m_nPort << "\n";
    return 0;
}
