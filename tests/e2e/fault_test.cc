// Faults only a real process meets: Ctrl-C and kill -9 at any moment, two
// runs at once, a full disk, and a server (or the archives and lists it
// serves) hostile on purpose. After each the old files stay, the exit code
// says what happened, and time and memory stay within bounds.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <thread>

#include "engine/http_connection.h"
#include "platform/file_system.h"
#include "tests/e2e/update_run_fixture.h"
#include "tests/support/server_set.h"

namespace {

constexpr const char* kOld = "old and working";

class FaultTest : public UpdateRunTest {
protected:
    // Waits for a file, waits nMs more, then sends nSignal to the run.
    void SignalWhen(int nPid, const std::string& strPath, int nMs, int nSignal) {
        EXPECT_TRUE(WaitForPath(strPath, 30)) << strPath;
        std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
        kill(nPid, nSignal);
    }
    // One for the whole program.
    CScriptedHttpServer& Scripted() { return TestServers().Scripted(); }
};

}  // namespace

// While a run downloads, a second run-copy or launcher finds the folder
// locked and ends at once, touching nothing. Ctrl-C in the third of five
// downloads: the two done stay, the third keeps its old copy and no part,
// the last two are never asked for; the run ends idle, with no question
// about the transfer the stop cut short.
TEST_F(FaultTest, SecondRunsRefusedThenCtrlCDuringADownloadKeepsTheOldFile) {
    for (int i = 1; i <= 5; ++i)
        WriteRelease("slow/f" + std::to_string(i) + ".bin", std::string(150000, 'a' + i));
    MakeList();
    m_dir.WriteFile(m_strInstallName + "/slow/f3.bin", kOld);
    int nPid = Start("1");
    ASSERT_TRUE(WaitForPath(Installed("slow/.f1.bin.tidewell-part"), 20));
    for (const char* pszArgs : {"1", ""}) {
        RunResult second = Run(pszArgs);
        EXPECT_EQ(second.nExit, 1) << pszArgs;
        EXPECT_NE(second.strOutput.find("업데이트가 이미 실행 중입니다"), std::string::npos);
    }
    EXPECT_FALSE(platform::FileExists(Installed("TidewellKiroRun1")));
    SignalWhen(nPid, Installed("slow/.f3.bin.tidewell-part"), 300, SIGINT);
    RunResult run = Wait(nPid);
    EXPECT_EQ(run.nExit, 4) << run.strOutput << Log();
    EXPECT_EQ(run.strOutput.find("[오류 확인]"), std::string::npos) << run.strOutput;
    EXPECT_EQ(ReadWholeFile(Installed("slow/f1.bin")), std::string(150000, 'b'));
    EXPECT_TRUE(platform::FileExists(Installed("slow/f2.bin")));
    EXPECT_EQ(ReadWholeFile(Installed("slow/f3.bin")), kOld);
    EXPECT_FALSE(platform::FileExists(Installed("slow/f4.bin")));
    EXPECT_EQ(Leftovers(m_strInstall), std::vector<std::string>{});
    for (const std::string& strUri : NewGets(4))
        EXPECT_EQ(strUri.find("f4"), std::string::npos);
    std::string strLog = Log();
    EXPECT_EQ(strLog.find("Start, Version"), strLog.rfind("Start, Version"));
}

// Ctrl-C while a HEAD waits on a silent server: no question, no tool, exit 4.
TEST_F(FaultTest, CtrlCDuringTheCheckEndsIdle) {
    WriteTool(true);
    WriteIni(Scripted().Port());
    Scripted().WriteFile("_listfile.txt", "silent/b.txt\n");  // no time or size: asked with HEAD
    int nPid = Start("--assume-yes 1");
    auto asking = [this] {
        std::vector<ScriptedRequest> vec = Scripted().Requests();
        return !vec.empty() && vec.back().strHead.rfind("HEAD /rel/silent/b.txt ", 0) == 0;
    };
    for (int i = 0; i < 1000 && !asking(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(asking());
    kill(nPid, SIGINT);
    RunResult run = Wait(nPid);
    EXPECT_EQ(run.nExit, 4) << run.strOutput << Log();
    EXPECT_EQ(run.strOutput.find("[오류 확인]"), std::string::npos) << run.strOutput;
    EXPECT_FALSE(ToolStarted(1));
}

// A listed program waited for (w=1) that never ends: SIGTERM (a logout, a
// service manager) stops the updater as Ctrl-C does, within moments, and
// leaves the program running.
TEST_F(FaultTest, TermWhileWaitingForAHungProgram) {
    WriteRelease("hang.sh", "#!/bin/sh\necho $$ > \"$(dirname \"$0\")/hang.pid\"\nexec sleep 600\n",
                 true);
    MakeList("--type 'hang.sh=EXE|w=1'");
    int nPid = Start("1");
    SignalWhen(nPid, Installed("hang.pid"), 200, SIGTERM);
    RunResult run = Wait(nPid, 10);
    EXPECT_EQ(run.nExit, 4) << run.strOutput << Log();
    int nChild = std::atoi(ReadWholeFile(Installed("hang.pid")).c_str());
    ASSERT_GT(nChild, 0);
    EXPECT_EQ(kill(nChild, 0), 0) << "the program runs on";
    kill(nChild, SIGKILL);
}

// kill -9 at random moments of an update; each following clean run ends
// well with the installation equal to the release and nothing left over.
TEST_F(FaultTest, KilledAtRandomThenRepairedByACleanRun) {
    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> killAfterMs(0, 1800);
    WriteTool();
    // A part (and its resume record) of a file the list no longer names goes too.
    m_dir.WriteFile(m_strInstallName + "/small/.gone.bin.tidewell-part", "old part");
    m_dir.WriteFile(m_strInstallName + "/small/.gone.bin.tidewell-part.meta", "old meta");
    for (int i = 0; i < 10; ++i) {
        std::string strVersion = "version " + std::to_string(i) + "\n";
        WriteRelease("slow/a.bin", std::string(60000 + i, 'a') + strVersion);
        for (int j = 0; j < 10; ++j)
            WriteRelease("small/f" + std::to_string(j) + ".txt", strVersion + std::to_string(j));
        m_dir.WriteFile("zipsrc/docs/a.txt", std::string(30000, 'z') + strVersion);
        ASSERT_EQ(RunShell("mkdir -p '" + m_strRelease + "/slow' && cd '" + m_dir.Sub("zipsrc") +
                           "' && rm -f '" + m_strRelease + "/slow/pack.zip' && zip -q -0 -r '" +
                           m_strRelease + "/slow/pack.zip' docs"),
                  0);
        RunShell("find '" + m_strRelease + "' -type f -exec touch -d '@" +
                 std::to_string(1900000000 + i * 100) + "' {} +");
        MakeList();
        int nDelayMs = killAfterMs(random);
        SCOPED_TRACE("round " + std::to_string(i) + ", killed after " + std::to_string(nDelayMs));
        int nPid = Start("1");
        std::this_thread::sleep_for(std::chrono::milliseconds(nDelayMs));
        kill(nPid, SIGKILL);
        Wait(nPid);

        RunResult clean = Run("1");
        ASSERT_EQ(clean.nExit, 0) << clean.strOutput << Log();
        for (const auto& [strRel, strData] : TreeOf(m_strRelease)) {
            if (strRel != "_listfile.txt") {
                ASSERT_EQ(ReadWholeFile(Installed(strRel)), strData) << strRel;
            }
        }
        ASSERT_EQ(ReadWholeFile(Installed("slow/docs/a.txt")),
                  std::string(30000, 'z') + strVersion);
        ASSERT_EQ(Leftovers(m_strInstall), std::vector<std::string>{});
    }
}

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // shadow memory makes the RSS bound meaningless
#else
constexpr bool kSanitized = false;
#endif
constexpr long kMaxPeakRssKb = 64 * 1024;

// Hostile archives and lists, made with Python: zipfile for sound archives,
// patched or assembled bytes for the others.
constexpr const char* kMakeScript = R"PY(
import struct, sys, zipfile
kind, out = sys.argv[1], sys.argv[2]
if kind == "overflow":
    # One member that says it holds 100 bytes and inflates to 1 MiB.
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("inner.txt", bytes(1 << 20))
    data = bytearray(open(out, "rb").read())
    for sig, off in ((b"PK\x03\x04", 22), (b"PK\x01\x02", 24)):
        struct.pack_into("<I", data, data.index(sig) + off, 100)
    open(out, "wb").write(data)
elif kind == "million":
    # A million directory records, all naming the one empty member.
    name, count = b"m.txt", 1000000
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0x21, 0, 0, 0, len(name), 0) + name
    directory = (struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 0x21, 0, 0, 0,
                             len(name), 0, 0, 0, 0, 0, 0) + name) * count
    end64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count,
                        len(directory), len(local))
    locator = struct.pack("<IIQI", 0x07064B50, 0, len(local) + len(directory), 1)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    open(out, "wb").write(local + directory + end64 + locator + end)
elif kind == "zeros":
    open(out, "wb").write(bytes(3 << 20))
elif kind == "big":
    # Three members of 2 MiB each: more than the space left.
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name in ("a.bin", "b.bin", "c.bin"):
            z.writestr(name, bytes(2 << 20))
elif kind.startswith("line"):
    # One line of so many MiB: 0xFF leads neither UTF-8 nor code page 949; NULs strewn in.
    line = bytearray(b"\xff" * (int(kind[4:]) << 20))
    for pos in range(4093, len(line), 65521):
        line[pos] = 0
    open(out, "wb").write(bytes(line))
)PY";

struct HostileCase {
    const char* pszName;
    const char* pszServed;  // the path below /rel/ (the list itself for lists)
    const char* pszLog;
    long nListedSize = 0;  // -1: the made file's size, 0: none
    long nMaxSeconds = 30;
    const char* pszMake = nullptr;  // kind for kMakeScript; null: the server's own answer
    const char* pszType = "";       // the record's type field; null: pszServed is the list
    const char* pszOld = nullptr;   // the installed file that must survive; null: pszServed
    int nDiskMiB = 0;               // the space left in the folder of pszOld; 0: no limit
    int nExit = 3;                  // -1: 0 or 3
};

void PrintTo(const HostileCase& c, std::ostream* pOut) {
    *pOut << c.pszName;
}

const char* const kBodyTooLong = "The server sends more than the expected 1000 bytes; stopped.";
const char* const kHeadersTooLarge = "Response headers too large";
const HostileCase kHostileCases[] = {
    {"BodyPastTheListedSize", "endless/a.bin", kBodyTooLong, 1000},
    {"ChunkedBodyWithoutEnd", "endlesschunked/b.bin",
     "The file of unknown size exceeds 1073741824 bytes; stopped.", 0, 90},
    {"HeadersThatNeverEnd", "endlessheaders/c.bin", kHeadersTooLarge, 10},
    {"OneHeaderLineOfMegabytes", "bigheader/d.bin", kHeadersTooLarge, 10},
    {"ServerThatDrips", "drip/e.bin", "Operation too slow", 100000, kLowSpeedSeconds + 20},
    {"GzipBodyThatInflatesForEver", "gzipbomb/f.bin", kBodyTooLong, 1000},
    {"ZipMemberInflatingPastItsDeclaredSize", "pack/overflow.zip",
     "CZipReader::CopyDeflated> Data exceeds the declared size 100", -1, 30, "overflow", "ZIP",
     "pack/inner.txt"},
    {"ZipWithAMillionEntries", "pack/million.zip", "The archive holds more than 100000 members", -1,
     60, "million", "ZIP", "pack/m.txt"},
    {"FileLargerThanTheSpaceLeft", "data/big.bin", "fwrite() Fail", -1, 60, "zeros", "", nullptr,
     1},
    {"ZipLargerThanTheSpaceLeft", "pack/big.zip", "CZipReader::ExtractFile> Write failed (", -1, 60,
     "big", "ZIP", "pack/c.bin", 1},
    {"ListFileOf64MiBOnOneLine", "_listfile.txt", "is larger than 16777216 bytes", 0, 60, "line64",
     nullptr, "kept.txt", 0, 2},
    {"ListFileInNeitherEncodingWithNulBytes", "_listfile.txt",
     "is neither UTF-8 nor CP949, read as it is", 0, 60, "line4", nullptr, "kept.txt", 0, -1},
};

class HostileServerTest : public FaultTest, public ::testing::WithParamInterface<HostileCase> {
protected:
    void SetUp() override { MakeInstallation(Scripted().Port()); }
};

}  // namespace

// {server behaviour} -> exit code, a log line, the old file intact, a time
// and a memory bound.
TEST_P(HostileServerTest, EndsWithinBoundsAndKeepsTheOldFile) {
    const HostileCase& c = GetParam();
    std::string strServed = Scripted().FilePath(c.pszServed);
    if (c.pszMake != nullptr) {
        std::string strScript = m_dir.WriteFile("make.py", kMakeScript);
        ASSERT_EQ(RunShell("mkdir -p \"$(dirname '" + strServed + "')\" && python3 '" + strScript +
                           "' " + c.pszMake + " '" + strServed + "'"),
                  0);
    }
    if (c.pszType != nullptr) {
        platform::FileStatus st;
        platform::GetFileStatus(strServed, &st);
        long nSize = c.nListedSize < 0 ? static_cast<long>(st.nSize) : c.nListedSize;
        Scripted().WriteFile("_listfile.txt",
                             std::string(c.pszServed) + ",,," + c.pszType + ",20240315090702" +
                                 (nSize > 0 ? "," + std::to_string(nSize) : "") + "\n");
    }
    std::string strOldRel = m_strInstallName + "/" + (c.pszOld != nullptr ? c.pszOld : c.pszServed);
    std::string strOld = m_dir.WriteFile(strOldRel, kOld);
    std::string strFolder = strOld.substr(0, strOld.rfind('/'));
    bool bMounted = c.nDiskMiB > 0 && ShrinkDisk(strFolder, c.nDiskMiB, &m_nFileSizeLimit);
    if (bMounted)
        m_dir.WriteFile(strOldRel, kOld);

    RunResult run = Run("1");
    std::string strLog = Log();
    std::string strKept = ReadWholeFile(strOld);
    std::vector<std::string> vecLeft = Leftovers(strFolder);
    if (bMounted)
        RunShell("umount -l '" + strFolder + "'");
    if (c.nExit >= 0) {
        EXPECT_EQ(run.nExit, c.nExit) << run.strOutput;
    } else {
        EXPECT_TRUE(run.nExit == 0 || run.nExit == 3) << run.nExit << run.strOutput;
    }
    EXPECT_EQ(strKept, kOld);
    EXPECT_EQ(vecLeft, std::vector<std::string>{});
    EXPECT_NE(strLog.find(c.pszLog), std::string::npos) << strLog.substr(0, 4000);
    EXPECT_LT(run.nElapsedMs, c.nMaxSeconds * 1000);
    if (!kSanitized) {
        EXPECT_LE(run.nPeakRssKb, kMaxPeakRssKb);
    }
    std::printf("[ measured ] %s: %ld ms, peak RSS %ld KiB\n", c.pszName, run.nElapsedMs,
                run.nPeakRssKb);
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileServerTest, ::testing::ValuesIn(kHostileCases),
                         [](const auto& test) { return std::string(test.param.pszName); });
