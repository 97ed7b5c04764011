// Paints every registered picture at 1x and 2x and writes them as PNG files.
//
//   mkpictures OUTPUT_FOLDER

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>

#include "Painter.h"

namespace pictures {

std::vector<Picture>& registry() {
    static std::vector<Picture> all;
    return all;
}

}  // namespace pictures

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkpictures OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "mkpictures: cannot create %s\n", argv[1]);
        return 1;
    }
    for (const pictures::Picture& picture : pictures::registry()) {
        for (int scale : {1, 2}) {
            QImage image(picture.size * scale, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            image.setDevicePixelRatio(scale);
            {
                QPainter painter(&image);
                painter.setRenderHint(QPainter::Antialiasing, true);
                picture.paint(painter, picture.size);
            }
            const QString file = out.filePath(picture.name + (scale == 2 ? "@2x.png" : ".png"));
            if (!image.save(file, "PNG")) {
                std::fprintf(stderr, "mkpictures: cannot write %s\n", qPrintable(file));
                return 1;
            }
        }
    }
    std::printf("%zu pictures\n", pictures::registry().size());
    return 0;
}
