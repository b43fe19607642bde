// Signed list files and per-file hashes, end to end: keys and lists made by
// the publisher's tool (and by the openssl command line), served by nginx,
// installed by the built updater.
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>

#include "platform/file_system.h"
#include "platform/profile.h"
#include "tests/e2e/update_run_fixture.h"

namespace {

namespace fs = std::filesystem;

const char* const kListError = "리스트 파일을 가져오는 도중에 오류가 발생했습니다.";

struct FileState {
    std::string strData;
    int64_t nModifyTime = 0;
    bool operator==(const FileState&) const = default;
};
using Snapshot = std::map<std::string, FileState>;

class SignedListTest : public UpdateRunTest {
protected:
    std::string Ini() const { return Installed("config/Tidewell.ini"); }
    std::string ToolCommand() const {
        return "'" TIDEWELL_BINARY_DIR "/console/TidewellMakeList' ";
    }

    // A key pair made by the tool; returns the public key as it goes into the settings.
    std::string NewKey(const std::string& strName) {
        EXPECT_EQ(RunShell(ToolCommand() + "--new-key '" + m_dir.Sub(strName) + "' >/dev/null"), 0);
        std::string strPublic = ReadWholeFile(m_dir.Sub(strName) + ".pub");
        if (!strPublic.empty() && strPublic.back() == '\n')
            strPublic.pop_back();
        return strPublic;
    }
    void SetKey(const std::string& strKey) {
        ASSERT_TRUE(platform::WriteProfileString("TIDE", "LIST_PUBLIC_KEY", strKey, Ini()));
    }
    std::string IniValue(const std::string& strKey) const {
        return platform::GetProfileString("TIDE", strKey, "", Ini());
    }
    std::string ServedList() const { return ReadWholeFile(m_strRelease + "/_listfile.txt"); }
    void ServeList(const std::string& strList) { m_nginx.WriteFile("rel/_listfile.txt", strList); }
    // Publishes new content for a release file, an hour later than before.
    void Republish(const std::string& strRel, const std::string& strData) {
        platform::FileStatus st;
        platform::GetFileStatus(m_strRelease + "/" + strRel, &st);
        std::string strPath = WriteRelease(strRel, strData);
        platform::SetFileModifyTime(strPath, st.nModifyTime + 3600);
    }
    // Every file of the installation but the log and the scratch folder.
    Snapshot Take() const {
        Snapshot snapshot;
        for (const auto& entry : fs::recursive_directory_iterator(m_strInstall)) {
            std::string strRel = fs::relative(entry.path(), m_strInstall).string();
            if (!entry.is_regular_file() || strRel.rfind("log/", 0) == 0 ||
                strRel.rfind("temp/", 0) == 0) {
                continue;
            }
            platform::FileStatus st;
            platform::GetFileStatus(entry.path().string(), &st);
            snapshot[strRel] = {ReadWholeFile(entry.path().string()), st.nModifyTime};
        }
        return snapshot;
    }
    // GET targets of the requests since the last call; nExpected in all.
    std::vector<std::string> GetUris(size_t nExpected) {
        std::vector<std::string> vec;
        for (const NginxAccessEntry& entry : NewRequests(nExpected)) {
            if (entry.strMethod == "GET")
                vec.push_back(entry.strUri);
        }
        return vec;
    }
};

}  // namespace

TEST_F(SignedListTest, SignedReleaseInstallsAndARepublishWithNewTimesFetchesNothing) {
    std::string strPem = m_dir.Sub("keys/release.pem");
    ASSERT_EQ(RunShell("mkdir -p '" + m_dir.Sub("keys") + "'"), 0);
    std::string strPublic = NewKey("keys/release.pem");
    struct stat st {};
    ASSERT_EQ(stat(strPem.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::string strPemText = ReadWholeFile(strPem);
    EXPECT_NE(RunShell(ToolCommand() + "--new-key '" + strPem + "' 2>/dev/null"), 0);
    EXPECT_EQ(ReadWholeFile(strPem), strPemText) << "a key is never overwritten";

    SetKey(strPublic);
    WriteRelease("app/readme.txt", "signed hello\n");
    WriteRelease("data/notes.txt", std::string(50000, 'n') + "end\n");
    ASSERT_EQ(RunShell("gzip -9 '" + m_strRelease + "/data/notes.txt'"), 0);
    MakeList("--gzip-static --key '" + strPem + "' --list-version 1000");
    RunResult run = Run("1");
    ASSERT_EQ(run.nExit, 0) << run.strOutput << Log();
    EXPECT_EQ(ReadWholeFile(Installed("app/readme.txt")), "signed hello\n");
    EXPECT_EQ(ReadWholeFile(Installed("data/notes.txt")), std::string(50000, 'n') + "end\n");
    EXPECT_EQ(IniValue("LIST_VERSION"), "1000");
    NewRequests(4);

    // The same content with new times: the hashes settle it without a transfer.
    for (const char* pszRel : {"app/readme.txt", "data/notes.txt.gz"}) {
        platform::FileStatus served;
        ASSERT_TRUE(platform::GetFileStatus(m_strRelease + "/" + pszRel, &served));
        platform::SetFileModifyTime(m_strRelease + "/" + pszRel, served.nModifyTime + 3600);
    }
    MakeList("--gzip-static --key '" + strPem + "' --list-version 1001");
    RunResult again = Run("1");
    ASSERT_EQ(again.nExit, 0) << again.strOutput << Log();
    EXPECT_EQ(GetUris(2), std::vector<std::string>{"/rel/_listfile.txt"});
    platform::FileStatus local, served;
    ASSERT_TRUE(platform::GetFileStatus(Installed("app/readme.txt"), &local));
    ASSERT_TRUE(platform::GetFileStatus(m_strRelease + "/app/readme.txt", &served));
    EXPECT_EQ(local.nModifyTime, served.nModifyTime);
    std::string strLog = Log();
    size_t nFirst = strLog.find("Same SHA-256 as the server");
    ASSERT_NE(nFirst, std::string::npos) << strLog;
    EXPECT_NE(strLog.find("Same SHA-256 as the server", nFirst + 1), std::string::npos);
    EXPECT_EQ(IniValue("LIST_VERSION"), "1001");
}

TEST_F(SignedListTest, ListsThatAreNotGenuineCurrentAndFreshChangeNothing) {
    ASSERT_EQ(RunShell("mkdir -p '" + m_dir.Sub("keys") + "'"), 0);
    std::string strPem = m_dir.Sub("keys/release.pem");
    SetKey(NewKey("keys/release.pem"));
    // Another publisher's key, made by openssl itself.
    std::string strOtherPem = m_dir.Sub("keys/other.pem");
    ASSERT_EQ(RunShell("openssl genpkey -algorithm ed25519 -out '" + strOtherPem + "'"), 0);
    std::string strSign = "--key '" + strPem + "' --list-version ";

    WriteRelease("a.txt", "one");
    WriteRelease("b.txt", "bee");
    MakeList(strSign + "100");
    std::string strListV1 = ServedList();
    ASSERT_EQ(Run("1").nExit, 0) << Log();
    Republish("a.txt", "two!");
    MakeList(strSign + "200");
    ASSERT_EQ(Run("1").nExit, 0) << Log();
    EXPECT_EQ(ReadWholeFile(Installed("a.txt")), "two!");
    EXPECT_EQ(IniValue("LIST_VERSION"), "200");

    Republish("a.txt", "three");
    const Snapshot before = Take();
    struct Case {
        const char* pszName;
        std::function<void()> fnPublish;
        const char* pszReason;
    } const kCases[] = {
        {"replayed older list", [&] { ServeList(strListV1); }, "older version 100 < 200"},
        {"changed line",
         [&] {
             MakeList(strSign + "300");
             std::string strList = ServedList();
             strList.replace(strList.find("a.txt,,,"), 8, "a.txt,,,EXE");
             ServeList(strList);
         },
         "bad signature"},
        {"another key", [&] { MakeList("--key '" + strOtherPem + "' --list-version 300"); },
         "bad signature"},
        {"unsigned", [&] { MakeList(); }, "unsigned"},
        {"expired",
         [&] {
             // Signed by the openssl command line with the tool's key.
             MakeList();
             ServeList("# tidewell-list version=300 expires=20200101000000\n" + ServedList());
             ASSERT_EQ(RunShell("cd '" + m_strRelease +
                                "' && printf '# signature ed25519 %s\\n' \"$(openssl pkeyutl "
                                "-sign -rawin -inkey '" +
                                strPem + "' -in _listfile.txt | base64 -w0)\" >> _listfile.txt"),
                       0);
         },
         "expired"},
    };
    for (const Case& c : kCases) {
        c.fnPublish();
        size_t nLogBefore = Log().size();
        RunResult run = Run("1");
        EXPECT_EQ(run.nExit, 2) << c.pszName << run.strOutput;
        EXPECT_NE(run.strOutput.find(kListError), std::string::npos) << c.pszName;
        EXPECT_NE(Log().find(std::string("List file refused: ") + c.pszReason, nLogBefore),
                  std::string::npos)
            << c.pszName << Log().substr(nLogBefore);
        EXPECT_EQ(Take(), before) << c.pszName;
        EXPECT_EQ(IniValue("LIST_VERSION"), "200") << c.pszName;
    }

    MakeList(strSign + "300");
    ASSERT_EQ(Run("1").nExit, 0) << Log();
    EXPECT_EQ(ReadWholeFile(Installed("a.txt")), "three");
    EXPECT_EQ(IniValue("LIST_VERSION"), "300");
}

TEST_F(SignedListTest, ChangedByteFailsThatFileAndKeepsTheOldOne) {
    std::string strPem = m_dir.Sub("release.pem");
    SetKey(NewKey("release.pem"));
    WriteRelease("a.txt", "first a");
    WriteRelease("b.txt", "first b");
    MakeList("--key '" + strPem + "' --list-version 1");
    ASSERT_EQ(Run("1").nExit, 0) << Log();

    Republish("a.txt", "second a");
    Republish("b.txt", "second b");
    MakeList("--key '" + strPem + "' --list-version 2");
    WriteRelease("a.txt", "secXnd a");  // same size, one byte changed on the way
    RunResult run = Run("1");
    // The failure question takes its default, No: the run did not reach its end.
    EXPECT_EQ(run.nExit, 3) << run.strOutput << Log();
    EXPECT_EQ(ReadWholeFile(Installed("a.txt")), "first a");
    EXPECT_EQ(ReadWholeFile(Installed("b.txt")), "second b");
    EXPECT_NE(Log().find("'a.txt' >> SHA-256 differs from the list."), std::string::npos);
    for (const auto& entry : fs::directory_iterator(m_strInstall)) {
        std::string strName = entry.path().filename().string();
        if (strName != "_listfile.txt.tidewell-validator") {
            EXPECT_EQ(strName.find("tidewell-"), std::string::npos) << entry.path();
        }
    }
    EXPECT_EQ(IniValue("LIST_VERSION"), "1");
}

TEST_F(SignedListTest, ClientWithoutAKeyTakesASignedListAsAnUnsignedOne) {
    WriteRelease("a.txt", "plain a");
    WriteRelease("sub/b.txt", "plain b");
    MakeList();
    ASSERT_EQ(Run("1").nExit, 0) << Log();
    std::vector<std::string> unsignedGets = GetUris(4);
    Snapshot unsignedInstall = Take();

    fs::remove_all(Installed("sub"));
    fs::remove(Installed("a.txt"));
    fs::remove(Installed("_listfile.txt"));
    std::string strPublic = NewKey("release.pem");
    MakeList("--key '" + m_dir.Sub("release.pem") + "'");
    RunResult run = Run("1");
    ASSERT_EQ(run.nExit, 0) << run.strOutput << Log();
    EXPECT_EQ(GetUris(4), unsignedGets);
    Snapshot signedInstall = Take();
    for (const char* pszList : {"_listfile.txt", "_listfile.txt.tidewell-validator"}) {
        unsignedInstall.erase(pszList);
        signedInstall.erase(pszList);
    }
    EXPECT_EQ(signedInstall, unsignedInstall);
    EXPECT_EQ(IniValue("LIST_VERSION"), "");

    // A key that is not base64 of 32 bytes: the run does not start.
    for (const std::string& strBad : {std::string("not-a-key"), strPublic.substr(4)}) {
        SetKey(strBad);
        RunResult refused = Run("1");
        EXPECT_EQ(refused.nExit, 1) << strBad;
        EXPECT_NE(refused.strOutput.find("LIST_PUBLIC_KEY"), std::string::npos)
            << refused.strOutput;
    }
    EXPECT_TRUE(NewRequests().empty());
}
