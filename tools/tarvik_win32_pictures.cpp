// tarvik-win32-pictures DIR: writes the desktop program's pictures, as its Qt build draws
// them, in the forms the Windows build compiles into resources: DIR/tarvik.ico (16, 32 and 48
// pixels), DIR/toolbar.bmp (the toolbar strip on its magenta ground, which the toolbar takes
// as the transparent colour) and DIR/background.bmp (bitmap 137). Runs on the build machine
// without a display (QT_QPA_PLATFORM=offscreen).

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <vector>

#include "res/pictures.h"

namespace {

// The ground colour of the 16-colour strip, which the Qt toolbar shows as transparent.
constexpr int TRANSPARENT_INDEX = 13;

void PutWord(QByteArray& out, unsigned value)
{
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

void PutDword(QByteArray& out, unsigned value)
{
    PutWord(out, value & 0xFFFF);
    PutWord(out, value >> 16);
}

// An icon file whose images are PNG-compressed, as icon files may hold since Windows Vista.
QByteArray IconFile(const std::vector<int>& sizes)
{
    std::vector<QByteArray> images;
    for (const int size : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        tarvik::res::DrawProgramIconImage(size)
            .convertToFormat(QImage::Format_ARGB32)
            .save(&buffer, "PNG");
        images.push_back(png);
    }
    QByteArray out;
    PutWord(out, 0);  // reserved
    PutWord(out, 1);  // an icon
    PutWord(out, static_cast<unsigned>(sizes.size()));
    unsigned offset = 6 + 16 * static_cast<unsigned>(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        out.append(static_cast<char>(sizes[i] & 0xFF));  // width (0 would mean 256)
        out.append(static_cast<char>(sizes[i] & 0xFF));  // height
        out.append('\0');                                // no palette
        out.append('\0');
        PutWord(out, 1);   // planes
        PutWord(out, 32);  // bits per pixel
        PutDword(out, static_cast<unsigned>(images[i].size()));
        PutDword(out, offset);
        offset += static_cast<unsigned>(images[i].size());
    }
    for (const QByteArray& image : images) {
        out.append(image);
    }
    return out;
}

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarvik-win32-pictures DIR\n");
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    if (!root.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "tarvik-win32-pictures: cannot make %s\n", argv[1]);
        return 1;
    }
    QImage strip = tarvik::res::DrawToolbarStrip();
    strip.setColor(TRANSPARENT_INDEX, qRgb(0xFF, 0x00, 0xFF));
    const QString icon = root.filePath(QStringLiteral("tarvik.ico"));
    const QString toolbar = root.filePath(QStringLiteral("toolbar.bmp"));
    const QString background = root.filePath(QStringLiteral("background.bmp"));
    if (!Write(icon, IconFile({16, 32, 48})) || !strip.save(toolbar, "BMP") ||
        !tarvik::res::DrawBackgroundBitmap().save(background, "BMP")) {
        std::fprintf(stderr, "tarvik-win32-pictures: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
