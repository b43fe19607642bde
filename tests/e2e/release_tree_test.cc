// Real release trees through the publisher's tool, nginx and the updater:
// links, special files and awkward names; and --verify telling what the
// server does not serve as listed.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "platform/file_system.h"
#include "tests/e2e/update_run_fixture.h"

namespace {

const std::string kMakeList = TIDEWELL_BINARY_DIR "/console/TidewellMakeList";

// Regular files below strDir as relative paths, links not followed.
std::set<std::string> FilesBelow(const std::string& strDir) {
    std::set<std::string> setFiles;
    namespace fs = std::filesystem;
    for (const auto& entry : fs::recursive_directory_iterator(strDir)) {
        if (entry.is_regular_file() && !entry.is_symlink())
            setFiles.insert(fs::relative(entry.path(), strDir).string());
    }
    return setFiles;
}

std::string Repeat(const std::string& strText, int nTimes) {
    std::string strOut;
    for (int i = 0; i < nTimes; ++i)
        strOut += strText;
    return strOut;
}

class ReleaseTreeTest : public UpdateRunTest {
protected:
    std::string ListUrl() const {
        return "http://127.0.0.1:" + std::to_string(m_nginx.Port()) + "/rel/_listfile.txt";
    }
    RunResult MakeListRun(std::vector<std::string> vecArgs) {
        vecArgs.insert(vecArgs.begin(), kMakeList);
        return RunProgram(vecArgs);
    }
    RunResult Verify(std::vector<std::string> vecArgs = {}) {
        vecArgs.insert(vecArgs.begin(), {"--verify", ListUrl()});
        return MakeListRun(vecArgs);
    }
};

}  // namespace

TEST_F(ReleaseTreeTest, LinksAndAwkwardNamesInstallAsTheyAreServed) {
    // Awkward names, each a file whose content is its own name.
    const std::vector<std::string> vecNames = {
        "plain.txt",
        "with blank.txt",
        " leading blank.txt",
        "comma, name.txt",
        "#hash.txt",
        "!bang.txt",
        "pct%20.txt",
        "100%.txt",
        "what?.txt",
        "semi;colon+plus&eq=.txt",
        "ab",
        "한국어/파일 이름.txt",
        "한국어/" + Repeat("가", 40) + "/" + Repeat("나", 40) + ".txt",
        "long/" + std::string(250, 'd') + "/" + std::string(250, 'f'),
        "pcts/" + std::string(160, '%'),
    };
    for (const std::string& strName : vecNames)
        WriteRelease(strName, "content of " + strName + "\n");
    m_dir.WriteFile("outside/shared/s.txt", "shared, from outside the release\n");
    WriteRelease("docs/guide.txt", "the guide\n");
    std::string strRel = m_strRelease + "/";
    ASSERT_EQ(symlink("plain.txt", (strRel + "link-to-file").c_str()), 0);
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
    for (const char* pszWarning :
         {"'dangling' left out: a link that leads nowhere", "'pipe' left out: not a file",
          "'all-docs' left out: the same folder as 'docs'",
          "'docs/loop' left out: a link back to the release folder"}) {
        EXPECT_NE(made.strOutput.find(pszWarning), std::string::npos) << made.strOutput;
    }

    RunResult run = Run("1");
    ASSERT_EQ(run.nExit, 0) << run.strOutput << Log();
    std::set<std::string> setExpected(vecNames.begin(), vecNames.end());
    setExpected.insert({"link-to-file", "shared/s.txt", "docs/guide.txt"});
    std::set<std::string> setInstalled = FilesBelow(m_strInstall);
    for (const char* pszOwn : {"TidewellKiro", "config/Tidewell.ini", "_listfile.txt"})
        setInstalled.erase(pszOwn);
    std::erase_if(setInstalled, [](const std::string& s) { return s.rfind("log/", 0) == 0; });
    EXPECT_EQ(setInstalled, setExpected);
    for (const std::string& strName : setExpected) {
        EXPECT_EQ(ReadWholeFile(Installed(strName)), ReadWholeFile(strRel + strName)) << strName;
    }

    NewRequests();
    ASSERT_EQ(Run("1").nExit, 0);
    EXPECT_EQ(NewRequests(2).size(), 2u) << "the second run asks for the list only";

    RunResult verified = Verify({"--deep"});
    EXPECT_EQ(verified.nExit, 0) << verified.strStdout << verified.strOutput;
    EXPECT_NE(verified.strStdout.find("files checked: the server serves the list exactly"),
              std::string::npos)
        << verified.strStdout;
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
    EXPECT_NE(wrongKey.strOutput.find("refused by the key: bad signature"), std::string::npos)
        << wrongKey.strOutput;

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
    };
    const Case kCases[] = {
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
        size_t nExpected = 0;
        for (const Case& c : kCases) {
            bool bShown = run.strStdout.find(std::string("\n") + c.pszLine) != std::string::npos ||
                          run.strStdout.rfind(c.pszLine, 0) == 0;
            EXPECT_EQ(bShown, bDeep || !c.bDeepOnly) << c.pszLine << "\n" << run.strStdout;
            nExpected += bDeep || !c.bDeepOnly ? 1 : 0;
        }
        EXPECT_NE(run.strStdout.find("6 files checked: " + std::to_string(nExpected) +
                                     " not served as listed"),
                  std::string::npos)
            << run.strStdout;
    }
}
