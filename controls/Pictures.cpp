#include "Pictures.h"

#include <QGuiApplication>
#include <QHash>

namespace controls {

QPixmap picture(const QString& name) {
    static QHash<QString, QPixmap> loaded;
    const bool highDensity = qApp != nullptr && qApp->devicePixelRatio() > 1.0;
    const QString key = highDensity ? name + "@2x" : name;
    auto found = loaded.constFind(key);
    if (found != loaded.constEnd()) {
        return *found;
    }
    QPixmap pixmap(QStringLiteral(":/pictures/png/%1.png").arg(key));
    if (pixmap.isNull() && highDensity) {
        pixmap = QPixmap(QStringLiteral(":/pictures/png/%1.png").arg(name));
    } else if (highDensity) {
        pixmap.setDevicePixelRatio(2.0);
    }
    loaded.insert(key, pixmap);
    return pixmap;
}

}  // namespace controls
