#include <string.h>

#include <cerrno>

#include "platform/system_error.h"

namespace platform {

const int kErrorFileNotFound = ENOENT;
const int kErrorPathNotFound = ENOENT;
const int kErrorAlreadyExists = EEXIST;

int GetLastSystemError() { return errno; }

void SetLastSystemError(int nCode) { errno = nCode; }

bool FormatSystemMessage(int nCode, std::string* pstrText) {
    char szBuf[512] = {};
    // GNU strerror_r returns the text, which may not be in szBuf.
    const char* pszText = strerror_r(nCode, szBuf, sizeof(szBuf));
    if (pszText == nullptr || *pszText == '\0' || strncmp(pszText, "Unknown error", 13) == 0) {
        return false;
    }
    *pstrText = pszText;
    return true;
}

}  // namespace platform
