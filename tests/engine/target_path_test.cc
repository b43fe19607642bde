// Target path resolution and the special folders, with the Wine prefix and
// the XDG folders pointed at a scratch folder.
#include "engine/target_path.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/tide_globals.h"
#include "engine/sync_engine.h"
#include "platform/file_system.h"
#include "platform/windows_side.h"
#include "tests/engine/list_test_support.h"
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

    std::string Resolve(const std::string& strPath) {
        FileItem item;
        item.m_strTargetFile = strPath;
        m_engine.AdjustTargetFilePath(item, kBase);
        return item.m_strTargetFile;
    }

    static constexpr const char* kBase = "/opt/tide/";
    CTempDir m_dir;
    CLogCapture m_log;
    CEnvVar m_prefix{"WINEPREFIX", m_dir.Sub("prefix")};
    CEnvVar m_home{"HOME", m_dir.Sub("home")};
    CEnvVar m_dataHome{"XDG_DATA_HOME", m_dir.Sub("data")};
    CEnvVar m_configHome{"XDG_CONFIG_HOME", m_dir.Sub("config")};
    CRecordingFrontEnd m_frontEnd;
    CSyncEngine m_engine;
};

}  // namespace

// ---- The special folder map ----

TEST_F(TargetPathTest, MapOfA32BitPrefix) {
    SpecialDirMap mapDirs = LoadSpecialDirMap();
    std::string strC = m_dir.Sub("prefix/drive_c");
    SpecialDirMap expected = {
        {"_FONTS", strC + "/windows/Fonts"},
        {"_WINDOWS", strC + "/windows"},
        {"_SYSTEM", strC + "/windows/system32"},
        {"_SYSTEM_32BIT", strC + "/windows/system32"},
        {"_PROGRAM_FILES", strC + "/Program Files"},
        {"_PROGRAM_FILES_32BIT", strC + "/Program Files"},
        {"_DESKTOPDIRECTORY", m_dir.Sub("home/Desktop")},
        {"_PROGRAMS", m_dir.Sub("data/applications")},
        {"_STARTUP", m_dir.Sub("config/autostart")},
    };
    EXPECT_EQ(expected, mapDirs);
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("prefix")));  // nothing created
    EXPECT_FALSE(platform::FileExists(m_dir.Sub("home")));
    for (const auto& [strKey, strDir] : expected) {
        EXPECT_TRUE(
            m_log.Has("DEBUG", "CTideDlg::LoadSpecialDirMap> " + strKey + " = [" + strDir + "]"));
    }
}

TEST_F(TargetPathTest, MapOfA64BitPrefix) {
    std::string strC = m_dir.Sub("prefix/drive_c");
    m_dir.WriteFile("prefix/drive_c/windows/syswow64/kernel32.dll", "");
    m_dir.WriteFile("prefix/drive_c/Program Files (x86)/x.txt", "");
    SpecialDirMap mapDirs = LoadSpecialDirMap();
    EXPECT_EQ(strC + "/windows/syswow64", mapDirs["_SYSTEM_32BIT"]);
    EXPECT_EQ(strC + "/windows/system32", mapDirs["_SYSTEM"]);
    EXPECT_EQ(strC + "/Program Files (x86)", mapDirs["_PROGRAM_FILES_32BIT"]);
    EXPECT_EQ(strC + "/Program Files", mapDirs["_PROGRAM_FILES"]);
    EXPECT_EQ(9u, mapDirs.size());
}

TEST_F(TargetPathTest, PrefixDefaultsToDotWineInTheHomeFolder) {
    CEnvVar noPrefix("WINEPREFIX", std::nullopt);
    EXPECT_EQ(m_dir.Sub("home/.wine"), platform::GetWinePrefix());
    EXPECT_EQ(m_dir.Sub("home/.wine/drive_c/windows"), LoadSpecialDirMap()["_WINDOWS"]);
    CEnvVar slash("WINEPREFIX", m_dir.Sub("p2//"));
    EXPECT_EQ(m_dir.Sub("p2"), platform::GetWinePrefix());
}

// ---- Resolving target paths ----

TEST_F(TargetPathTest, SpecialKeys) {
    m_frontEnd.m_mapSpecialDir = LoadSpecialDirMap();
    std::string strFonts = m_frontEnd.m_mapSpecialDir["_FONTS"];
    EXPECT_EQ(strFonts + "/arial.ttf", Resolve("_FONTS/arial.ttf"));
    EXPECT_EQ(strFonts + "/sub/arial.ttf", Resolve("_FONTS\\sub\\arial.ttf"));
    EXPECT_EQ(m_dir.Sub("data/applications/Vellmark Corvid/a.desktop"),
              Resolve("_PROGRAMS/Vellmark Corvid/a.desktop"));
    // Not keys: no separator, another letter case, an unknown name.
    EXPECT_EQ("/opt/tide/_FONTS", Resolve("_FONTS"));
    EXPECT_EQ("/opt/tide/_Fonts/a.ttf", Resolve("_Fonts/a.ttf"));
    EXPECT_EQ("/opt/tide/_NONE/a.ttf", Resolve("_NONE/a.ttf"));
}

TEST_F(TargetPathTest, KeyWithoutAFolderStaysInTheInstallation) {
    m_frontEnd.m_mapSpecialDir["_STARTUP"] = "";
    EXPECT_EQ("/opt/tide/a.desktop", Resolve("_STARTUP/a.desktop"));
}

TEST_F(TargetPathTest, NoFrontEndMeansNoKeys) {
    m_engine.m_pDlg = nullptr;
    EXPECT_EQ("/opt/tide/_FONTS/a.ttf", Resolve("_FONTS/a.ttf"));
}

TEST_F(TargetPathTest, Placeholders) {
    m_frontEnd.m_mapSpecialDir["_WINDOWS"] = "/from/the/map";
    EXPECT_EQ("/win/system32/x.ocx", Resolve("%SystemDir%/x.ocx"));
    EXPECT_EQ("/win/Fonts/a.ttf", Resolve("%SystemRoot%\\Fonts\\a.ttf"));
    EXPECT_EQ("/opt/tide/a/win/b/win/system32", Resolve("a%SystemRoot%/b%SystemDir%"));
    EXPECT_EQ("/opt/tide/%systemdir%/x.ocx", Resolve("%systemdir%/x.ocx"));
}

TEST_F(TargetPathTest, RootAndDrivePaths) {
    // Without a drive letter a path belongs to the installation, never to /.
    EXPECT_EQ("/opt/tide/Shared/x.dat", Resolve("/Shared/x.dat"));
    EXPECT_EQ("/opt/tide/Shared/x.dat", Resolve("\\Shared\\x.dat"));
    EXPECT_EQ(m_dir.Sub("prefix/drive_c/Data/x.bin"), Resolve("C:\\Data\\x.bin"));
    EXPECT_EQ(m_dir.Sub("prefix/drive_c/Data/x.bin"), Resolve("c:/Data/x.bin"));
    EXPECT_EQ(m_dir.Sub("prefix/dosdevices/d:/x.bin"), Resolve("D:\\x.bin"));
    EXPECT_EQ(m_dir.Sub("prefix/drive_c/x.bin"), Resolve("C:x.bin"));
    EXPECT_EQ("/opt/tide/1:/x.bin", Resolve("1:/x.bin"));  // not a drive letter
}

TEST_F(TargetPathTest, DotSegmentsStayInsideTheirFolder) {
    m_frontEnd.m_mapSpecialDir["_FONTS"] = "/win/Fonts";
    struct Case {
        const char* pszWritten;
        const char* pszResolved;  // null: refused
    };
    const Case kCases[] = {
        {"a/../b.txt", "/opt/tide/b.txt"},
        {"./a/./b.txt", "/opt/tide/a/b.txt"},
        {"a..b/c..", "/opt/tide/a..b/c.."},
        {"_FONTS/sub/../a.ttf", "/win/Fonts/a.ttf"},
        {"../escape.txt", nullptr},
        {"a/../../escape.txt", nullptr},
        {"\\..\\escape.txt", nullptr},
        {"_FONTS/../win.ini", nullptr},
        {"%SystemDir%/../../escape.dll", nullptr},
        {"C:\\..\\escape.bin", nullptr},
    };
    for (const Case& c : kCases) {
        FileItem item;
        item.m_strTargetFile = c.pszWritten;
        m_engine.AdjustTargetFilePath(item, kBase);
        if (c.pszResolved != nullptr) {
            EXPECT_EQ(0, item.m_bUnsafeTarget) << c.pszWritten;
            EXPECT_EQ(c.pszResolved, item.m_strTargetFile) << c.pszWritten;
        } else {
            EXPECT_EQ(1, item.m_bUnsafeTarget) << c.pszWritten;
        }
    }
    EXPECT_TRUE(m_log.Mentions("'../escape.txt' >> The path climbs out of its folder"));
}

TEST_F(TargetPathTest, RelativeShortAndEmptyPaths) {
    EXPECT_EQ("/opt/tide/bin/a.dll", Resolve("bin/a.dll"));
    EXPECT_EQ("/opt/tide/abc", Resolve("abc"));
    EXPECT_EQ("/opt/tide/ab", Resolve("ab"));
    EXPECT_EQ("", Resolve(""));
    EXPECT_TRUE(
        m_log.Has("ERROR", "CSyncEngine::AdjustTargetFilePath> Invalid TargetFile path. ()"));
}

// ---- Windows drive paths ----

TEST(WindowsSideTest, DrivePaths) {
    EXPECT_TRUE(platform::IsWindowsDrivePath("C:\\x"));
    EXPECT_TRUE(platform::IsWindowsDrivePath("z:"));
    EXPECT_FALSE(platform::IsWindowsDrivePath("C"));
    EXPECT_FALSE(platform::IsWindowsDrivePath("/C:/x"));
    EXPECT_FALSE(platform::IsWindowsDrivePath("1:\\x"));
    CEnvVar prefix("WINEPREFIX", "/p");
    EXPECT_EQ("/p/drive_c", platform::MapWindowsDrivePath("C:"));
    EXPECT_EQ("/p/drive_c/", platform::MapWindowsDrivePath("C:\\"));
    EXPECT_EQ("/p/dosdevices/z:/tmp/a b", platform::MapWindowsDrivePath("Z:\\tmp\\a b"));
    EXPECT_EQ("rel/x", platform::MapWindowsDrivePath("rel/x"));
}
