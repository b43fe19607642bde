#include "controls/resources.h"

#include <QFile>
#include <QString>

// Outside any namespace: the macro declares the resource's init function.
static void InitPictureResources() {
    Q_INIT_RESOURCE(tidewell);
}

QImage LoadPngResource(int nId) {
    // A static library's resources are registered only when asked for.
    static const bool s_bInit = (InitPictureResources(), true);
    (void)s_bInit;
    QFile file(QStringLiteral(":/png/%1").arg(nId));
    if (nId < 0 || !file.open(QIODevice::ReadOnly)) {
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
