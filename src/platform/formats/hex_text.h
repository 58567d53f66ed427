#pragma once
// Hexadecimal digits as people type them and files hold them: device names, board codes,
// MAC addresses, registry exports. Either case is a digit; nothing else is.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tarvik {

// The value of one hex digit, or -1 for any other character.
constexpr int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Two digits per byte, first byte first, nothing between them; nothing for an odd count or
// a character that is not a digit.
inline std::optional<std::vector<std::uint8_t>> ParseHexDigits(std::string_view digits)
{
    if (digits.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = HexDigitValue(digits[i]);
        const int low = HexDigitValue(digits[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return bytes;
}

}  // namespace tarvik
