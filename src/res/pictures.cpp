#include "res/pictures.h"

#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

#include "res/shell_resources.h"

namespace tarvik::res {
namespace {

// The classic 16-colour palette.
const QColor BLACK(0x00, 0x00, 0x00);
const QColor MAROON(0x80, 0x00, 0x00);
const QColor GREEN(0x00, 0x80, 0x00);
const QColor OLIVE(0x80, 0x80, 0x00);
const QColor NAVY(0x00, 0x00, 0x80);
const QColor TEAL(0x00, 0x80, 0x80);
const QColor SILVER(0xC0, 0xC0, 0xC0);
const QColor GRAY(0x80, 0x80, 0x80);
const QColor RED(0xFF, 0x00, 0x00);
const QColor LIME(0x00, 0xFF, 0x00);
const QColor YELLOW(0xFF, 0xFF, 0x00);
const QColor BLUE(0x00, 0x00, 0xFF);
const QColor FUCHSIA(0xFF, 0x00, 0xFF);  // the toolbar's transparent ground; never drawn with
const QColor AQUA(0x00, 0xFF, 0xFF);
const QColor WHITE(0xFF, 0xFF, 0xFF);

constexpr int TRANSPARENT_INDEX = 13;

QList<QRgb> SixteenColours()
{
    return {BLACK.rgb(), MAROON.rgb(),  GREEN.rgb(),
            OLIVE.rgb(), NAVY.rgb(),    QColor(0x80, 0x00, 0x80).rgb(),
            TEAL.rgb(),  SILVER.rgb(),  GRAY.rgb(),
            RED.rgb(),   LIME.rgb(),    YELLOW.rgb(),
            BLUE.rgb(),  FUCHSIA.rgb(), AQUA.rgb(),
            WHITE.rgb()};
}

QImage ToSixteenColours(const QImage& drawn)
{
    return drawn.convertToFormat(QImage::Format_Indexed8, SixteenColours(),
                                 Qt::ThresholdDither | Qt::AvoidDither);
}

void DrawDocumentPage(QPainter& p)
{
    const QPolygon page({QPoint(11, 4), QPoint(32, 4), QPoint(41, 13), QPoint(41, 47),
                         QPoint(11, 47)});
    p.setPen(QPen(BLACK, 1));
    p.setBrush(WHITE);
    p.drawPolygon(page);
    p.setBrush(SILVER);
    p.drawPolygon(QPolygon({QPoint(32, 4), QPoint(32, 13), QPoint(41, 13)}));
    p.setPen(QPen(NAVY, 2));
    for (int y = 18; y <= 40; y += 5) {
        p.drawLine(16, y, y == 40 ? 28 : 36, y);
    }
}

void DrawArrowHead(QPainter& p, QPointF tip, QPointF back, const QColor& colour)
{
    const QPointF along = tip - back;
    const QPointF across(-along.y() * 0.6, along.x() * 0.6);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(QPolygonF({tip, back + across, back - across}));
}

void DrawCurvedArrows(QPainter& p)
{
    const QRectF circle(9, 9, 33, 33);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(BLUE, 5, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(circle, 100 * 16, 140 * 16);
    p.setPen(QPen(GREEN, 5, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(circle, 280 * 16, 140 * 16);
    // Heads where each arc ends, pointing on round the circle.
    DrawArrowHead(p, QPointF(14, 37), QPointF(8, 30), BLUE);
    DrawArrowHead(p, QPointF(37, 14), QPointF(43, 21), GREEN);
}

void DrawComputerWithDrive(QPainter& p)
{
    p.setPen(QPen(BLACK, 1));
    // Monitor.
    p.setBrush(SILVER);
    p.drawRect(10, 3, 31, 24);
    p.setBrush(TEAL);
    p.drawRect(14, 7, 23, 16);
    p.setPen(QPen(AQUA, 1));
    p.drawLine(16, 9, 22, 9);
    p.setPen(QPen(BLACK, 1));
    p.setBrush(GRAY);
    p.drawRect(21, 27, 9, 4);
    // System unit with its drive.
    p.setBrush(SILVER);
    p.drawRect(4, 31, 43, 15);
    p.setBrush(GRAY);
    p.drawRect(24, 35, 18, 5);
    p.setPen(QPen(BLACK, 1));
    p.drawLine(27, 37, 39, 37);
    p.setPen(Qt::NoPen);
    p.setBrush(LIME);
    p.drawRect(8, 40, 3, 2);
    p.setBrush(NAVY);
    p.drawRect(8, 35, 10, 2);
}

void DrawOpenDoor(QPainter& p)
{
    p.setPen(QPen(BLACK, 1));
    // Frame and the dark opening behind the door.
    p.setBrush(OLIVE);
    p.drawRect(12, 4, 28, 44);
    p.setBrush(BLACK);
    p.drawRect(15, 7, 22, 41);
    // The door, swung out towards the viewer.
    p.setBrush(MAROON);
    p.drawPolygon(QPolygon({QPoint(15, 7), QPoint(29, 11), QPoint(29, 50), QPoint(15, 48)}));
    p.setPen(Qt::NoPen);
    p.setBrush(YELLOW);
    p.drawRect(25, 29, 3, 3);
    // Light falling out through the opening.
    p.setBrush(YELLOW);
    p.drawPolygon(QPolygon({QPoint(30, 48), QPoint(37, 48), QPoint(44, 50), QPoint(33, 50)}));
}

void DrawDeviceBox(QPainter& p, int x, int y, int variant)
{
    constexpr int width = 58;
    constexpr int height = 24;
    p.setPen(Qt::NoPen);
    p.setBrush(GRAY);
    p.drawRect(x + 3, y + 3, width, height);  // shadow
    p.setBrush(variant % 3 == 0 ? WHITE : SILVER);
    p.drawRect(x, y, width, height);
    p.setPen(QPen(WHITE, 1));
    p.drawLine(x, y, x + width - 1, y);
    p.drawLine(x, y, x, y + height - 1);
    p.setPen(QPen(BLACK, 1));
    p.drawLine(x + width, y, x + width, y + height);
    p.drawLine(x, y + height, x + width, y + height);
    p.setPen(Qt::NoPen);
    // Status lights.
    const QColor lights[] = {LIME, GREEN, YELLOW, RED};
    for (int i = 0; i < 3; ++i) {
        p.setBrush(lights[(variant + i) % 4]);
        p.drawRect(x + 5 + i * 6, y + 6, 3, 3);
    }
    // Ports along the front.
    p.setBrush(NAVY);
    for (int i = 0; i < 4; ++i) {
        p.drawRect(x + 26 + i * 7, y + 13, 5, 6);
    }
    p.setBrush(TEAL);
    p.drawRect(x + 5, y + 14, 16, 4);
}

}  // namespace

QImage DrawToolbarStrip()
{
    QImage drawn(TOOLBAR_BUTTON_SIZE * TOOLBAR_IMAGE_COUNT, TOOLBAR_BUTTON_SIZE,
                 QImage::Format_RGB32);
    drawn.fill(FUCHSIA);
    {
        QPainter p(&drawn);
        void (*const drawers[])(QPainter&) = {DrawDocumentPage, DrawCurvedArrows,
                                              DrawComputerWithDrive, DrawOpenDoor};
        for (int i = 0; i < TOOLBAR_IMAGE_COUNT; ++i) {
            p.save();
            p.translate(i * TOOLBAR_BUTTON_SIZE, 0);
            p.setClipRect(0, 0, TOOLBAR_BUTTON_SIZE, TOOLBAR_BUTTON_SIZE);
            drawers[i](p);
            p.restore();
        }
    }
    QImage strip = ToSixteenColours(drawn);
    strip.setColor(TRANSPARENT_INDEX, qRgba(0, 0, 0, 0));
    return strip;
}

QImage ToolbarImage(const QImage& strip, int index)
{
    return strip.copy(index * TOOLBAR_BUTTON_SIZE, 0, TOOLBAR_BUTTON_SIZE, TOOLBAR_BUTTON_SIZE);
}

QImage DrawBackgroundBitmap()
{
    QImage drawn(BACKGROUND_WIDTH, BACKGROUND_HEIGHT, QImage::Format_RGB32);
    drawn.fill(SILVER);
    {
        QPainter p(&drawn);
        constexpr int columnStep = 84;
        constexpr int rowStep = 48;
        int row = 0;
        for (int y = 12; y < BACKGROUND_HEIGHT; y += rowStep, ++row) {
            const int shift = (row % 2) * (columnStep / 2);
            for (int x = 10 - columnStep / 2 + shift; x < BACKGROUND_WIDTH; x += columnStep) {
                DrawDeviceBox(p, x, y, row + x / columnStep);
            }
        }
    }
    return ToSixteenColours(drawn);
}

QImage DrawProgramIconImage(int size)
{
    QImage drawn(32, 32, QImage::Format_RGB32);
    drawn.fill(FUCHSIA);
    {
        QPainter p(&drawn);
        // A device box with an arrow bringing new firmware down into it.
        p.setPen(QPen(BLACK, 1));
        p.setBrush(SILVER);
        p.drawRect(2, 18, 27, 11);
        p.setPen(Qt::NoPen);
        p.setBrush(LIME);
        p.drawRect(5, 22, 3, 3);
        p.setBrush(NAVY);
        p.drawRect(12, 22, 4, 4);
        p.drawRect(18, 22, 4, 4);
        p.drawRect(24, 22, 3, 4);
        p.setBrush(BLUE);
        p.drawRect(12, 2, 8, 9);
        p.drawPolygon(QPolygon({QPoint(6, 10), QPoint(26, 10), QPoint(16, 19)}));
    }
    QImage icon = ToSixteenColours(drawn);
    icon.setColor(TRANSPARENT_INDEX, qRgba(0, 0, 0, 0));
    if (size == 32) {
        return icon;
    }
    return icon.convertToFormat(QImage::Format_ARGB32)
        .scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48}) {
        icon.addPixmap(QPixmap::fromImage(DrawProgramIconImage(size)));
    }
    return icon;
}

}  // namespace tarvik::res
