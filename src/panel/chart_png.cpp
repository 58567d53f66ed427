#include "panel/chart_png.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>

#include "panel/chart_font.h"

namespace tarvik::panel {
namespace {

class Canvas {
public:
    Canvas(int width, int height)
        : width_(std::max(width, 0)), height_(std::max(height, 0)),
          pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3, 0xFF)
    {
    }

    void Set(int x, int y, ChartColour colour)
    {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) {
            return;
        }
        const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                                static_cast<std::size_t>(x)) *
                               3;
        pixels_[at] = colour.R;
        pixels_[at + 1] = colour.G;
        pixels_[at + 2] = colour.B;
    }

    void operator()(const ChartRect& rect)
    {
        const int right = std::min(rect.X + rect.Width, width_);
        const int bottom = std::min(rect.Y + rect.Height, height_);
        for (int y = std::max(rect.Y, 0); y < bottom; ++y) {
            for (int x = std::max(rect.X, 0); x < right; ++x) {
                Set(x, y, rect.Fill);
            }
        }
    }

    // Bresenham's, both ends drawn.
    void operator()(const ChartLine& line)
    {
        const int dx = std::abs(line.X2 - line.X1);
        const int dy = -std::abs(line.Y2 - line.Y1);
        const int stepX = line.X1 < line.X2 ? 1 : -1;
        const int stepY = line.Y1 < line.Y2 ? 1 : -1;
        int error = dx + dy;
        int x = line.X1;
        int y = line.Y1;
        for (;;) {
            Set(x, y, line.Stroke);
            if (x == line.X2 && y == line.Y2) {
                return;
            }
            const int twice = 2 * error;
            if (twice >= dy) {
                error += dy;
                x += stepX;
            }
            if (twice <= dx) {
                error += dx;
                y += stepY;
            }
        }
    }

    // The font's cells scaled by a whole factor to about the text's size; a bold text is drawn
    // twice, a pixel apart.
    void operator()(const ChartText& text)
    {
        const int scale = std::max(1, (text.Size * 3 / 5 + 3) / GLYPH_CELL_WIDTH);
        const std::vector<char32_t> characters = TextCharacters(text.Text);
        const int width = static_cast<int>(characters.size()) * GLYPH_CELL_WIDTH * scale - scale;
        int left = text.X;
        if (text.Anchor == TextAnchor::Middle) {
            left -= width / 2;
        } else if (text.Anchor == TextAnchor::End) {
            left -= width;
        }
        const int top = text.Y - GLYPH_HEIGHT * scale;
        for (const char32_t character : characters) {
            const auto columns = GlyphColumns(character);
            for (int column = 0; column < GLYPH_WIDTH; ++column) {
                for (int row = 0; row < GLYPH_HEIGHT; ++row) {
                    if ((columns[static_cast<std::size_t>(column)] >> row & 1) == 0) {
                        continue;
                    }
                    for (int bold = 0; bold <= (text.Bold ? 1 : 0); ++bold) {
                        operator()(ChartRect{left + column * scale + bold,
                                             top + row * scale,
                                             scale,
                                             scale,
                                             text.Fill,
                                             {}});
                    }
                }
            }
            left += GLYPH_CELL_WIDTH * scale;
        }
    }

    std::vector<std::uint8_t> Take() { return std::move(pixels_); }

private:
    int width_;
    int height_;
    std::vector<std::uint8_t> pixels_;
};

constexpr std::array<std::uint32_t, 256> CRC_TABLE = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}();

std::uint32_t Crc32(std::span<const std::uint8_t> bytes)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t byte : bytes) {
        crc = CRC_TABLE[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    out.insert(out.end(),
               {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

void PutChunk(std::vector<std::uint8_t>& out, std::string_view type,
              std::span<const std::uint8_t> data)
{
    PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    PutBigEndian(out, Crc32(std::span(out).subspan(start)));
}

// A zlib stream of stored (uncompressed) deflate blocks, the most a block holds each.
std::vector<std::uint8_t> StoredZlib(std::span<const std::uint8_t> data)
{
    constexpr std::size_t BLOCK = 65535;
    std::vector<std::uint8_t> out{0x78, 0x01};
    std::size_t done = 0;
    do {
        const std::size_t length = std::min(BLOCK, data.size() - done);
        const bool last = done + length == data.size();
        const auto size = static_cast<std::uint16_t>(length);
        const auto inverse = static_cast<std::uint16_t>(~size);
        out.insert(out.end(),
                   {static_cast<std::uint8_t>(last ? 1 : 0), static_cast<std::uint8_t>(size),
                    static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(inverse),
                    static_cast<std::uint8_t>(inverse >> 8)});
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(done),
                   data.begin() + static_cast<std::ptrdiff_t>(done + length));
        done += length;
    } while (done < data.size());
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const std::uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian(out, b << 16 | a);
    return out;
}

}  // namespace

std::vector<std::uint8_t> RasterizePicture(const ChartPicture& picture)
{
    Canvas canvas(picture.Width, picture.Height);
    for (const ChartItem& item : picture.Items) {
        std::visit(canvas, item);
    }
    return canvas.Take();
}

std::vector<std::uint8_t> EncodePng(int width, int height, std::span<const std::uint8_t> rgb)
{
    const auto columns = static_cast<std::size_t>(std::max(width, 0));
    const auto rows = static_cast<std::size_t>(std::max(height, 0));
    // Each row starts with its filter type: 0, none.
    std::vector<std::uint8_t> scanlines;
    scanlines.reserve(rows * (1 + 3 * columns));
    for (std::size_t row = 0; row < rows; ++row) {
        scanlines.push_back(0);
        const auto start = rgb.begin() + static_cast<std::ptrdiff_t>(row * 3 * columns);
        scanlines.insert(scanlines.end(), start, start + static_cast<std::ptrdiff_t>(3 * columns));
    }
    std::vector<std::uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    PutBigEndian(header, static_cast<std::uint32_t>(columns));
    PutBigEndian(header, static_cast<std::uint32_t>(rows));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
    PutChunk(out, "IHDR", header);
    PutChunk(out, "IDAT", StoredZlib(scanlines));
    PutChunk(out, "IEND", {});
    return out;
}

}  // namespace tarvik::panel
