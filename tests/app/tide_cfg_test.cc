#include "app/tide_cfg.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <regex>
#include <string>
#include <vector>

#include "app/tide_globals.h"
#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace {

class TideCfgTest : public ::testing::Test {
protected:
    TideCfgTest() : m_strIni(m_dir.Sub("config/Tidewell.ini")) {
        g_szBaseDir = m_dir.Path();
        platform::MakeDirectory(m_dir.Sub("config"));
    }
    ~TideCfgTest() override { g_szBaseDir.clear(); }
    void WriteIni(const std::string& strText) { m_dir.WriteFile("config/Tidewell.ini", strText); }

    CTempDir m_dir;
    std::string m_strIni;
};

// Loading never creates the file; numbers read as atoi does, clamped where
// they overflow (the transfer count kept within its bounds).
TEST_F(TideCfgTest, NumbersReadAsAtoiDoes) {
    WriteIni(
        "[TIDE]\nSVR_PORT_NO=abc\nTIME_CHECK_SPAN= -12abc\n"
        "ENCODE_URL_UTF=99999999999\nRUN_LOOMHALL_VERSION=-99999999999\n"
        "PARALLEL_TRANSFERS=99\n");
    CTideCfg cfg(m_strIni);
    EXPECT_EQ(std::vector<int>({cfg.m_nPort, cfg.m_nTimeCheckSpan, cfg.m_bEncodeUrlUtf,
                                cfg.m_nRunLoomhallVersion, cfg.m_nParallelTransfers}),
              std::vector<int>({0, -12, INT_MAX, INT_MIN, kMaxParallelTransfers}));
    platform::DeleteFile(m_strIni);
    EXPECT_EQ(CTideCfg(m_strIni).IsValidConfig(), 1);
    EXPECT_FALSE(platform::FileExists(m_strIni));
}

// Only the first TIDE section counts, whatever the case of names.
TEST_F(TideCfgTest, SectionsAndKeysMatchRegardlessOfCase) {
    WriteIni(
        "[tide]\nsvr_ip_addr=10.0.0.5\nDownload_Base_Url=\"a b/c\"\n"
        "[Resource]\nallow_file_type=dll,ocx\n[TIDE]\nLIST_FILE_NAME=ignored.txt\n");
    CTideCfg cfg(m_strIni);
    EXPECT_EQ(cfg.m_strServer, "10.0.0.5");
    EXPECT_EQ(cfg.m_strBaseUrl, "a b/c");
    EXPECT_EQ(cfg.m_strAllowFileType, "dll,ocx");
    EXPECT_EQ(cfg.m_strListFileName, "_listfile.txt");
}

TEST_F(TideCfgTest, ValidityCodesInCheckOrder) {
    CTideCfg cfg(m_strIni);
    const std::pair<std::string*, int> kSteps[] = {{&cfg.m_strBaseUrl, -5},
                                                   {&cfg.m_strLocalBaseDir, -4},
                                                   {&cfg.m_strServer, -3},
                                                   {nullptr, -2},
                                                   {&cfg.m_strListFileName, -1}};
    for (const auto& [pstrField, nCode] : kSteps) {
        pstrField ? pstrField->clear() : void(cfg.m_nPort = 0);
        EXPECT_EQ(cfg.IsValidConfig(), nCode);
    }
}

// A save reads back the same and stamps the local time; a hand-written file
// keeps its comments, line ends, other keys and sections, and the case of its
// names; values that would break the file are not written.
TEST_F(TideCfgTest, SaveRoundTripsAndKeepsAHandWrittenFile) {
    WriteIni(
        "; settings\r\n[tide]\r\nsvr_ip_addr = old.example\r\nCUSTOM_KEY=keep me\r\n"
        "SVR_PORT_NO=80\r\nALWAYS_REGISTRY=0\r\n\r\n[Extra]\r\nA=1\r\n");
    CTideCfg cfg(m_strIni);
    cfg.m_strServer = "new.example";
    cfg.m_nPort = 8080;
    cfg.m_strListFileName = "list.txt";
    cfg.m_strBaseUrl = "b/u";
    cfg.m_strLinkAppendName = "Beta";
    cfg.m_nTimeCheckSpan = 9;
    cfg.m_nHttpsMode = 2;
    cfg.m_bEncodeUrlUtf = 0;
    cfg.m_nParallelTransfers = 3;
    cfg.m_strAllowFileType = "dll\n[TIDE]\nSVR_IP_ADDR=evil";
    cfg.SaveConfig();
    EXPECT_TRUE(
        std::regex_match(cfg.m_strLastSetupDate, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
    std::string strText = ReadWholeFile(m_strIni);
    EXPECT_EQ(strText.rfind("; settings\r\n[tide]\r\nsvr_ip_addr = new.example\r\nCUSTOM_KEY=keep "
                            "me\r\nSVR_PORT_NO=8080\r\nALWAYS_REGISTRY=1\r\n",
                            0),
              0u)
        << strText;
    EXPECT_NE(strText.find("\r\n\r\n[Extra]\r\nA=1\r\n"), std::string::npos) << strText;
    EXPECT_FALSE(std::regex_search(strText, std::regex("[^\r]\n"))) << strText;
    CTideCfg reloaded(m_strIni);
    EXPECT_EQ(reloaded.m_strServer, "new.example");
    EXPECT_EQ(reloaded.m_nPort, 8080);
    EXPECT_EQ(reloaded.m_strListFileName + reloaded.m_strBaseUrl + reloaded.m_strLinkAppendName,
              "list.txtb/uBeta");
    EXPECT_EQ(std::vector<int>({reloaded.m_nTimeCheckSpan, reloaded.m_nHttpsMode,
                                reloaded.m_bEncodeUrlUtf, reloaded.m_nParallelTransfers}),
              std::vector<int>({9, 2, 0, 3}));
    EXPECT_EQ(reloaded.m_nRunLoomhallVersion, 1);
    EXPECT_EQ(reloaded.m_strAllowFileType, "");
    EXPECT_EQ(reloaded.m_strLastSetupDate, cfg.m_strLastSetupDate);
}

TEST_F(TideCfgTest, SaveIntoAReadOnlyFileKeepsIt) {
    WriteIni("[TIDE]\nSVR_IP_ADDR=old.example\n");
    ASSERT_EQ(chmod(m_strIni.c_str(), 0444), 0);
    CTideCfg cfg(m_strIni);
    cfg.m_strServer = "new.example";
    cfg.SaveConfig();
    EXPECT_EQ(ReadWholeFile(m_strIni), "[TIDE]\nSVR_IP_ADDR=old.example\n");
}

}  // namespace
