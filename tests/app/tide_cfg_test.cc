#include "app/tide_cfg.h"

#include <gtest/gtest.h>

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

// A save reads back the same and stamps the local time; a hand-written
// file keeps what the save does not set; a value the file cannot hold is
// not written and the entries after it still are.
TEST_F(TideCfgTest, SaveRoundTripsAndKeepsAHandWrittenFile) {
    WriteIni(
        "; settings\r\n[tide]\r\nsvr_ip_addr = old.example\r\nCUSTOM_KEY=keep me\r\n"
        "[Resource]\r\nallow_file_type=dll\r\n");
    CTideCfg cfg(m_strIni);
    EXPECT_EQ(cfg.m_strAllowFileType, "dll");
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
    EXPECT_EQ(ReadWholeFile(m_strIni).rfind(
                  "; settings\r\n[tide]\r\nsvr_ip_addr = new.example\r\nCUSTOM_KEY=keep me\r\n", 0),
              0u);
    CTideCfg reloaded(m_strIni);
    EXPECT_EQ(reloaded.m_strServer + reloaded.m_strListFileName + reloaded.m_strBaseUrl +
                  reloaded.m_strLinkAppendName,
              "new.examplelist.txtb/uBeta");
    EXPECT_EQ(std::vector<int>({reloaded.m_nPort, reloaded.m_nTimeCheckSpan, reloaded.m_nHttpsMode,
                                reloaded.m_bEncodeUrlUtf, reloaded.m_nParallelTransfers,
                                reloaded.m_nRunLoomhallVersion}),
              std::vector<int>({8080, 9, 2, 0, 3, 1}));
    EXPECT_EQ(reloaded.m_strAllowFileType, "dll");  // the refused value left the old one
    EXPECT_EQ(reloaded.m_strLastSetupDate, cfg.m_strLastSetupDate);
}

}  // namespace
