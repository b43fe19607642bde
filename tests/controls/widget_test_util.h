// Helpers shared by the widget tests: rendered pixels and colour searches.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <cstdlib>

#include "controls/corvid_theme.h"

// What the widget paints, as 32-bit pixels.
inline QImage Grab(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// The darkest pixel inside rc: where text strokes are fully covered.
inline QColor Darkest(const QImage& img, const QRect& rc) {
    QColor best(255, 255, 255);
    for (int y = rc.top(); y <= rc.bottom(); ++y) {
        for (int x = rc.left(); x <= rc.right(); ++x) {
            const QColor clr = img.pixelColor(x, y);
            if (clr.lightness() < best.lightness()) {
                best = clr;
            }
        }
    }
    return best;
}

// Text is anti-aliased: its darkest pixel comes near, not always onto, the
// text colour. 32 per channel still tells the enabled and disabled colours apart.
inline bool Near(const QColor& clrA, const QColor& clrB, int nTolerance = 32) {
    return std::abs(clrA.red() - clrB.red()) <= nTolerance &&
           std::abs(clrA.green() - clrB.green()) <= nTolerance &&
           std::abs(clrA.blue() - clrB.blue()) <= nTolerance;
}

// True when every pixel of rc has colour clr.
inline bool AllPixels(const QImage& img, const QRect& rc, const QColor& clr) {
    for (int y = rc.top(); y <= rc.bottom(); ++y) {
        for (int x = rc.left(); x <= rc.right(); ++x) {
            if (img.pixelColor(x, y) != clr) {
                return false;
            }
        }
    }
    return true;
}

inline void UseLightTheme() {
    g_CorvidTheme.SetTheme(false, nullptr);
}
