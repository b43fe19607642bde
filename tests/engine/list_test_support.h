// Helpers of the list, decision and target path tests: a real log in a
// scratch folder published as g_pMyLog, and environment variables set for
// the length of a test.
#pragma once

#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "log/my_log.h"
#include "tests/support/env_var.h"
#include "tests/support/temp_dir.h"

class CLogCapture {
public:
    CLogCapture() : m_pLog(std::make_unique<CMyLog>(10, m_dir.Sub("log"), "Tidewell")) {
        g_pMyLog = m_pLog.get();
    }
    ~CLogCapture() { g_pMyLog = nullptr; }
    CLogCapture(const CLogCapture&) = delete;
    CLogCapture& operator=(const CLogCapture&) = delete;

    std::string Text() const { return ReadWholeFile(m_pLog->GetLogPath()); }
    // True when a line of the level's name ("DEBUG", "ERROR", ...) holds strText.
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


// The process's time zone set to a TZ value until destroyed.
class CTimeZone {
public:
    explicit CTimeZone(const std::string& strZone) {
        m_tz.emplace("TZ", strZone);
        tzset();
    }
    ~CTimeZone() {
        m_tz.reset();
        tzset();
    }
    CTimeZone(const CTimeZone&) = delete;
    CTimeZone& operator=(const CTimeZone&) = delete;

private:
    std::optional<CEnvVar> m_tz;
};
