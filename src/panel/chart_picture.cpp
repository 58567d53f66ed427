#include "panel/chart_picture.h"

#include <algorithm>
#include <cstdio>

#include "panel/markup_text.h"
#include "platform/formats/utf8_text.h"

namespace tarvik::panel {
namespace {

std::string Colour(ChartColour colour)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.R, colour.G, colour.B);
    return text;
}

// The class attribute: the picture's own words, but escaped all the same.
std::string ClassOf(const std::string& name)
{
    return " class=\"" + MarkupEscaped(name) + "\"";
}

const char* AnchorOf(TextAnchor anchor)
{
    switch (anchor) {
    case TextAnchor::Middle:
        return "middle";
    case TextAnchor::End:
        return "end";
    default:
        return "start";
    }
}

struct SvgItem {
    std::string& out;
    void operator()(const ChartRect& rect) const
    {
        out += "<rect x=\"" + std::to_string(rect.X) + "\" y=\"" + std::to_string(rect.Y) +
               "\" width=\"" + std::to_string(rect.Width) + "\" height=\"" +
               std::to_string(rect.Height) + "\" fill=\"" + Colour(rect.Fill) + "\"" +
               ClassOf(rect.Class) + "/>\n";
    }
    void operator()(const ChartLine& line) const
    {
        // Half a unit in, so that a one-unit line covers whole pixels as the PNG draws it.
        out += "<line x1=\"" + std::to_string(line.X1) + ".5\" y1=\"" + std::to_string(line.Y1) +
               ".5\" x2=\"" + std::to_string(line.X2) + ".5\" y2=\"" + std::to_string(line.Y2) +
               ".5\" stroke=\"" + Colour(line.Stroke) + "\" stroke-width=\"1\"" +
               ClassOf(line.Class) + "/>\n";
    }
    void operator()(const ChartText& text) const
    {
        out += "<text x=\"" + std::to_string(text.X) + "\" y=\"" + std::to_string(text.Y) +
               "\" font-size=\"" + std::to_string(text.Size) + "\" text-anchor=\"" +
               AnchorOf(text.Anchor) + "\"" + (text.Bold ? " font-weight=\"bold\"" : "") +
               " fill=\"" + Colour(text.Fill) + "\"" + ClassOf(text.Class) + ">" +
               MarkupEscaped(text.Text) + "</text>\n";
    }
};

ChartItem Shifted(ChartItem item, int down)
{
    std::visit(
        [down](auto& shape) {
        using Shape = std::decay_t<decltype(shape)>;
        if constexpr (std::is_same_v<Shape, ChartLine>) {
            shape.Y1 += down;
            shape.Y2 += down;
        } else {
            shape.Y += down;
        }
        },
        item);
    return item;
}

}  // namespace

std::vector<char32_t> TextCharacters(const std::string& text)
{
    std::vector<char32_t> characters;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t length = Utf8SequenceLength(rest);
        if (length == 0) {
            static constexpr char DIGITS[] = "0123456789ABCDEF";
            const auto byte = static_cast<unsigned char>(rest[0]);
            characters.insert(characters.end(),
                              {U'\\', U'x', static_cast<char32_t>(DIGITS[byte >> 4]),
                               static_cast<char32_t>(DIGITS[byte & 0xF])});
            rest.remove_prefix(1);
            continue;
        }
        auto code = static_cast<char32_t>(static_cast<unsigned char>(rest[0]));
        if (length > 1) {
            code &= 0x7F >> length;
            for (std::size_t i = 1; i < length; ++i) {
                code = (code << 6) | (static_cast<unsigned char>(rest[i]) & 0x3F);
            }
        }
        characters.push_back(code);
        rest.remove_prefix(length);
    }
    return characters;
}

int TextWidth(const std::string& text, int size)
{
    return static_cast<int>(TextCharacters(text).size()) * size * 3 / 5;
}

ChartPicture StackPictures(const ChartPicture& a, const ChartPicture& b, const std::string& id)
{
    ChartPicture both;
    both.Width = std::max(a.Width, b.Width);
    both.Height = a.Height + b.Height;
    both.Id = id;
    both.Title = a.Title + "; " + b.Title;
    both.Description = a.Description + ". " + b.Description;
    // The first picture's background, if it has one, under both.
    if (const auto* back = a.Items.empty() ? nullptr : std::get_if<ChartRect>(&a.Items.front())) {
        both.Items.push_back(ChartRect{0, 0, both.Width, both.Height, back->Fill, back->Class});
    }
    both.Items.insert(both.Items.end(), a.Items.begin(), a.Items.end());
    for (const ChartItem& item : b.Items) {
        both.Items.push_back(Shifted(item, a.Height));
    }
    return both;
}

std::string PictureSvg(const ChartPicture& picture)
{
    const std::string id = MarkupEscaped(picture.Id);
    const std::string width = std::to_string(picture.Width);
    const std::string height = std::to_string(picture.Height);
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"" + id + "\" viewBox=\"0 0 " +
                      width + " " + height + "\" width=\"" + width + "\" height=\"" + height +
                      "\" role=\"img\" aria-labelledby=\"" + id + "-title " + id +
                      "-desc\" font-family=\"monospace\">\n";
    out += "<title id=\"" + id + "-title\">" + MarkupEscaped(picture.Title) + "</title>\n";
    out += "<desc id=\"" + id + "-desc\">" + MarkupEscaped(picture.Description) + "</desc>\n";
    for (const ChartItem& item : picture.Items) {
        std::visit(SvgItem{out}, item);
    }
    return out + "</svg>\n";
}

}  // namespace tarvik::panel
