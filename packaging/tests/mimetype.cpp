// Prints, for each file named, the MIME type Qt's database gives it, its description and
// the types it is a sub-class of, tab-separated, one file a line:
//
//   cvk_mimetype FILE...
//
// The database is the one of XDG_DATA_HOME and XDG_DATA_DIRS, as on the desktop, so the
// packaging test can point it at an installed tree.

#include <QCoreApplication>
#include <QMimeDatabase>
#include <QMimeType>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QMimeDatabase database;
    for (int i = 1; i < argc; ++i) {
        const QMimeType type = database.mimeTypeForFile(QString::fromLocal8Bit(argv[i]));
        std::printf("%s\t%s\t%s\n", qPrintable(type.name()), qPrintable(type.comment()),
                    qPrintable(type.parentMimeTypes().join(QLatin1Char(','))));
    }
    return 0;
}
