// The colour table every themed control and dialog paints with: one of two
// built-in palettes (light, dark) plus overrides given by name.
#pragma once

#include <QColor>
#include <cstdint>
#include <map>
#include <string>

// A colour packed the Windows way, 0x00BBGGRR; the form overrides and cache
// keys use.
using CorvidColorRef = uint32_t;

constexpr CorvidColorRef CorvidRgb(int r, int g, int b) {
    return static_cast<CorvidColorRef>((r & 255) | (g & 255) << 8 | (b & 255) << 16);
}
QColor ColorFromRef(CorvidColorRef cr);
CorvidColorRef ColorToRef(const QColor& clr);

class CCorvidTheme {
public:
    CCorvidTheme();
    virtual ~CCorvidTheme();

    // Applies the dark palette when bDark, else the light one, then each
    // override of pmapOverrides (name -> "RGB(r,g,b)" or hex 0x00BBGGRR).
    void SetTheme(bool bDark, const std::map<std::string, std::string>* pmapOverrides);
    // Black when the id has no colour.
    QColor GetColor(uint16_t nId) const;
    void SetColor(uint16_t nId, const QColor& clr);
    bool HasColor(uint16_t nId) const { return m_mapColor.count(nId) != 0; }
    int GetColorCount() const { return static_cast<int>(m_mapColor.size()); }
    int GetThemeMode() const { return m_nThemeMode; }

    // One override; malformed names or values are skipped.
    void ApplyOverride(const std::string& strName, const std::string& strValue);

private:
    void ApplyPalette(bool bDark);

    int m_nThemeMode = -1;
    std::map<uint16_t, QColor> m_mapColor;
    std::map<std::string, std::string> m_mapColorName;
};

extern CCorvidTheme g_CorvidTheme;

QColor GetThemeColor(uint16_t nId);
int GetThemeMode();
// True unless the dark palette is applied: controls pick their light look.
inline bool IsLightTheme() {
    return GetThemeMode() != 1;
}

// Adds the deltas to the channels; a brightening that would clip one channel
// is reduced on all three so their ratio survives.
QColor AdjustColor(const QColor& clr, int nRed, int nGreen, int nBlue);
// Subtracts n from every channel, stopping at 0 / adds n, stopping at 255.
QColor DarkenColor(const QColor& clr, int n);
QColor LightenColor(const QColor& clr, int n);
