// The INI reader and writer. Input: "section\nkey\nvalue", a NUL byte, then
// the file's text; without a NUL the whole input is the file and the port
// entry is written. After a successful write the entry reads back as
// written, and the other entries read as before.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_scratch.h"
#include "platform/profile.h"

namespace {

struct Entry {
    std::string strSection;
    std::string strKey;
};

// Entries a settings file commonly holds, read before and after the write.
const Entry kProbes[] = {
    {"TIDE", "SVR_IP_ADDR"},  {"TIDE", "SVR_PORT_NO"},   {"TIDE", "DOWNLOAD_BASE_URL"},
    {"TIDE", "SVR_HTTPS"},    {"RESOURCE", "ALLOW_FILE_TYPE"}, {"LOG", "LEVEL"},
};

constexpr const char* kMissing = "\x01missing";

std::string Trimmed(const std::string& str) {
    size_t nBegin = str.find_first_not_of(" \t");
    if (nBegin == std::string::npos)
        return std::string();
    return str.substr(nBegin, str.find_last_not_of(" \t") - nBegin + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    std::string strA = Trimmed(a);
    std::string strB = Trimmed(b);
    if (strA.size() != strB.size())
        return false;
    for (size_t i = 0; i < strA.size(); ++i) {
        char ca = strA[i] >= 'A' && strA[i] <= 'Z' ? static_cast<char>(strA[i] + 32) : strA[i];
        char cb = strB[i] >= 'A' && strB[i] <= 'Z' ? static_cast<char>(strB[i] + 32) : strB[i];
        if (ca != cb)
            return false;
    }
    return true;
}

// A value the reader gives back byte for byte: no blanks at its ends, no
// enclosing quotes, within the callers' buffer.
bool ReadsBackAsWritten(const std::string& strValue) {
    if (strValue.size() >= platform::kProfileBufferSize || Trimmed(strValue) != strValue)
        return false;
    return !(strValue.size() >= 2 && (strValue[0] == '"' || strValue[0] == '\'') &&
             strValue.back() == strValue[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    static CFuzzScratch s_scratch;
    const char* pText = reinterpret_cast<const char*>(pData);
    const void* pNul = std::memchr(pData, 0, nSize);
    Entry entry = {"TIDE", "SVR_PORT_NO"};
    std::string strValue = "8080";
    size_t nFileStart = 0;
    if (pNul != nullptr) {
        nFileStart = static_cast<size_t>(static_cast<const uint8_t*>(pNul) - pData) + 1;
        std::string strHead(pText, nFileStart - 1);
        size_t nLf1 = strHead.find('\n');
        size_t nLf2 = nLf1 == std::string::npos ? nLf1 : strHead.find('\n', nLf1 + 1);
        if (nLf2 == std::string::npos)
            return 0;
        entry = {strHead.substr(0, nLf1), strHead.substr(nLf1 + 1, nLf2 - nLf1 - 1)};
        strValue = strHead.substr(nLf2 + 1);
    }
    std::string strPath =
        s_scratch.Write("Tidewell.ini", pData + nFileStart, nSize - nFileStart);

    std::vector<std::string> vecBefore;
    for (const Entry& probe : kProbes) {
        std::string strRead =
            platform::GetProfileString(probe.strSection, probe.strKey, kMissing, strPath);
        if (strRead.size() >= platform::kProfileBufferSize)
            FuzzFail("value longer than the callers' buffer");
        vecBefore.push_back(strRead);
    }
    if (!platform::WriteProfileString(entry.strSection, entry.strKey, strValue, strPath))
        return 0;
    std::string strRead = platform::GetProfileString(entry.strSection, entry.strKey, kMissing,
                                                     strPath);
    if (ReadsBackAsWritten(strValue) && strRead != strValue)
        FuzzFail("written entry reads back differently", strRead);
    for (size_t i = 0; i < std::size(kProbes); ++i) {
        const Entry& probe = kProbes[i];
        if (SameName(probe.strSection, entry.strSection) && SameName(probe.strKey, entry.strKey))
            continue;
        if (platform::GetProfileString(probe.strSection, probe.strKey, kMissing, strPath) !=
            vecBefore[i]) {
            FuzzFail("a write changed another entry", probe.strSection + "/" + probe.strKey);
        }
    }
    return 0;
}
