#include "controls/resource_manager.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "controls/corvid_theme.h"
#include "util/split_string.h"

const QString g_strDefaultFontFace = QStringLiteral(u"맑은 고딕");

CResourceManager g_ResourceManager;

namespace {

void ClearGlobalCaches() {
    g_ResourceManager.Clear();
}

}  // namespace

QStringList GetFallbackFontFaces() {
    return {QStringLiteral("NanumGothic"), QStringLiteral("Noto Sans CJK KR"),
            QStringLiteral("Noto Sans KR"), QStringLiteral("NanumBarunGothic")};
}

CResourceManager::CResourceManager() = default;

CResourceManager::~CResourceManager() = default;

void CResourceManager::Clear() {
    m_mapPen.clear();
    m_mapBrush.clear();
    m_mapFont.clear();
    m_bCleanupRegistered = false;
}

void CResourceManager::RegisterCleanup() {
    // Fonts must not outlive the application object, and a later one in the
    // same process (tests) starts with fresh caches.
    if (!m_bCleanupRegistered && QCoreApplication::instance() != nullptr) {
        qAddPostRoutine(ClearGlobalCaches);
        m_bCleanupRegistered = true;
    }
}

QString CResourceManager::PenKey(int nStyle, int nWidth, const QColor& clr) {
    return QString::asprintf("%d,%d,%ld", nStyle, nWidth, static_cast<long>(ColorToRef(clr)));
}

QString CResourceManager::BrushKey(const QColor& clr) {
    return QString::asprintf("%ld", static_cast<long>(ColorToRef(clr)));
}

QString CResourceManager::FontKey(const QString& strFace, int nPointSize, int nWeight, int bItalic,
                                  int bUnderline, int bStrikeOut, int nOrientation,
                                  int nEscapement) {
    return QString::asprintf("%s,%d,%d,%d,%d,%d,%d,%d", strFace.toUtf8().constData(), nPointSize,
                             nWeight, bItalic, bUnderline, bStrikeOut, nOrientation, nEscapement);
}

const QPen* CResourceManager::GetPen(int nStyle, int nWidth, const QColor& clr) {
    std::unique_ptr<QPen>& pPen = m_mapPen[PenKey(nStyle, nWidth, clr)];
    if (!pPen) {
        RegisterCleanup();
        pPen =
            std::make_unique<QPen>(QBrush(ColorFromRef(ColorToRef(clr))), nWidth,
                                   static_cast<Qt::PenStyle>(nStyle), Qt::SquareCap, Qt::MiterJoin);
    }
    return pPen.get();
}

const QBrush* CResourceManager::GetBrush(const QColor& clr) {
    std::unique_ptr<QBrush>& pBrush = m_mapBrush[BrushKey(clr)];
    if (!pBrush) {
        RegisterCleanup();
        pBrush = std::make_unique<QBrush>(ColorFromRef(ColorToRef(clr)));
    }
    return pBrush.get();
}

int CResourceManager::PointSizeToPixels(int nPointSize) {
    double dDpi = 96.0;
    if (auto* pApp = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (QScreen* pScreen = pApp->primaryScreen()) {
            dDpi = pScreen->logicalDotsPerInchY();
        }
    }
    return static_cast<int>(std::lround(nPointSize * 10.0 * dDpi / 720.0));
}

int CResourceManager::NormaliseWeight(int nWeight) {
    if (nWeight < 1) {
        return 400;
    }
    if (nWeight == 1) {
        return 700;
    }
    if (nWeight >= 100 && nWeight <= 900) {
        return nWeight / 100 * 100;
    }
    return 400;
}

const QFont* CResourceManager::GetFont(const QString& strFace, int nPointSize, int nWeight,
                                       int bItalic, int bUnderline, int bStrikeOut,
                                       int nOrientation, int nEscapement) {
    std::unique_ptr<QFont>& pFont = m_mapFont[FontKey(
        strFace, nPointSize, nWeight, bItalic, bUnderline, bStrikeOut, nOrientation, nEscapement)];
    if (!pFont) {
        RegisterCleanup();
        pFont = std::make_unique<QFont>();
        QStringList vecFaces{strFace};
        for (const QString& strFallback : GetFallbackFontFaces()) {
            if (strFallback != strFace) {
                vecFaces << strFallback;
            }
        }
        pFont->setFamilies(vecFaces);
        pFont->setPixelSize(std::max(1, PointSizeToPixels(nPointSize)));
        pFont->setWeight(static_cast<QFont::Weight>(NormaliseWeight(nWeight)));
        pFont->setItalic(bItalic != 0);
        pFont->setUnderline(bUnderline != 0);
        pFont->setStrikeOut(bStrikeOut != 0);
    }
    return pFont.get();
}

const QFont* CResourceManager::GetFontFromText(const QString& strText) {
    std::vector<std::string> vecParts;
    SplitString(&vecParts, ",", strText.toStdString());
    if (vecParts.size() < 5) {
        return nullptr;
    }
    auto number = [&](size_t i) {
        return i < vecParts.size() ? std::atoi(vecParts[i].c_str()) : 0;
    };
    return GetFont(QString::fromStdString(vecParts[0]), number(1), number(2), number(3), number(4),
                   number(5), 0, 0);
}

QString CResourceManager::GetFontText(const QFont* pFont, int nPointSize) {
    if (pFont == nullptr || pFont->families().isEmpty() || pFont->families().first().isEmpty()) {
        return QString();
    }
    if (nPointSize <= 0) {
        int nHeight = pFont->pixelSize() > 0 ? pFont->pixelSize()
                                             : static_cast<int>(std::lround(pFont->pointSizeF()));
        nPointSize = (std::abs(nHeight) * 3 + 1) / 4;
        if (nPointSize == 0) {
            return QString();
        }
    }
    int nWeight = pFont->weight();
    int nCode = 0;
    if (nWeight == 700) {
        nCode = 1;
    } else if (nWeight != 400 && nWeight >= 100 && nWeight <= 900) {
        nCode = nWeight / 100 * 100;
    }
    return QString::asprintf("%s,%d,%d,%d,%d,%d", pFont->families().first().toUtf8().constData(),
                             nPointSize, nCode, pFont->italic() ? 1 : 0, pFont->underline() ? 1 : 0,
                             pFont->strikeOut() ? 1 : 0);
}

const QFont* GetDefaultFont(int nPointSize, int nWeight) {
    return g_ResourceManager.GetFont(g_strDefaultFontFace, nPointSize, nWeight);
}
