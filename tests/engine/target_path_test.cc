// Target path resolution and the special folders, with the Wine prefix and
// the XDG folders pointed at a scratch folder.
#include "engine/target_path.h"

#include <gtest/gtest.h>

#include <string>

#include "app/tide_globals.h"
#include "engine/sync_engine.h"
#include "platform/file_system.h"
#include "platform/windows_side.h"
#include "tests/support/env_var.h"
#include "tests/support/log_capture.h"
#include "tests/support/recording_front_end.h"
#include "tests/support/temp_dir.h"

namespace {

class TargetPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_engine.m_pDlg = &m_frontEnd;
        g_szWindowsDir = "/win";
        g_szSystemDir = "/win/system32";
    }
    void TearDown() override {
        g_szWindowsDir.clear();
        g_szSystemDir.clear();
    }

    CTempDir m_dir;
    CLogCapture m_log;
    CEnvVar m_prefix{"WINEPREFIX", m_dir.Sub("prefix")};
    CEnvVar m_home{"HOME", m_dir.Sub("home")};
    CEnvVar m_dataHome{"XDG_DATA_HOME", m_dir.Sub("data")};
    CEnvVar m_configHome{"XDG_CONFIG_HOME", m_dir.Sub("config")};
    CRecordingFrontEnd m_frontEnd;
    CSyncEngine m_engine;
};

// The folders a 64-bit prefix moves, and where the prefix is found.
TEST_F(TargetPathTest, SpecialFolderMapOfA32BitAnd64BitPrefix) {
    std::string strC = m_dir.Sub("prefix/drive_c");
    SpecialDirMap map = LoadSpecialDirMap();
    EXPECT_EQ(map["_SYSTEM_32BIT"], strC + "/windows/system32");
    EXPECT_EQ(map["_PROGRAM_FILES_32BIT"], strC + "/Program Files");
    EXPECT_EQ(map["_PROGRAMS"], m_dir.Sub("data/applications"));
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("prefix")));  // nothing created
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("home")));

    m_dir.WriteFile("prefix/drive_c/windows/syswow64/kernel32.dll", "");
    m_dir.WriteFile("prefix/drive_c/Program Files (x86)/x.txt", "");
    map = LoadSpecialDirMap();
    EXPECT_EQ(map["_SYSTEM_32BIT"], strC + "/windows/syswow64");
    EXPECT_EQ(map["_PROGRAM_FILES_32BIT"], strC + "/Program Files (x86)");
    EXPECT_EQ(map["_SYSTEM"], strC + "/windows/system32");

    // Without WINEPREFIX the prefix is ~/.wine; trailing separators go.
    CEnvVar noPrefix("WINEPREFIX", std::nullopt);
    EXPECT_EQ(LoadSpecialDirMap()["_WINDOWS"], m_dir.Sub("home/.wine/drive_c/windows"));
    CEnvVar slash("WINEPREFIX", m_dir.Sub("p2//"));
    EXPECT_EQ(platform::GetWinePrefix(), m_dir.Sub("p2"));
}

// {path as written in the list} -> where it lands; null when refused.
TEST_F(TargetPathTest, PathsResolveInsideTheirFolder) {
    m_frontEnd.m_mapSpecialDir = LoadSpecialDirMap();
    m_frontEnd.m_mapSpecialDir["_FONTS"] = "/win/Fonts";
    m_frontEnd.m_mapSpecialDir["_STARTUP"] = "";
    m_frontEnd.m_mapSpecialDir["_WINDOWS"] = "/from/the/map";
    std::string strC = m_dir.Sub("prefix/drive_c");
    struct Case {
        std::string strWritten;
        std::optional<std::string> resolved;
    } const kCases[] = {
        {"bin/a.dll", "/opt/tide/bin/a.dll"},
        {"ab", "/opt/tide/ab"},
        {"", ""},
        {"_FONTS/arial.ttf", "/win/Fonts/arial.ttf"},
        {"_PROGRAMS/Vellmark Corvid/a.desktop",
         m_dir.Sub("data/applications/Vellmark Corvid/a.desktop")},
        // Not keys: no separator, another letter case, a key without a folder.
        {"_FONTS", "/opt/tide/_FONTS"},
        {"_Fonts/a.ttf", "/opt/tide/_Fonts/a.ttf"},
        {"_STARTUP/a.desktop", "/opt/tide/a.desktop"},
        {"%SystemDir%/x.ocx", "/win/system32/x.ocx"},
        {"%SystemRoot%\\Fonts\\a.ttf", "/win/Fonts/a.ttf"},
        {"a%SystemRoot%/b%SystemDir%", "/opt/tide/a/win/b/win/system32"},
        {"%systemdir%/x.ocx", "/opt/tide/%systemdir%/x.ocx"},
        // Without a drive letter a path belongs to the installation, never to /.
        {"/Shared/x.dat", "/opt/tide/Shared/x.dat"},
        {"C:\\Data\\x.bin", strC + "/Data/x.bin"},
        {"c:/Data/x.bin", strC + "/Data/x.bin"},
        {"C:x.bin", strC + "/x.bin"},
        {"D:\\x.bin", m_dir.Sub("prefix/dosdevices/d:/x.bin")},
        {"1:/x.bin", "/opt/tide/1:/x.bin"},
        {"a/../b.txt", "/opt/tide/b.txt"},
        {"./a/./b.txt", "/opt/tide/a/b.txt"},
        {"a..b/c..", "/opt/tide/a..b/c.."},
        {"_FONTS/sub/../a.ttf", "/win/Fonts/a.ttf"},
        {"../escape.txt", std::nullopt},
        {"_FONTS/../win.ini", std::nullopt},
        {"%SystemDir%/../../escape.dll", std::nullopt},
        {"C:\\..\\escape.bin", std::nullopt},
    };
    for (const Case& c : kCases) {
        FileItem item;
        item.m_strTargetFile = c.strWritten;
        m_engine.AdjustTargetFilePath(item, "/opt/tide/");
        EXPECT_EQ(item.m_bUnsafeTarget, c.resolved ? 0 : 1) << c.strWritten;
        if (c.resolved) {
            EXPECT_EQ(item.m_strTargetFile, *c.resolved) << c.strWritten;
        }
    }
    EXPECT_TRUE(m_log.Mentions("'../escape.txt' >> The path climbs out of its folder"));
    // Without a front end there are no keys.
    m_engine.m_pDlg = nullptr;
    FileItem item;
    item.m_strTargetFile = "_FONTS/a.ttf";
    m_engine.AdjustTargetFilePath(item, "/opt/tide/");
    EXPECT_EQ(item.m_strTargetFile, "/opt/tide/_FONTS/a.ttf");
}

}  // namespace
