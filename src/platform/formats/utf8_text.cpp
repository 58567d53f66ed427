#include "platform/formats/utf8_text.h"

#include <cstdint>

namespace tarvik {
namespace {

void AppendEscapedByte(std::string& out, std::uint8_t byte)
{
    constexpr char DIGITS[] = "0123456789ABCDEF";
    out += "\\x";
    out += DIGITS[byte >> 4];
    out += DIGITS[byte & 0x0F];
}

template <typename Keep>
std::string Rewritten(std::string_view text, Keep keep)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = Utf8SequenceLength(text);
        const auto first = static_cast<std::uint8_t>(text.front());
        if (length == 0 || (length == 1 && !keep(first))) {
            AppendEscapedByte(out, first);
            text.remove_prefix(1);
        } else {
            out.append(text.substr(0, length));
            text.remove_prefix(length);
        }
    }
    return out;
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text)
{
    if (text.empty()) {
        return 0;
    }
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    // The range the second byte may take: narrower than 80..BF where a wider range would
    // allow an overlong form, a surrogate (ED A0..BF) or a code point above U+10FFFF.
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

bool IsValidUtf8(std::string_view text)
{
    while (!text.empty()) {
        const std::size_t length = Utf8SequenceLength(text);
        if (length == 0) {
            return false;
        }
        text.remove_prefix(length);
    }
    return true;
}

std::string Utf8Escaped(std::string_view text)
{
    if (IsValidUtf8(text)) {
        return std::string(text);
    }
    return Rewritten(text, [](std::uint8_t) { return true; });
}

std::string PrintableText(std::string_view text)
{
    return Rewritten(text, [](std::uint8_t c) { return c >= 0x20 && c != 0x7F; });
}

}  // namespace tarvik
