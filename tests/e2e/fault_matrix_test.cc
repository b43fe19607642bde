// Faults a real network and a real machine produce, against the built
// updater and nginx: after each one the installation is at least as good as
// before, the exit status says what happened, and a clean run repairs all.
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "platform/file_system.h"
#include "tests/e2e/update_run_fixture.h"
#include "tests/support/python_servers.h"

namespace fs = std::filesystem;

namespace {

const char* const kToolScript =
    "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/tool-started.tmp\" && "
    "mv \"$(dirname \"$0\")/tool-started.tmp\" \"$(dirname \"$0\")/tool-started\"\n";

// Every regular file below strRoot by its relative path, with its bytes.
std::map<std::string, std::string> TreeOf(const std::string& strRoot) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(strRoot)) {
        if (entry.is_regular_file())
            tree[fs::relative(entry.path(), strRoot).string()] = ReadWholeFile(entry.path());
    }
    return tree;
}

// Names of temporary files left anywhere below strRoot.
std::vector<std::string> Leftovers(const std::string& strRoot) {
    std::vector<std::string> vec;
    for (const auto& entry : fs::recursive_directory_iterator(strRoot)) {
        std::string strName = entry.path().filename().string();
        if (strName.find("tidewell-part") != std::string::npos ||
            strName.rfind(".unzip-", 0) == 0 || strName.find(".gztmp") != std::string::npos) {
            vec.push_back(entry.path().string());
        }
    }
    return vec;
}

class FaultMatrixTest : public UpdateRunTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_scripted.Start()) << m_scripted.Error();
        // While the flag file "fault" is there, nginx fails these folders:
        // with a 500, or with the scripted server's body cut short.
        std::string strUp = "http://127.0.0.1:" + std::to_string(m_scripted.Port());
        m_strExtraSnippet =
            "location /rel/err/ { if (-f $document_root/fault) { return 500; } }\n"
            "location /rel/cut/ { if (-f $document_root/fault) {\n"
            "    rewrite ^ /short/x break; proxy_pass " + strUp + "; } }\n"
            "location /rel/hang/ { proxy_pass " + strUp + "/silent/; }\n"
            "location /rel/big/ { if (-f $document_root/slow) { set $limit_rate 1m; } }\n";
        UpdateRunTest::SetUp();
    }

    CScriptedHttpServer m_scripted;
};

}  // namespace

// {what goes wrong for the changed file} -> the old file stays, the run asks
// whether to go on (No without a terminal: exit 3), the next clean run repairs.
TEST_F(FaultMatrixTest, FailedDownloadsKeepTheOldFile) {
    struct Case {
        const char* pszName;
        const char* pszPath;  // the changed file
        bool bRemoveFile;     // the fault is a missing file, else the flag
    };
    const Case kCases[] = {
        {"404", "gone/a.txt", true},
        {"500", "err/a.txt", false},
        {"cut body", "cut/a.txt", false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.pszName);
        m_dir.WriteFile(m_strInstallName + "/" + c.pszPath, "old and working");
        std::string strServed = WriteRelease(c.pszPath, std::string(1000, 'n'));
        MakeList();
        if (c.bRemoveFile)
            platform::DeleteFile(strServed);
        else
            m_nginx.WriteFile("fault", "");
        RunResult run = Run("1");
        EXPECT_EQ(run.nExit, 3) << run.strOutput << Log();
        EXPECT_EQ(ReadWholeFile(Installed(c.pszPath)), "old and working");
        EXPECT_TRUE(Leftovers(m_strInstall).empty());

        platform::DeleteFile(m_nginx.DocRoot() + "/fault");
        WriteRelease(c.pszPath, std::string(1000, 'n'));
        MakeList();
        RunResult clean = Run("1");
        EXPECT_EQ(clean.nExit, 0) << clean.strOutput;
        EXPECT_EQ(ReadWholeFile(Installed(c.pszPath)), std::string(1000, 'n'));
    }
    EXPECT_NE(Log().find("ProcDownloadFilesInListFromServer> Keep Local File = " +
                         Installed("gone/a.txt")),
              std::string::npos);
}

TEST_F(FaultMatrixTest, StopKeepsTheFileBeingDownloaded) {
    m_dir.WriteFile(m_strInstallName + "/slow/big.bin", "old and working");
    WriteRelease("slow/big.bin", std::string(400000, 'n'));
    MakeList();
    int nPid = Start("1");
    ASSERT_TRUE(WaitForPath(Installed("slow/.big.bin.tidewell-part"), 20));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(nPid, SIGINT);
    RunResult run = Wait(nPid);
    EXPECT_EQ(run.nExit, 3) << run.strOutput << Log();
    EXPECT_EQ(ReadWholeFile(Installed("slow/big.bin")), "old and working");
    EXPECT_TRUE(Leftovers(m_strInstall).empty());
}

TEST_F(FaultMatrixTest, CorruptZipMemberKeepsTheGoodExtractedFile) {
    std::string strSrc = m_dir.Sub("zipsrc");
    m_dir.WriteFile("zipsrc/docs/guide.txt", "good guide, version one\n");
    ASSERT_EQ(RunShell("mkdir -p '" + m_strRelease + "' && cd '" + strSrc + "' && zip -q -r '" +
                       m_strRelease + "/pack.zip' docs"),
              0);
    MakeList();
    ASSERT_EQ(Run("1").nExit, 0);
    ASSERT_EQ(ReadWholeFile(Installed("docs/guide.txt")), "good guide, version one\n");

    // Version two, with a byte of the member's data flipped: its CRC fails.
    m_dir.WriteFile("zipsrc/docs/guide.txt", "good guide, version two\n");
    ASSERT_EQ(RunShell("cd '" + strSrc + "' && rm -f '" + m_strRelease + "/pack.zip' && zip -q -0 -r '" +
                       m_strRelease + "/pack.zip' docs"),
              0);
    std::string strZip = ReadWholeFile(m_strRelease + "/pack.zip");
    size_t nData = strZip.find("good guide, version two");
    ASSERT_NE(nData, std::string::npos);
    strZip[nData] = 'G';
    m_nginx.WriteFile("rel/pack.zip", strZip);
    platform::SetFileModifyTime(m_strRelease + "/pack.zip", 1900000000);
    MakeList();
    RunResult run = Run("1");
    EXPECT_EQ(run.nExit, 3) << run.strOutput << Log();
    EXPECT_EQ(ReadWholeFile(Installed("docs/guide.txt")), "good guide, version one\n");
    EXPECT_TRUE(Leftovers(m_strInstall).empty());
}

TEST_F(FaultMatrixTest, HostileTargetsStayInsideTheInstallation) {
    WriteRelease("a.txt", "payload");
    MakeList();
    // A path from the root belongs to the installation.
    std::string strRooted = "/tidewell-test-" + std::to_string(getpid()) + ".txt";
    AppendToList("a.txt," + strRooted + ",,,20300101000000,7\n");
    RunResult rooted = Run("1");
    EXPECT_EQ(rooted.nExit, 0) << rooted.strOutput;
    EXPECT_FALSE(platform::FileExists(strRooted));
    EXPECT_EQ(ReadWholeFile(m_strInstall + strRooted), "payload");

    // A climbing record fails the check; nothing is written outside.
    MakeList();
    AppendToList("a.txt,../escaped.txt,,,20300101000000,7\n");
    RunResult run = Run("1");
    EXPECT_EQ(run.nExit, 3) << run.strOutput;
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("escaped.txt")));
    EXPECT_NE(Log().find("'../escaped.txt' >> The path climbs out of its folder"),
              std::string::npos);
}

// kill -9 at random moments of an update; every following clean run must
// end well with the installation equal to the release and nothing left over.
TEST_F(FaultMatrixTest, KilledAtRandomThenRepairedByACleanRun) {
    constexpr int kKills = 20;
    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> killAfterMs(0, 1800);
    WriteRelease("Corvid@LoomhallKiro", kToolScript, true);
    std::string strSrc = m_dir.Sub("zipsrc");
    for (int i = 0; i < kKills; ++i) {
        // Each round publishes another version, so the killed run has work.
        std::string strVersion = "version " + std::to_string(i) + "\n";
        WriteRelease("slow/a.bin", std::string(60000, static_cast<char>('a' + i % 2)) + strVersion);
        WriteRelease("slow/b.bin", std::string(60000 + i, 'b') + strVersion);
        for (int j = 0; j < 10; ++j)
            WriteRelease("small/f" + std::to_string(j) + ".txt", strVersion + std::to_string(j));
        m_dir.WriteFile("zipsrc/docs/a.txt", std::string(30000, 'z') + strVersion);
        m_dir.WriteFile("zipsrc/docs/b.txt", strVersion);
        ASSERT_EQ(RunShell("mkdir -p '" + m_strRelease + "/slow' && cd '" + strSrc +
                           "' && rm -f '" + m_strRelease + "/slow/pack.zip' && zip -q -0 -r '" +
                           m_strRelease + "/slow/pack.zip' docs"),
                  0);
        // Times move on with each version, as a publisher's would.
        RunShell("find '" + m_strRelease + "' -type f -exec touch -d '@" +
                 std::to_string(1900000000 + i * 100) + "' {} +");
        MakeList();

        int nDelayMs = killAfterMs(random);
        SCOPED_TRACE("round " + std::to_string(i) + ", killed after " + std::to_string(nDelayMs) +
                     " ms");
        int nPid = Start("1");
        std::this_thread::sleep_for(std::chrono::milliseconds(nDelayMs));
        kill(nPid, SIGKILL);
        Wait(nPid);

        RunResult clean = Run("1");
        ASSERT_EQ(clean.nExit, 0) << clean.strOutput << Log();
        for (const auto& [strRel, strData] : TreeOf(m_strRelease)) {
            if (strRel == "_listfile.txt")
                continue;
            ASSERT_EQ(ReadWholeFile(Installed(strRel)), strData) << strRel;
        }
        ASSERT_EQ(ReadWholeFile(Installed("slow/docs/a.txt")), std::string(30000, 'z') + strVersion);
        ASSERT_EQ(ReadWholeFile(Installed("slow/docs/b.txt")), strVersion);
        ASSERT_EQ(Leftovers(m_strInstall), std::vector<std::string>{});
    }
}

TEST_F(FaultMatrixTest, TwoRunsAtOnceTheSecondTouchesNothing) {
    WriteRelease("slow/big.bin", std::string(300000, 'x'));
    MakeList();
    int nFirst = Start("1");
    ASSERT_TRUE(WaitForPath(Installed("slow/.big.bin.tidewell-part"), 20));
    std::string strOut = m_dir.Sub("second-output.txt");
    std::string strEnv;
    for (const std::string& strVar : m_vecEnv) strEnv += "'" + strVar + "' ";
    // Run-copy and launcher alike.
    for (const char* pszArgs : {"--headless 1", "--headless"}) {
        int nExit = RunShell("env -i " + strEnv + "'" + Installed("TidewellKiro") + "' " + pszArgs +
                             " </dev/null >'" + strOut + "' 2>&1");
        EXPECT_EQ(nExit, 1) << pszArgs;
        EXPECT_NE(ReadWholeFile(strOut).find("업데이트가 이미 실행 중입니다"), std::string::npos);
    }
    EXPECT_FALSE(platform::FileExists(Installed("TidewellKiroRun1")));
    RunResult first = Wait(nFirst);
    EXPECT_EQ(first.nExit, 0) << first.strOutput;
    EXPECT_EQ(ReadWholeFile(Installed("slow/big.bin")), std::string(300000, 'x'));
    size_t nBanners = 0;
    for (size_t n = Log().find("Start, Version"); n != std::string::npos;
         n = Log().find("Start, Version", n + 1)) {
        ++nBanners;
    }
    EXPECT_EQ(nBanners, 1u);
}

// A full disk (a small tmpfs where the tests run as root, otherwise a
// file-size limit): the file being written fails, the old one stays.
TEST_F(FaultMatrixTest, FullDiskFailsTheFileAndKeepsTheOldOne) {
    m_dir.WriteFile(m_strInstallName + "/data/big.bin", "old and working");
    std::string strData = Installed("data");
    bool bMounted = geteuid() == 0 &&
                    RunShell("mount -t tmpfs -o size=1m tmpfs '" + strData + "' 2>/dev/null") == 0;
    if (bMounted) {
        m_dir.WriteFile(m_strInstallName + "/data/big.bin", "old and working");
    } else {
        m_nFileSizeLimit = 1 << 20;
    }
    WriteRelease("data/big.bin", std::string(3 << 20, 'B'));
    WriteRelease("data/small.txt", "fits");
    MakeList();
    RunResult run = Run("1");
    std::string strLog = Log();
    std::string strBig = ReadWholeFile(Installed("data/big.bin"));
    std::string strSmall = ReadWholeFile(Installed("data/small.txt"));
    std::vector<std::string> vecLeft = Leftovers(strData);
    if (bMounted)
        RunShell("umount -l '" + strData + "'");
    EXPECT_EQ(run.nExit, 3) << run.strOutput << strLog;
    EXPECT_EQ(strBig, "old and working");
    EXPECT_EQ(strSmall, "fits");
    EXPECT_TRUE(vecLeft.empty());
    EXPECT_NE(strLog.find("fwrite() Fail"), std::string::npos) << strLog;
    EXPECT_NE(strLog.find(bMounted ? "No space left on device" : "File too large"),
              std::string::npos)
        << strLog;
}

// Ctrl-C while a HEAD waits on a silent server: the run ends idle (exit 4),
// with no question and no tool, however the cut-off check came out.
TEST_F(FaultMatrixTest, StopDuringTheCheckEndsIdle) {
    WriteRelease("Corvid@LoomhallKiro", kToolScript, true);
    WriteRelease("a.txt", "a");
    MakeList();
    AppendToList("hang/b.txt\n");  // no time or size: asked with HEAD
    int nPid = Start("--assume-yes 1");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (m_scripted.Requests().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_FALSE(m_scripted.Requests().empty());
    kill(nPid, SIGINT);
    RunResult run = Wait(nPid);
    EXPECT_EQ(run.nExit, 4) << run.strOutput << Log();
    EXPECT_EQ(run.strOutput.find("[오류 확인]"), std::string::npos) << run.strOutput;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(platform::FileExists(Installed("tool-started")));
}

// A listed program that never ends, waited for (w=1): Ctrl-C ends the
// updater within moments and leaves the program running.
TEST_F(FaultMatrixTest, StopWhileWaitingForAHungProgram) {
    WriteRelease("hang.sh", "#!/bin/sh\necho $$ > \"$(dirname \"$0\")/hang.pid\"\nexec sleep 600\n",
                 true);
    MakeList("--type 'hang.sh=EXE|w=1'");
    int nPid = Start("1");
    ASSERT_TRUE(WaitForPath(Installed("hang.pid"), 20)) << Log();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto stopped = std::chrono::steady_clock::now();
    kill(nPid, SIGINT);
    RunResult run = Wait(nPid);
    auto took = std::chrono::steady_clock::now() - stopped;
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_EQ(run.nExit, 4) << run.strOutput << Log();
    int nChild = std::atoi(ReadWholeFile(Installed("hang.pid")).c_str());
    ASSERT_GT(nChild, 0);
    EXPECT_EQ(kill(nChild, 0), 0) << "the program runs on";
    kill(nChild, SIGKILL);
}

// kill -9 in the middle of a large download: the next run asks only for the
// rest, and the file is the served one, byte for byte. Parts of files the
// list no longer names go.
TEST_F(FaultMatrixTest, KilledLargeDownloadResumes) {
    std::string strData;
    std::mt19937 random(12);
    for (size_t i = 0; i < (4u << 20); ++i)
        strData += static_cast<char>(random() >> 24);
    WriteRelease("big/big.bin", strData);
    MakeList();
    m_dir.WriteFile(m_strInstallName + "/big/.gone.bin.tidewell-part", "old part");
    m_dir.WriteFile(m_strInstallName + "/big/.gone.bin.tidewell-part.meta", "old meta");
    m_nginx.WriteFile("slow", "");
    std::string strPart = Installed("big/.big.bin.tidewell-part");
    int nPid = Start("1");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    platform::FileStatus part;
    while (std::chrono::steady_clock::now() < deadline &&
           !(platform::GetFileStatus(strPart, &part) && part.nSize >= (1u << 20))) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(nPid, SIGKILL);
    Wait(nPid);
    ASSERT_TRUE(platform::GetFileStatus(strPart, &part));
    ASSERT_LT(part.nSize, strData.size());
    EXPECT_TRUE(platform::FileExists(strPart + ".meta"));

    platform::DeleteFile(m_nginx.DocRoot() + "/slow");
    NewRequests();
    RunResult run = Run("1");
    ASSERT_EQ(run.nExit, 0) << run.strOutput << Log();
    EXPECT_EQ(ReadWholeFile(Installed("big/big.bin")), strData);
    EXPECT_EQ(Leftovers(m_strInstall), std::vector<std::string>{});
    std::vector<NginxAccessEntry> vecGets = m_nginx.AccessLogFor("/rel/big/big.bin", 2);
    ASSERT_EQ(vecGets.size(), 2u);
    EXPECT_EQ(vecGets[1].nStatus, 206);
    EXPECT_LT(vecGets[1].nBytesSent, static_cast<long long>(strData.size() - part.nSize + 1024));
}
