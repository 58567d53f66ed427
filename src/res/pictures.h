#pragma once
// The program's pictures, drawn by the program itself: the toolbar strip (four 51 x 51 button
// images), bitmap 137 that the view paints, and the program icon. All use the 16 colours of
// the classic palette.

#include <QIcon>
#include <QImage>

namespace tarvik::res {

inline constexpr int BACKGROUND_WIDTH = 1015;
inline constexpr int BACKGROUND_HEIGHT = 872;
inline constexpr int TOOLBAR_IMAGE_COUNT = 4;

// The four button images side by side (204 x 51), in the order of the toolbar's buttons:
// a document page, two curved arrows, a computer with a drive, an open door. The ground is
// transparent.
QImage DrawToolbarStrip();
// Image index (0..3) of the strip.
QImage ToolbarImage(const QImage& strip, int index);

// Bitmap 137: a light grey ground tiled with rows of small device boxes.
QImage DrawBackgroundBitmap();

// The program icon at the given edge length, and the icon with the usual sizes.
QImage DrawProgramIconImage(int size);
QIcon ProgramIcon();

}  // namespace tarvik::res
