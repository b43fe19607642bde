// The planning run (--plan): the list goes to a scratch folder, the check
// pass runs without asking, and what a run would do is collected. Nothing in
// the installation is written, removed or touched.
#include "engine/update_plan.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/message_box.h"
#include "app/tide_cfg.h"
#include "engine/sync_engine.h"
#include "log/my_log.h"
#include "platform/codepage.h"
#include "platform/file_system.h"
#include "util/file_util.h"

namespace {

const char* const kNoListText =
    "리스트 파일을 가져오는 도중에 오류가 발생했습니다.\r\n잠시후에 재시도 하여 주십시요.";

// The post-processing steps of a run, in its order, by file type.
struct StepOfType {
    int nFileType;
    const char* pszStep;
};
constexpr StepOfType kStepsAfterRegister[] = {
    {kFileTypeFont, "install_font"},
    {kFileTypeZip, "unzip"},
    {kFileTypeZipReg, "unzip_register"},
    {kFileTypeAsm, "register_assembly"},
    {kFileTypeExe, "run"},
};

const char* ReasonText(int nReason) {
    switch (nReason) {
        case kReasonMissing:
            return "missing";
        case kReasonSize:
            return "size";
        case kReasonTime:
            return "time";
        default:
            return "unreadable";
    }
}

// Everything up to the end code; -1 when the run ends without one.
int PlanInScratch(CSyncEngine& e) {
    ISyncFrontEnd* pDlg = e.m_pDlg;
    if (e.GetAndDisplaySystemInfo() < 0)
        return -1;
    e.InitListFileItem();
    if (e.GetServerFileInfo(g_ListFileItem) < 0 || e.DownloadAndMergeListFile() < 0) {
        pDlg->ShowMessageBox(kNoListText, "오류", kMbOk | kMbIconError);
        return kSyncEndNoListFile;
    }
    pDlg->AdvanceStage();
    int r = e.DownloadFilesInListFromServer();
    pDlg->AdvanceStage();
    if (e.m_nRequestStopFlag != 0 || r < 0)
        return -1;
    CollectUpdatePlan(e, e.m_pPlan);
    return kSyncEndDone;
}

void AppendJsonString(std::string* pOut, std::string_view str) {
    *pOut += '"';
    for (size_t i = 0; i < str.size();) {
        auto c = static_cast<unsigned char>(str[i]);
        if (c >= 0x80) {
            // Take a whole valid sequence, or replace one stray byte.
            size_t nLen = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (nLen > 1 && i + nLen <= str.size() && platform::IsValidUtf8(str.substr(i, nLen))) {
                pOut->append(str.substr(i, nLen));
                i += nLen;
            } else {
                *pOut += "\\ufffd";
                ++i;
            }
            continue;
        }
        if (c == '"' || c == '\\') {
            *pOut += '\\';
            *pOut += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char szEscape[8];
            snprintf(szEscape, sizeof(szEscape), "\\u%04x", c);
            *pOut += szEscape;
        } else {
            *pOut += static_cast<char>(c);
        }
        ++i;
    }
    *pOut += '"';
}

}  // namespace

bool UpdatePlan::IsUpToDate() const {
    return vecDownloads.empty() && vecDeletes.empty() && vecUnchecked.empty();
}

int CSyncEngine::PlanThreadMain(CSyncEngine* pEngine) {
    CSyncEngine& e = *pEngine;
    TideLog(1, "PlanThreadMain::Start Thread Main Function, Set m_nNowRunningFlag = 1");
    e.m_nNowRunningFlag = 1;
    int nCode = -1;
    std::string strScratch = platform::MakePrivateTempFolder("tidewell-plan-");
    if (strScratch.empty()) {
        e.m_pDlg->ShowMessageBox("Cannot create a scratch folder for the list file.", "오류",
                                 kMbOk | kMbIconError);
    } else {
        e.m_strListFilePath = platform::JoinPath(strScratch, "list");
        nCode = PlanInScratch(e);
        CFileUtil::DeleteDirectory(strScratch, false);
    }
    e.m_nNowRunningFlag = 0;
    TideLog(1, "PlanThreadMain::Exit Thread Main Function, code %d", nCode);
    if (nCode >= 0)
        e.m_pDlg->PostSyncEnd(nCode);
    return 0;
}

void CollectUpdatePlan(const CSyncEngine& e, UpdatePlan* pPlan) {
    *pPlan = UpdatePlan();
    for (const FileItem* pItem : e.m_ToDownloadFileItemList) {
        PlannedDownload download;
        download.strPath = pItem->m_strSourceFile;
        download.strTarget = pItem->m_strTargetFile;
        download.nReason = pItem->m_nDownloadReason;
        char* pEnd = nullptr;
        unsigned long long nSize = strtoull(pItem->m_strFileSize.c_str(), &pEnd, 10);
        if (pItem->m_bSizeUnknown == 0 && !pItem->m_strFileSize.empty() && *pEnd == '\0' &&
            nSize <= static_cast<unsigned long long>(INT64_MAX)) {
            download.nSize = static_cast<int64_t>(nSize);
            pPlan->nTotalBytes += nSize;
        }
        pPlan->vecDownloads.push_back(download);
    }
    for (const auto& pItem : e.m_DownFileItemList) {
        if (pItem->m_nDownloadReason == kReasonUnchecked)
            pPlan->vecUnchecked.push_back(pItem->m_strSourceFile);
    }
    // Nothing is post-processed in the resource update mode.
    if (e.m_bResourceMode != 0)
        return;

    auto AddDownloadsOfType = [&](int nType, const char* pszStep) {
        for (const FileItem* pItem : e.m_ToDownloadFileItemList) {
            if (pItem->m_nFileType == nType)
                pPlan->vecSteps.push_back({pszStep, pItem->m_strSourceFile});
        }
    };
    AddDownloadsOfType(kFileTypeRegFile, "import_registry");
    // Registered every run while the settings say always, else when downloaded.
    if (e.m_pCfg != nullptr && e.m_pCfg->m_bAlwaysRegistry != 0) {
        for (const auto& pItem : e.m_RegFileItemList)
            pPlan->vecSteps.push_back({"register", pItem->m_strSourceFile});
    } else {
        AddDownloadsOfType(kFileTypeReg, "register");
    }
    for (const auto& pItem : e.m_DownFileItemList) {
        if (pItem->m_nFileType == kFileTypeDel && pItem->m_bUnsafeTarget == 0 &&
            platform::FileExists(pItem->m_strTargetFile)) {
            pPlan->vecDeletes.push_back(pItem->m_strTargetFile);
        }
    }
    for (const StepOfType& step : kStepsAfterRegister)
        AddDownloadsOfType(step.nFileType, step.pszStep);
}

std::string UpdatePlanToJson(const UpdatePlan& plan) {
    std::string strOut = "{\n  \"up_to_date\": ";
    strOut += plan.IsUpToDate() ? "true" : "false";
    strOut += ",\n  \"total_bytes\": " + std::to_string(plan.nTotalBytes);
    strOut += ",\n  \"download\": [";
    for (size_t i = 0; i < plan.vecDownloads.size(); ++i) {
        const PlannedDownload& d = plan.vecDownloads[i];
        strOut += i == 0 ? "\n    {\"path\": " : ",\n    {\"path\": ";
        AppendJsonString(&strOut, d.strPath);
        strOut += ", \"target\": ";
        AppendJsonString(&strOut, d.strTarget);
        strOut += ", \"size\": " + (d.nSize < 0 ? std::string("null") : std::to_string(d.nSize));
        strOut += ", \"reason\": \"" + std::string(ReasonText(d.nReason)) + "\"}";
    }
    strOut += plan.vecDownloads.empty() ? "]" : "\n  ]";
    auto AppendList = [&strOut](const char* pszName, const std::vector<std::string>& vec) {
        strOut += ",\n  \"" + std::string(pszName) + "\": [";
        for (size_t i = 0; i < vec.size(); ++i) {
            strOut += i == 0 ? "\n    " : ",\n    ";
            AppendJsonString(&strOut, vec[i]);
        }
        strOut += vec.empty() ? "]" : "\n  ]";
    };
    AppendList("delete", plan.vecDeletes);
    strOut += ",\n  \"post_processing\": [";
    for (size_t i = 0; i < plan.vecSteps.size(); ++i) {
        strOut += i == 0 ? "\n    {\"step\": \"" : ",\n    {\"step\": \"";
        strOut += plan.vecSteps[i].strStep + "\", \"path\": ";
        AppendJsonString(&strOut, plan.vecSteps[i].strPath);
        strOut += "}";
    }
    strOut += plan.vecSteps.empty() ? "]" : "\n  ]";
    AppendList("unchecked", plan.vecUnchecked);
    strOut += "\n}\n";
    return strOut;
}
