#include "panel/markup_text.h"

#include "platform/formats/utf8_text.h"

namespace tarvik::panel {

std::string MarkupEscaped(std::string_view text)
{
    const std::string valid = Utf8Escaped(text);
    std::string out;
    out.reserve(valid.size());
    for (const char c : valid) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            // XML 1.0 admits no control characters but tab and line ends.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                out += "\xEF\xBF\xBD";
            } else {
                out += c;
            }
        }
    }
    return out;
}

}  // namespace tarvik::panel
