// The request path encoding: EncodeUrl gives ASCII within the path limit or
// nothing, and the request target holds only bytes a request line may carry,
// every '%' starting an escape, and is left as it is when escaped again.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/http_connection.h"
#include "engine/sync_engine.h"
#include "fuzz/fuzz_scratch.h"

namespace {

void CheckTarget(const std::string& strTarget) {
    if (strTarget.empty() || strTarget[0] != '/')
        FuzzFail("request target does not start with /", strTarget);
    for (size_t i = 0; i < strTarget.size(); ++i) {
        auto c = static_cast<unsigned char>(strTarget[i]);
        if (c == '%') {
            if (i + 2 >= strTarget.size() || !std::isxdigit(static_cast<unsigned char>(strTarget[i + 1])) ||
                !std::isxdigit(static_cast<unsigned char>(strTarget[i + 2]))) {
                FuzzFail("'%' that starts no escape", strTarget);
            }
        } else if (!std::isalnum(c) && (c == '\0' || std::strchr("-._~!$&'()*+,;=:@/?", c) == nullptr)) {
            FuzzFail("byte that may not stand in a request line", strTarget);
        }
    }
    if (EscapeRequestTarget(strTarget.substr(1)) != strTarget)
        FuzzFail("escaping twice changes the target", strTarget);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    static CSyncEngine s_engine;
    std::string strPath(reinterpret_cast<const char*>(pData), nSize);
    std::string strEncoded = s_engine.EncodeUrl(strPath);
    if (strEncoded.size() > kMaxRequestPathBytes)
        FuzzFail("encoded path over the limit");
    for (char c : strEncoded) {
        if (static_cast<unsigned char>(c) > 0x7F)
            FuzzFail("encoded path holds a byte above ASCII", strEncoded);
    }
    CheckTarget(EscapeRequestTarget(strEncoded));
    CheckTarget(EscapeRequestTarget(strPath));
    return 0;
}
