// A real release tree published by the publisher's tool and served by nginx.
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

// A signed release tree with links, special files and awkward names:
// --strict refuses it; made, --verify finds it served exactly, the updater
// installs it as served and next time fetches the list only. Then each file
// the server no longer serves as listed is reported, and a list with a
// changed line is refused (exit 2) with nothing in the installation changed.
TEST_F(ReleaseTreeTest, SignedTreeInstalledAsServedThenEachDifferenceReported) {
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
        "missing.txt",
        "size.txt",
        "time.txt",
        "byte.txt",
    };
    std::map<std::string, std::string> mapExpected;
    for (const std::string& strName : vecNames)
        mapExpected[strName] = "content of " + strName + "\n";
    mapExpected["link-to-file"] = "content of ab\n";
    mapExpected["shared/s.txt"] = "shared, from outside the release\n";
    mapExpected["docs/guide.txt"] = "the guide\n";
    mapExpected["zipped/z.txt"] = std::string(5000, 'z');
    for (const auto& [strName, strData] : mapExpected) {
        if (strName != "link-to-file" && strName != "shared/s.txt")
            WriteRelease(strName, strData);
    }
    m_dir.WriteFile("outside/shared/s.txt", mapExpected["shared/s.txt"]);
    std::string strRel = m_strRelease + "/";
    ASSERT_EQ(RunShell("gzip '" + strRel + "zipped/z.txt'"), 0);
    ASSERT_EQ(symlink("ab", (strRel + "link-to-file").c_str()), 0);
    ASSERT_EQ(symlink(m_dir.Sub("outside/shared").c_str(), (strRel + "shared").c_str()), 0);
    ASSERT_EQ(symlink("docs", (strRel + "all-docs").c_str()), 0);
    ASSERT_EQ(symlink("..", (strRel + "docs/loop").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (strRel + "dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((strRel + "pipe").c_str(), 0644), 0);

    RunResult strict = MakeListRun({"--strict", m_strRelease});
    EXPECT_EQ(strict.nExit, 1) << strict.strOutput;
    EXPECT_NE(strict.strOutput.find("4 warning(s) under --strict"), std::string::npos)
        << strict.strOutput;
    EXPECT_FALSE(platform::FileExists(strRel + "_listfile.txt"));
    ASSERT_EQ(MakeListRun({"--new-key", m_dir.Sub("release.pem")}).nExit, 0);
    ASSERT_EQ(MakeListRun({"--new-key", m_dir.Sub("other.pem")}).nExit, 0);
    ASSERT_EQ(MakeListRun({"--gzip-static", "--key", m_dir.Sub("release.pem"), "--list-version",
                           "100", m_strRelease})
                  .nExit,
              0);
    std::string strChecked = std::to_string(mapExpected.size()) + " files checked: ";
    RunResult clean = Verify({"--deep", "--key", m_dir.Sub("release.pem.pub")});
    EXPECT_EQ(clean.nExit, 0) << clean.strStdout << clean.strOutput;
    EXPECT_EQ(clean.strStdout, strChecked + "the server serves the list exactly\n");
    RunResult wrongKey = Verify({"--key", m_dir.Sub("other.pem.pub")});
    EXPECT_EQ(wrongKey.nExit, 1);
    EXPECT_NE(wrongKey.strOutput.find("refused by the key: bad signature"), std::string::npos);

    std::string strPublic = ReadWholeFile(m_dir.Sub("release.pem.pub"));
    std::string strIni = Installed("config/Tidewell.ini");
    ASSERT_TRUE(platform::WriteProfileString("TIDE", "LIST_PUBLIC_KEY",
                                             strPublic.substr(0, strPublic.find('\n')), strIni));
    RunResult run = Run("1");
    ASSERT_EQ(run.nExit, 0) << run.strOutput << Log();
    EXPECT_EQ(platform::GetProfileString("TIDE", "LIST_VERSION", "", strIni), "100");
    std::map<std::string, std::string> mapInstalled = TreeOf(m_strInstall);
    std::erase_if(mapInstalled, [](const auto& entry) {
        return entry.first.rfind("log/", 0) == 0 || entry.first == "TidewellKiro" ||
               entry.first == "config/Tidewell.ini" || entry.first.rfind("_listfile.txt", 0) == 0;
    });
    EXPECT_EQ(mapInstalled, mapExpected);
    NewGets();
    ASSERT_EQ(Run("1").nExit, 0);
    EXPECT_EQ(NewGets(1), std::vector<std::string>{"/rel/_listfile.txt"});

    platform::FileStatus st;
    ASSERT_TRUE(platform::GetFileStatus(strRel + "size.txt", &st));
    ASSERT_TRUE(platform::DeleteFile(strRel + "missing.txt"));
    WriteRelease("size.txt", "content of size.txt, and more\n");
    ASSERT_TRUE(platform::SetFileModifyTime(strRel + "size.txt", st.nModifyTime));
    ASSERT_TRUE(platform::SetFileModifyTime(strRel + "time.txt", st.nModifyTime - 3600));
    WriteRelease("byte.txt", "content of byte.tXt\n");
    ASSERT_TRUE(platform::SetFileModifyTime(strRel + "byte.txt", st.nModifyTime));
    // The gzip form replaced by the plain file, as when gzip_static is missing.
    ASSERT_EQ(RunShell("gzip -d '" + strRel + "zipped/z.txt.gz'"), 0);
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
        RunResult verify =
            Verify(bDeep ? std::vector<std::string>{"--deep"} : std::vector<std::string>{});
        EXPECT_EQ(verify.nExit, 1) << verify.strOutput;
        std::string strOut = "\n" + verify.strStdout;
        for (const Case& c : kCases) {
            EXPECT_EQ(strOut.find(std::string("\n") + c.pszLine) != std::string::npos,
                      bDeep || !c.bDeepOnly)
                << c.pszLine << strOut;
        }
        EXPECT_NE(strOut.find(strChecked + (bDeep ? "5 not served" : "4 not served")),
                  std::string::npos)
            << strOut;
    }

    // Signed anew (its version is the time now), then a line changed.
    ASSERT_EQ(MakeListRun({"--key", m_dir.Sub("release.pem"), m_strRelease}).nExit, 0);
    std::string strList = ReadWholeFile(strRel + "_listfile.txt");
    strList.replace(strList.find("\nab,,,"), 6, "\nab,,,EXE");
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
