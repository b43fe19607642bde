// Member names as the reader hands them out: decoded to UTF-8 with "/"
// separators, and checked so that extraction stays below its folder.
#pragma once

#include <string>
#include <string_view>

namespace zipname {

// Decodes a stored name: UTF-8 when the bytes are valid UTF-8, else code
// page 949 (Korean Windows tools), else code page 437 (the format's
// original code page). Backslashes, which some Windows tools store,
// become "/".
std::string DecodeMemberName(std::string_view strStored);

// True when the decoded name may be joined to an extraction folder: not
// empty, no NUL byte, not absolute, no drive letter and no ".." segment.
bool IsSafeMemberName(std::string_view strName);

// True when the name ends in "/", the format's mark of a folder member.
bool IsFolderName(std::string_view strName);

}  // namespace zipname
