// tarvik-icons DIR: writes the program's icon, as the desktop program draws it, into an icon
// theme tree: DIR/NxN/apps/tarvik.png for each size a desktop looks for. Run at build time
// without a display (QT_QPA_PLATFORM=offscreen).

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>

#include "res/pictures.h"

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarvik-icons DIR\n");
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString path = root.filePath(folder + QStringLiteral("/tarvik.png"));
        if (!root.mkpath(folder) || !tarvik::res::DrawProgramIconImage(size).save(path, "PNG")) {
            std::fprintf(stderr, "tarvik-icons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
