#include "app/tide_cfg.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <string>

#include "app/tide_globals.h"
#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace {

class TideCfgTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_szBaseDir = m_dir.Path();
        ASSERT_TRUE(platform::MakeDirectory(m_dir.Sub("config")));
        m_strIni = platform::JoinPath(platform::JoinPath(g_szBaseDir, "config"), "Tidewell.ini");
    }
    void TearDown() override { g_szBaseDir.clear(); }

    std::string WriteIni(const std::string& strText) {
        return m_dir.WriteFile("config/Tidewell.ini", strText);
    }

    CTempDir m_dir;
    std::string m_strIni;
};

// "YYYY-MM-DD hh:mm:ss".
bool IsDateText(const std::string& strText) {
    const std::string strShape = "0000-00-00 00:00:00";
    if (strText.size() != strShape.size())
        return false;
    for (size_t i = 0; i < strShape.size(); ++i) {
        bool bDigit = strText[i] >= '0' && strText[i] <= '9';
        if (strShape[i] == '0' ? !bDigit : strText[i] != strShape[i])
            return false;
    }
    return true;
}

// The file's text with a well-formed LAST_SETUP_DATE value replaced by "<date>".
std::string WithoutDate(std::string strText) {
    const std::string strKey = "LAST_SETUP_DATE=";
    size_t nPos = strText.find(strKey);
    if (nPos != std::string::npos && IsDateText(strText.substr(nPos + strKey.size(), 19))) {
        strText.replace(nPos + strKey.size(), 19, "<date>");
    }
    return strText;
}

}  // namespace

// Loading never creates the file; numbers read as atoi does (the transfer
// count kept within its bounds); the fixed values ignore the file.
TEST_F(TideCfgTest, NumbersReadAsAtoiDoes) {
    WriteIni(
        "[TIDE]\nSVR_PORT_NO=abc\nTIME_CHECK_SPAN=12abc\nSVR_HTTPS= -7\n"
        "ENCODE_URL_UTF=99999999999\nRUN_LOOMHALL_VERSION=-99999999999\n"
        "PARALLEL_TRANSFERS=99\nALWAYS_REGISTRY=0\nREGISTRY_MODE=0\n");
    CTideCfg cfg(m_strIni);
    EXPECT_EQ(kMaxParallelTransfers, cfg.m_nParallelTransfers);  // kept within its bounds
    EXPECT_EQ(0, cfg.m_nPort);
    EXPECT_EQ(12, cfg.m_nTimeCheckSpan);
    EXPECT_EQ(-7, cfg.m_nHttpsMode);  // not range-checked at load
    EXPECT_EQ(INT_MAX, cfg.m_bEncodeUrlUtf);
    EXPECT_EQ(INT_MIN, cfg.m_nRunLoomhallVersion);
    EXPECT_EQ(-2, cfg.IsValidConfig());
    EXPECT_EQ(1, cfg.m_bAlwaysRegistry);
    EXPECT_EQ(2, cfg.m_nRegistryMode);
    EXPECT_EQ(m_dir.Path(), cfg.m_strLocalBaseDir);
    platform::DeleteFile(m_strIni);
    EXPECT_EQ(1, CTideCfg(m_strIni).IsValidConfig());
    EXPECT_FALSE(platform::FileExists(m_strIni));
}

TEST_F(TideCfgTest, SectionsAndKeysMatchRegardlessOfCase) {
    WriteIni(
        "[tide]\nsvr_ip_addr=10.0.0.5\nDownload_Base_Url=\"a b/c\"\n"
        "[Resource]\nallow_file_type=dll,ocx\n[TIDE]\nLIST_FILE_NAME=ignored.txt\n");
    CTideCfg cfg(m_strIni);
    EXPECT_EQ("10.0.0.5", cfg.m_strServer);
    EXPECT_EQ("a b/c", cfg.m_strBaseUrl);
    EXPECT_EQ("dll,ocx", cfg.m_strAllowFileType);
    EXPECT_EQ("_listfile.txt", cfg.m_strListFileName);  // only the first TIDE section counts
}

TEST_F(TideCfgTest, ValidityCodesInCheckOrder) {
    CTideCfg cfg(m_strIni);
    cfg.m_strBaseUrl.clear();
    EXPECT_EQ(-5, cfg.IsValidConfig());
    cfg.m_strLocalBaseDir.clear();
    EXPECT_EQ(-4, cfg.IsValidConfig());
    cfg.m_strServer.clear();
    EXPECT_EQ(-3, cfg.IsValidConfig());
    cfg.m_nPort = 0;
    EXPECT_EQ(-2, cfg.IsValidConfig());
    cfg.m_strListFileName.clear();
    EXPECT_EQ(-1, cfg.IsValidConfig());
}

// ---- Saving ----

TEST_F(TideCfgTest, SaveWritesEveryKeyInOrderAndStampsTheDate) {
    CTideCfg cfg(m_strIni);
    cfg.m_strServer = "10.1.2.3";
    cfg.m_nPort = 8080;
    cfg.m_strAllowFileType = "dll";
    cfg.SaveConfig();
    EXPECT_EQ(1, cfg.m_nRunLoomhallVersion);
    EXPECT_TRUE(IsDateText(cfg.m_strLastSetupDate)) << cfg.m_strLastSetupDate;
    EXPECT_EQ(
        "[TIDE]\nSVR_IP_ADDR=10.1.2.3\nSVR_PORT_NO=8080\n"
        "DOWNLOAD_BASE_URL=corvid5/version/studio/prod/master\nLIST_FILE_NAME=_listfile.txt\n"
        "LINK_APPEND_NAME=\nTIME_CHECK_SPAN=5\nSVR_HTTPS=0\nALWAYS_REGISTRY=1\n"
        "ENCODE_URL_UTF=1\nPARALLEL_TRANSFERS=1\nRUN_LOOMHALL_VERSION=1\nLAST_SETUP_DATE=<date>\n"
        "[RESOURCE]\nALLOW_FILE_TYPE=dll\n",
        WithoutDate(ReadWholeFile(m_strIni)));

    CTideCfg reloaded(m_strIni);
    EXPECT_EQ("10.1.2.3", reloaded.m_strServer);
    EXPECT_EQ(8080, reloaded.m_nPort);
    EXPECT_EQ(1, reloaded.m_nRunLoomhallVersion);
    EXPECT_EQ(cfg.m_strLastSetupDate, reloaded.m_strLastSetupDate);
}

TEST_F(TideCfgTest, SaveKeepsAHandWrittenFile) {
    WriteIni(
        "; Tidewell settings\r\n[tide]\r\nsvr_ip_addr = old.example\r\nCUSTOM_KEY=keep me\r\n"
        "; port below\r\nSVR_PORT_NO=80\r\nDOWNLOAD_BASE_URL=corvid5/version/studio/prod/master\r\n"
        "LIST_FILE_NAME=_listfile.txt\r\nLINK_APPEND_NAME=\r\nTIME_CHECK_SPAN=5\r\nSVR_HTTPS=0\r\n"
        "ALWAYS_REGISTRY=0\r\nENCODE_URL_UTF=1\r\nRUN_LOOMHALL_VERSION=0\r\n"
        "LAST_SETUP_DATE=2020-01-01 00:00:00\r\n\r\n[Extra]\r\nA=1\r\n");
    CTideCfg cfg(m_strIni);
    cfg.m_strServer = "new.example";
    cfg.SaveConfig();
    EXPECT_EQ(
        "; Tidewell settings\r\n[tide]\r\nsvr_ip_addr = new.example\r\nCUSTOM_KEY=keep me\r\n"
        "; port below\r\nSVR_PORT_NO=80\r\nDOWNLOAD_BASE_URL=corvid5/version/studio/prod/master\r\n"
        "LIST_FILE_NAME=_listfile.txt\r\nLINK_APPEND_NAME=\r\nTIME_CHECK_SPAN=5\r\nSVR_HTTPS=0\r\n"
        "ALWAYS_REGISTRY=1\r\nENCODE_URL_UTF=1\r\nRUN_LOOMHALL_VERSION=1\r\n"
        "LAST_SETUP_DATE=<date>\r\nPARALLEL_TRANSFERS=1\r\n\r\n[Extra]\r\nA=1\r\n"
        "[RESOURCE]\r\nALLOW_FILE_TYPE=\r\n",
        WithoutDate(ReadWholeFile(m_strIni)));
}

TEST_F(TideCfgTest, RefusedValuesLeaveTheirOldEntry) {
    WriteIni("[TIDE]\nSVR_IP_ADDR=old.example\n");
    CTideCfg cfg(m_strIni);
    cfg.m_strServer = "evil.example\n[RESOURCE]\nALLOW_FILE_TYPE=exe";
    cfg.m_strListFileName = "list.txt";
    cfg.SaveConfig();
    CTideCfg reloaded(m_strIni);
    EXPECT_EQ("old.example", reloaded.m_strServer);
    EXPECT_EQ("list.txt", reloaded.m_strListFileName);
    EXPECT_EQ("", reloaded.m_strAllowFileType);
}

TEST_F(TideCfgTest, SaveIntoAReadOnlyFileKeepsIt) {
    const std::string strBefore = "[TIDE]\nSVR_IP_ADDR=old.example\n";
    WriteIni(strBefore);
    ASSERT_EQ(0, chmod(m_strIni.c_str(), 0444));
    CTideCfg cfg(m_strIni);
    cfg.m_strServer = "new.example";
    cfg.SaveConfig();
    EXPECT_EQ(strBefore, ReadWholeFile(m_strIni));
    EXPECT_EQ("new.example", cfg.m_strServer);
}
