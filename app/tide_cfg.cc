#include "app/tide_cfg.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "app/tide_globals.h"
#include "platform/clock.h"
#include "platform/profile.h"

const char* const kDefaultServerHost = "update.vellmark.example";
const char* const kDefaultListFileName = "_listfile.txt";

namespace {

constexpr char kSectionTide[] = "TIDE";
constexpr char kSectionResource[] = "RESOURCE";

// atoi as the settings have always been read: leading white space, a sign,
// then digits up to the first other byte ("12abc" is 12, "abc" is 0).
// Unlike atoi, an overflowing number is clamped instead of being undefined.
int ToInt(const std::string& strText) {
    size_t nPos = 0;
    while (nPos < strText.size() &&
           (strText[nPos] == ' ' || (strText[nPos] >= '\t' && strText[nPos] <= '\r'))) {
        ++nPos;
    }
    bool bNegative = false;
    if (nPos < strText.size() && (strText[nPos] == '+' || strText[nPos] == '-')) {
        bNegative = strText[nPos] == '-';
        ++nPos;
    }
    int64_t nValue = 0;
    for (; nPos < strText.size() && strText[nPos] >= '0' && strText[nPos] <= '9'; ++nPos) {
        nValue = nValue * 10 + (strText[nPos] - '0');
        if (nValue > static_cast<int64_t>(INT_MAX) + 1)
            nValue = static_cast<int64_t>(INT_MAX) + 1;
    }
    if (bNegative)
        nValue = -nValue;
    if (nValue > INT_MAX)
        return INT_MAX;
    return static_cast<int>(nValue);
}

std::string LocalTimeText() {
    platform::SystemTime st = platform::ToLocalTime(platform::SystemClock().NowUnixMs());
    char szText[64];
    snprintf(szText, sizeof(szText), "%04d-%02d-%02d %02d:%02d:%02d", st.nYear, st.nMonth, st.nDay,
             st.nHour, st.nMinute, st.nSecond);
    return szText;
}

}  // namespace

CTideCfg::CTideCfg(const std::string& strIniPath) : m_strIniPath(strIniPath) {
    LoadConfig();
}

void CTideCfg::LoadConfig() {
    auto Read = [this](const char* pszSection, const char* pszKey, const char* pszDefault) {
        return platform::GetProfileString(pszSection, pszKey, pszDefault, m_strIniPath);
    };
    m_strServer = Read(kSectionTide, "SVR_IP_ADDR", kDefaultServerHost);
    m_nPort = ToInt(Read(kSectionTide, "SVR_PORT_NO", "80"));
    m_strBaseUrl = Read(kSectionTide, "DOWNLOAD_BASE_URL", "corvid5/version/studio/prod/master");
    m_strListFileName = Read(kSectionTide, "LIST_FILE_NAME", kDefaultListFileName);
    m_strLocalBaseDir = g_szBaseDir;
    m_strLinkAppendName = Read(kSectionTide, "LINK_APPEND_NAME", "");
    m_nTimeCheckSpan = ToInt(Read(kSectionTide, "TIME_CHECK_SPAN", "5"));
    m_nHttpsMode = ToInt(Read(kSectionTide, "SVR_HTTPS", "0"));
    // COM registration always goes through the shell; the file has no say.
    m_nRegistryMode = 2;
    m_bEncodeUrlUtf = ToInt(Read(kSectionTide, "ENCODE_URL_UTF", "1"));
    // ALWAYS_REGISTRY is written for the record but every run registers all.
    m_bAlwaysRegistry = 1;
    m_strAllowFileType = Read(kSectionResource, "ALLOW_FILE_TYPE", "");
    m_nRunLoomhallVersion = ToInt(Read(kSectionTide, "RUN_LOOMHALL_VERSION", "0"));
    m_strLastSetupDate = Read(kSectionTide, "LAST_SETUP_DATE", "");
    m_strListPublicKey = Read(kSectionTide, "LIST_PUBLIC_KEY", "");
    m_nParallelTransfers =
        std::clamp(ToInt(Read(kSectionTide, "PARALLEL_TRANSFERS", "1")), 1, kMaxParallelTransfers);
    m_nListVersion = ReadListVersion();
}

uint64_t CTideCfg::ReadListVersion() const {
    std::string strVersion =
        platform::GetProfileString(kSectionTide, "LIST_VERSION", "0", m_strIniPath);
    uint64_t nVersion = 0;
    std::from_chars(strVersion.data(), strVersion.data() + strVersion.size(), nVersion);
    return nVersion;
}

bool CTideCfg::SaveListVersion(uint64_t nVersion) {
    m_nListVersion = nVersion;
    return platform::WriteProfileString(kSectionTide, "LIST_VERSION", std::to_string(nVersion),
                                        m_strIniPath);
}

void CTideCfg::SaveConfig() {
    auto Write = [this](const char* pszSection, const char* pszKey, const std::string& strValue) {
        // A failed entry leaves the file as it was; the remaining entries are
        // still tried and the in-memory settings stay in force.
        platform::WriteProfileString(pszSection, pszKey, strValue, m_strIniPath);
    };
    m_nRunLoomhallVersion = 1;
    Write(kSectionTide, "SVR_IP_ADDR", m_strServer);
    Write(kSectionTide, "SVR_PORT_NO", std::to_string(m_nPort));
    Write(kSectionTide, "DOWNLOAD_BASE_URL", m_strBaseUrl);
    Write(kSectionTide, "LIST_FILE_NAME", m_strListFileName);
    Write(kSectionTide, "LINK_APPEND_NAME", m_strLinkAppendName);
    Write(kSectionTide, "TIME_CHECK_SPAN", std::to_string(m_nTimeCheckSpan));
    Write(kSectionTide, "SVR_HTTPS", std::to_string(m_nHttpsMode));
    Write(kSectionTide, "ALWAYS_REGISTRY", std::to_string(m_bAlwaysRegistry));
    Write(kSectionTide, "ENCODE_URL_UTF", std::to_string(m_bEncodeUrlUtf));
    Write(kSectionTide, "PARALLEL_TRANSFERS", std::to_string(m_nParallelTransfers));
    Write(kSectionResource, "ALLOW_FILE_TYPE", m_strAllowFileType);
    Write(kSectionTide, "RUN_LOOMHALL_VERSION", std::to_string(m_nRunLoomhallVersion));
    m_strLastSetupDate = LocalTimeText();
    Write(kSectionTide, "LAST_SETUP_DATE", m_strLastSetupDate);
}

int CTideCfg::IsValidConfig() const {
    if (m_strListFileName.empty())
        return -1;
    if (m_nPort == 0)
        return -2;
    if (m_strServer.empty())
        return -3;
    if (m_strLocalBaseDir.empty())
        return -4;
    if (m_strBaseUrl.empty())
        return -5;
    return 1;
}
