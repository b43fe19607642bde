// Comparing two paintings pixel by pixel, for the Qt tests offscreen and the
// window runs on the X server.
#pragma once

#include <QImage>
#include <QRect>
#include <algorithm>
#include <cstdlib>

// Share of the pixels of rc that differ by more than nSlack in a channel; 1
// when the sizes differ or rc is empty.
inline double DifferentShare(const QImage& imgA, const QImage& imgB, const QRect& rc,
                             int nSlack = 40) {
    if (imgA.size() != imgB.size() || rc.isEmpty())
        return 1.0;
    QImage a = imgA.convertToFormat(QImage::Format_RGB32);
    QImage b = imgB.convertToFormat(QImage::Format_RGB32);
    long nDifferent = 0;
    for (int y = rc.top(); y <= rc.bottom(); ++y) {
        for (int x = rc.left(); x <= rc.right(); ++x) {
            QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            int nDiff = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                  std::abs(qBlue(p) - qBlue(q))});
            nDifferent += nDiff > nSlack ? 1 : 0;
        }
    }
    return static_cast<double>(nDifferent) / (static_cast<double>(rc.width()) * rc.height());
}
