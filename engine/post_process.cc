// Post-processing of downloaded files by type: registry files, COM
// servers, deletions, fonts, .NET assemblies and programs (archives are in
// post_process_zip.cc). On Linux the Windows side is the Wine prefix: the
// registration tools are looked for in its folders and run through Wine.
// Programs get their working folder directly instead of through the
// process-wide current folder, which other threads share.
#include <vector>

#include "app/message_box.h"
#include "app/tide_globals.h"
#include "engine/post_process_util.h"
#include "engine/sync_engine.h"
#include "log/my_log.h"
#include "platform/file_system.h"
#include "platform/font.h"
#include "platform/system_error.h"
#include "platform/windows_side.h"
#include "platform/wine.h"
#include "util/file_util.h"

namespace {

const char* const kRegistryStatus = "레지스트리 파일 시스템 등록중...";
const char* const kRegisterStatus = "프로그램 파일 시스템 등록중...";
const char* const kDeleteStatus = "삭제 파일 처리중...";
const char* const kFontStatus = "글꼴 등록중...";
const char* const kExecuteStatus = "실행 파일 처리중...";
const char* const kNoRegAsmText =
    "시스템에서 RegAsm.exe 파일을 찾을 수 없어 레지스트리에 파일을 등록 할 수가 없습니다.";

bool IsDownloadedOfType(const FileItem& item, int nType) {
    return item.m_nFileType == nType && item.m_bDownloaded != 0;
}

// The COM handler's work on either list it may be given.
int RegisterByRegSvr32(CSyncEngine& engine, const std::vector<FileItem*>& vecItems) {
    if (vecItems.empty()) {
        TideLog(1, "CSyncEngine::HandleRegisterTypeFilesByRegSvr32> register file item is 0.");
        return 0;
    }
    engine.m_pDlg->SetStatusText(kRegisterStatus);
    if (!postproc::FindRegSvr32(engine.m_pDlg))
        return -2;
    std::string strRegSvr32 = postproc::RegSvr32Path();
    int nResult = 0;
    for (FileItem* pItem : vecItems) {
        if (!IsDownloadedOfType(*pItem, kFileTypeReg))
            continue;
        const std::string& strTarget = pItem->m_strTargetFile;
        if (strTarget.size() < 2 || strTarget.find(platform::kPathSep, 1) == std::string::npos) {
            TideLog(4, "CTideExeDlg::HandleRegisterTypeFilesByRegSvr32> Invalid registry file(%s).",
                    strTarget.c_str());
            nResult = -1;
            continue;
        }
        // Quoted so that a path with blanks stays one word; regsvr32 inside
        // Wine sees the file by its Windows path.
        std::string strParameters = "/s \"" + platform::ToWineWindowsPath(strTarget) + "\"";
        short nRet = engine.StartExeFileByShellExecute(strRegSvr32, strParameters, 1,
                                                       postproc::FolderOf(strTarget));
        if (nRet == 0) {
            TideLog(1,
                    "CTideExeDlg::HandleRegisterTypeFilesByRegSvr32> Registered by "
                    "StartExeFileByShellExecute(%s).",
                    strTarget.c_str());
        } else {
            TideLog(
                4,
                "CTideExeDlg::HandleRegisterTypeFilesByRegSvr32> StartExeFileByShellExecute(%s) "
                "failed, GetLastError() = %d",
                strTarget.c_str(), platform::GetLastSystemError());
            nResult = -1;
        }
    }
    return nResult;
}

}  // namespace

int CSyncEngine::HandleRegistryTypeFiles() {
    m_pDlg->SetStatusText(kRegistryStatus);
    int nResult = 0;
    for (const auto& pItem : m_DownFileItemList) {
        if (!IsDownloadedOfType(*pItem, kFileTypeRegFile))
            continue;
        if (ProcessRegistryFile(*pItem) < 0) {
            nResult = -1;
            // Missing locally, the file is downloaded and merged again next run.
            postproc::DeleteLocalFile("HandleRegistryTypeFiles", pItem->m_strTargetFile);
        }
    }
    return nResult;
}

int CSyncEngine::ProcessRegistryFile(FileItem& item) {
    const std::string& strTarget = item.m_strTargetFile;
    TideLog(1, "CSyncEngine::ProcessRegistryFile> Cmd Str : regedit -s %s ", strTarget.c_str());
    // Wine's registry editor imports into the prefix; it is not waited for.
    platform::CProcess process =
        platform::StartRegeditImport(strTarget, postproc::FolderOf(strTarget));
    if (!process.IsValid()) {
        TideLog(1, "CSyncEngine::ProcessRegistryFile> %s 파일 등록에 실패하였습니다.",
                strTarget.c_str());
        return -1;
    }
    TideLog(1, "CSyncEngine::ProcessRegistryFile> %s 파일 등록에 성공하였습니다.",
            strTarget.c_str());
    return 1;
}

int CSyncEngine::HandleRegisterTypeFilesByRegSvr32(const FileItemList& list) {
    std::vector<FileItem*> vecItems;
    for (const auto& pItem : list)
        vecItems.push_back(pItem.get());
    return RegisterByRegSvr32(*this, vecItems);
}

int CSyncEngine::HandleRegisterTypeFilesByRegSvr32(const std::list<FileItem*>& list) {
    return RegisterByRegSvr32(*this, std::vector<FileItem*>(list.begin(), list.end()));
}

int CSyncEngine::ProcessRegisterFile2ByRegSvr32(const std::string& strPath) {
    if (strPath.empty()) {
        TideLog(4, "CSyncEngine::ProcessRegisterFile2ByRegSvr32> Unknown file path.");
        return -1;
    }
    TideLog(1, "CSyncEngine::ProcessRegisterFile2ByRegSvr32> Target file = %s", strPath.c_str());
    std::string strFolder = postproc::FolderOf(strPath);
    std::string strName = postproc::FileNameOf(strPath);
    std::string strRegSvr32 = postproc::RegSvr32Path();
    std::string strCmd = strRegSvr32 + " /s " + strName;
    TideLog(1, "CSyncEngine::ProcessRegisterFile2ByRegSvr32> Cmd Str = %s", strCmd.c_str());
    // The name goes as one word (blanks included) and is found in the
    // program's working folder; regsvr32's own outcome is not awaited.
    platform::CProcess process =
        platform::StartShellProgram(strRegSvr32, {"/s", strName}, strFolder);
    if (!process.IsValid()) {
        int nError = platform::GetLastSystemError();
        TideLog(4, "CSyncEngine::ProcessRegisterFile2ByRegSvr32> WinExec(%s) Fail, ErrCode = %d",
                strCmd.c_str(), nError);
        return -2;
    }
    TideLog(2, "CSyncEngine::ProcessRegisterFile2ByRegSvr32> File(%s) is registered. RetVal = %d",
            strPath.c_str(), process.GetPid());
    return 1;
}

int CSyncEngine::HandleDeleteTypeFiles() {
    m_pDlg->SetStatusText(kDeleteStatus);
    for (const auto& pItem : m_DownFileItemList) {
        // Nothing is downloaded for these: the downloaded flag does not count.
        if (pItem->m_nFileType != kFileTypeDel)
            continue;
        const std::string& strTarget = pItem->m_strTargetFile;
        TideLog(2, "CSyncEngine::HandleDeleteTypeFiles> Delete Local Flle = %s", strTarget.c_str());
        if (!platform::DeleteFile(strTarget)) {
            TideLog(2, "CSyncEngine::HandleDeleteTypeFiles> DeleteFile(%s) Error, ErrCode = %d",
                    strTarget.c_str(), platform::GetLastSystemError());
        }
    }
    return 0;
}

int CSyncEngine::HandleFontTypeFiles() {
    m_pDlg->SetStatusText(kFontStatus);
    int nResult = 0;
    for (const auto& pItem : m_DownFileItemList) {
        if (!IsDownloadedOfType(*pItem, kFileTypeFont))
            continue;
        if (ProcessFontFile(*pItem) < 0)
            nResult = -1;
        else
            SetServerTimeAfterPostProcessing(*pItem);
    }
    return nResult;
}

int CSyncEngine::ProcessFontFile(FileItem& item) {
    const char* const kPrefix = "CSyncEngine::ProcessFontFile> ";
    TideLog(2, "%sm_strTargetFile = %s", kPrefix, item.m_strTargetFile.c_str());
    std::string strFontDir = platform::JoinPath(postproc::WindowsDir(), "Fonts");
    std::string strFontFile = postproc::FileNameOf(item.m_strTargetFile);
    std::string strDstFile = platform::JoinPath(strFontDir, strFontFile);
    TideLog(2, "%sstrFontDir = %s", kPrefix, strFontDir.c_str());
    TideLog(2, "%sstrFontFile = %s", kPrefix, strFontFile.c_str());
    TideLog(2, "%sstrDstFile = %s", kPrefix, strDstFile.c_str());

    // A font already there is kept only when it is this very font: an
    // updated font must replace the old one.
    bool bExists = platform::FileExists(strDstFile);
    if (bExists && !platform::SameFileContent(item.m_strTargetFile, strDstFile)) {
        TideLog(2, "%sPrevious Font(%s) differs from the download, replacing it", kPrefix,
                strDstFile.c_str());
        bExists = false;
    }
    if (bExists) {
        TideLog(2, "%sPrevious Font(%s) is Already Exist", kPrefix, strDstFile.c_str());
        int nRet = platform::AddFontFile(strDstFile);
        if (nRet > 0) {
            TideLog(2, "%sAddFontRecource(%s) Success. nRet = %d", kPrefix, strFontFile.c_str(),
                    nRet);
            return 0;
        }
        // A file in the fonts folder that holds no font is not installed.
        TideLog(2, "%sAddFontRecource(%s) Fail, ErrCode = %d", kPrefix, strFontFile.c_str(),
                platform::GetLastSystemError());
        return -3;
    }

    TideLog(2, "%sFont(%s) is not Exist", kPrefix, strDstFile.c_str());
    if (platform::RemoveFontFile(strDstFile)) {
        TideLog(2, "%sSuccess to Remove Previous Font(%s) Reource", kPrefix, strFontFile.c_str());
    } else {
        TideLog(2, "%sFail to Remove Previous Font(%s) Reource", kPrefix, strFontFile.c_str());
    }
    // A fresh prefix may not have its fonts folder yet.
    unsigned dwError = 0;
    CFileUtil::CreateDirectories(strDstFile, &dwError);
    // Copied beside and renamed over, so the folder never holds half a font.
    std::string strTemp = platform::JoinPath(strFontDir, "." + strFontFile + ".tidewell-part");
    if (!platform::CopyFileOver(item.m_strTargetFile, strTemp) ||
        !platform::MoveFileReplace(strTemp, strDstFile)) {
        int nError = platform::GetLastSystemError();
        platform::DeleteFile(strTemp);
        TideLog(4, "%sCopyFile(%s) Fail, ErrCode = %d", kPrefix, strDstFile.c_str(), nError);
        return -2;
    }
    TideLog(4, "%sCopyFile(%s) Success", kPrefix, strDstFile.c_str());
    int nRet = platform::AddFontFile(strDstFile);
    if (nRet > 0) {
        TideLog(2, "%sAddFontRecource(%s) Success, nRet = %d", kPrefix, strFontFile.c_str(), nRet);
        return 0;
    }
    TideLog(4, "%sAddFontRecource(%s) Fail, ErrCode = %d", kPrefix, strFontFile.c_str(),
            platform::GetLastSystemError());
    return -3;
}

int CSyncEngine::HandleRegisterTypeFilesByRegAsm(const FileItemList& list) {
    if (list.empty()) {
        TideLog(1, "CSyncEngine::HandleRegisterTypeFilesByRegAsm> register Asm file item is 0.");
        return 0;
    }
    m_pDlg->SetStatusText(kRegisterStatus);
    std::string strRegAsm = GetRegAsmFilePath();
    if (strRegAsm.empty() || !platform::FileExists(strRegAsm)) {
        m_pDlg->ShowMessageBox(kNoRegAsmText, postproc::kMessageCaption, kMbOk | kMbIconError);
        return -2;
    }
    int nResult = 0;
    for (const auto& pItem : list) {
        if (!IsDownloadedOfType(*pItem, kFileTypeAsm))
            continue;
        if (ProcessRegisterFileByRegAsm(*pItem, strRegAsm) < 0)
            nResult = -1;
    }
    return nResult;
}

std::string CSyncEngine::GetRegAsmFilePath() {
    std::string strWindows = postproc::WindowsDir();
    if (strWindows.empty()) {
        TideLog(4, "CSyncEngine::GetRegAsmFilePath> Windows directory is empty.");
        return std::string();
    }
    std::string strFramework =
        platform::JoinPath(platform::JoinPath(strWindows, "Microsoft.NET"), "Framework");
    std::vector<platform::DirEntry> vecEntries;
    platform::ListDirectory(strFramework, &vecEntries);
    // Only .NET 2.0 folders; hidden ones are skipped like system folders.
    for (const platform::DirEntry& entry : postproc::SortedByName(vecEntries)) {
        if (!entry.bDirectory || entry.strName.empty() || entry.strName[0] == '.')
            continue;
        if (entry.strName.compare(0, 5, "v2.0.") != 0)
            continue;
        std::string strPath =
            platform::JoinPath(platform::JoinPath(strFramework, entry.strName), "RegAsm.exe");
        if (platform::FileExists(strPath))
            return strPath;
    }
    TideLog(4, "CSyncEngine::GetRegAsmFilePath> 'RegAsm.exe' file-directory is empty.");
    return std::string();
}

int CSyncEngine::ProcessRegisterFileByRegAsm(FileItem& item, const std::string& strRegAsmPath) {
    const std::string& strTarget = item.m_strTargetFile;
    TideLog(1, "CSyncEngine::ProcessRegisterFileByRegAsm> Cmd Str : %s /silent %s",
            strRegAsmPath.c_str(), strTarget.c_str());
    std::string strName = postproc::FileNameOf(strTarget);
    std::string strCmd = strRegAsmPath + " /silent " + strName;
    platform::CProcess process = platform::StartShellProgram(strRegAsmPath, {"/silent", strName},
                                                             postproc::FolderOf(strTarget));
    if (!process.IsValid()) {
        int nError = platform::GetLastSystemError();
        TideLog(4, "CSyncEngine::ProcessRegisterFileByRegAsm> WinExec(%s) Fail, ErrCode = %d",
                strCmd.c_str(), nError);
        return -2;
    }
    TideLog(2, "CSyncEngine::ProcessRegisterFileByRegAsm> File(%s) is registered. RetVal = %d",
            strTarget.c_str(), process.GetPid());
    return 1;
}

int CSyncEngine::HandleExecuteTypeFiles() {
    m_pDlg->SetStatusText(kExecuteStatus);
    int nResult = 0;
    for (const auto& pItem : m_DownFileItemList) {
        if (!IsDownloadedOfType(*pItem, kFileTypeExe))
            continue;
        const std::string& strTarget = pItem->m_strTargetFile;
        // A download carries no permission bits; the list says this is a program.
        if (!platform::IsWindowsProgram(strTarget))
            platform::MakeExecutable(strTarget);
        short nRet = pItem->m_bWaitClose
                         ? StartExeFileByShellExecuteAndWaitClose(strTarget, pItem->m_strArguments)
                         : StartExeFileByShellExecute(strTarget, pItem->m_strArguments, 0);
        if (nRet != 0)
            nResult = -1;
    }
    return nResult;
}
