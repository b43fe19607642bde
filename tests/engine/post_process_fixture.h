// The post-processing tests' common ground: an engine with a recording front
// end, a download folder, and a scratch Wine prefix whose Windows and
// system folders the run's globals point at, as GetAndDisplaySystemInfo sets them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/tide_globals.h"
#include "engine/sync_engine.h"
#include "platform/windows_side.h"
#include "tests/engine/launch_test_support.h"
#include "tests/support/recording_front_end.h"
#include "tests/support/temp_dir.h"

class PostProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_pPrefixVar = std::make_unique<launchtest::CEnvVar>("WINEPREFIX", PrefixPath());
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
        size_t nSep = strTarget.rfind('/');
        pItem->m_strSourceFile = nSep == std::string::npos ? strTarget : strTarget.substr(nSep + 1);
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
    std::vector<std::string> StatusTexts() const {
        std::vector<std::string> vecTexts;
        for (const std::string& strCall : m_dlg.Calls()) {
            if (strCall.rfind("SetStatusText:", 0) == 0)
                vecTexts.push_back(strCall.substr(14));
        }
        return vecTexts;
    }

    launchtest::CLogCapture m_log;
    CTempDir m_dir;
    CTempDir m_prefix;
    std::unique_ptr<launchtest::CEnvVar> m_pPrefixVar;
    CRecordingFrontEnd m_dlg;
    CSyncEngine m_engine;
};

// The same with Wine itself in the tests' shared prefix;
// skipped when Wine is not installed.
class WinePostProcessTest : public PostProcessTest {
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
