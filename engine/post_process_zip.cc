// Post-processing of archives: extraction into the archive's own folder,
// and for zip-reg archives the registration of every extracted file.
// The reader's root folder (where it creates folder members) is the
// archive's folder too, so nothing depends on the current folder.
#include <vector>

#include "engine/post_process_util.h"
#include "engine/sync_engine.h"
#include "log/my_log.h"
#include "platform/file_system.h"
#include "util/file_util.h"
#include "zip/unzip.h"

namespace {

const char* const kZipStatusPrefix = "압축파일 처리중... ";
const char* const kZipRegStatus = "Zip-Reg 파일 처리중...(다소 시간이 걸릴 수 있습니다.)";

bool IsFolderEntry(const ZipEntry& ze) {
    return (ze.attr & kZipAttrDirectory) != 0;
}

}  // namespace

int CSyncEngine::HandleZipTypeFiles(const FileItemList& list) {
    if (list.empty()) {
        TideLog(1, "CSyncEngine::HandleZipTypeFiles> zip file item is 0.");
        return 0;
    }
    m_pDlg->ResetProgress();
    TideLog(3, "CSyncEngine::HandleZipTypeFiles> Start...");
    m_pDlg->SetProgress(0, 0);
    int nTotal = static_cast<int>(list.size());
    int nProcessed = 0;
    int nResult = 0;
    for (const auto& pItem : list) {
        if (pItem->m_nFileType != kFileTypeZip || pItem->m_bDownloaded == 0)
            continue;
        ++nProcessed;
        m_pDlg->SetStatusText(kZipStatusPrefix + pItem->m_strSourceFile);
        m_pDlg->SetProgress(nProcessed, nTotal);
        if (ProcessZipFile(*pItem, nullptr) < 0) {
            // Missing locally, the archive is fetched and extracted again next run.
            postproc::DeleteLocalFile("HandleZipTypeFiles", pItem->m_strTargetFile);
            nResult = -1;
        } else {
            SetServerTimeAfterPostProcessing(*pItem);
        }
    }
    m_pDlg->SetProgress(1, 1);
    return nResult;
}

int CSyncEngine::HandleZipRegTypeFiles(const FileItemList& list) {
    if (list.empty()) {
        TideLog(1, "CSyncEngine::HandleZipRegTypeFiles> zip-reg file item is 0.");
        return 0;
    }
    m_pDlg->SetStatusText(kZipRegStatus);
    if (!postproc::FindRegSvr32(m_pDlg))
        return -2;
    int nResult = 0;
    for (const auto& pItem : list) {
        if (pItem->m_nFileType != kFileTypeZipReg || pItem->m_bDownloaded == 0)
            continue;
        std::vector<std::string> vecExtracted;
        if (ProcessZipFile(*pItem, &vecExtracted) < 0) {
            postproc::DeleteLocalFile("HandleZipRegTypeFiles", pItem->m_strTargetFile);
            nResult = -1;
            continue;
        }
        SetServerTimeAfterPostProcessing(*pItem);
        for (const std::string& strPath : vecExtracted) {
            if (ProcessRegisterFile2ByRegSvr32(strPath) < 0) {
                postproc::DeleteLocalFile("HandleZipRegTypeFiles", strPath);
                nResult = -1;
            }
        }
    }
    return nResult;
}

int CSyncEngine::ProcessZipFile(FileItem& item, std::vector<std::string>* pvecExtracted) {
    const char* const kPrefix = "CSyncEngine::ProcessZipFile> ";
    const std::string& strZipPath = item.m_strTargetFile;
    TideLog(1, "%sZip File Path = %s", kPrefix, strZipPath.c_str());
    std::string strUnZipFileDir = postproc::FolderOf(strZipPath);
    ZipHandle hZip = OpenZipFile(strZipPath.c_str(), 0, kZipKindFileName, strUnZipFileDir.c_str());
    if (hZip == nullptr) {
        TideLog(4, "%sCan't Open Zip File", kPrefix);
        return -1;
    }
    ZipEntry ze;
    GetZipItem(hZip, -1, &ze);
    int nCount = ze.index;
    TideLog(1, "%sZip Item Count = %d", kPrefix, nCount);

    int nResult = 1;
    for (int i = 0; i < nCount; ++i) {
        // Names that are absolute or climb out with ".." are refused here,
        // so nothing is written for them and the archive counts as failed.
        ZipResult nRet = GetZipItem(hZip, i, &ze);
        if (nRet != kZipOk) {
            TideLog(
                4, "CTideExeDlg::ProcessZipFile> Can't Get Zip Item, Index = %d, Return Value = %d",
                i, static_cast<int>(nRet));
            nResult = -2;
            break;
        }
        std::string strZipEntryPathAndName = ze.name;
        std::string strUnzipFilePath = platform::JoinPath(strUnZipFileDir, strZipEntryPathAndName);
        TideLog(1, "%sze.name = %s", kPrefix, ze.name);
        TideLog(1, "%sstrZipEntryPathAndName = %s", kPrefix, strZipEntryPathAndName.c_str());
        TideLog(1, "%sstrUnZipFileDir = %s", kPrefix, strUnZipFileDir.c_str());
        TideLog(1, "%sstrUnzipFilePath = %s", kPrefix, strUnzipFilePath.c_str());

        unsigned dwError = 0;
        int nDirRet = CFileUtil::CreateDirectories(strUnzipFilePath, &dwError);
        if (nDirRet < 0) {
            if (nDirRet == -2) {
                TideLog(4, "%s'%s' >> Directory path unknown.", kPrefix, strUnzipFilePath.c_str());
            } else if (nDirRet == -3) {
                TideLog(4, "%s'%s' >> Invalid directory path.", kPrefix, strUnzipFilePath.c_str());
            } else {
                TideLog(4, "%s'%s' >> Directory creation(or exists) failed. (GetLastError() is %d)",
                        kPrefix, strUnzipFilePath.c_str(), static_cast<int>(dwError));
            }
            CloseZipFile(hZip);
            return -4;
        }
        TideLog(1, "%sTry To Clear Read Only Property", kPrefix);
        CFileUtil::ClearReadOnly(strUnzipFilePath);
        // The member is written beside and renamed over the old file, so a
        // member that fails leaves the old file as it was.
        nRet = UnzipItem(hZip, i, strUnzipFilePath.c_str(), 0, kZipKindFileName);
        if (nRet != kZipOk) {
            char szText[128];
            FormatZipResult(nRet, szText, sizeof(szText));
            TideLog(4, "%sUnzipItem() Fail, Index = %d, Return Value = %d (%s)", kPrefix, i,
                    static_cast<int>(nRet), szText);
            nResult = -3;
            break;
        }
        TideLog(1, "%sUnzipItem() Success, Index = %d", kPrefix, i);
        // Folders are no COM servers: only files are handed on for registration.
        if (pvecExtracted != nullptr && !IsFolderEntry(ze)) {
            pvecExtracted->push_back(strUnzipFilePath);
            TideLog(1, "%sMake a list of Unzip file path. = %s", kPrefix, strUnzipFilePath.c_str());
        }
    }

    TideLog(1, "%sTry To Close Zip File", kPrefix);
    ZipResult nClose = CloseZipFile(hZip);
    if (nClose == kZipOk) {
        TideLog(1, "%sSuccess To Close Zip File", kPrefix);
    } else {
        TideLog(4, "%sFail To Close Zip File, Return Value = %d", kPrefix,
                static_cast<int>(nClose));
    }
    return nResult;
}
