// The updater's settings, kept in "config/Tidewell.ini" below the
// installation folder. The main dialog owns the one object; the engine reads
// its fields through a pointer while a run is going on.
#pragma once

#include <cstdint>
#include <string>

// Server host used when the file names none.
extern const char* const kDefaultServerHost;
// List file name used when the file names none.
extern const char* const kDefaultListFileName;
// PARALLEL_TRANSFERS is kept within 1 (one request at a time) and this.
constexpr int kMaxParallelTransfers = 16;

class CTideCfg {
public:
    // Stores the INI path and loads at once.
    explicit CTideCfg(const std::string& strIniPath);
    virtual ~CTideCfg() = default;

    void LoadConfig();
    void SaveConfig();
    // 1 when an update can start, else -1 .. -5 for the first missing value.
    int IsValidConfig() const;
    // Records the highest list version accepted (LIST_VERSION) in memory and
    // in the file; false when the file could not be written.
    bool SaveListVersion(uint64_t nVersion);
    // LIST_VERSION as the file holds it now: a copy of the settings made
    // before another run raised it must not let an older list back in.
    uint64_t ReadListVersion() const;

    std::string m_strIniPath;
    std::string m_strListFileName;
    int m_nPort = 0;
    std::string m_strServer;
    std::string m_strLocalBaseDir;
    std::string m_strBaseUrl;
    std::string m_strLinkAppendName;
    int m_nTimeCheckSpan = 0;
    int m_nHttpsMode = 0;
    int m_nRegistryMode = 2;
    int m_bAlwaysRegistry = 1;
    int m_bEncodeUrlUtf = 1;
    std::string m_strAllowFileType;
    int m_nRunLoomhallVersion = 0;
    std::string m_strLastSetupDate;
    // Base64 Ed25519 key that list files must be signed with; empty: lists
    // are taken unsigned. Set by hand, never shown or saved by the dialog.
    std::string m_strListPublicKey;
    // Requests at a time in the check and download passes (PARALLEL_TRANSFERS),
    // 1 .. kMaxParallelTransfers.
    int m_nParallelTransfers = 1;
    // Highest list version this installation accepted; written by the engine.
    uint64_t m_nListVersion = 0;
};
