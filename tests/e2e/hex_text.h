#pragma once
// Frames as hex text, the form in which the end-to-end programs and their scripts exchange and
// compare them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/formats/hex_text.h"

namespace tarvik::e2e {

using Bytes = std::vector<std::uint8_t>;

// Two hex digits per byte; ':', '-' and blanks between them are ignored.
inline std::optional<Bytes> ParseHex(const std::string& text)
{
    std::string digits;
    for (const char c : text) {
        if (c != ':' && c != '-' && c != ' ') {
            digits += c;
        }
    }
    return ParseHexDigits(digits);
}

inline std::string Hex(const std::uint8_t* bytes, std::size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace tarvik::e2e
