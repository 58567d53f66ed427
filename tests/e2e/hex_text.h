#pragma once
// Frames as hex text, the form in which the end-to-end programs and their scripts exchange and
// compare them.

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

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
    if (digits.size() % 2 != 0) {
        return std::nullopt;
    }
    Bytes bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const std::string pair = digits.substr(i, 2);
        char* end = nullptr;
        const unsigned long value = std::strtoul(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
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
