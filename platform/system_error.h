// The calling thread's last system error and its text, the stand-in for
// GetLastError/FormatMessage. POSIX code reports errno values.
#pragma once

#include <string>

namespace platform {

int GetLastSystemError();
void SetLastSystemError(int nCode);

// The system's text for an error code; false when it has none.
bool FormatSystemMessage(int nCode, std::string* pstrText);

// Codes the callers test for, in the platform's own numbering.
extern const int kErrorFileNotFound;   // ERROR_FILE_NOT_FOUND / ENOENT
extern const int kErrorPathNotFound;   // ERROR_PATH_NOT_FOUND / ENOENT
extern const int kErrorAlreadyExists;  // ERROR_ALREADY_EXISTS / EEXIST

}  // namespace platform
