// INI files read and written entry by entry, as the Windows profile functions
// do: sections and keys match regardless of case, a write changes one entry
// and leaves the rest of the file as it was.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Size of the value buffer the callers read into; longer values are cut to
// kProfileBufferSize - 1 bytes.
constexpr size_t kProfileBufferSize = 1024;

// The value of key in section, or strDefault when the file, the section or
// the key is missing. Surrounding blanks of the value are dropped, and so is
// one pair of quotes around it.
std::string GetProfileString(const std::string& strSection, const std::string& strKey,
                             const std::string& strDefault, const std::string& strIniPath);

// Sets key in section, creating the file and the section when missing.
// False with the system error when the file cannot be written.
bool WriteProfileString(const std::string& strSection, const std::string& strKey,
                        const std::string& strValue, const std::string& strIniPath);

}  // namespace platform
