#include "engine/post_process_util.h"

#include <algorithm>

#include "app/message_box.h"
#include "app/tide_globals.h"
#include "engine/sync_front_end.h"
#include "log/my_log.h"
#include "platform/system_error.h"
#include "platform/windows_side.h"

namespace postproc {

const char* const kMessageCaption = "Corvid5@LoomhallKiro 업데이트";

namespace {

const char* const kNoRegSvr32Text =
    "시스템에서 regsvr32.exe 파일을 찾을 수 없어 레지스트리에 파일을 등록 할 수가 없습니다.";

}  // namespace

std::string WindowsDir() {
    return g_szWindowsDir.empty() ? platform::GetWindowsFolder() : g_szWindowsDir;
}

std::string SystemDir() {
    return g_szSystemDir.empty() ? platform::GetSystemFolder() : g_szSystemDir;
}

std::string RegSvr32Path() {
    return platform::JoinPath(SystemDir(), "regsvr32.exe");
}

bool FindRegSvr32(ISyncFrontEnd* pDlg) {
    if (platform::FileExists(RegSvr32Path()))
        return true;
    pDlg->ShowMessageBox(kNoRegSvr32Text, kMessageCaption, kMbOk | kMbIconError);
    return false;
}

std::string FolderOf(const std::string& strPath) {
    size_t nSep = strPath.rfind(platform::kPathSep);
    return nSep == std::string::npos ? std::string() : strPath.substr(0, nSep);
}

std::string FileNameOf(const std::string& strPath) {
    size_t nSep = strPath.rfind(platform::kPathSep);
    return nSep == std::string::npos ? strPath : strPath.substr(nSep + 1);
}

void DeleteLocalFile(const char* pszHandler, const std::string& strPath) {
    TideLog(3, "CSyncEngine::%s> Delete Local Flle = %s", pszHandler, strPath.c_str());
    if (!platform::DeleteFile(strPath)) {
        TideLog(4, "CSyncEngine::%s> DeleteFile(%s) Error, ErrCode = %d", pszHandler,
                strPath.c_str(), platform::GetLastSystemError());
    }
}

std::vector<platform::DirEntry> SortedByName(std::vector<platform::DirEntry> vecEntries) {
    std::sort(vecEntries.begin(), vecEntries.end(),
              [](const platform::DirEntry& a, const platform::DirEntry& b) {
                  return a.strName < b.strName;
              });
    return vecEntries;
}

}  // namespace postproc
