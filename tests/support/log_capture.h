// A real log in a scratch folder, published as g_pMyLog for the life of the
// object, and ways to read what was written. One per test; the test's code
// must not keep g_pMyLog past it.
#pragma once

#include <memory>
#include <string>

#include "log/my_log.h"
#include "tests/support/temp_dir.h"

class CLogCapture {
public:
    explicit CLogCapture(int nLevel = 1)
        : m_pLog(std::make_unique<CMyLog>(10, m_dir.Sub("log"), "Tidewell")) {
        m_pLog->SetLevel(nLevel);
        g_pMyLog = m_pLog.get();
    }
    ~CLogCapture() { g_pMyLog = nullptr; }
    CLogCapture(const CLogCapture&) = delete;
    CLogCapture& operator=(const CLogCapture&) = delete;

    CMyLog& Log() { return *m_pLog; }
    std::string Text() const { return ReadWholeFile(m_pLog->GetLogPath()); }
    // True when a line of the level ("DEBUG", "ERROR", ...) starts its
    // message with strText.
    bool Has(const std::string& strLevel, const std::string& strText) const {
        std::string strLevelField = strLevel;
        strLevelField.resize(5, ' ');
        return Text().find(" : " + strLevelField + " " + strText) != std::string::npos;
    }
    bool Mentions(const std::string& strText) const {
        return Text().find(strText) != std::string::npos;
    }

private:
    CTempDir m_dir;
    std::unique_ptr<CMyLog> m_pLog;
};
