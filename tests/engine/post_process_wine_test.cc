// Post-processing through Wine itself in a real scratch prefix: registry
// import, COM registration with the prefix's regsvr32, a batch program.
// Skipped when Wine is not installed.
#include "platform/file_system.h"
#include "tests/engine/post_process_fixture.h"

namespace {

TEST_F(WinePostProcessTest, RegistryFileIsImportedIntoThePrefix) {
    std::string strValue = launchtest::UniqueText("merged-");
    std::string strReg =
        m_dir.WriteFile("conf/settings.reg",
                        "Windows Registry Editor Version 5.00\r\n\r\n"
                        "[HKEY_CURRENT_USER\\Software\\TidewellHandler]\r\n\"Mode\"=\"" +
                            strValue + "\"\r\n");
    AddDown(kFileTypeRegFile, strReg);
    EXPECT_EQ(m_engine.HandleRegistryTypeFiles(), 0);
    EXPECT_TRUE(m_log.Has(
        "DEBUG", "CSyncEngine::ProcessRegistryFile> " + strReg + " 파일 등록에 성공하였습니다."));
    // The import is not waited for; the prefix's server writes it out later.
    EXPECT_TRUE(s_pWinePrefix->WaitForUserRegistry("\"Mode\"=\"" + strValue + "\"", 60000));
    EXPECT_TRUE(platform::FileExists(strReg));
}

TEST_F(WinePostProcessTest, ComServerIsRegisteredWithThePrefixRegSvr32) {
    ASSERT_TRUE(platform::FileExists(g_szSystemDir + "/regsvr32.exe"));
    // Not a real COM server: regsvr32 runs, fails quietly, and its exit code
    // is not looked at.
    std::string strDll = m_dir.WriteFile("bin dir/x.dll", "MZ");
    m_engine.m_RegFileItemList.push_back(MakeItem(kFileTypeReg, strDll));
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegSvr32(m_engine.m_RegFileItemList), 0);
    EXPECT_TRUE(m_log.Has("DEBUG",
                          "CTideExeDlg::HandleRegisterTypeFilesByRegSvr32> Registered by "
                          "StartExeFileByShellExecute(" +
                              strDll + ")."));
    EXPECT_TRUE(m_log.Has(
        "DEBUG",
        "CSyncEngine::StartExeFileByShellExecute> WaitForSingleObject Return, RetVal = 0"));
    EXPECT_TRUE(m_dlg.MessageBoxes().empty());
}

TEST_F(WinePostProcessTest, ZipRegMembersAreStartedForRegistrationAndKept) {
    CTempDir src;
    src.WriteFile("a.ocx", "MZ");
    std::string strZip = m_dir.Sub("comp.zip");
    ASSERT_EQ(RunShell("cd '" + src.Path() + "' && zip -q '" + strZip + "' a.ocx"), 0);
    m_engine.m_ZipRegFileItemList.push_back(MakeItem(kFileTypeZipReg, strZip));
    EXPECT_EQ(m_engine.HandleZipRegTypeFiles(m_engine.m_ZipRegFileItemList), 0);
    EXPECT_TRUE(platform::FileExists(m_dir.Sub("a.ocx")));
    EXPECT_TRUE(m_log.Mentions("CSyncEngine::ProcessRegisterFile2ByRegSvr32> File(" +
                               m_dir.Sub("a.ocx") + ") is registered. RetVal = "));
}

TEST_F(WinePostProcessTest, BatchProgramRunsThroughWineAndIsAwaited) {
    std::string strBat =
        m_dir.WriteFile("setup.cmd", "@echo off\r\necho %1> \"%~dp0done.txt\"\r\n");
    FileItem& item = AddDown(kFileTypeExe, strBat);
    item.m_bWaitClose = 1;
    item.m_strArguments = "installed";
    EXPECT_EQ(m_engine.HandleExecuteTypeFiles(), 0);
    EXPECT_EQ(ReadWholeFile(m_dir.Sub("done.txt")), "installed\r\n");
    EXPECT_TRUE(m_log.Mentions("nRet = WAIT_OBJECT_0"));
}

}  // namespace
