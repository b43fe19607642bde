// Program starts and post-processing by file type on real files in a scratch
// Wine prefix: waits and the stop flag, deletions, registry files, COM
// servers, .NET assemblies, fonts, archives and programs. Wine is hidden
// (PATH without it) where a tool must fail to start; the runs through Wine
// itself skip when it is not installed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/message_box.h"
#include "app/tide_globals.h"
#include "engine/sync_engine.h"
#include "platform/file_system.h"
#include "platform/windows_side.h"
#include "tests/engine/launch_test_support.h"
#include "tests/support/log_capture.h"
#include "tests/support/recording_front_end.h"

namespace {

using launchtest::IsAlive;
using launchtest::WaitForFile;
using launchtest::WriteScript;
using Strings = std::vector<std::string>;

const char* const kSystemFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const std::string kNoRegSvr32 =
    "시스템에서 regsvr32.exe 파일을 찾을 수 없어 레지스트리에 파일을 등록 할 수가 없습니다.";
const std::string kNoRegAsm =
    "시스템에서 RegAsm.exe 파일을 찾을 수 없어 레지스트리에 파일을 등록 할 수가 없습니다.";

// An engine with a recording front end, a download folder, and a scratch
// Wine prefix whose Windows and system folders the run's globals point at.
class PostProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_pPrefixVar = std::make_unique<CEnvVar>("WINEPREFIX", PrefixPath());
        g_szWindowsDir = platform::GetWindowsFolder();
        g_szSystemDir = platform::GetSystemFolder();
        m_engine.m_pDlg = &m_dlg;
    }
    void TearDown() override {
        g_szWindowsDir.clear();
        g_szSystemDir.clear();
    }
    virtual std::string PrefixPath() const { return m_prefix.Path(); }

    // A file item as the list reader and the download pass leave it.
    static std::unique_ptr<FileItem> MakeItem(int nType, const std::string& strTarget,
                                              int bDownloaded = 1) {
        auto pItem = std::make_unique<FileItem>();
        pItem->m_nFileType = nType;
        pItem->m_strTargetFile = strTarget;
        pItem->m_strSourceFile = strTarget.substr(strTarget.rfind('/') + 1);
        pItem->m_bDownloaded = bDownloaded;
        return pItem;
    }
    FileItem& AddDown(int nType, const std::string& strTarget, int bDownloaded = 1) {
        m_engine.m_DownFileItemList.push_back(MakeItem(nType, strTarget, bDownloaded));
        return *m_engine.m_DownFileItemList.back();
    }
    // Makes the prefix hold a registration tool (not a working one).
    std::string PutFakeTool(const std::string& strRelative) {
        return m_prefix.WriteFile("drive_c/windows/" + strRelative, "MZ");
    }
    // A script that writes its pid, then sleeps.
    std::string Sleeper() {
        return WriteScript(m_dir, "sleep er.sh",
                           "echo $$ > '" + m_dir.Sub("pid") + "'\nexec sleep 30\n");
    }
    int StartedPid() {
        EXPECT_TRUE(WaitForFile(m_dir.Sub("pid"), 5000));
        return std::stoi(ReadWholeFile(m_dir.Sub("pid")));
    }

    CLogCapture m_log;
    CTempDir m_dir;
    CTempDir m_prefix;
    std::unique_ptr<CEnvVar> m_pPrefixVar;
    CRecordingFrontEnd m_dlg;
    CSyncEngine m_engine;
};

// ---- Program starts ----

TEST_F(PostProcessTest, ParameterTextIsSplitIntoWordsAndWaitedForWhenAsked) {
    std::string strOut = m_dir.Sub("args.txt");
    std::string strScript =
        WriteScript(m_dir, "args.sh",
                    "sleep 0.3; { echo \"$#\"; for a in \"$@\"; do echo \"[$a]\"; done; } > '" +
                        strOut + "'\n");
    EXPECT_EQ(m_engine.StartExeFileByShellExecute(strScript, "/s  \"a b\" \"\" last", 1), 0);
    EXPECT_EQ(ReadWholeFile(strOut), "4\n[/s]\n[a b]\n[]\n[last]\n");
    // An empty text is no parameters at all, not one empty word.
    EXPECT_EQ(m_engine.StartExeFileByShellExecuteAndWaitClose(strScript, ""), 0);
    EXPECT_EQ(ReadWholeFile(strOut), "0\n");
    EXPECT_EQ(m_dlg.Calls(), Strings{"SetStatusText:실행된 파일이 종료 되기를 기다리는 중..."});
    // Without the wait, the start returns while the program runs.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_engine.StartExeFileByShellExecute(Sleeper(), "", 0, m_dir.Path()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    int nPid = StartedPid();
    EXPECT_TRUE(IsAlive(nPid));
    kill(nPid, SIGKILL);
}

TEST_F(PostProcessTest, ProgramsThatCannotStartAreReported) {
    CEnvVar path("PATH", m_dir.Sub("no-wine"));
    for (const std::string& strProgram :
         {m_dir.Sub("missing.sh"), m_dir.WriteFile("setup.exe", "MZ")}) {
        EXPECT_EQ(m_engine.StartExeFileByShellExecute(strProgram, "x", 1), 1) << strProgram;
        EXPECT_EQ(m_engine.StartExeFileByShellExecuteAndWaitClose(strProgram, "/quiet"), 1);
    }
    EXPECT_TRUE(m_dlg.Calls().empty());
}

// {which wait, stop raised before or during it} -> the wait ends within a
// second and leaves the program running.
TEST_F(PostProcessTest, StopEndsEveryWaitAndLeavesTheProgramRunning) {
    struct Case {
        bool bWaitClose;
        bool bStopFirst;
    } const kCases[] = {{true, false}, {false, false}, {true, true}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.bWaitClose * 10 + c.bStopFirst);
        platform::DeleteFile(m_dir.Sub("pid"));
        m_engine.m_nRequestStopFlag = c.bStopFirst ? 1 : 0;
        std::chrono::steady_clock::time_point stopTime = std::chrono::steady_clock::now();
        std::thread stopper([&] {
            if (c.bStopFirst)
                return;
            StartedPid();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            stopTime = std::chrono::steady_clock::now();
            m_engine.m_nRequestStopFlag = 1;
        });
        std::string strScript = Sleeper();
        EXPECT_EQ(c.bWaitClose ? m_engine.StartExeFileByShellExecuteAndWaitClose(strScript, "")
                               : m_engine.StartExeFileByShellExecute(strScript, "", 1),
                  0);
        auto endTime = std::chrono::steady_clock::now();
        stopper.join();
        EXPECT_LT(endTime - stopTime, std::chrono::seconds(1));
        int nPid = StartedPid();
        EXPECT_TRUE(IsAlive(nPid));
        kill(nPid, SIGKILL);
    }
    EXPECT_EQ(m_dlg.Calls().back(), "SetStatusText:대기 상태가 중단 되었습니다.");
}

// ---- Handlers ----

TEST_F(PostProcessTest, DeleteHandlerDeletesListedFilesDownloadedOrNot) {
    std::string strOld = m_dir.WriteFile("old.dll", "x");
    std::string strKeep = m_dir.WriteFile("keep.dll", "x");
    AddDown(kFileTypeDel, strOld, 0);
    AddDown(kFileTypeNormal, strKeep, 1);
    AddDown(kFileTypeDel, m_dir.Sub("gone.dll"), 0);
    EXPECT_EQ(m_engine.HandleDeleteTypeFiles(), 0);
    EXPECT_FALSE(platform::FileExists(strOld));
    EXPECT_TRUE(platform::FileExists(strKeep));
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
}

// {tool present, handler} -> result, the question shown, the files kept.
TEST_F(PostProcessTest, ComServersAndAssembliesThatCannotBeRegisteredAreKept) {
    CEnvVar path("PATH", m_dir.Sub("no-wine"));
    std::string strDll = m_dir.WriteFile("bin/x.dll", "MZ");
    FileItem& item = AddDown(kFileTypeReg, strDll);
    m_engine.m_ToDownloadFileItemList.push_back(&item);
    m_engine.m_RegFileItemList.push_back(MakeItem(kFileTypeReg, strDll));
    m_engine.m_RegFileItemList.push_back(MakeItem(kFileTypeReg, "x.dll"));
    m_engine.m_RegFileItemList.push_back(MakeItem(kFileTypeRegFile, strDll));  // other type
    m_engine.m_RegAsmFileItemList.push_back(MakeItem(kFileTypeAsm, strDll));
    m_engine.m_RegAsmFileItemList.push_back(MakeItem(kFileTypeAsm, strDll, 0));
    // Without the tools the user is told, once per handler.
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegSvr32(m_engine.m_ToDownloadFileItemList), -2);
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegSvr32(m_engine.m_RegFileItemList), -2);
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegAsm(m_engine.m_RegAsmFileItemList), -2);
    EXPECT_EQ(m_dlg.MessageBoxes(), (Strings{kNoRegSvr32, kNoRegSvr32, kNoRegAsm}));
    // With tools that cannot start, each file fails and is kept.
    PutFakeTool("system32/regsvr32.exe");
    PutFakeTool("Microsoft.NET/Framework/v2.0.50727/RegAsm.exe");
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegSvr32(m_engine.m_RegFileItemList), -1);
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegAsm(m_engine.m_RegAsmFileItemList), -1);
    EXPECT_EQ(m_dlg.MessageBoxes().size(), 3u);
    EXPECT_TRUE(platform::FileExists(strDll));
    // Parameters name the file by its Windows path, quoted as one word; the
    // assembly that was not downloaded is not tried.
    EXPECT_TRUE(m_log.Mentions("Parameters=/s \"Z:" + std::string(1, '\\')));
    std::string strLog = m_log.Text();
    EXPECT_EQ(strLog.find("ByRegAsm> Cmd Str"), strLog.rfind("ByRegAsm> Cmd Str"));
    // The archive members' registration.
    EXPECT_EQ(m_engine.ProcessRegisterFile2ByRegSvr32(""), -1);
    EXPECT_EQ(m_engine.ProcessRegisterFile2ByRegSvr32(strDll), -2);
}

TEST_F(PostProcessTest, RegAsmIsFoundOnlyInADotNet20Folder) {
    EXPECT_EQ(m_engine.GetRegAsmFilePath(), "");
    PutFakeTool("Microsoft.NET/Framework/v1.1.4322/RegAsm.exe");
    PutFakeTool("Microsoft.NET/Framework/v4.0.30319/RegAsm.exe");
    PutFakeTool("Microsoft.NET/Framework/v2.0.50000/readme.txt");
    PutFakeTool("Microsoft.NET/Framework/v2.0.x");  // a file, not a folder
    EXPECT_EQ(m_engine.GetRegAsmFilePath(), "");
    std::string strRegAsm = PutFakeTool("Microsoft.NET/Framework/v2.0.50727/RegAsm.exe");
    EXPECT_EQ(m_engine.GetRegAsmFilePath(), strRegAsm);
}

TEST_F(PostProcessTest, FontsAreCopiedIntoThePrefixAndAdded) {
    if (!platform::FileExists(kSystemFont))
        GTEST_SKIP() << "fonts-dejavu-core is not installed";
    std::string strFonts = g_szWindowsDir + "/Fonts";
    std::string strFont = m_dir.WriteFile("fonts/DejaVuSans.ttf", ReadWholeFile(kSystemFont));
    std::string strBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
    FileItem& item = AddDown(kFileTypeFont, strFont);
    AddDown(kFileTypeFont, m_dir.WriteFile("Skipped.ttf", "x"), 0);
    EXPECT_EQ(m_engine.HandleFontTypeFiles(), 0);
    std::string strDst = strFonts + "/DejaVuSans.ttf";
    EXPECT_EQ(ReadWholeFile(strDst), ReadWholeFile(kSystemFont));
    EXPECT_FALSE(platform::FileExists(strFonts + "/Skipped.ttf"));
    // Again (there already), updated (replaced), gone from the folder but still added.
    EXPECT_EQ(m_engine.ProcessFontFile(item), 0);
    m_dir.WriteFile("fonts/DejaVuSans.ttf", ReadWholeFile(strBold));
    EXPECT_EQ(m_engine.ProcessFontFile(item), 0);
    EXPECT_EQ(ReadWholeFile(strDst), ReadWholeFile(strBold));
    platform::DeleteFile(strDst);
    EXPECT_EQ(m_engine.ProcessFontFile(item), 0);
    EXPECT_TRUE(m_log.Has("INFO", "CSyncEngine::ProcessFontFile> Success to Remove Previous Font"));
    // A target inside the fonts folder is only added.
    FileItem inside = *MakeItem(kFileTypeFont, strDst);
    size_t nCopies = m_log.Text().size();
    EXPECT_EQ(m_engine.ProcessFontFile(inside), 0);
    EXPECT_EQ(m_log.Text().find("CopyFile(", nCopies), std::string::npos);
    // {file} -> result: no font (kept, also once in the folder), missing.
    FileItem fake = *MakeItem(kFileTypeFont, m_dir.WriteFile("Fake.ttf", "no font tables"));
    EXPECT_EQ(m_engine.ProcessFontFile(fake), -3);
    EXPECT_TRUE(platform::FileExists(fake.m_strTargetFile));
    EXPECT_EQ(m_engine.ProcessFontFile(fake), -3);
    FileItem missing = *MakeItem(kFileTypeFont, m_dir.Sub("Missing.ttf"));
    EXPECT_EQ(m_engine.ProcessFontFile(missing), -2);
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
}

// ---- Archives ----

class ZipHandlerTest : public PostProcessTest {
protected:
    // An archive made by the zip tool from name=content pairs (a name
    // ending in "/" is a folder), in the scratch folder's strRel.
    std::string MakeZip(const std::string& strRel,
                        const std::vector<std::pair<std::string, std::string>>& vecMembers) {
        CTempDir src;
        std::string strNames;
        for (const auto& [strName, strData] : vecMembers) {
            if (strName.back() == '/')
                mkdir(src.Sub(strName).c_str(), 0755);
            else
                src.WriteFile(strName, strData);
            strNames += " '" + strName + "'";
        }
        std::string strZip = m_dir.Sub(strRel);
        std::filesystem::create_directories(std::filesystem::path(strZip).parent_path());
        EXPECT_EQ(RunShell("cd '" + src.Path() + "' && zip -q '" + strZip + "'" + strNames), 0);
        return strZip;
    }
    // An archive written by Python with member names zip refuses to write.
    std::string MakePythonZip(const std::string& strRel, const std::string& strMembers) {
        std::string strZip = m_dir.Sub(strRel);
        std::filesystem::create_directories(std::filesystem::path(strZip).parent_path());
        EXPECT_EQ(RunShell("python3 -c \"import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], "
                           "'w') as z:\n    for n in sys.argv[2:]: z.writestr(n, 'data of ' + "
                           "n)\" '" +
                           strZip + "' " + strMembers),
                  0);
        return strZip;
    }
    std::string MakePackage() {
        return MakeZip("pkg/pkg.zip",
                       {{"bin/x.dll", "new dll"}, {"readme.txt", "read me"}, {"docs/", ""}});
    }
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
}

// {archive} -> fails and is deleted, nothing written outside its folder; the
// next archive is still extracted.
TEST_F(ZipHandlerTest, BrokenOrUnsafeArchivesFailAndAreDeleted) {
    std::string strAbsolute = m_dir.Sub("abs-target.txt");
    const std::string astrBad[] = {
        m_dir.WriteFile("a/broken.zip", "this is not an archive"),
        MakePythonZip("a/evil.zip", "ok.txt ../evil.txt after.txt"),
        MakePythonZip("a/abs.zip", "'" + strAbsolute + "'"),
    };
    for (const std::string& strZip : astrBad) {
        m_engine.m_ZipFileItemList.clear();
        m_engine.m_ZipFileItemList.push_back(MakeItem(kFileTypeZip, strZip));
        m_engine.m_ZipFileItemList.push_back(MakeItem(kFileTypeZip, MakePackage()));
        EXPECT_EQ(m_engine.HandleZipTypeFiles(m_engine.m_ZipFileItemList), -1) << strZip;
        EXPECT_FALSE(platform::FileExists(strZip));
        EXPECT_EQ(ReadWholeFile(m_dir.Sub("pkg/readme.txt")), "read me");
        platform::DeleteFile(m_dir.Sub("pkg/readme.txt"));
    }
    EXPECT_EQ(ReadWholeFile(m_dir.Sub("a/ok.txt")), "data of ok.txt");  // before the bad member
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("evil.txt")));
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("a/after.txt")));
    EXPECT_FALSE(platform::FileExists(strAbsolute));
    EXPECT_FALSE(platform::FileExists(m_dir.Path() + strAbsolute));
}

TEST_F(ZipHandlerTest, ZipRegWithoutRegSvr32TellsTheUserAndExtractsNothing) {
    m_engine.m_ZipRegFileItemList.push_back(MakeItem(kFileTypeZipReg, MakePackage()));
    EXPECT_EQ(m_engine.HandleZipRegTypeFiles(m_engine.m_ZipRegFileItemList), -2);
    EXPECT_EQ(m_dlg.MessageBoxes(), Strings{kNoRegSvr32});
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("pkg/readme.txt")));
}

TEST_F(ZipHandlerTest, ZipRegMembersThatFailToRegisterAreDeleted) {
    std::string strZip = MakePackage();
    CEnvVar path("PATH", m_dir.Sub("no-wine"));
    PutFakeTool("system32/regsvr32.exe");
    m_engine.m_ZipRegFileItemList.push_back(MakeItem(kFileTypeZipReg, strZip));
    EXPECT_EQ(m_engine.HandleZipRegTypeFiles(m_engine.m_ZipRegFileItemList), -1);
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("pkg/bin/x.dll")));
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("pkg/readme.txt")));
    EXPECT_TRUE(platform::FileExists(m_dir.Sub("pkg/docs")));  // folders are not registered
    EXPECT_TRUE(platform::FileExists(strZip));
}

// A member that cannot be extracted fails the archive: it is deleted (so the
// next run fetches it again), and none of its members is registered.
TEST_F(ZipHandlerTest, ZipRegArchiveWhereOneMemberFailsRegistersNothing) {
    std::string strZip =
        MakeZip("reg/comp.zip", {{"a.ocx", "MZ"}, {"b.ocx", "MZ"}, {"c.ocx", "MZ"}});
    m_dir.WriteFile("reg/b.ocx/in-the-way", "a folder that is not empty");
    CEnvVar path("PATH", m_dir.Sub("no-wine"));
    PutFakeTool("system32/regsvr32.exe");
    m_engine.m_ZipRegFileItemList.push_back(MakeItem(kFileTypeZipReg, strZip));
    EXPECT_EQ(m_engine.HandleZipRegTypeFiles(m_engine.m_ZipRegFileItemList), -1);
    EXPECT_FALSE(platform::FileExists(strZip));
    EXPECT_EQ(ReadWholeFile(m_dir.Sub("reg/a.ocx")), "MZ");
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("reg/c.ocx")));
    EXPECT_FALSE(m_log.Mentions("ProcessRegisterFile2ByRegSvr32> Target file"));
}

// ---- Through Wine in the tests' shared prefix ----

class WinePostProcessTest : public ZipHandlerTest {
protected:
    static void SetUpTestSuite() { s_pWinePrefix = std::make_unique<launchtest::CWinePrefix>(); }
    static void TearDownTestSuite() { s_pWinePrefix.reset(); }
    void SetUp() override {
        if (!launchtest::HaveWine())
            GTEST_SKIP() << "wine is not installed";
        ASSERT_TRUE(s_pWinePrefix->Ready());
        PostProcessTest::SetUp();
    }
    std::string PrefixPath() const override { return s_pWinePrefix->Path(); }

    static inline std::unique_ptr<launchtest::CWinePrefix> s_pWinePrefix;
};

// A registry file imported, COM servers registered (not real ones: regsvr32
// runs, fails quietly, and its exit code is not looked at) and a batch
// program awaited, all through the prefix's own tools.
TEST_F(WinePostProcessTest, HandlersRunThroughWine) {
    std::string strValue = launchtest::UniqueText("merged-");
    AddDown(kFileTypeRegFile,
            m_dir.WriteFile("conf/settings.reg",
                            "Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_CURRENT_USER\\Software\\TidewellHandler]\r\n\"Mode\"=\"" +
                                strValue + "\"\r\n"));
    EXPECT_EQ(m_engine.HandleRegistryTypeFiles(), 0);
    m_engine.m_RegFileItemList.push_back(
        MakeItem(kFileTypeReg, m_dir.WriteFile("bin dir/x.dll", "MZ")));
    EXPECT_EQ(m_engine.HandleRegisterTypeFilesByRegSvr32(m_engine.m_RegFileItemList), 0);
    m_engine.m_ZipRegFileItemList.push_back(
        MakeItem(kFileTypeZipReg, MakeZip("comp.zip", {{"a.ocx", "MZ"}})));
    EXPECT_EQ(m_engine.HandleZipRegTypeFiles(m_engine.m_ZipRegFileItemList), 0);
    EXPECT_TRUE(platform::FileExists(m_dir.Sub("a.ocx")));
    EXPECT_TRUE(m_dlg.MessageBoxes().empty());
    m_engine.m_DownFileItemList.clear();
    FileItem& item = AddDown(
        kFileTypeExe, m_dir.WriteFile("setup.cmd", "@echo off\r\necho %1> \"%~dp0done.txt\"\r\n"));
    item.m_bWaitClose = 1;
    item.m_strArguments = "installed";
    EXPECT_EQ(m_engine.HandleExecuteTypeFiles(), 0);
    EXPECT_EQ(ReadWholeFile(m_dir.Sub("done.txt")), "installed\r\n");
    // The import is not waited for; the prefix's server writes it out later.
    EXPECT_TRUE(s_pWinePrefix->WaitForUserRegistry("\"Mode\"=\"" + strValue + "\"", 60000));
}

}  // namespace
