#pragma once
// A chart as a PNG file: its items rasterized one unit to a pixel, in RGB, and written as an
// uncompressed PNG (the deflate stream's stored blocks), with no image library.

#include <cstdint>
#include <span>
#include <vector>

#include "panel/chart_picture.h"

namespace tarvik::panel {

// The picture's pixels, row after row, three bytes (R, G, B) each; white where nothing is drawn.
std::vector<std::uint8_t> RasterizePicture(const ChartPicture& picture);

// A PNG of width x height RGB pixels (rgb holds 3 * width * height bytes).
std::vector<std::uint8_t> EncodePng(int width, int height, std::span<const std::uint8_t> rgb);

inline std::vector<std::uint8_t> PicturePng(const ChartPicture& picture)
{
    return EncodePng(picture.Width, picture.Height, RasterizePicture(picture));
}

}  // namespace tarvik::panel
