// Real release trees published by the publisher's tool and served by nginx:
// links, special files and awkward names installed as served; --verify
// telling what the server does not serve as listed; one signed release
// taken, and one refused with nothing changed.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "platform/file_system.h"
#include "platform/profile.h"
#include "tests/e2e/update_run_fixture.h"

namespace {

const std::string kMakeList = TIDEWELL_BINARY_DIR "/console/TidewellMakeList";

class ReleaseTreeTest : public UpdateRunTest {
protected:
    RunResult MakeListRun(std::vector<std::string> vecArgs) {
        vecArgs.insert(vecArgs.begin(), kMakeList);
        return RunProgram(vecArgs);
    }
    RunResult Verify(std::vector<std::string> vecArgs = {}) {
        vecArgs.insert(vecArgs.begin(),
                       {"--verify", "http://127.0.0.1:" + std::to_string(m_nginx.Port()) +
                                        "/rel/_listfile.txt"});
        return MakeListRun(vecArgs);
    }
};

}  // namespace

TEST_F(ReleaseTreeTest, LinksAndAwkwardNamesInstallAsTheyAreServed) {
    const std::vector<std::string> vecNames = {
        "with blank.txt",
        " leading blank.txt",
        "comma, name.txt",
        "#hash.txt",
        "pct%20.txt",
        "100%.txt",
        "what?.txt",
        "semi;colon+plus&eq=.txt",
        "ab",
        "emoji-\xF0\x9F\x98\x80.txt",
        "한국어/파일 이름.txt",
        "long/" + std::string(250, 'd') + "/" + std::string(250, 'f'),
        "pcts/" + std::string(160, '%'),
    };
    for (const std::string& strName : vecNames)
        WriteRelease(strName, "content of " + strName + "\n");
    m_dir.WriteFile("outside/shared/s.txt", "shared, from outside the release\n");
    WriteRelease("docs/guide.txt", "the guide\n");
    std::string strRel = m_strRelease + "/";
    ASSERT_EQ(symlink("ab", (strRel + "link-to-file").c_str()), 0);
    ASSERT_EQ(symlink(m_dir.Sub("outside/shared").c_str(), (strRel + "shared").c_str()), 0);
    ASSERT_EQ(symlink("docs", (strRel + "all-docs").c_str()), 0);
    ASSERT_EQ(symlink("..", (strRel + "docs/loop").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (strRel + "dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((strRel + "pipe").c_str(), 0644), 0);

    // --strict refuses the tree and writes nothing.
    RunResult strict = MakeListRun({"--strict", m_strRelease});
    EXPECT_EQ(strict.nExit, 1) << strict.strOutput;
    EXPECT_NE(strict.strOutput.find("4 warning(s) under --strict"), std::string::npos)
        << strict.strOutput;
    EXPECT_FALSE(platform::FileExists(strRel + "_listfile.txt"));
    RunResult made = MakeListRun({m_strRelease});
    ASSERT_EQ(made.nExit, 0) << made.strOutput;

    RunResult run = Run("1");
    ASSERT_EQ(run.nExit, 0) << run.strOutput << Log();
    std::map<std::string, std::string> mapExpected;
    for (const std::string& strName : vecNames)
        mapExpected[strName] = "content of " + strName + "\n";
    mapExpected["link-to-file"] = "content of ab\n";
    mapExpected["shared/s.txt"] = "shared, from outside the release\n";
    mapExpected["docs/guide.txt"] = "the guide\n";
    std::map<std::string, std::string> mapInstalled = TreeOf(m_strInstall);
    std::erase_if(mapInstalled, [](const auto& entry) {
        return entry.first.rfind("log/", 0) == 0 || entry.first == "TidewellKiro" ||
               entry.first == "config/Tidewell.ini" || entry.first.rfind("_listfile.txt", 0) == 0;
    });
    EXPECT_EQ(mapInstalled, mapExpected);

    NewGets();
    ASSERT_EQ(Run("1").nExit, 0);
    EXPECT_EQ(NewGets(2), std::vector<std::string>{"/rel/_listfile.txt"});
    RunResult verified = Verify({"--deep"});
    EXPECT_EQ(verified.nExit, 0) << verified.strStdout << verified.strOutput;
}

TEST_F(ReleaseTreeTest, VerifyReportsEachFileNotServedAsListed) {
    for (const char* pszName : {"ok.txt", "missing.txt", "size.txt", "time.txt", "byte.txt"})
        WriteRelease(pszName, std::string("content of ") + pszName + "\n");
    WriteRelease("zipped/z.txt", std::string(5000, 'z'));
    ASSERT_EQ(RunShell("gzip '" + m_strRelease + "/zipped/z.txt'"), 0);
    ASSERT_EQ(MakeListRun({"--new-key", m_dir.Sub("release.pem")}).nExit, 0);
    ASSERT_EQ(MakeListRun({"--new-key", m_dir.Sub("other.pem")}).nExit, 0);
    ASSERT_EQ(MakeListRun({"--gzip-static", "--key", m_dir.Sub("release.pem"), m_strRelease}).nExit,
              0);
    RunResult clean = Verify({"--deep", "--key", m_dir.Sub("release.pem.pub")});
    EXPECT_EQ(clean.nExit, 0) << clean.strStdout << clean.strOutput;
    EXPECT_EQ(clean.strStdout, "6 files checked: the server serves the list exactly\n");
    RunResult wrongKey = Verify({"--key", m_dir.Sub("other.pem.pub")});
    EXPECT_EQ(wrongKey.nExit, 1);
    EXPECT_NE(wrongKey.strOutput.find("refused by the key: bad signature"), std::string::npos);

    std::string strRel = m_strRelease + "/";
    platform::FileStatus st;
    ASSERT_TRUE(platform::GetFileStatus(strRel + "size.txt", &st));
    ASSERT_TRUE(platform::DeleteFile(strRel + "missing.txt"));
    WriteRelease("size.txt", "content of size.txt, and more\n");
    ASSERT_TRUE(platform::SetFileModifyTime(strRel + "size.txt", st.nModifyTime));
    ASSERT_TRUE(platform::SetFileModifyTime(strRel + "time.txt", st.nModifyTime - 3600));
    WriteRelease("byte.txt", "content of byte.tXt\n");
    ASSERT_TRUE(platform::SetFileModifyTime(strRel + "byte.txt", st.nModifyTime));
    // The gzip form replaced by the plain file, as when gzip_static is missing.
    ASSERT_EQ(RunShell("cd '" + strRel + "zipped' && gzip -d z.txt.gz"), 0);
    struct Case {
        const char* pszLine;  // the mismatch line, from its start
        bool bDeepOnly;
    } const kCases[] = {
        {"missing.txt: HTTP 404", false},
        {"size.txt: size 30 on the server, 20 in the list", false},
        {"time.txt: time ", false},
        {"zipped/z.txt: sent without gzip encoding", false},
        {"byte.txt: SHA-256 of the served bytes differs from the list", true},
    };
    for (bool bDeep : {false, true}) {
        SCOPED_TRACE(bDeep ? "deep" : "shallow");
        RunResult run =
            Verify(bDeep ? std::vector<std::string>{"--deep"} : std::vector<std::string>{});
        EXPECT_EQ(run.nExit, 1) << run.strOutput;
        std::string strOut = "\n" + run.strStdout;
        for (const Case& c : kCases) {
            EXPECT_EQ(strOut.find(std::string("\n") + c.pszLine) != std::string::npos,
                      bDeep || !c.bDeepOnly)
                << c.pszLine << strOut;
        }
        EXPECT_NE(
            strOut.find(bDeep ? "6 files checked: 5 not served" : "6 files checked: 4 not served"),
            std::string::npos)
            << strOut;
    }
}

// Keys and lists made by the publisher's tool: the signed release installs;
// a changed line is refused (exit 2) and nothing in the installation changes.
TEST_F(ReleaseTreeTest, SignedReleaseTakenAndATamperedOneRefused) {
    ASSERT_EQ(MakeListRun({"--new-key", m_dir.Sub("release.pem")}).nExit, 0);
    std::string strPublic = ReadWholeFile(m_dir.Sub("release.pem.pub"));
    std::string strIni = Installed("config/Tidewell.ini");
    ASSERT_TRUE(platform::WriteProfileString("TIDE", "LIST_PUBLIC_KEY",
                                             strPublic.substr(0, strPublic.find('\n')), strIni));
    WriteRelease("a.txt", "signed a");
    MakeList("--key '" + m_dir.Sub("release.pem") + "' --list-version 100");
    RunResult run = Run("1");
    ASSERT_EQ(run.nExit, 0) << run.strOutput << Log();
    EXPECT_EQ(ReadWholeFile(Installed("a.txt")), "signed a");
    EXPECT_EQ(platform::GetProfileString("TIDE", "LIST_VERSION", "", strIni), "100");

    std::string strPath = WriteRelease("a.txt", "tampered");
    platform::SetFileModifyTime(strPath, 1900000000);
    MakeList("--key '" + m_dir.Sub("release.pem") + "' --list-version 200");
    std::string strList = ReadWholeFile(m_strRelease + "/_listfile.txt");
    strList.replace(strList.find("a.txt,,,"), 8, "a.txt,,,EXE");
    m_nginx.WriteFile("rel/_listfile.txt", strList);
    std::map<std::string, std::string> before = TreeOf(m_strInstall);
    RunResult refused = Run("1");
    EXPECT_EQ(refused.nExit, 2) << refused.strOutput;
    EXPECT_NE(Log().find("List file refused: bad signature"), std::string::npos) << Log();
    std::map<std::string, std::string> after = TreeOf(m_strInstall);
    std::erase_if(after, [](const auto& entry) { return entry.first.rfind("log/", 0) == 0; });
    std::erase_if(before, [](const auto& entry) { return entry.first.rfind("log/", 0) == 0; });
    EXPECT_EQ(after, before);
}
