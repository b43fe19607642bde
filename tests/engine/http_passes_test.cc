// The engine's passes and whole runs against the shared servers: the list
// file fetched, the check and download passes one at a time and with
// PARALLEL_TRANSFERS = 8 (over HTTP/1.1 and over HTTPS with HTTP/2), the
// pass option, stops, resumed downloads, and what a run does after its
// passes; also the worker thread's start and the engine's stop-and-wait.
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "app/message_box.h"
#include "engine/resume.h"
#include "platform/file_system.h"
#include "tests/engine/http_test_support.h"
#include "tests/support/env_var.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;
using Cert = CServerSet::Cert;

class PassTest : public CHttpTestBase {
protected:
    CNginxServer& Nginx() { return TestServers().Nginx(); }
    FileItem& Add(const std::string& strSource, const std::string& strSize, int nType = 1,
                  bool bPassOnFail = false) {
        FileItem item = MakeItem(strSource, m_strInstall + strSource, strSize);
        item.m_nFileType = nType;
        item.m_bPassOnFail = bPassOnFail ? 1 : 0;
        m_pEngine->m_DownFileItemList.push_back(std::make_unique<FileItem>(item));
        return *m_pEngine->m_DownFileItemList.back();
    }
    std::string Installed(const std::string& strSource) const {
        return ReadWholeFile(m_dir.Sub("install/" + m_strInstall + strSource));
    }

    std::string m_strInstall;  // below "install", ends in "/" when set
};

// ---- The list file ----

class ListDownloadTest : public PassTest {
protected:
    void SetUp() override {
        TrustTestAuthority();
        for (CNginxServer* pServer : {&Nginx(), &TestServers().NginxTls(Cert::kExpired)})
            pServer->WriteFile("base/lists/_listfile.txt", kList);
        m_pCfg->m_strBaseUrl = "base/lists";
    }
    // Steps 4 and 5 as the worker does them: HEAD of the list, then the list.
    int Run() {
        m_pEngine->InitListFileItem();
        m_pEngine->GetServerFileInfo(g_ListFileItem);
        return m_pEngine->DownloadAndMergeListFile();
    }
    Strings Sources() const {
        Strings vec;
        for (const auto& pItem : m_pEngine->m_DownFileItemList)
            vec.push_back(pItem->m_strSourceFile);
        return vec;
    }
    static constexpr const char* kList = "# list\r\na/b.dll,,,REG\r\nc.txt,d/c.txt\r\n";
};

TEST_F(ListDownloadTest, ListIsFetchedReadIntoFreshListsAndKept) {
    InitEngine(Nginx().Port());
    CSyncEngine& e = *m_pEngine;
    for (FileItemList* pList : {&e.m_DownFileItemList, &e.m_RegFileItemList, &e.m_ZipFileItemList,
                                &e.m_ZipRegFileItemList, &e.m_RegAsmFileItemList})
        pList->push_back(std::make_unique<FileItem>());  // from a former run
    e.m_ToDownloadFileItemList.push_back(e.m_DownFileItemList.front().get());
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(Sources(), (Strings{"a/b.dll", "c.txt"}));
    EXPECT_EQ(e.m_RegFileItemList.size(), 1u);
    EXPECT_TRUE(e.m_ZipFileItemList.empty() && e.m_ZipRegFileItemList.empty() &&
                e.m_RegAsmFileItemList.empty() && e.m_ToDownloadFileItemList.empty());
    EXPECT_EQ(m_pEngine->m_DownFileItemList.back()->m_strTargetFile, m_dir.Sub("install/d/c.txt"));
    EXPECT_EQ(ReadWholeFile(m_dir.Sub("install/_listfile.txt")), kList);

    // A server that gives no ETag (Python's http.server): the GET is made
    // conditional with If-Modified-Since, and its 304 reads the installed copy.
    platform::SetFileModifyTime(Nginx().DocRoot() + "/base/lists/_listfile.txt", 1700000000);
    CPythonHttpServer python;
    ASSERT_TRUE(python.Start(Nginx().DocRoot())) << python.Error();
    InitEngine(python.Port());
    for (int nRun = 0; nRun < 2; ++nRun) {
        ASSERT_EQ(Run(), 0) << nRun;
        EXPECT_EQ(Sources(), (Strings{"a/b.dll", "c.txt"})) << nRun;
    }
    EXPECT_EQ(LogCount("Not modified since the installed copy (304)."), 1);
}

TEST_F(ListDownloadTest, ListMissingOrNotStorableFails) {
    InitEngine(Nginx().Port());
    m_pCfg->m_strListFileName = "none.txt";
    EXPECT_EQ(Run(), -1);
    EXPECT_TRUE(m_pEngine->m_DownFileItemList.empty());
    // A folder that is not empty where the list is kept: the new list, read
    // beside it, cannot take its place.
    m_pCfg->m_strListFileName = "_listfile.txt";
    m_dir.WriteFile("install/_listfile.txt/in-the-way", "x");
    EXPECT_EQ(Run(), -2);
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("install/_listfile.txt.tidewell-new")));
}

TEST_F(ListDownloadTest, CertificateErrorIsAskedOnceThenRetriedOrFails) {
    for (int nAnswer : {kIdNo, kIdYes}) {
        InitEngine(TestServers().NginxTls(Cert::kExpired).Port(), 2);
        m_pEngine->InitListFileItem();
        // The first attempt is the list download itself, not the HEAD before it.
        g_ListFileItem.m_strFileSize = std::to_string(std::string(kList).size());
        g_ListFileItem.m_strModifyTime = "20240315090702";
        m_frontEnd.QueueMessageBoxAnswer(nAnswer);
        EXPECT_EQ(m_pEngine->DownloadAndMergeListFile(), nAnswer == kIdYes ? 0 : -1);
        EXPECT_EQ(m_app.m_bIgnoreCertError.load(), nAnswer == kIdYes ? 1 : 0);
    }
    EXPECT_EQ(m_frontEnd.MessageBoxes().size(), 2u);
    EXPECT_EQ(Sources(), (Strings{"a/b.dll", "c.txt"}));
}

// ---- The passes one at a time ----

// A delete record without time or size sends no HEAD (its file is gone from
// the server), so it cannot fail the check pass for the other files.
TEST_F(PassTest, DelRecordAsksNothingOfTheServer) {
    InitEngine(Nginx().Port());
    Nginx().WriteFile("base/del/kept.txt", "kept");
    Add("del/kept.txt", "").m_strModifyTime.clear();
    Add("del/gone.txt", "", kFileTypeDel).m_strModifyTime.clear();
    EXPECT_EQ(m_pEngine->DownloadFilesInListFromServer(), 1);
    Nginx().AccessLogFor("/base/del/kept.txt", 1);
    EXPECT_TRUE(Nginx().AccessLogFor("/base/del/gone.txt", 0).empty());
    ASSERT_EQ(m_pEngine->m_ToDownloadFileItemList.size(), 1u);
    EXPECT_EQ(m_pEngine->m_ToDownloadFileItemList.front()->m_strSourceFile, "del/kept.txt");
}

// A record refused when the list was read (its target climbs out) is a failed
// file that is never requested; the pass option makes it pass. A backslash in
// a source path becomes "/" in the request.
TEST_F(PassTest, RefusedTargetFailsTheCheckPassUntouched) {
    Nginx().WriteFile("base/refused/sub/ok.txt", "ok");
    for (bool bPassOnFail : {false, true}) {
        SCOPED_TRACE(bPassOnFail);
        NewEngine();
        InitEngine(Nginx().Port());
        Add("refused\\sub\\ok.txt", "").m_strModifyTime.clear();
        Add("refused/out.txt", "", 1, bPassOnFail).m_bUnsafeTarget = 1;
        EXPECT_EQ(m_pEngine->DownloadFilesInListFromServer(), bPassOnFail ? 1 : 0);
        EXPECT_EQ(Nginx().AccessLogFor("/base/refused/sub/ok.txt", bPassOnFail ? 2 : 1).size(),
                  bPassOnFail ? 2u : 1u);
        EXPECT_TRUE(Nginx().AccessLogFor("/base/refused/out.txt", 0).empty());
        ASSERT_EQ(m_pEngine->m_ToDownloadFileItemList.size(), 1u);
        EXPECT_EQ(m_pEngine->m_DownFileItemList.back()->m_nDownloadReason, kReasonUnchecked);
    }
}

// A stop during a download ends the pass after that file: with 1 when the
// file has the pass option (the run then ends quietly), with 0 otherwise.
TEST_F(PassTest, StopDuringAFileEndsThePassWithItsPassOption) {
    for (bool bPassOnFail : {false, true}) {
        SCOPED_TRACE(bPassOnFail);
        NewEngine();
        InitEngine(TestServers().Scripted().Port());
        m_pCfg->m_strBaseUrl = "rel";  // passed over: the scripted server answers by "ok", "stall"
        m_strInstall = bPassOnFail ? "pass/" : "nopass/";
        m_dir.WriteFile("install/" + m_strInstall + "stall/b", "old b");
        for (FileItem* pItem :
             {&Add("ok/a", "14"), &Add("stall/b", "1000000", 1, bPassOnFail), &Add("ok/c", "14")})
            m_pEngine->m_ToDownloadFileItemList.push_back(pItem);
        int nResult = -99;
        RunAndStop([&] { nResult = m_pEngine->ProcDownloadFilesInListFromServer(); },
                   [&] { return !Installed("ok/a").empty(); });
        EXPECT_EQ(nResult, bPassOnFail ? 1 : 0);
        EXPECT_EQ(Installed("ok/a"), "scripted body\n");
        EXPECT_EQ(Installed("stall/b"), "old b");
        EXPECT_FALSE(platform::FileExists(m_dir.Sub("install/" + m_strInstall + "ok/c")));
    }
}

// Only a downloaded ZIP goes on the archive list, as a copy; one whose
// download failed is not extracted, its old copy left alone.
TEST_F(PassTest, ZipThatFailedToDownloadIsNotExtracted) {
    CTempDir src;
    src.WriteFile("good.txt", "from good.zip");
    fs::create_directories(Nginx().DocRoot() + "/base/zips");
    ASSERT_EQ(RunShell("cd '" + src.Path() + "' && zip -q '" + Nginx().DocRoot() +
                       "/base/zips/good.zip' good.txt"),
              0);
    for (int nParallel : {1, 8}) {
        SCOPED_TRACE(nParallel);
        NewEngine();
        m_pCfg->m_nParallelTransfers = nParallel;
        InitEngine(Nginx().Port());
        m_strInstall = "p" + std::to_string(nParallel) + "/";
        std::string strOldZip = m_dir.Sub("install/" + m_strInstall + "zips/bad.zip");
        fs::create_directories(fs::path(strOldZip).parent_path());
        ASSERT_EQ(RunShell("cd '" + src.Path() + "' && zip -q '" + strOldZip + "' good.txt"), 0);
        std::string strGoodSize =
            std::to_string(fs::file_size(Nginx().DocRoot() + "/base/zips/good.zip"));
        for (FileItem* pItem : {&Add("zips/good.zip", strGoodSize, kFileTypeZip),
                                &Add("zips/bad.zip", "99", kFileTypeZip)})
            m_pEngine->m_ToDownloadFileItemList.push_back(pItem);
        EXPECT_EQ(m_pEngine->ProcDownloadFilesInListFromServer(), 0);
        ASSERT_EQ(m_pEngine->m_ZipFileItemList.size(), 1u);
        EXPECT_EQ(m_pEngine->m_ZipFileItemList.front()->m_strSourceFile, "zips/good.zip");
        EXPECT_NE(m_pEngine->m_ZipFileItemList.front().get(),
                  m_pEngine->m_DownFileItemList.front().get());
        EXPECT_EQ(m_pEngine->HandleZipTypeFiles(m_pEngine->m_ZipFileItemList), 0);
        EXPECT_EQ(Installed("zips/good.txt"), "from good.zip");
        EXPECT_TRUE(platform::FileExists(strOldZip));
    }
}

// ---- Whole runs (the worker's sequence, on the test's thread) ----

class RunTest : public PassTest {
protected:
    void SetUp() override {
        m_pCfg->m_strBaseUrl =
            "base/" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
        InitEngine(Nginx().Port());
    }
    void Serve(const std::string& strRel, const std::string& strData) {
        Nginx().WriteFile(m_pCfg->m_strBaseUrl + "/" + strRel, strData);
    }
    int RunWhole() { return CSyncEngine::SyncThreadMain(m_pEngine.get()); }

    CEnvVar m_prefix{"WINEPREFIX", m_dir.Sub("prefix")};
};

// A failed HEAD makes the check pass 0: no file of the run is downloaded,
// post-processing still runs, and the run asks the failure question.
TEST_F(RunTest, FailedHeadSkipsTheDownloadPass) {
    Serve("_listfile.txt", "missing.txt\nb.txt\ndel.txt,,,DEL\n");
    Serve("b.txt", "bee");
    std::string strDel = m_dir.WriteFile("install/del.txt", "to delete");
    m_frontEnd.QueueMessageBoxAnswer(kIdNo);
    EXPECT_EQ(RunWhole(), 0);
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("install/b.txt")));
    EXPECT_FALSE(platform::FileExists(strDel));
    EXPECT_EQ(m_frontEnd.MessageBoxes().size(), 1u);
    EXPECT_EQ(m_frontEnd.SyncEndCode(), kSyncEndUserAbort);
    EXPECT_EQ(Nginx().AccessLogFor("/" + m_pCfg->m_strBaseUrl + "/b.txt", 1).front().strMethod,
              "HEAD");
}

// In resource mode the downloaded files are all the run does.
TEST_F(RunTest, ResourceModeSkipsPostProcessing) {
    CTempDir src;
    src.WriteFile("member.png", "png");
    fs::create_directories(Nginx().DocRoot() + "/" + m_pCfg->m_strBaseUrl);
    ASSERT_EQ(RunShell("cd '" + src.Path() + "' && zip -q '" + Nginx().DocRoot() + "/" +
                       m_pCfg->m_strBaseUrl + "/res.zip' member.png"),
              0);
    Serve("_listfile.txt", "res.zip,,,ZIP\nold.png,,,DEL\n");
    std::string strOld = m_dir.WriteFile("install/old.png", "old");
    m_app.m_bResourceMode = 1;
    m_pEngine->m_bResourceMode = 1;
    EXPECT_EQ(RunWhole(), 0);
    EXPECT_TRUE(platform::FileExists(m_dir.Sub("install/res.zip")));
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("install/member.png")));
    EXPECT_TRUE(platform::FileExists(strOld));
    EXPECT_EQ(m_frontEnd.SyncEndCode(), kSyncEndDone);
    EXPECT_TRUE(m_frontEnd.MessageBoxes().empty());
}

// ---- Resumed downloads ----

constexpr size_t kResumeBytes = 2 * 1024 * 1024;

class ResumeTest : public PassTest {
protected:
    // Starts the download and stops it while nginx holds back the second megabyte.
    int DownloadAndCut(FileItem& item) {
        int nResult = 1;
        std::string strPart = PartPathOf(item.m_strTargetFile);
        RunAndStop([&] { nResult = Download(item); },
                   [&] { return platform::FileExists(strPart); });
        return nResult;
    }
};

// {what happens between the cut and the next attempt} -> the requests nginx
// answers, and the file is the one served last.
TEST_F(ResumeTest, CutDownloadGoesOnOrStartsOverAsTheServerFileSays) {
    enum Between { kNothing, kServerChanged, kPartDamaged, kMetaCutShort };
    struct Case {
        Between eBetween;
        std::vector<int> vecStatuses;  // of the GETs after the cut one
    } const kCases[] = {{kNothing, {206}},
                        {kServerChanged, {200}},
                        {kPartDamaged, {206, 200}},
                        {kMetaCutShort, {200}}};
    InitEngine(Nginx().Port());
    int nCase = 0;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.eBetween);
        std::string strName = "resume" + std::to_string(++nCase) + ".bin";
        std::string strData = PatternData(kResumeBytes, nCase);
        std::string strServed = Nginx().WriteFile("base/slow/" + strName, strData);
        platform::SetFileModifyTime(strServed, 1600000000);
        std::string strOld = m_dir.WriteFile("install/" + strName, "old and working");
        FileItem item = MakeItem("slow/" + strName, strName, std::to_string(kResumeBytes));
        item.m_strSha256 = HashOf(strData);

        ASSERT_EQ(DownloadAndCut(item), -7);
        EXPECT_EQ(ReadWholeFile(strOld), "old and working");
        std::string strPart = PartPathOf(item.m_strTargetFile);
        platform::FileStatus part;
        ASSERT_TRUE(platform::GetFileStatus(strPart, &part));
        ASSERT_GT(part.nSize, 0u);
        ASSERT_LT(part.nSize, kResumeBytes);
        ASSERT_TRUE(platform::FileExists(strPart + ".meta"));

        if (c.eBetween == kServerChanged) {
            strData = PatternData(kResumeBytes, 9);
            Nginx().WriteFile("base/slow/" + strName, strData);
            platform::SetFileModifyTime(strServed, 1700000000);
            item.m_strSha256 = HashOf(strData);
        } else if (c.eBetween == kPartDamaged) {
            std::FILE* fp = std::fopen(strPart.c_str(), "r+b");
            std::fputc('#', fp);
            std::fclose(fp);
        } else if (c.eBetween == kMetaCutShort) {
            fs::resize_file(strPart + ".meta", 10);
        }
        EXPECT_EQ(Download(item), 0);
        EXPECT_EQ(ReadWholeFile(item.m_strTargetFile), strData);
        EXPECT_FALSE(platform::FileExists(strPart));
        EXPECT_FALSE(platform::FileExists(strPart + ".meta"));

        std::vector<NginxAccessEntry> vecLog =
            Nginx().AccessLogFor("/base/slow/" + strName, 1 + c.vecStatuses.size());
        ASSERT_EQ(vecLog.size(), 1 + c.vecStatuses.size());
        std::vector<int> vecStatuses;
        for (size_t i = 1; i < vecLog.size(); ++i)
            vecStatuses.push_back(vecLog[i].nStatus);
        EXPECT_EQ(vecStatuses, c.vecStatuses);
        if (vecStatuses.front() == 206) {
            // Only the rest crossed the wire.
            EXPECT_LT(vecLog[1].nBytesSent,
                      static_cast<long long>(kResumeBytes - part.nSize + 1024));
        }
    }
}

// A body that comes gzip-encoded although the list gave the plain size is
// not kept when cut off: the next attempt starts from byte 0.
TEST_F(ResumeTest, EncodedDownloadIsNotKept) {
    std::string strPlain = PatternData(kResumeBytes, 4);
    Nginx().WriteFile("base/slowgz/big.bin.gz", GzipOf(strPlain));
    InitEngine(Nginx().Port());
    FileItem item = MakeItem("slowgz/big.bin", "big.bin", std::to_string(kResumeBytes));
    RunAndStop([&] { EXPECT_EQ(Download(item), -7); }, [] { return true; });
    EXPECT_TRUE(fs::is_empty(m_dir.Sub("install")));
    EXPECT_EQ(Download(item), 0);
    EXPECT_EQ(ReadWholeFile(item.m_strTargetFile), strPlain);
    EXPECT_EQ(Nginx().AccessLogFor("/base/slowgz/", 2).back().strRequest,
              "GET /base/slowgz/big.bin HTTP/1.1");
}

// ---- Parallel transfers ----

constexpr int kParallel = 8;
constexpr int kFileCount = 24;

std::string FileName(int i) {
    return "f" + std::to_string(100 + i) + ".dat";
}
size_t FileSize(int i) {
    return 1000 + i * 7919;
}

class ParallelTest : public PassTest {
protected:
    // Serves the release below a folder no other case (or repeat) asks for,
    // so the access log holds this case's requests only.
    void Serve(bool bTls) {
        static int s_nServed = 0;
        m_bTls = bTls;
        m_strPar = "par" + std::to_string(++s_nServed) + "/";
        TrustTestAuthority();
        for (int i = 0; i < kFileCount; ++i)
            Server().WriteFile("base/" + m_strPar + FileName(i), PatternData(FileSize(i), i));
    }
    CNginxServer& Server() const {
        return m_bTls ? TestServers().NginxTls(Cert::kGood) : TestServers().Nginx();
    }
    // A fresh engine with nParallel requests at a time, installing below "<nParallel>/".
    void Reset(int nParallel) {
        NewEngine();
        m_pCfg->m_nParallelTransfers = nParallel;
        m_strInstall = std::to_string(nParallel) + "/";
        InitEngine(Server().Port(), m_bTls ? 2 : 0);
    }
    // The release with its faults: listed sizes for even files, a HEAD for
    // odd ones, a file the server lacks (one may fail, one may not), and a
    // body cut short.
    void AddRelease() {
        for (int i = 0; i < kFileCount; ++i) {
            FileItem& item =
                Add(m_strPar + FileName(i), i % 2 == 0 ? std::to_string(FileSize(i)) : "");
            if (i % 2 == 1)
                item.m_strModifyTime.clear();
        }
        Add(m_strPar + "missing.dat", "10");
        Add(m_strPar + "missing-may-fail.dat", "10", 1, true);
        Add("cut/" + m_strPar + "x", "1000");
    }

    struct PassResult {
        int nCheck = 0;
        int nDownload = 0;
        Strings vecToDownload;
        std::map<std::string, int> mapDownloaded;
        std::map<std::string, std::string> mapFiles;
    };
    PassResult RunPasses() {
        PassResult result;
        result.nCheck = m_pEngine->DownloadFilesInListFromServer();
        if (result.nCheck == 1)
            result.nDownload = m_pEngine->ProcDownloadFilesInListFromServer();
        for (const FileItem* pItem : m_pEngine->m_ToDownloadFileItemList)
            result.vecToDownload.push_back(pItem->m_strSourceFile);
        for (const auto& pItem : m_pEngine->m_DownFileItemList) {
            result.mapDownloaded[pItem->m_strSourceFile] = pItem->m_bDownloaded;
            result.mapFiles[pItem->m_strSourceFile] = ReadWholeFile(pItem->m_strTargetFile);
        }
        return result;
    }

    bool m_bTls = false;
    std::string m_strPar;
};

// Over HTTP/1.1, and over HTTPS with HTTP/2.
class ParallelProtocolTest : public ParallelTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ParallelProtocolTest, SameFilesAndResultsAsOneAtATime) {
    Serve(GetParam());
    Reset(1);
    AddRelease();
    PassResult one = RunPasses();
    Reset(kParallel);
    AddRelease();
    PassResult many = RunPasses();

    EXPECT_EQ(one.nCheck, 1);
    EXPECT_EQ(one.nDownload, 0);  // missing.dat and the cut body may not fail
    EXPECT_EQ(many.nCheck, one.nCheck);
    EXPECT_EQ(many.nDownload, one.nDownload);
    EXPECT_EQ(many.vecToDownload, one.vecToDownload);  // the list's order
    EXPECT_EQ(many.mapDownloaded, one.mapDownloaded);
    EXPECT_EQ(many.mapFiles, one.mapFiles);
    EXPECT_EQ(one.mapDownloaded["cut/" + m_strPar + "x"], 0);
    EXPECT_EQ(one.mapFiles[m_strPar + FileName(3)], PatternData(FileSize(3), 3));
    // The requests went side by side: over TLS as HTTP/2 streams of one
    // connection, otherwise on several HTTP/1.1 connections, never more than 8.
    // Each run's requests, in the order nginx answered them (run by run).
    constexpr size_t kRunRequests = kFileCount / 2 + kFileCount + 3;
    Server().AccessLogFor("/base/cut/" + m_strPar, 2);
    Server().AccessLogFor("/base/" + m_strPar, 2 * kRunRequests - 2);
    std::vector<NginxAccessEntry> vecLog;
    for (const NginxAccessEntry& entry : Server().AccessLog()) {
        if (entry.strUri.find("/" + m_strPar) != std::string::npos)
            vecLog.push_back(entry);
    }
    ASSERT_EQ(vecLog.size(), 2 * kRunRequests);
    std::map<long, int> mapConnections;
    for (size_t i = kRunRequests; i < vecLog.size(); ++i) {
        ++mapConnections[vecLog[i].nConnection];
        EXPECT_NE(vecLog[i].strRequest.find(m_bTls ? "HTTP/2.0" : "HTTP/1.1"), std::string::npos)
            << vecLog[i].strRequest;
    }
    if (m_bTls) {
        EXPECT_EQ(mapConnections.size(), 1u);
    } else {
        EXPECT_GT(mapConnections.size(), 1u);
        // The cut body costs its connection; every other one is kept.
        EXPECT_LE(mapConnections.size(), static_cast<size_t>(kParallel) + 1);
    }
}

TEST_P(ParallelProtocolTest, StopEndsEveryTransferAtOnceAndOldFilesStayWhole) {
    constexpr int kSlowFileCount = 12;
    constexpr size_t kSlowFileBytes = 512 * 1024;  // below the size kept for resuming
    m_bTls = GetParam();
    Reset(kParallel);
    for (int i = 0; i < kSlowFileCount; ++i) {
        Server().WriteFile("base/trickle/" + FileName(i), PatternData(kSlowFileBytes, i));
        Add("trickle/" + FileName(i), std::to_string(kSlowFileBytes));
        m_dir.WriteFile("install/" + m_strInstall + "trickle/" + FileName(i), "old");
    }
    ASSERT_EQ(m_pEngine->DownloadFilesInListFromServer(), 1);
    std::string strFolder = m_dir.Sub("install/" + m_strInstall + "trickle");
    auto PartFiles = [&] {
        int nFiles = 0;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(strFolder, ec))
            nFiles += entry.path().filename().string().find("tidewell-part") != std::string::npos;
        return nFiles;
    };
    // Stopped once every slot has a transfer under way (its temporary file).
    int nResult = -99;
    std::chrono::milliseconds stopToEnd{};
    RunAndStop([&] { nResult = m_pEngine->ProcDownloadFilesInListFromServer(); },
               [&] { return PartFiles() >= kParallel; }, &stopToEnd);
    EXPECT_LT(stopToEnd, std::chrono::milliseconds(1000));
    EXPECT_EQ(nResult, 0);
    EXPECT_EQ(LogCount("DownloadOneFileFromServer> m_nRequestStopFlag = 1"), kParallel);
    for (int i = 0; i < kSlowFileCount; ++i)
        EXPECT_EQ(Installed("trickle/" + FileName(i)), "old");
    EXPECT_EQ(PartFiles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Protocols, ParallelProtocolTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return std::string(param.param ? "Https2" : "Http1");
                         });

// The certificate question is asked once for all the transfers side by side
// (the server's authority is unknown); {answer to the update question} -> the
// check pass ends as one at a time.
TEST_F(ParallelTest, QuestionsAreAskedOnceForAllTransfers) {
    Serve(true);
    unsetenv("TIDEWELL_CA_BUNDLE");
    for (int nAnswer : {kIdYes, kIdNo, kIdCancel}) {
        SCOPED_TRACE(nAnswer);
        Reset(kParallel);
        m_strInstall = "answer" + std::to_string(nAnswer) + "/";
        AddRelease();
        m_app.m_bIgnoreCertError = 0;
        m_frontEnd.QueueMessageBoxAnswer(kIdYes);
        m_frontEnd.QueueUpdateAnswer(nAnswer);
        PassResult result = RunPasses();
        EXPECT_EQ(result.nCheck, nAnswer == kIdYes ? 1 : nAnswer == kIdNo ? 2 : 3);
        EXPECT_EQ(result.vecToDownload.empty(), nAnswer != kIdYes);
        EXPECT_EQ(result.mapDownloaded[m_strPar + FileName(5)], nAnswer == kIdYes ? 1 : 0);
    }
    // Only the run that went on to download met the certificates.
    EXPECT_EQ(m_frontEnd.MessageBoxes().size(), 1u);
}

// ---- The worker thread ----

// An engine whose worker runs a test's function instead of a whole update.
class CTestEngine : public CSyncEngine {
public:
    explicit CTestEngine(std::function<void(CSyncEngine&)> fnRun) : m_fnRun(std::move(fnRun)) {}
    ~CTestEngine() override { StopAndWaitWorker(); }

protected:
    void RunSync() override { m_fnRun(*this); }

private:
    std::function<void(CSyncEngine&)> m_fnRun;
};

// {how the worker behaves} -> how long the engine's end waits for it; a
// second start while it runs does nothing.
using WorkerTest = PassTest;

TEST_F(WorkerTest, EndOfTheEngineStopsTheWorkerAndWaitsForIt) {
    struct Case {
        const char* pszName;
        std::function<void(CSyncEngine&, std::atomic<bool>&)> fnWorker;
        bool bRunsFirst;  // the engine ends once the worker runs
        int nMinMs, nMaxMs;
    } const kCases[] = {
        {"stops when asked",
         [](CSyncEngine& e, std::atomic<bool>& bDone) {
             e.m_nNowRunningFlag = 1;
             while (e.m_nRequestStopFlag == 0)
                 std::this_thread::sleep_for(std::chrono::milliseconds(5));
             e.m_nNowRunningFlag = 0;
             bDone = true;
         },
         true, 0, 1000},
        {"has not begun",  // still starting up when the engine goes away
         [](CSyncEngine& e, std::atomic<bool>& bDone) {
             std::this_thread::sleep_for(std::chrono::milliseconds(100));
             bDone = e.m_nRequestStopFlag == 1;
         },
         false, 0, 1000},
        {"ignores the stop",
         [](CSyncEngine& e, std::atomic<bool>& bDone) {
             e.m_nNowRunningFlag = 1;
             std::this_thread::sleep_for(std::chrono::milliseconds(5500));
             e.m_nNowRunningFlag = 0;
             bDone = true;
         },
         true, 4900, 8000},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszName);
        std::atomic<bool> bDone{false};
        std::atomic<int> nRuns{0};
        auto pEngine = std::make_unique<CTestEngine>([&](CSyncEngine& e) {
            ++nRuns;
            c.fnWorker(e, bDone);
        });
        ASSERT_EQ(pEngine->StartSyncThread(), 0);
        EXPECT_EQ(pEngine->StartSyncThread(), 2);
        while (c.bRunsFirst && pEngine->m_nNowRunningFlag == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        auto start = Clock::now();
        pEngine.reset();
        auto nMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_TRUE(bDone) << "the engine was freed while its worker ran";
        EXPECT_EQ(nRuns, 1);
        EXPECT_GE(nMs, c.nMinMs);
        EXPECT_LT(nMs, c.nMaxMs);
    }
}

}  // namespace
