// The built executables' command line: help, version and refused options
// (nothing created), --init then a run, --init refusing other settings, and
// --plan leaving the installation as it was.
#include <filesystem>
#include <functional>

#include "platform/file_system.h"
#include "tests/e2e/update_run_fixture.h"

namespace {

const std::string kKiro = TIDEWELL_BINARY_DIR "/console/TidewellKiro";
const std::string kMakeList = TIDEWELL_BINARY_DIR "/console/TidewellMakeList";
const std::string kListKey = "MDEyMzQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNkZWY=";

// Reads a plan with a real JSON parser and prints it one sorted fact a line.
const char* const kPlanReader = R"(import json, sys
p = json.load(open(sys.argv[1]))
base = sys.argv[2] + "/"
lines = ["download %s %s %s %s" % (d["path"], d["reason"], d["size"], d["target"] == base + d["path"])
         for d in p["download"]]
lines += ["delete " + d[len(base):] for d in p["delete"]]
lines += ["%s %s" % (s["step"], s["path"]) for s in p["post_processing"]]
lines += ["unchecked " + u for u in p["unchecked"]]
print("up_to_date %s total %d" % (p["up_to_date"], p["total_bytes"]))
print("\n".join(sorted(lines)))
)";

// Every entry below strDir but the log: mode, size, time to the nanosecond, contents.
std::string Snapshot(const CTempDir& dir, const std::string& strDir) {
    std::string strOut = dir.Sub("snapshot.txt");
    EXPECT_EQ(
        RunShell("cd '" + strDir + "' && find . -mindepth 1 -path ./log -prune -o \\( -printf " +
                 "'%p %m %s %T@\\n' -type f -exec md5sum {} + \\) | sort > '" + strOut + "'"),
        0);
    return ReadWholeFile(strOut);
}

class CommandLineTest : public UpdateRunTest {
protected:
    std::string Url(int nPort) const {
        return "http://127.0.0.1:" + std::to_string(nPort) + "/rel/";
    }
};

}  // namespace

TEST_F(CommandLineTest, HelpVersionAndRefusedOptionsCreateNothing) {
    std::string strBare = m_dir.Sub("bare");
    ASSERT_TRUE(platform::MakeDirectory(strBare));
    const std::string strKiro = strBare + "/TidewellKiro";
    const std::string strMakeList = strBare + "/TidewellMakeList";
    ASSERT_TRUE(platform::CopyFileOver(kKiro, strKiro));
    ASSERT_TRUE(platform::CopyFileOver(kMakeList, strMakeList));
    const std::string strNew = strBare + "/new";
    struct Case {
        std::vector<std::string> vecArgv;
        int nExit;
        const char* pszText;  // in stdout on success, in the one-line error otherwise
    };
    const Case kCases[] = {
        {{strKiro, "--help"}, 0, "Usage: TidewellKiro"},
        {{strKiro, "-h", "--bogus"}, 0, "Exit status:"},
        {{strKiro, "--version"}, 0, "TidewellKiro 1."},
        {{strKiro, "1", "--headless", "--bogus=1"}, 1, "unknown option '--bogus=1'"},
        {{strKiro, "--assume-yes", "--assume-no"}, 1, "exclude each other"},
        {{strKiro, "--server", Url(1)}, 1, "go with --init"},
        {{strKiro, "--init"}, 1, "'--init' needs a value"},
        {{strKiro, "--init", strNew}, 1, "--init needs --server"},
        {{strKiro, "--init", strNew, "--server", "ftp://h/r/"}, 1, "http:// or https://"},
        {{strKiro, "--init", strNew, "--server", Url(1), "--public-key", "abc"}, 1, "32 bytes"},
        {{strKiro, "--init", strNew, "--server", Url(1), "1"}, 1, "command words"},
        {{strKiro, "--init", strNew, "--server", Url(1), "--parallel", "17"}, 1, "1 to 16"},
        {{strMakeList, "--help"}, 0, "Usage: TidewellMakeList"},
        {{strMakeList, "--version"}, 0, "TidewellMakeList 1."},
        {{strMakeList, "--bogus", strBare}, 2, "unknown option '--bogus'"},
        {{strMakeList, "-o"}, 2, "'-o' needs a value"},
        {{strMakeList, "--deep", strBare}, 2, "belong to --verify"},
        {{strMakeList, "--verify", Url(1), "--strict"}, 2, "--verify takes only"},
        {{strMakeList, "--verify", Url(1), "--time-span", "-1"}, 2, "--time-span wants"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.vecArgv[1]);
        RunResult run = RunProgram(c.vecArgv);
        EXPECT_EQ(run.nExit, c.nExit) << run.strOutput;
        const std::string& strText = c.nExit == 0 ? run.strStdout : run.strOutput;
        EXPECT_NE(strText.find(c.pszText), std::string::npos) << strText;
        EXPECT_EQ(c.nExit == 0 ? run.strOutput : run.strStdout, "");
        if (c.nExit != 0) {
            std::string strName = c.vecArgv[0].substr(c.vecArgv[0].rfind('/') + 1);
            EXPECT_EQ(strText.substr(strText.find('\n') + 1),
                      "Try '" + strName + " --help' for more information.\n");
        }
    }
    std::vector<platform::DirEntry> entries;
    ASSERT_TRUE(platform::ListDirectory(strBare, &entries));
    EXPECT_EQ(entries.size(), 2u) << "the folder gained " << entries[0].strName << "...";
}

// --init prepares a client; --plan reports what a run would do and changes
// nothing; --init again keeps the same settings and refuses others.
TEST_F(CommandLineTest, InitThenPlanThenInitAgain) {
    std::string strClient = m_dir.Sub("client");
    // Eight requests at a time: the client's run goes through the parallel passes.
    ASSERT_EQ(
        RunProgram({kKiro, "--init", strClient, "--server", Url(m_nginx.Port()), "--parallel", "8"})
            .nExit,
        0);
    std::string strIni = strClient + "/config/Tidewell.ini";
    std::string strSettings = ReadWholeFile(strIni);
    EXPECT_NE(strSettings.find("PARALLEL_TRANSFERS=8"), std::string::npos);
    std::string strTmp = m_dir.Sub("tmp");
    ASSERT_TRUE(platform::MakeDirectory(strTmp));
    m_vecEnv.insert(m_vecEnv.begin(), "TMPDIR=" + strTmp);
    const std::vector<std::string> vecPlan = {strClient + "/TidewellKiro", "--plan"};
    RunResult none = RunProgram(vecPlan);  // no list on the server yet
    EXPECT_EQ(none.nExit, 2) << none.strOutput;
    EXPECT_EQ(none.strStdout, "");

    WriteRelease("app/a.txt", "twenty bytes of text");
    WriteRelease("app/b.dat", std::string(3000, 'b'));
    m_dir.WriteFile("zipsrc/docs/guide.txt", "inside\n");
    ASSERT_EQ(RunShell("mkdir -p '" + m_strRelease + "/pack' && cd '" + m_dir.Sub("zipsrc") +
                       "' && zip -q -r '" + m_strRelease + "/pack/bundle.zip' docs"),
              0);
    platform::FileStatus zip;
    ASSERT_TRUE(platform::GetFileStatus(m_strRelease + "/pack/bundle.zip", &zip));
    MakeList("--delete old/gone.txt");
    m_dir.WriteFile("client/old/gone.txt", "stale");
    std::string strZipSize = std::to_string(zip.nSize);
    struct Step {
        const char* pszName;
        std::function<void()> fnBefore;
        std::string strExpected;
    } const kSteps[] = {
        {"fresh", [] {},
         "up_to_date False total " + std::to_string(3020 + zip.nSize) +
             "\ndelete old/gone.txt\ndownload app/a.txt missing 20 True\n"
             "download app/b.dat missing 3000 True\ndownload pack/bundle.zip missing " +
             strZipSize + " True\nunzip pack/bundle.zip\n"},
        {"up to date",
         [&] {
             ASSERT_EQ(RunProgram({strClient + "/TidewellKiro", "--headless", "1"}).nExit, 0);
         },
         "up_to_date True total 0\n\n"},
        // a.txt: other bytes of the same size, older; the zip only older, so
        // its hash keeps it, and a plan must not give it the server's time.
        {"changed",
         [&] {
             platform::FileStatus st;
             ASSERT_TRUE(platform::GetFileStatus(strClient + "/app/a.txt", &st));
             m_dir.WriteFile("client/app/a.txt", "twenty bytes of TEXT");
             ASSERT_TRUE(
                 platform::SetFileModifyTime(strClient + "/app/a.txt", st.nModifyTime - 60));
             ASSERT_TRUE(
                 platform::SetFileModifyTime(strClient + "/pack/bundle.zip", zip.nModifyTime - 60));
             m_dir.WriteFile("client/app/b.dat", std::string(2999, 'b'));
         },
         "up_to_date False total 3020\ndownload app/a.txt time 20 True\n"
         "download app/b.dat size 3000 True\n"},
    };
    m_dir.WriteFile("plan_reader.py", kPlanReader);
    for (const Step& step : kSteps) {
        SCOPED_TRACE(step.pszName);
        step.fnBefore();
        std::string strBefore = Snapshot(m_dir, strClient);
        RunResult plan = RunProgram(vecPlan);
        ASSERT_EQ(plan.nExit, 0) << plan.strOutput;
        EXPECT_EQ(RunShell("python3 '" + m_dir.Sub("plan_reader.py") + "' '" +
                           m_dir.Sub("run-stdout.txt") + "' '" + strClient + "' > '" +
                           m_dir.Sub("plan.txt") + "'"),
                  0);
        EXPECT_EQ(ReadWholeFile(m_dir.Sub("plan.txt")), step.strExpected) << plan.strStdout;
        EXPECT_EQ(Snapshot(m_dir, strClient), strBefore);
        EXPECT_TRUE(std::filesystem::is_empty(strTmp)) << "left in TMPDIR";
    }

    // Again with the same settings: nothing to do; with others: refused,
    // naming each that differs.
    const std::string strOther = "http://localhost:" + std::to_string(m_nginx.Port() + 1) + "/rel/";
    const struct {
        std::vector<std::string> vecArgs;
        int nExit;
        std::string strMessage;
    } kCases[] = {
        {{Url(m_nginx.Port()), "--parallel", "8"}, 0, strClient + " already holds these settings"},
        {{strOther, "--public-key", kListKey},
         1,
         strIni + " already holds other settings (SVR_IP_ADDR, SVR_PORT_NO, LIST_PUBLIC_KEY, "
                  "PARALLEL_TRANSFERS); nothing was changed"},
    };
    for (const auto& c : kCases) {
        std::vector<std::string> vecArgv = {kKiro, "--init", strClient, "--server"};
        vecArgv.insert(vecArgv.end(), c.vecArgs.begin(), c.vecArgs.end());
        RunResult again = RunProgram(vecArgv);
        EXPECT_EQ(again.nExit, c.nExit);
        EXPECT_EQ(again.strOutput + again.strStdout, "TidewellKiro: " + c.strMessage + "\n");
        EXPECT_EQ(ReadWholeFile(strIni), strSettings);
    }
    std::string strKeyed = m_dir.Sub("clients/two");
    ASSERT_EQ(RunProgram({kKiro, "--init", strKeyed, "--server", Url(m_nginx.Port()) + "list.txt",
                          "--public-key", kListKey})
                  .nExit,
              0);
    std::string strKeyedIni = ReadWholeFile(strKeyed + "/config/Tidewell.ini");
    EXPECT_NE(strKeyedIni.find("LIST_PUBLIC_KEY=" + kListKey), std::string::npos);
    EXPECT_NE(strKeyedIni.find("LIST_FILE_NAME=list.txt"), std::string::npos);
}
