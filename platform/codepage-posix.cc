#include <iconv.h>

#include <cerrno>
#include <cstdint>

#include "platform/codepage.h"

namespace platform {

namespace {

// Decodes one UTF-8 sequence at pos; false when it is malformed.
bool DecodeUtf8(std::string_view strText, size_t* pnPos, char32_t* pcCode) {
    const auto* p = reinterpret_cast<const unsigned char*>(strText.data());
    size_t n = strText.size();
    size_t i = *pnPos;
    unsigned char c = p[i];
    char32_t cCode = 0;
    size_t nTrail = 0;
    char32_t cMin = 0;
    if (c < 0x80) {
        *pcCode = c;
        *pnPos = i + 1;
        return true;
    } else if ((c & 0xE0) == 0xC0) {
        cCode = c & 0x1F;
        nTrail = 1;
        cMin = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        cCode = c & 0x0F;
        nTrail = 2;
        cMin = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        cCode = c & 0x07;
        nTrail = 3;
        cMin = 0x10000;
    } else {
        return false;
    }
    if (n - i - 1 < nTrail)
        return false;
    for (size_t k = 1; k <= nTrail; ++k) {
        unsigned char t = p[i + k];
        if ((t & 0xC0) != 0x80)
            return false;
        cCode = (cCode << 6) | (t & 0x3F);
    }
    if (cCode < cMin || cCode > 0x10FFFF || (cCode >= 0xD800 && cCode <= 0xDFFF))
        return false;
    *pcCode = cCode;
    *pnPos = i + 1 + nTrail;
    return true;
}

}  // namespace

bool IsValidUtf8(std::string_view strText) {
    size_t nPos = 0;
    char32_t cCode = 0;
    while (nPos < strText.size()) {
        if (!DecodeUtf8(strText, &nPos, &cCode))
            return false;
    }
    return true;
}

bool Cp949ToUtf8(std::string_view strText, std::string* pstrOut) {
    iconv_t cd = iconv_open("UTF-8", "CP949");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string strResult;
    // A double-byte character becomes at most three UTF-8 bytes.
    strResult.resize(strText.size() * 3 / 2 + 16);
    // iconv's interface takes a non-const input pointer but does not write through it.
    char* pIn = const_cast<char*>(strText.data());
    size_t nInLeft = strText.size();
    char* pOut = strResult.data();
    size_t nOutLeft = strResult.size();
    bool bOk = true;
    while (nInLeft > 0) {
        if (iconv(cd, &pIn, &nInLeft, &pOut, &nOutLeft) != static_cast<size_t>(-1))
            continue;
        if (errno != E2BIG) {
            bOk = false;  // EILSEQ or a character cut off at the end
            break;
        }
        size_t nDone = static_cast<size_t>(pOut - strResult.data());
        strResult.resize(strResult.size() * 2);
        pOut = strResult.data() + nDone;
        nOutLeft = strResult.size() - nDone;
    }
    iconv_close(cd);
    if (!bOk)
        return false;
    strResult.resize(static_cast<size_t>(pOut - strResult.data()));
    *pstrOut = std::move(strResult);
    return true;
}

bool Utf8ToUtf16(std::string_view strText, std::u16string* pstrOut) {
    std::u16string strResult;
    strResult.reserve(strText.size());
    size_t nPos = 0;
    char32_t cCode = 0;
    while (nPos < strText.size()) {
        if (!DecodeUtf8(strText, &nPos, &cCode))
            return false;
        if (cCode < 0x10000) {
            strResult.push_back(static_cast<char16_t>(cCode));
        } else {
            cCode -= 0x10000;
            strResult.push_back(static_cast<char16_t>(0xD800 + (cCode >> 10)));
            strResult.push_back(static_cast<char16_t>(0xDC00 + (cCode & 0x3FF)));
        }
    }
    *pstrOut = std::move(strResult);
    return true;
}

}  // namespace platform
