// quorvix-icons: writes the program's icon as PNG files of the given sizes and as SVG, for the
// install (the window draws the same picture itself).
#include "platform/appicon.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quorvix-icons FOLDER SIZE...\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path()))
        return 1;
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QString file = folder.filePath(QStringLiteral("quorvix-%1.png").arg(size));
        if (size <= 0 || !platform::iconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "quorvix-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    QFile svg(folder.filePath(QStringLiteral("quorvix.svg")));
    if (!svg.open(QIODevice::WriteOnly) || svg.write(platform::iconSvg()) < 0)
        return 1;
    return 0;
}
