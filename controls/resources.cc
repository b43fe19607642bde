#include "controls/resources.h"

#include <QFile>
#include <QString>

// Outside any namespace: the macro declares the resource's init function.
static void InitPictureResources() {
    Q_INIT_RESOURCE(tidewell);
}

QImage LoadPngResource(int nId, int nScale) {
    // A static library's resources are registered only when asked for.
    static const bool s_bInit = (InitPictureResources(), true);
    (void)s_bInit;
    if (nId < 0) {
        return QImage();
    }
    if (nScale == 2) {
        QFile fileHigh(QStringLiteral(":/png/%1@2x").arg(nId));
        QImage img;
        if (fileHigh.open(QIODevice::ReadOnly) && img.loadFromData(fileHigh.readAll(), "PNG")) {
            img = img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            img.setDevicePixelRatio(2.0);
            return img;
        }
    }
    QFile file(QStringLiteral(":/png/%1").arg(nId));
    if (!file.open(QIODevice::ReadOnly)) {
        return QImage();
    }
    QImage img;
    if (!img.loadFromData(file.readAll(), "PNG")) {
        return QImage();
    }
    return img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QCursor CursorFromId(int nId) {
    return nId == kCursorHand ? QCursor(Qt::PointingHandCursor) : QCursor(Qt::ArrowCursor);
}
