// Times the engine's HTTP transfer on one kept-alive connection, the way a
// run uses it, and prints the seconds taken. bench/http_bench.py drives it.
// Usage:
//   http_bench head <port> <count> <path prefix>      [--log <dir>]
//     HEAD of <prefix>00000, <prefix>00001, ... (five digits)
//   http_bench get <port> <dir/name> <target> <size>   [--log <dir>]
//   http_bench check <port> <count> <path prefix> <N>  [--log <dir>]
//     the check pass over the same files, none with size or time in the
//     list: their HEADs, N at a time (PARALLEL_TRANSFERS)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/message_box.h"
#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "engine/sync_engine.h"
#include "log/my_log.h"

namespace {

// Answers the update question with yes and shows nothing.
class CQuietFrontEnd : public ISyncFrontEnd {
public:
    void SetStatusText(const std::string&) override {}
    void SetProgress(int, int) override {}
    void AdvanceStage() override {}
    void ResetProgress() override {}
    void OnButtonStop() override {}
    int ShowMessageBox(const std::string&, const std::string&, unsigned) override { return kIdNo; }
    int AskUpdate() override { return kIdYes; }
    void HideWindow() override {}
    void PostSyncEnd(int) override {}
    const SpecialDirMap& GetSpecialDirMap() override { return m_map; }

private:
    SpecialDirMap m_map;
};

int Usage(const char* pszProgram) {
    std::fprintf(stderr,
                 "usage: %s head <port> <count> <path prefix> [--log <dir>]\n"
                 "       %s get <port> <dir/name> <target> <size> [--log <dir>]\n"
                 "       %s check <port> <count> <path prefix> <N> [--log <dir>]\n",
                 pszProgram, pszProgram, pszProgram);
    return 2;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int RunHeads(CSyncEngine& engine, int nCount, const std::string& strPrefix) {
    char szNumber[16];
    std::string strTime;
    std::string strErrText;
    uint64_t nSize = 0;
    int nErrCode = 0;
    int bSizeUnknown = 0;
    int nGzip = 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < nCount; ++i) {
        std::snprintf(szNumber, sizeof(szNumber), "%05d", i);
        std::string strPath = strPrefix + szNumber;
        int nResult = engine.GetServerFileInfo(strPath, &strTime, &nSize, 0, &nErrCode, &strErrText,
                                               &bSizeUnknown, &nGzip);
        if (nResult != 0) {
            std::fprintf(stderr, "HEAD %s: %d (%d %s)\n", strPath.c_str(), nResult, nErrCode,
                         strErrText.c_str());
            return 1;
        }
    }
    std::printf("%.6f\n", SecondsSince(start));
    return 0;
}

// The whole check pass, as a run makes it; every file is missing locally.
int RunCheckPass(CSyncEngine& engine, CTideCfg& cfg, int nCount, const std::string& strPrefix) {
    size_t nSlash = strPrefix.rfind('/');
    cfg.m_strBaseUrl = nSlash == std::string::npos ? "." : strPrefix.substr(0, nSlash);
    std::string strName = strPrefix.substr(nSlash == std::string::npos ? 0 : nSlash + 1);
    char szNumber[16];
    for (int i = 0; i < nCount; ++i) {
        std::snprintf(szNumber, sizeof(szNumber), "%05d", i);
        auto pItem = std::make_unique<FileItem>();
        pItem->m_strSourceFile = strName + szNumber;
        pItem->m_strTargetFile = "/nonexistent/" + pItem->m_strSourceFile;
        engine.m_DownFileItemList.push_back(std::move(pItem));
    }
    CQuietFrontEnd frontEnd;
    engine.m_pDlg = &frontEnd;
    auto start = std::chrono::steady_clock::now();
    int nResult = engine.DownloadFilesInListFromServer();
    double dSeconds = SecondsSince(start);
    engine.m_pDlg = nullptr;
    if (nResult != 1 || engine.m_ToDownloadFileItemList.size() != static_cast<size_t>(nCount)) {
        std::fprintf(stderr, "check pass: %d, %zu of %d checked\n", nResult,
                     engine.m_ToDownloadFileItemList.size(), nCount);
        return 1;
    }
    std::printf("%.6f\n", dSeconds);
    return 0;
}

// The engine asks for "<base URL>/<source>": the path's folder is the base.
int RunGet(CSyncEngine& engine, CTideCfg& cfg, const std::string& strPath, const char* pszTarget,
           const char* pszSize) {
    size_t nSlash = strPath.rfind('/');
    cfg.m_strBaseUrl = nSlash == std::string::npos ? "." : strPath.substr(0, nSlash);
    FileItem item;
    item.m_strSourceFile = strPath.substr(nSlash == std::string::npos ? 0 : nSlash + 1);
    item.m_strTargetFile = pszTarget;
    item.m_strFileSize = pszSize;
    item.m_strModifyTime = "20240315090702";
    item.m_nGzip = 0;
    int nErrCode = 0;
    std::string strErrText;
    auto start = std::chrono::steady_clock::now();
    int nResult = engine.DownloadOneFileFromServer(item, 0, &nErrCode, &strErrText);
    double dSeconds = SecondsSince(start);
    if (nResult != 0) {
        std::fprintf(stderr, "GET %s: %d (%d %s)\n", strPath.c_str(), nResult, nErrCode,
                     strErrText.c_str());
        return 1;
    }
    std::printf("%.6f\n", dSeconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::unique_ptr<CMyLog> pLog;
    if (argc >= 2 && std::strcmp(argv[argc - 2], "--log") == 0) {
        pLog = std::make_unique<CMyLog>(10, argv[argc - 1], "Tidewell");
        g_pMyLog = pLog.get();
        argc -= 2;
    }
    bool bHead = argc == 5 && std::strcmp(argv[1], "head") == 0;
    bool bGet = argc == 6 && std::strcmp(argv[1], "get") == 0;
    bool bCheck = argc == 6 && std::strcmp(argv[1], "check") == 0;
    if (!bHead && !bGet && !bCheck)
        return Usage(argv[0]);
    CTideApp app(nullptr);

    // No settings file: the defaults, pointed at the local server.
    CTideCfg cfg("/nonexistent/Tidewell.ini");
    cfg.m_strServer = "127.0.0.1";
    cfg.m_nPort = std::atoi(argv[2]);
    cfg.m_strBaseUrl = "";
    cfg.m_nHttpsMode = 0;
    cfg.m_nParallelTransfers = bCheck ? std::atoi(argv[5]) : 1;
    int nResult = 1;
    {
        CSyncEngine engine;
        if (engine.InitSyncEngine(&cfg) != 0) {
            std::fprintf(stderr, "no connection\n");
        } else if (bHead) {
            nResult = RunHeads(engine, std::atoi(argv[3]), argv[4]);
        } else if (bCheck) {
            nResult = RunCheckPass(engine, cfg, std::atoi(argv[3]), argv[4]);
        } else {
            nResult = RunGet(engine, cfg, argv[3], argv[4], argv[5]);
        }
    }
    g_pMyLog = nullptr;
    return nResult;
}
