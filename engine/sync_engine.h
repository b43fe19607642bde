// The update engine: one object per run, made by the front end, which sets
// the time-outs and itself, calls InitSyncEngine and StartSyncThread, and
// later deletes it. The run itself goes on a worker thread of its own and
// reports through ISyncFrontEnd.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/file_item.h"
#include "engine/http_connection.h"
#include "engine/resume.h"
#include "engine/sync_front_end.h"
#include "platform/clock.h"
#include "platform/process.h"

class CTideCfg;
struct ListGetExchange;
struct UpdatePlan;

using FileItemList = std::list<std::unique_ptr<FileItem>>;

// Buffer size of the 14-digit server time text with its terminator.
constexpr size_t kServerTimeTextSize = 20;
// Modification time (Unix seconds) of a download whose post-processing is
// still to come; no server time is ever this close to it.
constexpr int64_t kPendingFileTime = 0;

// A GET made ready by PrepareDownload and ended by FinishDownload.
struct PreparedDownload {
    std::string strPath;       // as logged, before encoding
    uint64_t nResumeSize = 0;  // the file's size when it may be resumed, else 0
    ResumePoint point;         // what a part kept from before holds
    HttpRequest request;
    // Writes the body into a temporary file beside the target; removes it
    // unless the download is committed.
    std::unique_ptr<IHttpBodySink> pSink;
};

class CSyncEngine {
public:
    CSyncEngine();
    virtual ~CSyncEngine();
    CSyncEngine(const CSyncEngine&) = delete;
    CSyncEngine& operator=(const CSyncEngine&) = delete;

    // 0 on success, -1 when no connection object could be made.
    int InitSyncEngine(CTideCfg* pCfg);
    // 0 started, 1 thread creation failed, 2 a worker already exists.
    int StartSyncThread();
    // True once a started worker has returned from its run; a front end
    // polls it to notice runs that end without an end code (a stop).
    bool IsWorkerFinished() const { return m_bWorkerFinished; }
    // The worker's entry: one whole update run. Returns its exit code.
    static int SyncThreadMain(CSyncEngine* pEngine);
    // The worker's entry when m_pPlan is set: the list download and the
    // check pass only, into *m_pPlan; the installation is left as it is
    // (update_plan.cc).
    static int PlanThreadMain(CSyncEngine* pEngine);

    void ClearDownFileItemList();
    void ClearRegFileItemList();
    void ClearZipFileItemList();
    void ClearZipRegFileItemList();
    void ClearRegAsmFileItemList();
    void ClearAllFileItemLists();
    void InitListFileItem();

    // HEAD request for one path. Results 0, -1, -2, -3, -5, -9.
    int GetServerFileInfo(const std::string& strPath, std::string* pstrTime, uint64_t* pnSize,
                          int bIgnoreCert, int* pnErrCode, std::string* pstrErrText,
                          int* pbSizeUnknown, int* pnGzip);
    // HEAD request for an item, with the certificate question.
    int GetServerFileInfo(FileItem& item);
    // GET of one item into its target. Results 0 .. -10; with pList (the
    // list file's GET, conditional) also kNotModified when the server
    // answered 304 and nothing was written.
    int DownloadOneFileFromServer(FileItem& item, int bIgnoreCert, int* pnErrCode,
                                  std::string* pstrErrText, int nIndex = 0, int nCount = 0,
                                  ListGetExchange* pList = nullptr);
    static constexpr int kNotModified = 1;
    // The two halves of each request, shared by the one-at-a-time path above
    // and the batch (parallel_passes.cc), so both log and decide alike.
    // Prepare logs the request's first lines: -1 when it cannot be sent.
    int PrepareHead(const std::string& strPath, int bIgnoreCert, HttpRequest* pRequest);
    int FinishHead(const std::string& strPath, const HttpResponse& response, std::string* pstrTime,
                   uint64_t* pnSize, int* pnErrCode, std::string* pstrErrText, int* pbSizeUnknown,
                   int* pnGzip);
    // A GET, resumed from a part kept when it can (pList: the list's GET).
    int PrepareDownload(FileItem& item, int bIgnoreCert, PreparedDownload* pGet,
                        ListGetExchange* pList = nullptr);
    // The result of the GET, or kDownloadStartOver when the part kept does
    // not continue the server's file: RestartDownload then makes the GET of
    // the whole file ready, once.
    int FinishDownload(FileItem& item, PreparedDownload& get, const HttpResponse& response,
                       int* pnErrCode, std::string* pstrErrText, ListGetExchange* pList = nullptr);
    void RestartDownload(FileItem& item, PreparedDownload* pGet, ListGetExchange* pList = nullptr);
    static constexpr int kDownloadStartOver = 100;
    std::string EncodeUrl(const std::string& strPath) const;
    // Asks whether to go on despite a certificate error when the settings
    // say so; true when the request is to be repeated ignoring it.
    bool AskCertificateQuestion(int nErrCode, const std::string& strErrText);

    // The check pass: 1 all checked, 0 a check failed, 2 "not now",
    // 3 cancelled, -1 no application, -2 unexpected error.
    int DownloadFilesInListFromServer();
    // The download pass: 1 all downloaded, 0 a download failed, -1, -2.
    int ProcDownloadFilesInListFromServer();
    // The same passes with nParallel requests at a time (PARALLEL_TRANSFERS
    // above 1): the same results and per-file log lines; progress follows
    // completions. Called by the two above.
    int CheckFilesInParallel(IHttpBatch& batch);
    int DownloadFilesInParallel(IHttpBatch& batch);
    // The batch of PARALLEL_TRANSFERS requests, made on first use; null for
    // one at a time.
    IHttpBatch* StartBatch();

    // Steps of the two passes, the same whichever way they run.
    // True for an item that needs a HEAD before it can be compared.
    static bool NeedsServerInfo(const FileItem& item);
    // The item's path on the server for its HEAD, logged.
    std::string ServerInfoPath(const FileItem& item) const;
    // An item refused when the list was read: failed, never touched.
    void TakeUnsafeItem(FileItem& item, int* pnResult);
    // Takes a HEAD's result into the item; false when it stays unchecked
    // (then *pnResult becomes 0 unless the item may fail).
    bool TakeServerFileInfo(FileItem& item, int nRet, const std::string& strTime, uint64_t nSize,
                            int* pnResult);
    // True when a checked item is to be downloaded.
    bool DecideOnItem(FileItem& item);
    // The update question before the first download, asked once: 0 go on,
    // 2 "not now", 3 cancelled.
    int AskUpdateOnce(bool* pbPromptPending);
    // Puts a file that differs on the download list once the question
    // allows it; the question's result otherwise.
    int QueueDownload(FileItem& item, bool* pbPromptPending);
    // Records a download's result on its item (and in *pnResult).
    void TakeDownloadResult(FileItem& item, int nRet, int* pnResult);
    // Adds a downloaded item to the post-processing list of its type.
    void AddPostProcessCopy(const FileItem& item);
    // Logs that a stop was asked for, as seen by pszFunc ("CSyncEngine::...").
    void LogStopRequest(const char* pszFunc) const;
    // True when a failed request is to be asked about and repeated
    // ignoring certificate errors.
    bool IsCertRetryCase(int nRet, int nErrCode) const;
    void ShowCheckProgress(int nDone, int nCount);
    void ShowDownloadProgress(int nDone, int nCount);
    // Removes temporary files that cut-off runs left where this run writes.
    void RemoveLeftovers();
    // Fills the Windows and system folders and the local address; < 0 fails.
    int GetAndDisplaySystemInfo();

    // --- Process launching (process_launch.cc) ---
    // Starts a program as the shell would: Windows programs through Wine,
    // others directly; the parameter text is split into words. An invalid
    // handle when it did not start. strWorkDir empty: our current folder.
    platform::CProcess GetProcessHandleByShellExecute(
        const std::string& strFile, const std::string& strParameters,
        const std::string& strWorkDir = std::string());
    // The same with the words already apart: each one reaches the program as
    // one argument, whatever it holds (blanks, quotes, backslashes).
    platform::CProcess GetProcessHandleByShellExecute(const std::string& strFile,
                                                      const std::vector<std::string>& vecArgs,
                                                      const std::string& strWorkDir);
    // 0 started (and with bWait, waited for to its end), 1 not started.
    short StartExeFileByShellExecute(const std::string& strFile, const std::string& strParameters,
                                     int bWait, const std::string& strWorkDir = std::string());
    short StartExeFileByShellExecute(const std::string& strFile,
                                     const std::vector<std::string>& vecArgs, int bWait,
                                     const std::string& strWorkDir = std::string());
    // Starts a program with its words; logs a failed start.
    platform::CProcess StartShellProgramLogged(const std::string& strFile,
                                               const std::vector<std::string>& vecArgs,
                                               const std::string& strWorkDir);
    // The result of StartExeFileByShellExecute for a started (or not) program.
    short WaitStarted(platform::CProcess process, int bWait);
    // 0 started and waited for until its end, a failed wait or a stop
    // request (the program then keeps running); 1 not started.
    short StartExeFileByShellExecuteAndWaitClose(const std::string& strFile,
                                                 const std::string& strParameters);

    // --- Post-processing by file type (post_process.cc, post_process_zip.cc) ---
    // Each handler returns 0 when every file it acted on succeeded, -1 when
    // one failed, -2 when its registration tool is missing.
    int HandleRegistryTypeFiles();
    int HandleRegisterTypeFilesByRegSvr32(const FileItemList& list);
    int HandleRegisterTypeFilesByRegSvr32(const std::list<FileItem*>& list);
    int HandleDeleteTypeFiles();
    int HandleFontTypeFiles();
    int HandleZipTypeFiles(const FileItemList& list);
    int HandleZipRegTypeFiles(const FileItemList& list);
    int HandleRegisterTypeFilesByRegAsm(const FileItemList& list);
    int HandleExecuteTypeFiles();
    // 1 success, -1 failure.
    int ProcessRegistryFile(FileItem& item);
    // 1 started, -1 empty path, -2 not started.
    int ProcessRegisterFile2ByRegSvr32(const std::string& strPath);
    // 1 started, -2 not started.
    int ProcessRegisterFileByRegAsm(FileItem& item, const std::string& strRegAsmPath);
    // Full path of RegAsm.exe of .NET 2.0 in the Windows folder, or empty.
    std::string GetRegAsmFilePath();
    // 0 success, -2 copy failed, -3 the file holds no font.
    int ProcessFontFile(FileItem& item);
    // 1 success, -1 archive not opened, -2 member not read, -3 member not
    // extracted, -4 folder not created. Extracted files go to *pvecExtracted.
    int ProcessZipFile(FileItem& item, std::vector<std::string>* pvecExtracted);

    int DownloadAndMergeListFile();
    // Reads the installed list file (or the one at strPath) into the lists:
    // 0 read to its end, -1 not opened, kListRefused refused by the key.
    int GetFileListFileFromFile(FileItemList& downList, FileItemList& regList);
    int GetFileListFileFromFile(const std::string& strPath, FileItemList& downList,
                                FileItemList& regList);
    static constexpr int kListRefused = -3;
    // After a run that reached its end: the version of the list it trusted
    // becomes the lowest one a later run accepts (LIST_VERSION).
    void CommitListVersion();
    // Fills an item from one list line; false when a field is too long.
    static bool ParseListLine(FileItem& item, const char* pLine, size_t nLength);
    static void ParseFileTypeField(FileItem& item, const std::string& strField);
    static int IsAllowedResourceFile(const std::string& strSourcePath);
    void AdjustTargetFilePath(FileItem& item, const std::string& strBaseDir);

    // 1 download, 0 keep the local file; the reason goes to the item.
    int IsFileToDownload(FileItem& item);
    // kReasonNone to keep the local file, else why it must be downloaded.
    int DownloadReason(FileItem& item);
    // True for a file whose post-processing makes other files (archives,
    // fonts): it carries kPendingFileTime until that is done, so a run cut
    // off in between downloads and handles it again.
    bool DefersServerTime(const FileItem& item) const;
    // Sets the server's time on a file that waited for its post-processing.
    void SetServerTimeAfterPostProcessing(const FileItem& item);
    static int SetDownFileModifyDate(const std::string& strTargetPath,
                                     const std::string& strModifyTime);
    // Fields of a Last-Modified header, in GMT.
    static platform::SystemTime ParseLastModified(const std::string& strHeader);

    // Members set by the front end before InitSyncEngine.
    uint32_t m_dwConnectTimeOut = 0;
    uint32_t m_dwSendTimeOut = 0;
    uint32_t m_dwRecvTimeOut = 0;
    int m_bResourceMode = 0;
    ISyncFrontEnd* m_pDlg = nullptr;
    // Set when the run is only to plan: nothing is asked or changed, and the
    // worker fills this before it reports the end. Not owned.
    UpdatePlan* m_pPlan = nullptr;
    // Where the list file is downloaded to and read from; empty for the
    // installation's own copy.
    std::string m_strListFilePath;
    std::string ListFilePath() const;

    // Read by the worker, written by the front end's thread.
    std::atomic<int> m_nNowRunningFlag{0};
    std::atomic<int> m_nRequestStopFlag{0};
    std::string m_szLocalIp;
    // The shortcut name when the run started (the settings may change it
    // on the front end's thread while the run goes on).
    std::string m_strLinkName;

    FileItemList m_DownFileItemList;
    FileItemList m_RegFileItemList;
    FileItemList m_ZipFileItemList;
    FileItemList m_ZipRegFileItemList;
    FileItemList m_RegAsmFileItemList;
    // Items of m_DownFileItemList that differ from the server; not owned.
    std::list<FileItem*> m_ToDownloadFileItemList;
    // Version of the list this run trusted with the key; 0 when none.
    uint64_t m_nAcceptedListVersion = 0;

    CTideCfg* m_pCfg = nullptr;
    std::unique_ptr<IHttpConnection> m_pHttpConnection;
    std::unique_ptr<IHttpBatch> m_pBatch;

protected:
    // What the worker runs; SyncThreadMain(this) unless a test replaces it.
    virtual void RunSync();
    // Asks the worker to stop and joins it. The destructor calls it; a class
    // that replaces RunSync must call it in its own destructor.
    void StopAndWaitWorker();

private:
    // Checks a list's bytes with LIST_PUBLIC_KEY; logs the reason of a refusal.
    bool IsListTrusted(const std::string& strData, uint64_t* pnVersion);

    std::unique_ptr<std::thread> m_pSyncThread;
    // The worker waits for this before running, so the start is logged first.
    std::atomic<bool> m_bWorkerResumed{false};
    std::atomic<bool> m_bWorkerFinished{false};
};
