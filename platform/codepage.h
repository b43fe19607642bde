// Text encodings the core meets: list files written on Windows in code page
// 949 (Korean) and UTF-16 for URL encoding. Everything else is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// True when the bytes are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF). Empty text is valid.
bool IsValidUtf8(std::string_view strText);

// Converts code page 949 (Unified Hangul Code) text to UTF-8. False, with
// *pstrOut unchanged, when the bytes are not valid in that code page.
bool Cp949ToUtf8(std::string_view strText, std::string* pstrOut);

// Converts UTF-8 to UTF-16 code units (surrogate pairs above U+FFFF).
// False, with *pstrOut unchanged, when the text is not valid UTF-8.
bool Utf8ToUtf16(std::string_view strText, std::u16string* pstrOut);

}  // namespace platform
