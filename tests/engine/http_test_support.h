// The HTTP tests' fixture: one engine with a real log, an application object,
// a configuration and a recording front end, all in a scratch folder, talking
// to the program's shared servers; helpers to make items and test data.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/tide_app.h"
#include "app/tide_cfg.h"
#include "engine/file_item.h"
#include "engine/http_connection.h"
#include "engine/sync_engine.h"
#include "tests/support/log_capture.h"
#include "tests/support/recording_front_end.h"
#include "tests/support/server_set.h"
#include "tests/support/temp_dir.h"
#include "util/crypto.h"

class CHttpTestBase : public ::testing::Test {
protected:
    CHttpTestBase() {
        // Test traffic goes straight to 127.0.0.1 whatever the machine's proxy.
        for (const char* pszName : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                    "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
            unsetenv(pszName);
        }
        unsetenv("TIDEWELL_CA_BUNDLE");
        m_pCfg = std::make_unique<CTideCfg>(m_dir.Sub("config/Tidewell.ini"));
        m_pCfg->m_strServer = "127.0.0.1";
        m_pCfg->m_strBaseUrl = "base";
        m_pCfg->m_strListFileName = "_listfile.txt";
        m_pCfg->m_strLocalBaseDir = m_dir.Sub("install");
        m_pCfg->m_bEncodeUrlUtf = 1;
        NewEngine();
    }

    void NewEngine() {
        m_pEngine = std::make_unique<CSyncEngine>();
        m_pEngine->m_pDlg = &m_frontEnd;
        m_frontEnd.SetStopFlag(&m_pEngine->m_nRequestStopFlag);
    }
    // Points the configuration at strHost:nPort and opens the connection.
    void InitEngine(int nPort, int nHttpsMode = 0, const std::string& strHost = "127.0.0.1") {
        m_pCfg->m_nPort = nPort;
        m_pCfg->m_nHttpsMode = nHttpsMode;
        m_pCfg->m_strServer = strHost;
        ASSERT_EQ(m_pEngine->InitSyncEngine(m_pCfg.get()), 0);
    }
    void TrustTestAuthority() {
        setenv("TIDEWELL_CA_BUNDLE", TestServers().Certs().strCaCert.c_str(), 1);
    }
    // Runs fn on another thread and raises the stop flag once fnReady says so.
    void RunAndStop(const std::function<void()>& fn, const std::function<bool()>& fnReady,
                    std::chrono::milliseconds* pStopToEnd = nullptr) {
        std::thread worker(fn);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fnReady() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        auto stop = std::chrono::steady_clock::now();
        m_pEngine->m_nRequestStopFlag = 1;
        worker.join();
        if (pStopToEnd != nullptr)
            *pStopToEnd = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - stop);
        m_pEngine->m_nRequestStopFlag = 0;
    }
    int LogCount(const std::string& strPart) const {
        std::string strText = m_log.Text();
        int nCount = 0;
        for (size_t n = strText.find(strPart); n != std::string::npos;
             n = strText.find(strPart, n + 1))
            ++nCount;
        return nCount;
    }

    // An item for source path strSource (below the base URL), to be stored
    // at strTarget below the scratch folder's "install".
    FileItem MakeItem(const std::string& strSource, const std::string& strTarget,
                      const std::string& strSize = "", const std::string& strTime = "") const {
        FileItem item;
        item.m_strSourceFile = strSource;
        item.m_strTargetRel = strTarget;
        item.m_strTargetFile = m_dir.Sub("install/" + strTarget);
        item.m_strFileSize = strSize;
        item.m_strModifyTime = strTime.empty() ? "20240315090702" : strTime;
        return item;
    }
    int Download(FileItem& item, int bIgnoreCert = 0) {
        m_nErrCode = -1;
        return m_pEngine->DownloadOneFileFromServer(item, bIgnoreCert, &m_nErrCode, &m_strErrText);
    }
    int Head(const std::string& strPath, int bIgnoreCert = 0) {
        return m_pEngine->GetServerFileInfo(strPath, &m_strTime, &m_nSize, bIgnoreCert, &m_nErrCode,
                                            &m_strErrText, &m_bSizeUnknown, &m_nGzip);
    }

    CTempDir m_dir;
    CLogCapture m_log;
    CTideApp m_app{nullptr};
    std::unique_ptr<CTideCfg> m_pCfg;
    CRecordingFrontEnd m_frontEnd;
    std::unique_ptr<CSyncEngine> m_pEngine;
    // Outputs of the last Head() or Download().
    std::string m_strTime;
    uint64_t m_nSize = 0;
    int m_nErrCode = 0;
    std::string m_strErrText;
    int m_bSizeUnknown = 0;
    int m_nGzip = 0;
};

inline std::string HashOf(const std::string& strData) {
    CSha256 sha;
    sha.Update(strData.data(), strData.size());
    return sha.HexDigest();
}

// strData as one gzip member.
inline std::string GzipOf(const std::string& strData) {
    z_stream zs{};
    deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string strOut(deflateBound(&zs, static_cast<uLong>(strData.size())) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(strData.data()));
    zs.avail_in = static_cast<uInt>(strData.size());
    zs.next_out = reinterpret_cast<Bytef*>(strOut.data());
    zs.avail_out = static_cast<uInt>(strOut.size());
    deflate(&zs, Z_FINISH);
    strOut.resize(zs.total_out);
    deflateEnd(&zs);
    return strOut;
}

// Some bytes that do not repeat in short cycles.
inline std::string PatternData(size_t nSize, unsigned nSeed = 1) {
    std::string str(nSize, '\0');
    uint32_t x = nSeed * 2654435761u + 1;
    for (size_t i = 0; i < nSize; ++i) {
        x = x * 1664525u + 1013904223u;
        str[i] = static_cast<char>(x >> 24);
    }
    return str;
}
