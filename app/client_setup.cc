#include "app/client_setup.h"

#include <strings.h>

#include <cctype>
#include <vector>

#include "app/tide_cfg.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/system_error.h"
#include "util/crypto.h"
#include "util/file_util.h"

const char* const kTemplateMarkerName = "TidewellKiro.template";

namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;
constexpr int kMaxPort = 65535;
constexpr size_t kMaxHostBytes = 253;
// Longest extension that still makes the last part of a path a file name.
constexpr size_t kMaxExtensionChars = 10;
// Verifies certificates and asks before going on despite an error.
constexpr int kHttpsVerifyMode = 2;

const char* const kConfigKeyPublicKey = "LIST_PUBLIC_KEY";
const char* const kInitTempSuffix = ".tidewell-init";

std::string Lower(std::string str) {
    for (char& c : str)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return str;
}

bool IsHostByte(char c) {
    return isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.';
}

bool IsIpv6Byte(char c) {
    return isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Decodes %XX escapes; false for a broken escape.
bool PercentDecode(const std::string& strText, std::string* pstrOut) {
    pstrOut->clear();
    for (size_t i = 0; i < strText.size(); ++i) {
        if (strText[i] != '%') {
            *pstrOut += strText[i];
            continue;
        }
        if (i + 2 >= strText.size() || HexValue(strText[i + 1]) < 0 ||
            HexValue(strText[i + 2]) < 0) {
            return false;
        }
        *pstrOut += static_cast<char>(HexValue(strText[i + 1]) * 16 + HexValue(strText[i + 2]));
        i += 2;
    }
    return true;
}

// "list.txt" is a file name, "master" and "1.0" are folders: the extension
// must be short and hold a letter.
bool LooksLikeFileName(const std::string& strPart) {
    size_t nDot = strPart.rfind('.');
    if (nDot == std::string::npos || nDot == 0 || nDot + 1 == strPart.size())
        return false;
    std::string strExt = strPart.substr(nDot + 1);
    if (strExt.size() > kMaxExtensionChars)
        return false;
    bool bLetter = false;
    for (char c : strExt) {
        if (isalnum(static_cast<unsigned char>(c)) == 0)
            return false;
        bLetter = bLetter || isalpha(static_cast<unsigned char>(c)) != 0;
    }
    return bLetter;
}

bool ParsePort(const std::string& strText, int* pnPort) {
    if (strText.empty() || strText.size() > 5)
        return false;
    int nPort = 0;
    for (char c : strText) {
        if (c < '0' || c > '9')
            return false;
        nPort = nPort * 10 + (c - '0');
    }
    *pnPort = nPort;
    return nPort >= 1 && nPort <= kMaxPort;
}

bool ParseAuthority(const std::string& strAuthority, ClientSettings* pSettings,
                    std::string* pstrError) {
    std::string strHost = strAuthority;
    std::string strRest;  // ":PORT" or empty
    bool bIpv6 = !strAuthority.empty() && strAuthority[0] == '[';
    if (bIpv6) {
        size_t nClose = strAuthority.find(']');
        if (nClose == std::string::npos) {
            *pstrError = "the IPv6 address has no closing ']'";
            return false;
        }
        strHost = strAuthority.substr(1, nClose - 1);
        strRest = strAuthority.substr(nClose + 1);
    } else if (size_t nColon = strAuthority.find(':'); nColon != std::string::npos) {
        strHost = strAuthority.substr(0, nColon);
        strRest = strAuthority.substr(nColon);
    }
    bool bValid = !strHost.empty() && strHost.size() <= kMaxHostBytes;
    for (char c : strHost)
        bValid = bValid && (bIpv6 ? IsIpv6Byte(c) : IsHostByte(c));
    if (!bValid || (bIpv6 && strHost.find(':') == std::string::npos)) {
        *pstrError = "'" + strHost + "' is not a host name or address";
        return false;
    }
    if (!strRest.empty() &&
        (strRest[0] != ':' || !ParsePort(strRest.substr(1), &pSettings->nPort))) {
        *pstrError = "'" + strRest + "' is not a port number (1-65535)";
        return false;
    }
    pSettings->strHost = strHost;
    return true;
}

// The keys whose values differ between a settings file and what --init
// would write; empty when they agree.
std::string DifferingKeys(const std::string& strIniPath, const ClientSettings& settings) {
    CTideCfg cfg(strIniPath);
    std::string strKey = platform::GetProfileString("TIDE", kConfigKeyPublicKey, "", strIniPath);
    std::string strKeys;
    auto Note = [&strKeys](bool bDiffers, const char* pszKey) {
        if (!bDiffers)
            return;
        strKeys += strKeys.empty() ? "" : ", ";
        strKeys += pszKey;
    };
    Note(strcasecmp(cfg.m_strServer.c_str(), settings.strHost.c_str()) != 0, "SVR_IP_ADDR");
    Note(cfg.m_nPort != settings.nPort, "SVR_PORT_NO");
    Note(cfg.m_strBaseUrl != settings.strBaseUrl, "DOWNLOAD_BASE_URL");
    Note(cfg.m_strListFileName != settings.strListFileName, "LIST_FILE_NAME");
    Note(cfg.m_nHttpsMode != settings.nHttpsMode, "SVR_HTTPS");
    Note(strKey != settings.strPublicKey, kConfigKeyPublicKey);
    Note(cfg.m_nParallelTransfers != settings.nParallelTransfers, "PARALLEL_TRANSFERS");
    return strKeys;
}

std::string SystemText(int nError) {
    std::string strText;
    if (!platform::FormatSystemMessage(nError, &strText))
        strText = "error " + std::to_string(nError);
    return strText;
}

// Writes the settings to a scratch file beside strIniPath, reads them back
// and only then moves the file into place.
bool WriteSettingsFile(const std::string& strIniPath, const ClientSettings& settings,
                       std::string* pstrMessage) {
    std::string strTemp = strIniPath + kInitTempSuffix;
    platform::DeleteFile(strTemp);
    platform::SetLastSystemError(0);
    CTideCfg cfg(strTemp);
    cfg.m_strServer = settings.strHost;
    cfg.m_nPort = settings.nPort;
    cfg.m_strBaseUrl = settings.strBaseUrl;
    cfg.m_strListFileName = settings.strListFileName;
    cfg.m_nHttpsMode = settings.nHttpsMode;
    cfg.m_nParallelTransfers = settings.nParallelTransfers;
    // Saved as the settings dialog saves, so the first start asks nothing.
    cfg.SaveConfig();
    if (!settings.strPublicKey.empty())
        platform::WriteProfileString("TIDE", kConfigKeyPublicKey, settings.strPublicKey, strTemp);
    // A failed write leaves the file short; only a file that reads back whole goes in place.
    bool bWritten = platform::FileExists(strTemp) && DifferingKeys(strTemp, settings).empty() &&
                    platform::MoveFileReplace(strTemp, strIniPath);
    if (!bWritten) {
        int nError = platform::GetLastSystemError();
        platform::DeleteFile(strTemp);
        *pstrMessage = "cannot write " + strIniPath;
        if (nError != 0)
            *pstrMessage += ": " + SystemText(nError);
        return false;
    }
    return true;
}

}  // namespace

bool ParseServerUrl(const std::string& strUrl, ClientSettings* pSettings, std::string* pstrError) {
    if (strUrl.size() > kMaxServerUrlBytes) {
        *pstrError = "the URL is longer than " + std::to_string(kMaxServerUrlBytes) + " bytes";
        return false;
    }
    for (char c : strUrl) {
        auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b == 0x7F || c == '"' || c == '\\') {
            *pstrError = "the URL holds blanks, quotes, backslashes or control characters";
            return false;
        }
    }
    size_t nSchemeEnd = strUrl.find("://");
    std::string strScheme =
        nSchemeEnd == std::string::npos ? "" : Lower(strUrl.substr(0, nSchemeEnd));
    if (strScheme != "http" && strScheme != "https") {
        *pstrError = "the URL must start with http:// or https://";
        return false;
    }
    std::string strRest = strUrl.substr(nSchemeEnd + 3);
    if (strRest.find_first_of("?#") != std::string::npos) {
        *pstrError = "the URL may not have a query or a fragment";
        return false;
    }
    size_t nSlash = strRest.find('/');
    std::string strAuthority = strRest.substr(0, nSlash);
    std::string strPath = nSlash == std::string::npos ? "" : strRest.substr(nSlash + 1);
    if (strAuthority.find('@') != std::string::npos) {
        *pstrError = "user names in the URL are not supported";
        return false;
    }

    ClientSettings settings;
    settings.nHttpsMode = strScheme == "https" ? kHttpsVerifyMode : 0;
    settings.nPort = strScheme == "https" ? kHttpsPort : kHttpPort;
    if (!ParseAuthority(strAuthority, &settings, pstrError))
        return false;

    bool bTrailingSlash = !strPath.empty() && strPath.back() == '/';
    std::vector<std::string> vecParts;
    size_t nStart = 0;
    while (nStart <= strPath.size()) {
        size_t nEnd = strPath.find('/', nStart);
        if (nEnd == std::string::npos)
            nEnd = strPath.size();
        std::string strPart = strPath.substr(nStart, nEnd - nStart);
        std::string strDecoded;
        if (!PercentDecode(strPart, &strDecoded)) {
            *pstrError = "the path holds a broken %-escape";
            return false;
        }
        if (strDecoded == "." || strDecoded == "..") {
            *pstrError = "the path may not hold '.' or '..' parts";
            return false;
        }
        if (!strPart.empty())
            vecParts.push_back(strPart);
        nStart = nEnd + 1;
    }
    settings.strListFileName = kDefaultListFileName;
    if (!bTrailingSlash && !vecParts.empty() && LooksLikeFileName(vecParts.back())) {
        // The list file is saved under this name in the installation.
        PercentDecode(vecParts.back(), &settings.strListFileName);
        for (char c : settings.strListFileName) {
            auto b = static_cast<unsigned char>(c);
            if (b < 0x20 || b == 0x7F || c == '\\' || c == '/') {
                *pstrError = "the list file name holds a separator or control character";
                return false;
            }
        }
        vecParts.pop_back();
    }
    for (const std::string& strPart : vecParts)
        settings.strBaseUrl += (settings.strBaseUrl.empty() ? "" : "/") + strPart;
    if (settings.strBaseUrl.empty()) {
        *pstrError = "the URL names no folder on the server (the release must be below one)";
        return false;
    }
    pSettings->strHost = settings.strHost;
    pSettings->nPort = settings.nPort;
    pSettings->nHttpsMode = settings.nHttpsMode;
    pSettings->strBaseUrl = settings.strBaseUrl;
    pSettings->strListFileName = settings.strListFileName;
    return true;
}

bool ParseParallelTransfers(const std::string& strText, int* pnParallel) {
    if (strText.empty() || strText.size() > 2)
        return false;
    int nValue = 0;
    for (char c : strText) {
        if (c < '0' || c > '9')
            return false;
        nValue = nValue * 10 + (c - '0');
    }
    if (nValue < 1 || nValue > kMaxParallelTransfers)
        return false;
    *pnParallel = nValue;
    return true;
}

bool IsValidListPublicKey(const std::string& strKey) {
    // The same strict reading a run gives LIST_PUBLIC_KEY, so a key taken here
    // never stops the installation's first run.
    std::string strRaw;
    return strKey.size() <= kMaxPublicKeyChars && DecodeEd25519PublicKey(strKey, &strRaw);
}

int InitClientInstallation(const std::string& strDir, const ClientSettings& settings,
                           const std::string& strUpdaterPath, std::string* pstrMessage) {
    std::string strIni = platform::JoinPath(platform::JoinPath(strDir, "config"), "Tidewell.ini");
    bool bSettingsThere = platform::FileExists(strIni);
    if (bSettingsThere) {
        std::string strKeys = DifferingKeys(strIni, settings);
        if (!strKeys.empty()) {
            *pstrMessage =
                strIni + " already holds other settings (" + strKeys + "); nothing was changed";
            return 1;
        }
    }
    unsigned dwError = 0;
    if (CFileUtil::CreateDirectories(strIni, &dwError) != 1) {
        *pstrMessage =
            "cannot create " + strDir + "/config: " + SystemText(static_cast<int>(dwError));
        return 1;
    }
    std::string strUpdater =
        platform::JoinPath(strDir, std::string("TidewellKiro") + platform::kExeSuffix);
    if (!platform::FileExists(strUpdater)) {
        std::string strTemp = strUpdater + kInitTempSuffix;
        if (!platform::CopyFileOver(strUpdaterPath, strTemp) ||
            !platform::MoveFileReplace(strTemp, strUpdater)) {
            int nError = platform::GetLastSystemError();
            platform::DeleteFile(strTemp);
            *pstrMessage = "cannot copy the updater to " + strUpdater + ": " + SystemText(nError);
            return 1;
        }
    }
    if (!bSettingsThere && !WriteSettingsFile(strIni, settings, pstrMessage))
        return 1;
    *pstrMessage = bSettingsThere ? strDir + " already holds these settings" : "prepared " + strDir;
    return 0;
}
