#pragma once
// A chart as a short list of things to draw (rectangles, lines, text), in the order they are
// drawn, written out as SVG for the page or rasterized to PNG for a file. Every item carries a
// CSS class, so that the page can restyle the picture (high contrast) without drawing it again;
// its colour is the default a file shows.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace tarvik::panel {

struct ChartColour {
    std::uint8_t R = 0;
    std::uint8_t G = 0;
    std::uint8_t B = 0;
};

struct ChartRect {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
    ChartColour Fill;
    std::string Class;
};

// One pixel wide.
struct ChartLine {
    int X1 = 0;
    int Y1 = 0;
    int X2 = 0;
    int Y2 = 0;
    ChartColour Stroke;
    std::string Class;
};

enum class TextAnchor { Start, Middle, End };

// One line of text from anywhere (outside text included); Y is its baseline.
struct ChartText {
    int X = 0;
    int Y = 0;
    std::string Text;
    int Size = 12;  // the font's size in the picture's units
    TextAnchor Anchor = TextAnchor::Start;
    bool Bold = false;
    ChartColour Fill;
    std::string Class;
};

using ChartItem = std::variant<ChartRect, ChartLine, ChartText>;

struct ChartPicture {
    int Width = 0;
    int Height = 0;
    std::string Id;           // the SVG's id, and its title's and description's ids' stem
    std::string Title;        // for screen readers, and the file's title
    std::string Description;  // the picture's counts in words, for screen readers
    std::vector<ChartItem> Items;
};

// b under a, as wide as the wider; the title and description of both.
ChartPicture StackPictures(const ChartPicture& a, const ChartPicture& b, const std::string& id);

// A standalone SVG document (valid XML, no script, nothing fetched from elsewhere), which may
// also stand inline in an HTML page.
std::string PictureSvg(const ChartPicture& picture);

// The characters a text shows: its code points, a byte that is not UTF-8 as the four
// characters \xHH (as the markup writes it).
std::vector<char32_t> TextCharacters(const std::string& text);

// The width a text takes in the picture's units: every character 0.6 of the size, as in a
// monospaced font.
int TextWidth(const std::string& text, int size);

}  // namespace tarvik::panel
