// Archive handlers on archives made by the zip tool and by Python: members
// land next to the archive, broken and unsafe archives fail and are deleted,
// zip-reg members whose registration fails are deleted.
#include <sys/stat.h>

#include "app/message_box.h"
#include "platform/file_system.h"
#include "tests/engine/post_process_fixture.h"

namespace {

using launchtest::CEnvVar;

class ZipHandlerTest : public PostProcessTest {
protected:
    // pkg/pkg.zip with bin/x.dll, readme.txt and the empty folder docs/.
    std::string MakePackage() {
        m_src.WriteFile("bin/x.dll", "new dll");
        m_src.WriteFile("readme.txt", "read me");
        mkdir(m_src.Sub("docs").c_str(), 0755);
        mkdir(m_dir.Sub("pkg").c_str(), 0755);
        std::string strZip = m_dir.Sub("pkg/pkg.zip");
        EXPECT_EQ(RunShell("cd '" + m_src.Path() + "' && zip -q -r '" + strZip +
                           "' bin/x.dll readme.txt docs"),
                  0);
        return strZip;
    }
    // An archive written by Python with the given member names.
    std::string MakePythonZip(const std::string& strName, const std::string& strMembers) {
        std::string strZip = m_dir.Sub(strName);
        std::string strScript =
            "import sys, zipfile\n"
            "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
            "    for n in sys.argv[2:]: z.writestr(n, 'data of ' + n)\n";
        std::string strPy = m_src.WriteFile("make.py", strScript);
        EXPECT_EQ(RunShell("python3 '" + strPy + "' '" + strZip + "' " + strMembers), 0);
        return strZip;
    }

    CTempDir m_src;
};

TEST_F(ZipHandlerTest, MembersAreExtractedNextToTheArchive) {
    std::string strZip = MakePackage();
    // An older read-only copy is replaced.
    std::string strOld = m_dir.WriteFile("pkg/bin/x.dll", "old dll");
    chmod(strOld.c_str(), 0444);
    m_engine.m_ZipFileItemList.push_back(MakeItem(kFileTypeZip, strZip));

    EXPECT_EQ(m_engine.HandleZipTypeFiles(m_engine.m_ZipFileItemList), 0);
    EXPECT_EQ(ReadWholeFile(m_dir.Sub("pkg/bin/x.dll")), "new dll");
    EXPECT_EQ(ReadWholeFile(m_dir.Sub("pkg/readme.txt")), "read me");
    platform::FileStatus status;
    ASSERT_TRUE(platform::GetFileStatus(m_dir.Sub("pkg/docs"), &status));
    EXPECT_TRUE(status.bDirectory);
    EXPECT_TRUE(platform::FileExists(strZip));  // the archive stays
    // One archive: 100 % before its extraction and after it.
    EXPECT_EQ(m_dlg.Calls(), (std::vector<std::string>{"ResetProgress", "SetProgress:0/0",
                                                       "SetStatusText:압축파일 처리중... pkg.zip",
                                                       "SetProgress:1/1", "SetProgress:1/1"}));
    std::string strPrefix = "CSyncEngine::ProcessZipFile> ";
    EXPECT_TRUE(m_log.Has("WARN", "CSyncEngine::HandleZipTypeFiles> Start..."));
    EXPECT_TRUE(m_log.Has("DEBUG", strPrefix + "Zip File Path = " + strZip));
    EXPECT_TRUE(m_log.Has("DEBUG", strPrefix + "Zip Item Count = 3"));
    EXPECT_TRUE(m_log.Has("DEBUG", strPrefix + "ze.name = bin/x.dll"));
    EXPECT_TRUE(m_log.Has("DEBUG", strPrefix + "strUnZipFileDir = " + m_dir.Sub("pkg")));
    EXPECT_TRUE(m_log.Has("DEBUG", strPrefix + "strUnzipFilePath = " + m_dir.Sub("pkg/bin/x.dll")));
    EXPECT_TRUE(m_log.Has("DEBUG", strPrefix + "UnzipItem() Success, Index = 2"));
    EXPECT_TRUE(m_log.Has("DEBUG", strPrefix + "Success To Close Zip File"));
    EXPECT_FALSE(m_log.Mentions("Make a list of Unzip file path."));
}

TEST_F(ZipHandlerTest, ProgressCountsEveryListedArchive) {
    std::string strZip = MakePackage();
    m_engine.m_ZipFileItemList.push_back(MakeItem(kFileTypeZip, strZip, 0));
    m_engine.m_ZipFileItemList.push_back(MakeItem(kFileTypeZip, strZip));
    EXPECT_EQ(m_engine.HandleZipTypeFiles(m_engine.m_ZipFileItemList), 0);
    EXPECT_EQ(m_dlg.Calls(), (std::vector<std::string>{"ResetProgress", "SetProgress:0/0",
                                                       "SetStatusText:압축파일 처리중... pkg.zip",
                                                       "SetProgress:1/2", "SetProgress:1/1"}));
}

TEST_F(ZipHandlerTest, EmptyListDoesNothing) {
    EXPECT_EQ(m_engine.HandleZipTypeFiles(m_engine.m_ZipFileItemList), 0);
    EXPECT_EQ(m_engine.HandleZipRegTypeFiles(m_engine.m_ZipRegFileItemList), 0);
    EXPECT_TRUE(m_dlg.Calls().empty());
    EXPECT_TRUE(m_log.Has("DEBUG", "CSyncEngine::HandleZipTypeFiles> zip file item is 0."));
    EXPECT_TRUE(m_log.Has("DEBUG", "CSyncEngine::HandleZipRegTypeFiles> zip-reg file item is 0."));
}

TEST_F(ZipHandlerTest, BrokenArchiveFailsAndIsDeleted) {
    std::string strZip = m_dir.WriteFile("broken.zip", "this is not an archive");
    std::string strOk = MakePackage();
    m_engine.m_ZipFileItemList.push_back(MakeItem(kFileTypeZip, strZip));
    m_engine.m_ZipFileItemList.push_back(MakeItem(kFileTypeZip, strOk));

    EXPECT_EQ(m_engine.HandleZipTypeFiles(m_engine.m_ZipFileItemList), -1);
    EXPECT_FALSE(platform::FileExists(strZip));
    EXPECT_EQ(ReadWholeFile(m_dir.Sub("pkg/readme.txt")), "read me");  // the next one still runs
    EXPECT_TRUE(m_log.Has("ERROR", "CSyncEngine::ProcessZipFile> Can't Open Zip File"));
    EXPECT_TRUE(
        m_log.Has("WARN", "CSyncEngine::HandleZipTypeFiles> Delete Local Flle = " + strZip));
}

TEST_F(ZipHandlerTest, MemberClimbingOutOfTheFolderIsRefused) {
    mkdir(m_dir.Sub("a").c_str(), 0755);
    std::string strZip = MakePythonZip("a/evil.zip", "ok.txt ../evil.txt after.txt");
    m_engine.m_ZipFileItemList.push_back(MakeItem(kFileTypeZip, strZip));

    EXPECT_EQ(m_engine.HandleZipTypeFiles(m_engine.m_ZipFileItemList), -1);
    EXPECT_EQ(ReadWholeFile(m_dir.Sub("a/ok.txt")), "data of ok.txt");
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("evil.txt")));
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("a/after.txt")));
    EXPECT_FALSE(platform::FileExists(strZip));
    EXPECT_TRUE(m_log.Mentions(
        "CTideExeDlg::ProcessZipFile> Can't Get Zip Item, Index = 1, Return Value = "));
}

TEST_F(ZipHandlerTest, AbsoluteMemberNameIsRefused) {
    std::string strTarget = m_dir.Sub("abs-target.txt");
    std::string strZip = MakePythonZip("abs.zip", "'" + strTarget + "'");
    m_engine.m_ZipFileItemList.push_back(MakeItem(kFileTypeZip, strZip));
    EXPECT_EQ(m_engine.HandleZipTypeFiles(m_engine.m_ZipFileItemList), -1);
    EXPECT_FALSE(platform::FileExists(strTarget));
    EXPECT_FALSE(platform::FileExists(m_dir.Path() + strTarget));
}

TEST_F(ZipHandlerTest, ZipRegWithoutRegSvr32TellsTheUser) {
    m_engine.m_ZipRegFileItemList.push_back(MakeItem(kFileTypeZipReg, MakePackage()));
    EXPECT_EQ(m_engine.HandleZipRegTypeFiles(m_engine.m_ZipRegFileItemList), -2);
    EXPECT_EQ(m_dlg.Calls(),
              (std::vector<std::string>{
                  "SetStatusText:Zip-Reg 파일 처리중...(다소 시간이 걸릴 수 있습니다.)",
                  "MessageBox:Corvid5@LoomhallKiro 업데이트:시스템에서 regsvr32.exe 파일을 찾을 수 "
                  "없어 레지스트리에 파일을 등록 할 수가 없습니다."}));
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("pkg/readme.txt")));
}

TEST_F(ZipHandlerTest, ZipRegMembersThatFailToRegisterAreDeleted) {
    std::string strZip = MakePackage();
    CEnvVar path("PATH", m_dir.Sub("no-wine"));
    PutFakeTool("system32/regsvr32.exe");
    std::string strBroken = m_dir.WriteFile("broken.zip", "PK but not really");
    m_engine.m_ZipRegFileItemList.push_back(MakeItem(kFileTypeZipReg, strBroken));
    m_engine.m_ZipRegFileItemList.push_back(MakeItem(kFileTypeZipReg, strZip));

    EXPECT_EQ(m_engine.HandleZipRegTypeFiles(m_engine.m_ZipRegFileItemList), -1);
    EXPECT_FALSE(platform::FileExists(strBroken));
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("pkg/bin/x.dll")));
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("pkg/readme.txt")));
    EXPECT_TRUE(platform::FileExists(m_dir.Sub("pkg/docs")));  // folders are not registered
    EXPECT_TRUE(platform::FileExists(strZip));
    EXPECT_TRUE(
        m_log.Has("DEBUG", "CSyncEngine::ProcessZipFile> Make a list of Unzip file path. = " +
                               m_dir.Sub("pkg/bin/x.dll")));
    EXPECT_TRUE(m_log.Has("WARN", "CSyncEngine::HandleZipRegTypeFiles> Delete Local Flle = " +
                                      m_dir.Sub("pkg/readme.txt")));
    EXPECT_FALSE(m_log.Mentions("Target file = " + m_dir.Sub("pkg/docs")));
}

}  // namespace
