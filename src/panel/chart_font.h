#pragma once
// The bitmap font the PNG charts are drawn with: printable ASCII in 5x7 glyphs, each in a cell
// six wide and eight high (a column of space to its right, a row below).

#include <array>
#include <cstdint>

namespace tarvik::panel {

inline constexpr int GLYPH_WIDTH = 5;
inline constexpr int GLYPH_HEIGHT = 7;
inline constexpr int GLYPH_CELL_WIDTH = 6;
inline constexpr int GLYPH_CELL_HEIGHT = 8;

// The glyph's five columns, left to right, the top row in the lowest bit; any character
// outside 0x20-0x7E is an outlined box.
std::array<std::uint8_t, GLYPH_WIDTH> GlyphColumns(char32_t character);

}  // namespace tarvik::panel
