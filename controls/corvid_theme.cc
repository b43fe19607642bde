#include "controls/corvid_theme.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "util/split_string.h"

CCorvidTheme g_CorvidTheme;

namespace {

// One palette slot: a fixed colour, the colour another id holds at that
// moment (nFrom), or a fixed colour adjusted by the same delta on each channel.
struct PaletteEntry {
    uint16_t nId;
    CorvidColorRef cr;
    int nFrom = -1;
    int nAdjust = 0;
};

PaletteEntry Same(uint16_t nId, uint16_t nFrom) {
    return PaletteEntry{nId, 0, nFrom, 0};
}

const std::vector<PaletteEntry>& LightPalette() {
    static const std::vector<PaletteEntry> s_vec = {
        {0, CorvidRgb(250, 250, 250)},
        {1, CorvidRgb(50, 50, 50)},
        {2, CorvidRgb(71, 72, 74)},
        {3, CorvidRgb(200, 200, 200)},
        {4, CorvidRgb(130, 131, 135)},
        {10, CorvidRgb(255, 255, 255)},
        {20, CorvidRgb(250, 250, 253)},
        {21, CorvidRgb(50, 50, 50)},
        {22, CorvidRgb(235, 235, 240)},
        {23, CorvidRgb(140, 140, 140)},
        {24, CorvidRgb(116, 143, 171)},
        {25, CorvidRgb(252, 252, 253)},
        {26, CorvidRgb(210, 210, 210)},
        {27, CorvidRgb(230, 230, 235)},
        {28, CorvidRgb(120, 120, 120)},
        {29, CorvidRgb(255, 255, 255)},
        {40, CorvidRgb(245, 246, 248)},
        {41, CorvidRgb(60, 60, 60)},
        {42, CorvidRgb(225, 228, 232)},
        {43, CorvidRgb(116, 143, 171)},
        Same(44, 0),
        {45, CorvidRgb(190, 190, 195)},
        {46, CorvidRgb(220, 220, 220)},
        {50, CorvidRgb(255, 255, 255)},
        {51, CorvidRgb(50, 50, 50)},
        {52, CorvidRgb(240, 240, 244)},
        {53, CorvidRgb(225, 230, 238)},
        {54, CorvidRgb(200, 212, 228)},
        {55, CorvidRgb(116, 143, 171)},
        {56, CorvidRgb(70, 97, 133)},
        {57, CorvidRgb(150, 150, 150)},
        {58, CorvidRgb(210, 210, 210)},
        {59, CorvidRgb(255, 255, 255)},
        {60, CorvidRgb(235, 238, 242)},
        {61, CorvidRgb(90, 90, 90)},
        {62, CorvidRgb(180, 180, 185)},
        {70, CorvidRgb(250, 250, 252)},
        {71, CorvidRgb(50, 50, 50)},
        Same(72, 26),
        {73, CorvidRgb(232, 236, 242)},
        {74, CorvidRgb(205, 215, 228)},
        {75, CorvidRgb(70, 97, 133)},
        {76, CorvidRgb(255, 255, 255)},
        {77, CorvidRgb(140, 140, 140)},
        {78, CorvidRgb(245, 245, 245)},
        {79, CorvidRgb(225, 225, 225)},
        {80, CorvidRgb(200, 200, 200)},
        {81, CorvidRgb(116, 143, 171)},
        {82, CorvidRgb(255, 255, 255)},
        {83, CorvidRgb(60, 64, 70)},
        {84, CorvidRgb(240, 242, 245)},
        {85, CorvidRgb(215, 220, 226)},
        {86, CorvidRgb(170, 175, 180)},
        {87, CorvidRgb(252, 211, 21)},
        {88, CorvidRgb(220, 80, 60)},
        {100, CorvidRgb(255, 255, 255)},
        {101, CorvidRgb(50, 50, 50)},
        {102, CorvidRgb(190, 191, 206)},
        {103, CorvidRgb(116, 143, 171)},
        {104, CorvidRgb(70, 97, 133)},
        {110, CorvidRgb(250, 250, 250)},
        {111, CorvidRgb(50, 50, 50)},
        {112, CorvidRgb(235, 238, 242)},
        {113, CorvidRgb(210, 210, 210)},
        {114, CorvidRgb(200, 212, 228)},
        {115, CorvidRgb(116, 143, 171)},
        {116, CorvidRgb(255, 255, 255)},
        PaletteEntry{117, CorvidRgb(142, 165, 181), -1, -50},
        {118, CorvidRgb(225, 225, 230)},
        {119, CorvidRgb(150, 150, 150)},
        {130, CorvidRgb(245, 245, 245)},
        {131, CorvidRgb(180, 180, 180)},
        {132, CorvidRgb(200, 200, 200)},
        {133, CorvidRgb(200, 200, 200)},
        {140, CorvidRgb(250, 250, 250)},
        {141, CorvidRgb(200, 200, 200)},
        {142, CorvidRgb(170, 170, 170)},
        {143, CorvidRgb(130, 130, 130)},
        {144, CorvidRgb(230, 230, 230)},
        {150, CorvidRgb(180, 180, 180)},
        {151, CorvidRgb(255, 255, 255)},
        {160, CorvidRgb(251, 252, 254)},
        {161, CorvidRgb(253, 253, 255)},
        {162, CorvidRgb(200, 200, 200)},
        {170, CorvidRgb(116, 143, 171)},
        Same(180, 0),
        {181, CorvidRgb(50, 50, 50)},
        {190, CorvidRgb(70, 97, 133)},
        {191, CorvidRgb(255, 255, 255)},
        {192, CorvidRgb(150, 150, 150)},
        {193, CorvidRgb(150, 150, 150)},
        {200, CorvidRgb(255, 255, 255)},
        {201, CorvidRgb(230, 230, 230)},
        {202, CorvidRgb(116, 143, 171)},
        {203, CorvidRgb(50, 50, 50)},
        {210, CorvidRgb(250, 250, 250)},
        {211, CorvidRgb(180, 180, 180)},
    };
    return s_vec;
}

const std::vector<PaletteEntry>& DarkPalette() {
    static const std::vector<PaletteEntry> s_vec = {
        {0, CorvidRgb(61, 62, 64)},
        {1, CorvidRgb(195, 195, 195)},
        {2, CorvidRgb(51, 51, 55)},
        {3, CorvidRgb(204, 204, 204)},
        {4, CorvidRgb(91, 91, 95)},
        {10, CorvidRgb(45, 45, 48)},
        {20, CorvidRgb(71, 71, 75)},
        {21, CorvidRgb(230, 230, 230)},
        {22, CorvidRgb(87, 88, 92)},
        {23, CorvidRgb(120, 120, 120)},
        {24, CorvidRgb(75, 110, 174)},
        {25, CorvidRgb(255, 255, 255)},
        {26, CorvidRgb(103, 104, 106)},
        {27, CorvidRgb(80, 81, 84)},
        {28, CorvidRgb(150, 150, 150)},
        {29, CorvidRgb(51, 52, 54)},
        {40, CorvidRgb(56, 57, 59)},
        {41, CorvidRgb(210, 210, 210)},
        {42, CorvidRgb(76, 77, 80)},
        {43, CorvidRgb(75, 110, 174)},
        Same(44, 0),
        {45, CorvidRgb(100, 100, 104)},
        Same(46, 26),
        {50, CorvidRgb(45, 45, 48)},
        {51, CorvidRgb(220, 220, 220)},
        {52, CorvidRgb(66, 67, 70)},
        {53, CorvidRgb(75, 78, 84)},
        {54, CorvidRgb(62, 84, 120)},
        {55, CorvidRgb(75, 110, 174)},
        {56, CorvidRgb(230, 173, 96)},
        {57, CorvidRgb(130, 130, 130)},
        {58, CorvidRgb(90, 91, 94)},
        {59, CorvidRgb(51, 52, 54)},
        {60, CorvidRgb(70, 72, 76)},
        {61, CorvidRgb(190, 190, 190)},
        {62, CorvidRgb(100, 101, 105)},
        {70, CorvidRgb(55, 56, 58)},
        {71, CorvidRgb(220, 220, 220)},
        Same(72, 26),
        {73, CorvidRgb(70, 73, 78)},
        {74, CorvidRgb(62, 84, 120)},
        {75, CorvidRgb(230, 173, 96)},
        {76, CorvidRgb(45, 45, 48)},
        {77, CorvidRgb(140, 140, 140)},
        {78, CorvidRgb(60, 61, 63)},
        {79, CorvidRgb(80, 81, 84)},
        {80, CorvidRgb(100, 101, 104)},
        {81, CorvidRgb(75, 110, 174)},
        {82, CorvidRgb(45, 45, 48)},
        {83, CorvidRgb(210, 212, 216)},
        {84, CorvidRgb(66, 68, 72)},
        {85, CorvidRgb(85, 88, 92)},
        {86, CorvidRgb(120, 124, 128)},
        {87, CorvidRgb(252, 211, 21)},
        {88, CorvidRgb(230, 100, 80)},
        {100, CorvidRgb(45, 45, 48)},
        {101, CorvidRgb(220, 220, 220)},
        {102, CorvidRgb(140, 150, 160)},
        {103, CorvidRgb(75, 110, 174)},
        {104, CorvidRgb(230, 173, 96)},
        {110, CorvidRgb(61, 62, 64)},
        {111, CorvidRgb(220, 220, 220)},
        {112, CorvidRgb(70, 73, 78)},
        {113, CorvidRgb(103, 104, 106)},
        {114, CorvidRgb(62, 84, 120)},
        {115, CorvidRgb(75, 110, 174)},
        {116, CorvidRgb(45, 45, 48)},
        {117, CorvidRgb(110, 130, 150)},
        {118, CorvidRgb(80, 81, 84)},
        {119, CorvidRgb(140, 140, 140)},
        {130, CorvidRgb(50, 51, 53)},
        {131, CorvidRgb(89, 93, 96)},
        {132, CorvidRgb(89, 93, 96)},
        {133, CorvidRgb(79, 83, 86)},
        {140, CorvidRgb(55, 56, 58)},
        {141, CorvidRgb(90, 91, 94)},
        {142, CorvidRgb(110, 111, 114)},
        {143, CorvidRgb(150, 150, 150)},
        {144, CorvidRgb(70, 71, 74)},
        {150, CorvidRgb(49, 50, 52)},
        {151, CorvidRgb(83, 84, 86)},
        {160, CorvidRgb(51, 52, 54)},
        {161, CorvidRgb(75, 110, 174)},
        {162, CorvidRgb(131, 131, 135)},
        {170, CorvidRgb(75, 110, 174)},
        Same(180, 0),
        Same(181, 1),
        {190, CorvidRgb(230, 173, 96)},
        {191, CorvidRgb(87, 88, 92)},
        {192, CorvidRgb(140, 140, 140)},
        {193, CorvidRgb(150, 150, 150)},
        {200, CorvidRgb(45, 45, 48)},
        {201, CorvidRgb(80, 81, 84)},
        {202, CorvidRgb(75, 110, 174)},
        {203, CorvidRgb(220, 220, 220)},
        {210, CorvidRgb(61, 62, 64)},
        {211, CorvidRgb(89, 93, 96)},
    };
    return s_vec;
}

std::string Trim(const std::string& str) {
    size_t nFirst = str.find_first_not_of(" \t\r\n");
    if (nFirst == std::string::npos) {
        return std::string();
    }
    size_t nLast = str.find_last_not_of(" \t\r\n");
    return str.substr(nFirst, nLast - nFirst + 1);
}

// Whole text as a decimal integer (blanks around it allowed).
bool ParseDecimal(const std::string& str, long* pnOut) {
    std::string strTrim = Trim(str);
    if (strTrim.empty()) {
        return false;
    }
    char* pEnd = nullptr;
    long n = std::strtol(strTrim.c_str(), &pEnd, 10);
    if (*pEnd != '\0') {
        return false;
    }
    *pnOut = n;
    return true;
}

// Whole text as hexadecimal, an optional 0X prefix allowed.
bool ParseHex(const std::string& str, unsigned long* pnOut) {
    std::string strDigits = str;
    if (strDigits.size() > 2 && strDigits[0] == '0' && strDigits[1] == 'X') {
        strDigits = strDigits.substr(2);
    }
    if (strDigits.empty() || strDigits.size() > 8 ||
        !std::all_of(strDigits.begin(), strDigits.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
        return false;
    }
    *pnOut = std::strtoul(strDigits.c_str(), nullptr, 16);
    return true;
}

}  // namespace

QColor ColorFromRef(CorvidColorRef cr) {
    return QColor(static_cast<int>(cr & 255), static_cast<int>((cr >> 8) & 255),
                  static_cast<int>((cr >> 16) & 255));
}

CorvidColorRef ColorToRef(const QColor& clr) {
    return CorvidRgb(clr.red(), clr.green(), clr.blue());
}

CCorvidTheme::CCorvidTheme() {
    m_mapColorName["dialog_backcolor"] = "0";
    m_mapColorName["dialog_forecolor"] = "1";
    m_mapColorName["window_backcolor"] = "20";
    m_mapColorName["window_forecolor"] = "21";
}

CCorvidTheme::~CCorvidTheme() = default;

void CCorvidTheme::SetTheme(bool bDark, const std::map<std::string, std::string>* pmapOverrides) {
    ApplyPalette(bDark);
    if (pmapOverrides != nullptr) {
        for (const auto& [strName, strValue] : *pmapOverrides) {
            ApplyOverride(strName, strValue);
        }
    }
}

void CCorvidTheme::ApplyPalette(bool bDark) {
    int nMode = bDark ? 1 : 0;
    if (m_nThemeMode == nMode) {
        return;
    }
    if (m_nThemeMode != -1) {
        m_mapColor.clear();
    }
    m_nThemeMode = nMode;
    for (const PaletteEntry& entry : bDark ? DarkPalette() : LightPalette()) {
        QColor clr;
        if (entry.nFrom >= 0) {
            clr = GetColor(static_cast<uint16_t>(entry.nFrom));
        } else {
            clr = ColorFromRef(entry.cr);
            if (entry.nAdjust != 0) {
                clr = AdjustColor(clr, entry.nAdjust, entry.nAdjust, entry.nAdjust);
            }
        }
        SetColor(entry.nId, clr);
    }
}

void CCorvidTheme::ApplyOverride(const std::string& strName, const std::string& strValue) {
    std::string strKey = Trim(strName);
    std::string strVal = Trim(strValue);
    if (strKey.empty() || strVal.empty()) {
        return;
    }
    std::transform(strVal.begin(), strVal.end(), strVal.begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    auto it = m_mapColorName.find(strKey);
    long nId = 0;
    if (it == m_mapColorName.end() || !ParseDecimal(it->second, &nId) || nId < 0 || nId > 0xFFFF) {
        return;
    }
    CorvidColorRef cr = 0;
    if (strVal.size() >= 5 && strVal.compare(0, 4, "RGB(") == 0 && strVal.back() == ')') {
        std::vector<std::string> vecParts;
        SplitString(&vecParts, ",", strVal.substr(4, strVal.size() - 5));
        long nRgb[3] = {0, 0, 0};
        if (vecParts.size() != 3) {
            return;
        }
        for (int i = 0; i < 3; ++i) {
            if (!ParseDecimal(vecParts[static_cast<size_t>(i)], &nRgb[i])) {
                return;
            }
        }
        cr = CorvidRgb(static_cast<int>(nRgb[0]), static_cast<int>(nRgb[1]),
                       static_cast<int>(nRgb[2]));
    } else {
        unsigned long nHex = 0;
        if (!ParseHex(strVal, &nHex)) {
            return;
        }
        cr = static_cast<CorvidColorRef>(nHex);
    }
    SetColor(static_cast<uint16_t>(nId), ColorFromRef(cr));
}

QColor CCorvidTheme::GetColor(uint16_t nId) const {
    auto it = m_mapColor.find(nId);
    return it == m_mapColor.end() ? QColor(0, 0, 0) : it->second;
}

void CCorvidTheme::SetColor(uint16_t nId, const QColor& clr) {
    m_mapColor[nId] = clr;
}

QColor GetThemeColor(uint16_t nId) {
    return g_CorvidTheme.GetColor(nId);
}

int GetThemeMode() {
    return g_CorvidTheme.GetThemeMode();
}

QColor AdjustColor(const QColor& clr, int nRed, int nGreen, int nBlue) {
    int nChannel[3] = {clr.red(), clr.green(), clr.blue()};
    int nDelta[3] = {nRed, nGreen, nBlue};
    int nExcess = 0;
    for (int i = 0; i < 3; ++i) {
        if (nDelta[i] > 0 && nChannel[i] + nDelta[i] > 255) {
            nExcess = std::max(nExcess, nChannel[i] + nDelta[i] - 255);
        }
    }
    for (int i = 0; i < 3; ++i) {
        nChannel[i] = std::clamp(nChannel[i] + nDelta[i] - nExcess, 0, 255);
    }
    return QColor(nChannel[0], nChannel[1], nChannel[2]);
}

QColor DarkenColor(const QColor& clr, int n) {
    return QColor(std::max(clr.red() - n, 0), std::max(clr.green() - n, 0),
                  std::max(clr.blue() - n, 0));
}

QColor LightenColor(const QColor& clr, int n) {
    return QColor(std::min(clr.red() + n, 255), std::min(clr.green() + n, 255),
                  std::min(clr.blue() + n, 255));
}
