// Post-processing handlers without archives: deletions, registry files, COM
// servers, .NET assemblies, fonts and programs, on real files in a scratch
// Wine prefix. Wine itself is hidden here (PATH without it) where a test
// needs the tools to fail to start; runs through Wine are in the wine tests.
#include <sys/stat.h>

#include <csignal>

#include "app/message_box.h"
#include "platform/file_system.h"
#include "tests/engine/post_process_fixture.h"

namespace {

using launchtest::CEnvVar;
using launchtest::WaitForFile;
using launchtest::WriteScript;

const char* const kSystemFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string kCaption = "Corvid5@LoomhallKiro 업데이트";
const std::string kNoRegSvr32 =
    "시스템에서 regsvr32.exe 파일을 찾을 수 없어 레지스트리에 파일을 등록 할 수가 없습니다.";
const std::string kNoRegAsm =
    "시스템에서 RegAsm.exe 파일을 찾을 수 없어 레지스트리에 파일을 등록 할 수가 없습니다.";

TEST_F(PostProcessTest, DeleteHandlerDeletesListedFilesDownloadedOrNot) {
    std::string strOld = m_dir.WriteFile("old.dll", "x");
    std::string strKeep = m_dir.WriteFile("keep.dll", "x");
    AddDown(kFileTypeDel, strOld, 0);
    AddDown(kFileTypeNormal, strKeep, 1);
    AddDown(kFileTypeDel, m_dir.Sub("gone.dll"), 0);

    EXPECT_EQ(m_engine.HandleDeleteTypeFiles(), 0);
    EXPECT_FALSE(platform::FileExists(strOld));
    EXPECT_TRUE(platform::FileExists(strKeep));
    EXPECT_EQ(StatusTexts(), std::vector<std::string>{"삭제 파일 처리중..."});
    EXPECT_TRUE(
        m_log.Has("INFO", "CSyncEngine::HandleDeleteTypeFiles> Delete Local Flle = " + strOld));
    EXPECT_TRUE(m_log.Has("INFO", "CSyncEngine::HandleDeleteTypeFiles> DeleteFile(" +
                                      m_dir.Sub("gone.dll") + ") Error, ErrCode = 2"));
}

TEST_F(PostProcessTest, RegistryFileThatCannotBeImportedIsDeleted) {
    CEnvVar path("PATH", m_dir.Sub("no-wine"));
    std::string strReg = m_dir.WriteFile("conf/a b.reg", "REGEDIT4\r\n");
    std::string strOther = m_dir.WriteFile("conf/other.reg", "REGEDIT4\r\n");
    AddDown(kFileTypeRegFile, strReg);
    AddDown(kFileTypeRegFile, strOther, 0);  // not downloaded in this run

    EXPECT_EQ(m_engine.HandleRegistryTypeFiles(), -1);
    EXPECT_FALSE(platform::FileExists(strReg));
    EXPECT_TRUE(platform::FileExists(strOther));
    EXPECT_EQ(StatusTexts(), std::vector<std::string>{"레지스트리 파일 시스템 등록중..."});
    EXPECT_TRUE(m_log.Has(
        "DEBUG", "CSyncEngine::ProcessRegistryFile> Cmd Str : regedit -s " + strReg + " "));
    EXPECT_TRUE(m_log.Has(
        "DEBUG", "CSyncEngine::ProcessRegistryFile> " + strReg + " 파일 등록에 실패하였습니다."));
    EXPECT_TRUE(
        m_log.Has("WARN", "CSyncEngine::HandleRegistryTypeFiles> Delete Local Flle = " + strReg));
}

TEST_F(PostProcessTest, ComHandlerWithEmptyListDoesNothing) {
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegSvr32(m_engine.m_RegFileItemList), 0);
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegSvr32(m_engine.m_ToDownloadFileItemList), 0);
    EXPECT_TRUE(m_dlg.Calls().empty());
    EXPECT_TRUE(m_log.Has(
        "DEBUG", "CSyncEngine::HandleRegisterTypeFilesByRegSvr32> register file item is 0."));
}

TEST_F(PostProcessTest, ComHandlerWithoutRegSvr32TellsTheUserAndStops) {
    std::string strDll = m_dir.WriteFile("x.dll", "MZ");
    m_engine.m_RegFileItemList.push_back(MakeItem(kFileTypeReg, strDll));
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegSvr32(m_engine.m_RegFileItemList), -2);
    FileItem& item = AddDown(kFileTypeReg, strDll);
    m_engine.m_ToDownloadFileItemList.push_back(&item);
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegSvr32(m_engine.m_ToDownloadFileItemList), -2);

    std::string strStatus = "SetStatusText:프로그램 파일 시스템 등록중...";
    std::string strBox = "MessageBox:" + kCaption + ":" + kNoRegSvr32;
    EXPECT_EQ(m_dlg.Calls(), (std::vector<std::string>{strStatus, strBox, strStatus, strBox}));
    EXPECT_TRUE(platform::FileExists(strDll));
}

TEST_F(PostProcessTest, ComServersThatCannotBeRegisteredAreLoggedAndKept) {
    CEnvVar path("PATH", m_dir.Sub("no-wine"));
    PutFakeTool("system32/regsvr32.exe");
    std::string strDll = m_dir.WriteFile("bin/x.dll", "MZ");
    m_engine.m_RegFileItemList.push_back(MakeItem(kFileTypeReg, strDll));
    m_engine.m_RegFileItemList.push_back(MakeItem(kFileTypeReg, "x.dll"));
    m_engine.m_RegFileItemList.push_back(MakeItem(kFileTypeRegFile, strDll));  // other type

    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegSvr32(m_engine.m_RegFileItemList), -1);
    EXPECT_TRUE(platform::FileExists(strDll));
    EXPECT_TRUE(m_dlg.MessageBoxes().empty());
    std::string strPrefix = "CTideExeDlg::HandleRegisterTypeFilesByRegSvr32> ";
    EXPECT_TRUE(m_log.Has("ERROR", strPrefix + "StartExeFileByShellExecute(" + strDll +
                                       ") failed, GetLastError() = 2"));
    EXPECT_TRUE(m_log.Has("ERROR", strPrefix + "Invalid registry file(x.dll)."));
    // Parameters name the file by its Windows path, quoted as one word.
    EXPECT_TRUE(m_log.Mentions("Parameters=/s \"Z:" + std::string(1, '\\')));
}

TEST_F(PostProcessTest, RegSvr32ForArchiveMembersReportsStartFailures) {
    CEnvVar path("PATH", m_dir.Sub("no-wine"));
    EXPECT_EQ(m_engine.ProcessRegisterFile2ByRegSvr32(""), -1);
    EXPECT_TRUE(
        m_log.Has("ERROR", "CSyncEngine::ProcessRegisterFile2ByRegSvr32> Unknown file path."));

    std::string strDll = m_dir.WriteFile("lib/a b.ocx", "MZ");
    EXPECT_EQ(m_engine.ProcessRegisterFile2ByRegSvr32(strDll), -2);
    std::string strCmd = g_szSystemDir + "/regsvr32.exe /s a b.ocx";
    EXPECT_TRUE(
        m_log.Has("DEBUG", "CSyncEngine::ProcessRegisterFile2ByRegSvr32> Target file = " + strDll));
    EXPECT_TRUE(
        m_log.Has("DEBUG", "CSyncEngine::ProcessRegisterFile2ByRegSvr32> Cmd Str = " + strCmd));
    EXPECT_TRUE(m_log.Has("ERROR", "CSyncEngine::ProcessRegisterFile2ByRegSvr32> WinExec(" +
                                       strCmd + ") Fail, ErrCode = 2"));
}

TEST_F(PostProcessTest, RegAsmIsFoundOnlyInADotNet20Folder) {
    EXPECT_EQ(m_engine.GetRegAsmFilePath(), "");
    EXPECT_TRUE(m_log.Has("ERROR",
                          "CSyncEngine::GetRegAsmFilePath> 'RegAsm.exe' file-directory is empty."));

    PutFakeTool("Microsoft.NET/Framework/v1.1.4322/RegAsm.exe");
    PutFakeTool("Microsoft.NET/Framework/v4.0.30319/RegAsm.exe");
    PutFakeTool("Microsoft.NET/Framework/v2.0.50000/readme.txt");
    PutFakeTool("Microsoft.NET/Framework/v2.0.x");  // a file, not a folder
    EXPECT_EQ(m_engine.GetRegAsmFilePath(), "");

    std::string strRegAsm = PutFakeTool("Microsoft.NET/Framework/v2.0.50727/RegAsm.exe");
    EXPECT_EQ(m_engine.GetRegAsmFilePath(), strRegAsm);
}

TEST_F(PostProcessTest, RegAsmHandlerWithoutRegAsmTellsTheUser) {
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegAsm(m_engine.m_RegAsmFileItemList), 0);
    EXPECT_TRUE(m_log.Has(
        "DEBUG", "CSyncEngine::HandleRegisterTypeFilesByRegAsm> register Asm file item is 0."));
    EXPECT_TRUE(m_dlg.Calls().empty());

    m_engine.m_RegAsmFileItemList.push_back(MakeItem(kFileTypeAsm, m_dir.WriteFile("a.dll", "MZ")));
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegAsm(m_engine.m_RegAsmFileItemList), -2);
    EXPECT_EQ(m_dlg.Calls(),
              (std::vector<std::string>{"SetStatusText:프로그램 파일 시스템 등록중...",
                                        "MessageBox:" + kCaption + ":" + kNoRegAsm}));
}

TEST_F(PostProcessTest, AssembliesThatCannotBeRegisteredAreLoggedAndKept) {
    CEnvVar path("PATH", m_dir.Sub("no-wine"));
    std::string strRegAsm = PutFakeTool("Microsoft.NET/Framework/v2.0.50727/RegAsm.exe");
    std::string strDll = m_dir.WriteFile("net/Tool.dll", "MZ");
    m_engine.m_RegAsmFileItemList.push_back(MakeItem(kFileTypeAsm, strDll));
    m_engine.m_RegAsmFileItemList.push_back(MakeItem(kFileTypeAsm, strDll, 0));

    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegAsm(m_engine.m_RegAsmFileItemList), -1);
    EXPECT_TRUE(platform::FileExists(strDll));
    EXPECT_TRUE(m_log.Has("DEBUG", "CSyncEngine::ProcessRegisterFileByRegAsm> Cmd Str : " +
                                       strRegAsm + " /silent " + strDll));
    EXPECT_TRUE(m_log.Has("ERROR", "CSyncEngine::ProcessRegisterFileByRegAsm> WinExec(" +
                                       strRegAsm + " /silent Tool.dll) Fail, ErrCode = 2"));
    // The item that was not downloaded is not tried.
    EXPECT_EQ(m_log.Text().find("Cmd Str"), m_log.Text().rfind("Cmd Str"));
}

class FontHandlerTest : public PostProcessTest {
protected:
    void SetUp() override {
        if (!platform::FileExists(kSystemFont))
            GTEST_SKIP() << "fonts-dejavu-core is not installed";
        PostProcessTest::SetUp();
    }
    std::string FontsDir() const { return g_szWindowsDir + "/Fonts"; }
};

TEST_F(FontHandlerTest, RealFontIsCopiedIntoThePrefixAndAdded) {
    std::string strFont = m_dir.Sub("fonts/DejaVuSans.ttf");
    m_dir.WriteFile("fonts/DejaVuSans.ttf", ReadWholeFile(kSystemFont));
    AddDown(kFileTypeFont, strFont);

    EXPECT_EQ(m_engine.HandleFontTypeFiles(), 0);
    std::string strDst = FontsDir() + "/DejaVuSans.ttf";
    EXPECT_EQ(ReadWholeFile(strDst), ReadWholeFile(kSystemFont));
    EXPECT_EQ(StatusTexts(), std::vector<std::string>{"글꼴 등록중..."});
    std::string strPrefix = "CSyncEngine::ProcessFontFile> ";
    EXPECT_TRUE(m_log.Has("INFO", strPrefix + "m_strTargetFile = " + strFont));
    EXPECT_TRUE(m_log.Has("INFO", strPrefix + "strFontDir = " + FontsDir()));
    EXPECT_TRUE(m_log.Has("INFO", strPrefix + "strFontFile = DejaVuSans.ttf"));
    EXPECT_TRUE(m_log.Has("INFO", strPrefix + "strDstFile = " + strDst));
    EXPECT_TRUE(m_log.Has("INFO", strPrefix + "Font(" + strDst + ") is not Exist"));
    EXPECT_TRUE(
        m_log.Has("INFO", strPrefix + "Fail to Remove Previous Font(DejaVuSans.ttf) Reource"));
    EXPECT_TRUE(m_log.Has("ERROR", strPrefix + "CopyFile(" + strDst + ") Success"));
    EXPECT_TRUE(m_log.Has("INFO", strPrefix + "AddFontRecource(DejaVuSans.ttf) Success, nRet = 1"));

    // Next time the font is there already: only added.
    EXPECT_EQ(m_engine.ProcessFontFile(*m_engine.m_DownFileItemList.front()), 0);
    EXPECT_TRUE(m_log.Has("INFO", strPrefix + "Previous Font(" + strDst + ") is Already Exist"));
    EXPECT_TRUE(m_log.Has("INFO", strPrefix + "AddFontRecource(DejaVuSans.ttf) Success. nRet = 1"));

    // An updated font replaces the one in the folder.
    std::string strBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
    m_dir.WriteFile("fonts/DejaVuSans.ttf", ReadWholeFile(strBold));
    EXPECT_EQ(m_engine.ProcessFontFile(*m_engine.m_DownFileItemList.front()), 0);
    EXPECT_EQ(ReadWholeFile(strDst), ReadWholeFile(strBold));
    m_dir.WriteFile("fonts/DejaVuSans.ttf", ReadWholeFile(kSystemFont));
    EXPECT_EQ(m_engine.ProcessFontFile(*m_engine.m_DownFileItemList.front()), 0);

    // Gone from the folder but still added: the old one is taken out first.
    platform::DeleteFile(strDst);
    EXPECT_EQ(m_engine.ProcessFontFile(*m_engine.m_DownFileItemList.front()), 0);
    EXPECT_TRUE(
        m_log.Has("INFO", strPrefix + "Success to Remove Previous Font(DejaVuSans.ttf) Reource"));
}

TEST_F(FontHandlerTest, FileThatIsNoFontFailsAndIsKept) {
    std::string strFake = m_dir.WriteFile("Fake.ttf", "just text, no font tables");
    AddDown(kFileTypeFont, strFake);
    AddDown(kFileTypeFont, m_dir.WriteFile("Skipped.ttf", "x"), 0);

    EXPECT_EQ(m_engine.HandleFontTypeFiles(), -1);
    EXPECT_TRUE(platform::FileExists(strFake));
    EXPECT_FALSE(platform::FileExists(FontsDir() + "/Skipped.ttf"));
    EXPECT_TRUE(m_log.Has(
        "ERROR", "CSyncEngine::ProcessFontFile> AddFontRecource(Fake.ttf) Fail, ErrCode = 22"));
    // Lying in the fonts folder does not make it a font either.
    EXPECT_EQ(m_engine.ProcessFontFile(*m_engine.m_DownFileItemList.front()), -3);
    EXPECT_TRUE(m_log.Has(
        "INFO", "CSyncEngine::ProcessFontFile> AddFontRecource(Fake.ttf) Fail, ErrCode = 22"));
}

TEST_F(FontHandlerTest, FontTargetInsideTheFontsFolderIsOnlyAdded) {
    std::string strFont = FontsDir() + "/DejaVuSans.ttf";
    m_prefix.WriteFile("drive_c/windows/Fonts/DejaVuSans.ttf", ReadWholeFile(kSystemFont));
    AddDown(kFileTypeFont, strFont);
    EXPECT_EQ(m_engine.HandleFontTypeFiles(), 0);
    EXPECT_FALSE(m_log.Mentions("CopyFile("));
}

TEST_F(FontHandlerTest, MissingDownloadedFontIsNotCopied) {
    std::string strMissing = m_dir.Sub("Missing.ttf");
    AddDown(kFileTypeFont, strMissing);
    EXPECT_EQ(m_engine.ProcessFontFile(*m_engine.m_DownFileItemList.front()), -2);
    EXPECT_TRUE(m_log.Has("ERROR", "CSyncEngine::ProcessFontFile> CopyFile(" + FontsDir() +
                                       "/Missing.ttf) Fail, ErrCode = 2"));
}

TEST_F(PostProcessTest, ExecuteHandlerRunsProgramsWaitingWhereAsked) {
    std::string strMarker = m_dir.Sub("waited");
    std::string strArgs = m_dir.Sub("args");
    FileItem& waited =
        AddDown(kFileTypeExe,
                WriteScript(m_dir, "waited.sh", "sleep 0.3\necho \"$@\" > '" + strMarker + "'\n"));
    waited.m_bWaitClose = 1;
    waited.m_strArguments = "one \"two words\"";
    // Downloaded files carry no execute permission.
    std::string strPlain =
        m_dir.WriteFile("plain.sh", "#!/bin/sh\necho \"$1\" > '" + strArgs + "'\n");
    chmod(strPlain.c_str(), 0644);
    AddDown(kFileTypeExe, strPlain).m_strArguments = "free";
    AddDown(kFileTypeExe, m_dir.Sub("missing.sh"));
    std::string strNotRun = m_dir.Sub("not-run");
    AddDown(kFileTypeExe, WriteScript(m_dir, "old.sh", "touch '" + strNotRun + "'\n"), 0);

    EXPECT_EQ(m_engine.HandleExecuteTypeFiles(), -1);
    EXPECT_EQ(ReadWholeFile(strMarker), "one two words\n");
    EXPECT_TRUE(WaitForFile(strArgs, 5000));
    EXPECT_EQ(ReadWholeFile(strArgs), "free\n");
    EXPECT_FALSE(platform::FileExists(strNotRun));
    EXPECT_EQ(StatusTexts(),
              (std::vector<std::string>{"실행 파일 처리중...",
                                        "실행된 파일이 종료 되기를 기다리는 중..."}));
}

// The handlers in the order of a run, one file of each kind: every handler
// runs whatever the ones before returned.
TEST_F(PostProcessTest, FullPassRunsEveryHandlerInRunOrder) {
    CEnvVar path("PATH", m_dir.Sub("no-wine"));
    AddDown(kFileTypeRegFile, m_dir.WriteFile("a.reg", "REGEDIT4\r\n"));
    FileItem& com = AddDown(kFileTypeReg, m_dir.WriteFile("a.dll", "MZ"));
    m_engine.m_ToDownloadFileItemList.push_back(&com);
    std::string strDel = m_dir.WriteFile("del.txt", "x");
    AddDown(kFileTypeDel, strDel, 0);
    AddDown(kFileTypeFont, m_dir.WriteFile("f.ttf", "no font"));
    m_engine.m_ZipFileItemList.push_back(
        MakeItem(kFileTypeZip, m_dir.WriteFile("p.zip", "no zip")));
    m_engine.m_ZipRegFileItemList.push_back(
        MakeItem(kFileTypeZipReg, m_dir.WriteFile("r.zip", "")));
    m_engine.m_RegAsmFileItemList.push_back(MakeItem(kFileTypeAsm, m_dir.WriteFile("n.dll", "")));
    std::string strRan = m_dir.Sub("ran");
    AddDown(kFileTypeExe, m_dir.WriteFile("run.sh", "#!/bin/sh\n: > '" + strRan + "'\n"))
        .m_bWaitClose = 1;

    EXPECT_EQ(m_engine.HandleRegistryTypeFiles(), -1);
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegSvr32(m_engine.m_ToDownloadFileItemList), -2);
    EXPECT_EQ(m_engine.HandleDeleteTypeFiles(), 0);
    EXPECT_EQ(m_engine.HandleFontTypeFiles(), -1);
    EXPECT_EQ(m_engine.HandleZipTypeFiles(m_engine.m_ZipFileItemList), -1);
    EXPECT_EQ(m_engine.HandleZipRegTypeFiles(m_engine.m_ZipRegFileItemList), -2);
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegAsm(m_engine.m_RegAsmFileItemList), -2);
    EXPECT_EQ(m_engine.HandleExecuteTypeFiles(), 0);

    EXPECT_FALSE(platform::FileExists(strDel));
    EXPECT_TRUE(platform::FileExists(strRan));
    EXPECT_EQ(StatusTexts(),
              (std::vector<std::string>{"레지스트리 파일 시스템 등록중...",
                                        "프로그램 파일 시스템 등록중...", "삭제 파일 처리중...",
                                        "글꼴 등록중...", "압축파일 처리중... p.zip",
                                        "Zip-Reg 파일 처리중...(다소 시간이 걸릴 수 있습니다.)",
                                        "프로그램 파일 시스템 등록중...", "실행 파일 처리중...",
                                        "실행된 파일이 종료 되기를 기다리는 중..."}));
    EXPECT_EQ(m_dlg.MessageBoxes(),
              (std::vector<std::string>{kNoRegSvr32, kNoRegSvr32, kNoRegAsm}));
}

}  // namespace
