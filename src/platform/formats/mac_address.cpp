#include "platform/formats/mac_address.h"

#include <algorithm>
#include <cstdio>

#include "platform/formats/hex_text.h"

namespace tarvik {

std::string FormatMacAddress(const MacAddress& address)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", address[0], address[1],
                  address[2], address[3], address[4], address[5]);
    return text;
}

std::optional<MacAddress> ParseMacAddress(std::string_view text)
{
    // Separators count only in the 17-character form, each between two digit pairs.
    constexpr std::size_t SEPARATED_LENGTH = 17;
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == ':' || c == '-') && i % 3 == 2 && text.size() == SEPARATED_LENGTH) {
            continue;
        }
        digits.push_back(c);
    }
    const auto bytes = ParseHexDigits(digits);
    if (!bytes || bytes->size() != std::tuple_size_v<MacAddress>) {
        return std::nullopt;
    }
    MacAddress address{};
    std::copy(bytes->begin(), bytes->end(), address.begin());
    return address;
}

}  // namespace tarvik
