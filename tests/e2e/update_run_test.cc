// Whole update runs of the built executable against nginx on loopback.
#include <signal.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <thread>

#include "platform/file_system.h"
#include "tests/e2e/update_run_fixture.h"

namespace {

const char* const kToolScript =
    "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/tool-started.tmp\" && "
    "mv \"$(dirname \"$0\")/tool-started.tmp\" \"$(dirname \"$0\")/tool-started\"\n";

int CountMethod(const std::vector<NginxAccessEntry>& entries, const std::string& strMethod) {
    int n = 0;
    for (const NginxAccessEntry& entry : entries) n += entry.strMethod == strMethod ? 1 : 0;
    return n;
}

std::vector<std::string> Uris(const std::vector<NginxAccessEntry>& entries,
                              const std::string& strMethod) {
    std::vector<std::string> vec;
    for (const NginxAccessEntry& entry : entries) {
        if (entry.strMethod == strMethod) vec.push_back(entry.strUri);
    }
    return vec;
}

}  // namespace

TEST_F(UpdateRunTest, FirstInstallThenASecondRunThatFetchesNothing) {
    WriteRelease("app/readme.txt", "hello reader\n");
    WriteRelease("app/bin/engine.dat", std::string(70000, 'e'));
    WriteRelease("data/notes.txt", std::string(50000, 'n') + "end\n");
    ASSERT_EQ(RunShell("gzip -9 '" + m_strRelease + "/data/notes.txt'"), 0);
    std::string strZipSrc = m_dir.Sub("zipsrc");
    m_dir.WriteFile("zipsrc/docs/guide.txt", "inside the archive\n");
    ASSERT_EQ(RunShell("mkdir -p '" + m_strRelease + "/pack' && cd '" + strZipSrc +
                       "' && zip -q -r '" + m_strRelease + "/pack/bundle.zip' docs"),
              0);
    WriteRelease("tools/hello.sh",
                 "#!/bin/sh\necho ran > \"$(dirname \"$0\")/hello.out\"\n", true);
    WriteRelease("Corvid@LoomhallKiro", kToolScript, true);
    MakeList("--gzip-static --type 'tools/hello.sh=EXE|w=1' --delete old/obsolete.txt");
    m_dir.WriteFile("install/old/obsolete.txt", "stale");

    RunResult run = Run("1");
    ASSERT_EQ(run.nExit, 0) << run.strOutput << Log();
    EXPECT_EQ(ReadWholeFile(Installed("app/readme.txt")), "hello reader\n");
    EXPECT_EQ(ReadWholeFile(Installed("app/bin/engine.dat")), std::string(70000, 'e'));
    EXPECT_EQ(ReadWholeFile(Installed("data/notes.txt")), std::string(50000, 'n') + "end\n");
    EXPECT_EQ(ReadWholeFile(Installed("pack/docs/guide.txt")), "inside the archive\n");
    EXPECT_FALSE(platform::FileExists(Installed("old/obsolete.txt")));
    EXPECT_EQ(ReadWholeFile(Installed("tools/hello.out")), "ran\n");
    ASSERT_TRUE(WaitForPath(Installed("tool-started"), 10)) << run.strOutput;
    EXPECT_EQ(ReadWholeFile(Installed("tool-started")), m_strInstall + "\n");
    EXPECT_NE(Log().find("CTideExeApp::ClearSpecialDirMap> Map Count = 9"), std::string::npos);
    // Files carry the server's times, so the next run compares them equal.
    platform::FileStatus local, served;
    ASSERT_TRUE(platform::GetFileStatus(Installed("app/readme.txt"), &local));
    ASSERT_TRUE(platform::GetFileStatus(m_strRelease + "/app/readme.txt", &served));
    EXPECT_EQ(local.nModifyTime, served.nModifyTime);

    std::vector<NginxAccessEntry> first = NewRequests(2);
    EXPECT_EQ(CountMethod(first, "HEAD"), 1) << "only the list file is asked with HEAD";
    EXPECT_GE(CountMethod(first, "GET"), 7);

    platform::DeleteFile(Installed("tool-started"));
    RunResult again = Run("1");
    ASSERT_EQ(again.nExit, 0) << again.strOutput;
    std::vector<NginxAccessEntry> second = NewRequests(2);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(Uris(second, "HEAD"), std::vector<std::string>{"/rel/_listfile.txt"});
    EXPECT_EQ(Uris(second, "GET"), std::vector<std::string>{"/rel/_listfile.txt"});
    // Every request of both runs went over one kept-alive connection each.
    for (const NginxAccessEntry& entry : second) EXPECT_EQ(entry.nConnection, second[0].nConnection);
    EXPECT_TRUE(WaitForPath(Installed("tool-started"), 10));
}

TEST_F(UpdateRunTest, OnlyAChangedFileIsFetched) {
    WriteRelease("a.txt", "first a");
    WriteRelease("b.txt", "first b");
    MakeList();
    ASSERT_EQ(Run("1").nExit, 0);
    NewRequests(4);

    std::string strB = WriteRelease("b.txt", "second b, longer");
    platform::FileStatus st;
    ASSERT_TRUE(platform::GetFileStatus(strB, &st));
    platform::SetFileModifyTime(strB, st.nModifyTime + 3600);
    MakeList();
    RunResult run = Run("1");
    ASSERT_EQ(run.nExit, 0) << run.strOutput;
    EXPECT_EQ(ReadWholeFile(Installed("b.txt")), "second b, longer");
    std::vector<std::string> gets = Uris(NewRequests(3), "GET");
    EXPECT_EQ(gets, (std::vector<std::string>{"/rel/_listfile.txt", "/rel/b.txt"}));
}

TEST_F(UpdateRunTest, HostileZipMemberIsRefusedAndNothingEscapes) {
    std::string strZip = m_strRelease + "/evil.zip";
    ASSERT_EQ(RunShell("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1],'w'); "
                       "z.writestr('../escaped.txt','x'); z.writestr('ok.txt','fine'); z.close()\" '" +
                       strZip + "'"),
              0);
    MakeList();
    RunResult run = Run("--assume-yes 1");
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("escaped.txt")));
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("install/../escaped.txt")));
    EXPECT_FALSE(platform::FileExists(m_dir.Path() + "/escaped.txt"));
    EXPECT_NE(Log().find("CSyncEngine::ProcessZipFile>"), std::string::npos) << Log();
    // The archive failed, so the run asked whether to go on and was told yes.
    EXPECT_EQ(run.nExit, 0) << run.strOutput;
    EXPECT_NE(run.strOutput.find("[오류 확인]"), std::string::npos) << run.strOutput;
}

TEST_F(UpdateRunTest, MissingFileFailsTheRunUnlessItMayPass) {
    WriteRelease("good.txt", "good");
    MakeList();
    AppendToList("missing/a.bin,,,,20240101000000,10\n");
    RunResult run = Run("1");
    // No terminal: the failure question takes its default, No.
    EXPECT_EQ(run.nExit, 3) << run.strOutput << Log();
    EXPECT_NE(run.strOutput.find("일부 다운로드에 실패한 파일들이 있습니다."), std::string::npos);
    EXPECT_FALSE(platform::FileExists(Installed("missing/a.bin")));
    EXPECT_FALSE(platform::FileExists(Installed("tool-started")));

    // "NON" is no type: the record stays an ordinary file with the pass option.
    WriteRelease("Corvid@LoomhallKiro", kToolScript, true);
    MakeList();
    AppendToList("missing/a.bin,,,NON|p=1,20240101000000,10\n");
    RunResult passing = Run("1");
    EXPECT_EQ(passing.nExit, 0) << passing.strOutput << Log();
    EXPECT_EQ(ReadWholeFile(Installed("good.txt")), "good");
}

TEST_F(UpdateRunTest, PromptAnswersNotNowAndCancel) {
    WriteRelease("a.txt", "aaa");
    WriteRelease("Corvid@LoomhallKiro", kToolScript, true);
    MakeList();
    m_dir.WriteFile("install/Corvid@LoomhallKiro", kToolScript);
    RunShell("chmod 755 '" + Installed("Corvid@LoomhallKiro") + "'");

    // "Not now": nothing is fetched, the tool starts at once.
    RunResult notNow = Run("--assume-no 1");
    EXPECT_EQ(notNow.nExit, 0) << notNow.strOutput;
    EXPECT_FALSE(platform::FileExists(Installed("a.txt")));
    EXPECT_TRUE(WaitForPath(Installed("tool-started"), 10));
    EXPECT_EQ(Uris(NewRequests(2), "GET"), std::vector<std::string>{"/rel/_listfile.txt"});

    // Cancel, answered on a terminal: the run ends without an end code.
    platform::DeleteFile(Installed("tool-started"));
    std::string strScript =
        "import os, pty, sys\n"
        "pid, fd = pty.fork()\n"
        "if pid == 0:\n"
        "    os.execve(sys.argv[1], [sys.argv[1], '--headless', '1'], dict(os.environ))\n"
        "out = b''\n"
        "answered = False\n"
        "while True:\n"
        "    try:\n"
        "        data = os.read(fd, 4096)\n"
        "    except OSError:\n"
        "        break\n"
        "    if not data:\n"
        "        break\n"
        "    out += data\n"
        "    if not answered and b'[1]' in out:\n"
        "        os.write(fd, b'3\\n')\n"
        "        answered = True\n"
        "_, status = os.waitpid(pid, 0)\n"
        "sys.exit(os.WEXITSTATUS(status))\n";
    m_dir.WriteFile("answer.py", strScript);
    std::string strEnv;
    for (const std::string& strVar : m_vecEnv) strEnv += "'" + strVar + "' ";
    int nExit = RunShell("env " + strEnv + " python3 '" + m_dir.Sub("answer.py") + "' '" +
                         Installed("TidewellKiro") + "' >/dev/null 2>&1");
    EXPECT_EQ(nExit, 4);
    EXPECT_FALSE(platform::FileExists(Installed("a.txt")));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(platform::FileExists(Installed("tool-started")));
}

TEST_F(UpdateRunTest, StopDuringTheThirdOfFiveDownloads) {
    for (int i = 1; i <= 5; ++i) {
        WriteRelease("slow/f" + std::to_string(i) + ".bin", std::string(150000, 'a' + i));
    }
    MakeList();
    int nPid = Start("1");
    // Each file takes about 1.5 s at the server's rate: wait for two to finish.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline &&
           !platform::FileExists(Installed("slow/f2.bin"))) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(nPid, SIGINT);
    RunResult run = Wait(nPid);
    // The interrupted transfer failed the pass: asked, default No.
    EXPECT_EQ(run.nExit, 3) << run.strOutput << Log();
    EXPECT_TRUE(platform::FileExists(Installed("slow/f1.bin")));
    EXPECT_TRUE(platform::FileExists(Installed("slow/f2.bin")));
    EXPECT_FALSE(platform::FileExists(Installed("slow/f3.bin")));
    EXPECT_FALSE(platform::FileExists(Installed("slow/f4.bin")));
    std::vector<std::string> gets = Uris(NewRequests(3), "GET");
    for (const std::string& strUri : gets) {
        EXPECT_EQ(strUri.find("f4"), std::string::npos);
        EXPECT_EQ(strUri.find("f5"), std::string::npos);
    }
}

TEST_F(UpdateRunTest, ResourceModeFetchesOnlyAllowedTypes) {
    WriteRelease("res/a.txt", "text");
    WriteRelease("res/b.dll", "dll");
    WriteRelease("res/c.dat", "dat");
    WriteRelease("run.exe", "MZ");
    WriteRelease("Corvid@LoomhallKiro", kToolScript, true);
    MakeList();

    RunResult run = Run("3 txt,dll");
    EXPECT_EQ(run.nExit, 0) << run.strOutput << Log();
    EXPECT_TRUE(platform::FileExists(Installed("res/a.txt")));
    EXPECT_TRUE(platform::FileExists(Installed("res/b.dll")));
    EXPECT_FALSE(platform::FileExists(Installed("res/c.dat")));
    EXPECT_FALSE(platform::FileExists(Installed("run.exe")));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(platform::FileExists(Installed("tool-started")));
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("desktop/Corvid5 Loomhall Kiro.desktop")));

    // Without types: ordinary files only, never programs or the tool itself.
    RunResult any = Run("3");
    EXPECT_EQ(any.nExit, 0) << any.strOutput;
    EXPECT_TRUE(platform::FileExists(Installed("res/c.dat")));
    EXPECT_FALSE(platform::FileExists(Installed("run.exe")));
    EXPECT_FALSE(platform::FileExists(Installed("Corvid@LoomhallKiro")));
}

TEST_F(UpdateRunTest, ListWrittenInCodePage949KeepsKoreanNames) {
    WriteRelease("한글/파일.txt", "korean name");
    platform::FileStatus st;
    ASSERT_TRUE(platform::GetFileStatus(m_strRelease + "/한글/파일.txt", &st));
    std::string strScript =
        "import sys\n"
        "line = '한글/파일.txt,,,,' + sys.argv[2] + ',11\\r\\n'\n"
        "open(sys.argv[1], 'wb').write(('# 목록\\r\\n' + line).encode('cp949'))\n";
    m_dir.WriteFile("cp949.py", strScript);
    char szTime[32];
    time_t t = static_cast<time_t>(st.nModifyTime);
    tm parts{};
    gmtime_r(&t, &parts);
    strftime(szTime, sizeof(szTime), "%Y%m%d%H%M%S", &parts);
    ASSERT_EQ(RunShell("python3 '" + m_dir.Sub("cp949.py") + "' '" + m_strRelease +
                       "/_listfile.txt' " + szTime),
              0);
    RunResult run = Run("1");
    EXPECT_EQ(run.nExit, 0) << run.strOutput << Log();
    EXPECT_EQ(ReadWholeFile(Installed("한글/파일.txt")), "korean name");
}

TEST_F(UpdateRunTest, UnreachableServerEndsWithTheListFileError) {
    m_nginx.Stop();
    RunResult run = Run("1");
    EXPECT_EQ(run.nExit, 2) << run.strOutput;
    EXPECT_NE(run.strOutput.find("리스트 파일 정보를 가져오는 도중에 오류가 발생했습니다."),
              std::string::npos);
}

// Names and encodings that once could never be fetched: a character above
// U+FFFF, a gzip-encoded file whose record gives no size (the HEAD's size is
// the encoded one) and an empty file served gzip-encoded.
TEST_F(UpdateRunTest, AwkwardNamesAndGzipEncodings) {
    WriteRelease("emoji-\xF0\x9F\x98\x80.txt", "smile");
    WriteRelease("data/empty.txt", "");
    WriteRelease("data/sized.txt", std::string(5000, 's'));
    ASSERT_EQ(RunShell("cd '" + m_strRelease + "/data' && gzip -9 empty.txt sized.txt"), 0);
    MakeList("--gzip-static");
    WriteRelease("data/unsized.txt", std::string(5000, 'u'));
    ASSERT_EQ(RunShell("gzip -9 '" + m_strRelease + "/data/unsized.txt'"), 0);
    AppendToList("data/unsized.txt\n");

    RunResult run = Run("1");
    ASSERT_EQ(run.nExit, 0) << run.strOutput << Log();
    EXPECT_EQ(ReadWholeFile(Installed("emoji-\xF0\x9F\x98\x80.txt")), "smile");
    EXPECT_TRUE(platform::FileExists(Installed("data/empty.txt")));
    EXPECT_EQ(ReadWholeFile(Installed("data/empty.txt")), "");
    EXPECT_EQ(ReadWholeFile(Installed("data/unsized.txt")), std::string(5000, 'u'));
    NewRequests();
    RunResult again = Run("1");
    ASSERT_EQ(again.nExit, 0) << again.strOutput << Log();
    EXPECT_EQ(Uris(NewRequests(3), "GET"), std::vector<std::string>{"/rel/_listfile.txt"});
}

// The launcher hands --headless and --assume-yes on to the run-copy: with a
// display named, the copy still uses the terminal and answers yes.
TEST_F(UpdateRunTest, LauncherPassesTheFrontEndOptionsOn) {
    WriteRelease("Corvid@LoomhallKiro", kToolScript, true);
    MakeList();
    AppendToList("missing/a.bin,,,,20240101000000,10\n");
    m_vecEnv.push_back("DISPLAY=:99");
    RunResult launcher = Run("--assume-yes");
    EXPECT_EQ(launcher.nExit, 0) << launcher.strOutput;
    ASSERT_TRUE(WaitForPath(Installed("tool-started"), 20)) << Log();
    EXPECT_NE(Log().find("Tidewell(Corvid5@LoomhallKiro) Start"), std::string::npos);
}

class OddFolderRunTest : public UpdateRunTest {
protected:
    void SetUp() override {
        m_strInstallName = "inst dir \"q\" \\b";
        UpdateRunTest::SetUp();
    }
};

// The tool gets the installation folder as exactly one argument.
TEST_F(OddFolderRunTest, ToolGetsTheFolderAsOneArgument) {
    WriteRelease("Corvid@LoomhallKiro",
                 "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > \"$(dirname \"$0\")/args.tmp\" && "
                 "mv \"$(dirname \"$0\")/args.tmp\" \"$(dirname \"$0\")/args\"\n",
                 true);
    MakeList();
    RunResult run = Run("1");
    ASSERT_EQ(run.nExit, 0) << run.strOutput << Log();
    ASSERT_TRUE(WaitForPath(Installed("args"), 20));
    EXPECT_EQ(ReadWholeFile(Installed("args")), "1|" + m_strInstall + "|");
}

namespace {

// The list as a publisher serves it at scale: its .gz beside it, sent to
// clients that accept gzip.
class ListAtScaleTest : public UpdateRunTest {
protected:
    void SetUp() override {
        m_strExtraSnippet = "location = /rel/_listfile.txt { gzip_static on; }\n";
        UpdateRunTest::SetUp();
    }
    std::string ServedList() const { return ReadWholeFile(m_strRelease + "/_listfile.txt"); }
    // Gives a served file a time in the past, distinct for each nStep.
    void Settle(const std::string& strRel, int nStep) {
        RunShell("touch -d @" + std::to_string(std::time(nullptr) - 1000 + nStep) + " '" +
                 m_strRelease + "/" + strRel + "'");
    }
};

}  // namespace

// {what changed since the last run} -> how nginx answers the list's GET;
// the installation ends the same as after a whole GET every time.
TEST_F(ListAtScaleTest, ListIsFetchedOnlyWhenItOrTheLocalCopyChanged) {
    std::string strPadding;
    for (int i = 0; i < 400; ++i)
        strPadding += "# release notes line " + std::to_string(i) + " of the padding\n";
    auto publish = [&](int nStep) {
        MakeList();
        AppendToList(strPadding);
        Settle("_listfile.txt", nStep);
    };
    std::string strList = Installed("_listfile.txt");
    struct Step {
        const char* pszName;
        std::function<void()> fnBefore;
        int nListStatus;
    } const kSteps[] = {
        {"first run",
         [&] {
             WriteRelease("a.txt", "a");
             WriteRelease("Corvid@LoomhallKiro", kToolScript, true);
             publish(1);
         },
         200},
        {"nothing changed", [] {}, 304},
        {"local copy edited",
         [&] { m_dir.WriteFile(m_strInstallName + "/_listfile.txt", ServedList() + "x.txt\n"); },
         200},
        {"local copy cut short",
         [&] { m_dir.WriteFile(m_strInstallName + "/_listfile.txt", ServedList().substr(0, 30)); },
         200},
        {"nothing changed again", [] {}, 304},
        {"list republished", [&] { WriteRelease("b.txt", "b"); publish(2); }, 200},
        {"list also as .gz",
         [&] {
             ASSERT_EQ(RunShell("gzip -k -f '" + m_strRelease + "/_listfile.txt'"), 0);
             Settle("_listfile.txt.gz", 3);
         },
         200},
        {"the .gz unchanged", [] {}, 304},
    };
    for (const Step& step : kSteps) {
        SCOPED_TRACE(step.pszName);
        step.fnBefore();
        RunResult run = Run("1");
        ASSERT_EQ(run.nExit, 0) << run.strOutput << Log();
        // The tool it starts at its end has let go of the folder's lock.
        ASSERT_TRUE(WaitForPath(Installed("tool-started"), 10));
        platform::DeleteFile(Installed("tool-started"));
        EXPECT_EQ(ReadWholeFile(strList), ServedList());
        EXPECT_EQ(ReadWholeFile(Installed("a.txt")), "a");
        std::vector<NginxAccessEntry> vecRequests = NewRequests(2);
        ASSERT_GE(vecRequests.size(), 2u);
        EXPECT_EQ(vecRequests[1].strRequest, "GET /rel/_listfile.txt HTTP/1.1");
        EXPECT_EQ(vecRequests[1].nStatus, step.nListStatus);
        if (step.nListStatus == 304) {
            // The same requests as before, and no list bytes.
            EXPECT_EQ(vecRequests.size(), 2u);
            EXPECT_LT(vecRequests[0].nBytesSent + vecRequests[1].nBytesSent, 2048);
        }
    }
    EXPECT_EQ(ReadWholeFile(Installed("b.txt")), "b");
    // The gzip-encoded list crossed the wire at a fraction of its size.
    std::vector<NginxAccessEntry> vecAll = m_nginx.AccessLogFor("/rel/_listfile.txt", 0);
    long long nGzipGet = 0;
    for (const NginxAccessEntry& entry : vecAll) {
        if (entry.strMethod == "GET" && entry.nStatus == 200)
            nGzipGet = entry.nBytesSent;
    }
    EXPECT_LT(nGzipGet, static_cast<long long>(ServedList().size()) / 4);
}
