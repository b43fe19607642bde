// Process-wide cache of pens, brushes and fonts keyed by their defining
// parameters: the same parameters always give the same object, which lives
// until the application object goes away.
#pragma once

#include <QBrush>
#include <QFont>
#include <QPen>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>

// The face every themed control uses unless it names another.
extern const QString g_strDefaultFontFace;

// Installed faces tried, in order, when a requested face is missing, so that
// Korean text always has glyphs.
QStringList GetFallbackFontFaces();

class CResourceManager {
public:
    CResourceManager();
    virtual ~CResourceManager();
    CResourceManager(const CResourceManager&) = delete;
    CResourceManager& operator=(const CResourceManager&) = delete;

    // Key "%d,%d,%ld": style (Qt::PenStyle), width, colour reference.
    const QPen* GetPen(int nStyle, int nWidth, const QColor& clr);
    // Key "%ld": colour reference of a solid brush.
    const QBrush* GetBrush(const QColor& clr);
    // Key "%s,%d,%d,%d,%d,%d,%d,%d". A weight of 1 means bold, below 1
    // normal, 100..900 rounds down to hundreds. Orientation and escapement are
    // in tenths of a degree and kept for the caller (QFont cannot rotate).
    const QFont* GetFont(const QString& strFace, int nPointSize, int nWeight, int bItalic = 0,
                         int bUnderline = 0, int bStrikeOut = 0, int nOrientation = 0,
                         int nEscapement = 0);
    // "face,size,weight,italic,underline[,strikeout]"; null with fewer than 5 fields.
    const QFont* GetFontFromText(const QString& strText);
    // The text GetFontFromText reads; empty for a null font or empty face.
    static QString GetFontText(const QFont* pFont, int nPointSize);

    static QString PenKey(int nStyle, int nWidth, const QColor& clr);
    static QString BrushKey(const QColor& clr);
    static QString FontKey(const QString& strFace, int nPointSize, int nWeight, int bItalic,
                           int bUnderline, int bStrikeOut, int nOrientation, int nEscapement);
    // Pixel height of a point size on the screen (rounded multiply-divide).
    static int PointSizeToPixels(int nPointSize);
    static int NormaliseWeight(int nWeight);

    int GetPenCount() const { return static_cast<int>(m_mapPen.size()); }
    int GetBrushCount() const { return static_cast<int>(m_mapBrush.size()); }
    int GetFontCount() const { return static_cast<int>(m_mapFont.size()); }
    // Drops every cached object; run when the application object goes away.
    void Clear();

private:
    void RegisterCleanup();

    std::map<QString, std::unique_ptr<QPen>> m_mapPen;
    std::map<QString, std::unique_ptr<QBrush>> m_mapBrush;
    std::map<QString, std::unique_ptr<QFont>> m_mapFont;
    bool m_bCleanupRegistered = false;
};

extern CResourceManager g_ResourceManager;

// The default face at the given size and weight; the font most controls use.
const QFont* GetDefaultFont(int nPointSize = 9, int nWeight = 0);
