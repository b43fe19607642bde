// Preparing a new client installation from the command line (--init): the
// server URL read into settings, the list key checked, the folder made with
// the updater and config/Tidewell.ini. Called by the executable's command
// line before any application object exists; nothing here talks to a server.
#pragma once

#include <string>

// A file of this name beside the updater marks the packaged template that
// --init copies; the template itself never runs an update.
extern const char* const kTemplateMarkerName;

// Longest URL and list key taken from the command line.
constexpr size_t kMaxServerUrlBytes = 1024;
constexpr size_t kMaxPublicKeyChars = 64;

// What a new installation's config/Tidewell.ini gets.
struct ClientSettings {
    std::string strHost;  // name or address, an IPv6 address without brackets
    int nPort = 0;
    int nHttpsMode = 0;  // 0 plain HTTP; 2 HTTPS with verified certificates
    std::string strBaseUrl;
    std::string strListFileName;
    std::string strPublicKey;  // LIST_PUBLIC_KEY, empty for none
    int nParallelTransfers = 1;  // PARALLEL_TRANSFERS
};

// Reads "http[s]://HOST[:PORT]/PATH[/LISTFILE]" into settings: the list
// file name stays the default unless the last part of the path is a file
// name (it has an extension and no slash follows it). False with a one-line
// reason when the URL cannot be used; strPublicKey is left as it is.
bool ParseServerUrl(const std::string& strUrl, ClientSettings* pSettings, std::string* pstrError);

// Reads the --parallel value: a whole number from 1 to kMaxParallelTransfers.
bool ParseParallelTransfers(const std::string& strText, int* pnParallel);

// True for the base64 text of exactly 32 bytes.
bool IsValidListPublicKey(const std::string& strKey);

// Creates strDir with config/Tidewell.ini from settings and a copy of the
// updater at strUpdaterPath (kept when one is there already). A folder that
// already holds the same settings is left as it is. 0 done; 1 refused or
// failed, nothing overwritten, with the reason in *pstrMessage.
int InitClientInstallation(const std::string& strDir, const ClientSettings& settings,
                           const std::string& strUpdaterPath, std::string* pstrMessage);
