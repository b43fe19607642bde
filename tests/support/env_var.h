// An environment variable set (or with nullopt removed) for the life of the
// object, and restored after.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

class CEnvVar {
public:
    CEnvVar(const char* pszName, std::optional<std::string> value) : m_strName(pszName) {
        const char* pszOld = getenv(pszName);
        if (pszOld != nullptr)
            m_old = pszOld;
        Apply(value);
    }
    ~CEnvVar() { Apply(m_old); }
    CEnvVar(const CEnvVar&) = delete;
    CEnvVar& operator=(const CEnvVar&) = delete;

private:
    void Apply(const std::optional<std::string>& value) {
        if (value) {
            setenv(m_strName.c_str(), value->c_str(), 1);
        } else {
            unsetenv(m_strName.c_str());
        }
    }
    std::string m_strName;
    std::optional<std::string> m_old;
};
