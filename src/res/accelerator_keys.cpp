#include "res/accelerator_keys.h"

namespace tarvik::res {

std::optional<AcceleratorKey> ParseAcceleratorKeys(std::string_view keys)
{
    AcceleratorKey parsed;
    for (std::size_t plus = keys.find('+'); plus != std::string_view::npos && plus > 0;
         plus = keys.find('+')) {
        const std::string_view modifier = keys.substr(0, plus);
        if (modifier == "Ctrl") {
            parsed.Control = true;
        } else if (modifier == "Shift") {
            parsed.Shift = true;
        } else if (modifier == "Alt") {
            parsed.Alt = true;
        } else {
            return std::nullopt;
        }
        keys.remove_prefix(plus + 1);
    }
    if (keys.size() == 1 &&
        ((keys[0] >= 'A' && keys[0] <= 'Z') || (keys[0] >= '0' && keys[0] <= '9'))) {
        parsed.VirtualKey = static_cast<std::uint16_t>(keys[0]);
    } else if (keys == "Del") {
        parsed.VirtualKey = VKEY_DELETE;
    } else if (keys == "Ins") {
        parsed.VirtualKey = VKEY_INSERT;
    } else if (keys == "Backspace") {
        parsed.VirtualKey = VKEY_BACK;
    } else if (keys.size() >= 2 && keys.size() <= 3 && keys[0] == 'F') {
        int number = 0;
        for (const char digit : keys.substr(1)) {
            if (digit < '0' || digit > '9') {
                return std::nullopt;
            }
            number = number * 10 + (digit - '0');
        }
        if (number < 1 || number > 24) {
            return std::nullopt;
        }
        parsed.VirtualKey = static_cast<std::uint16_t>(VKEY_F1 + number - 1);
    } else {
        return std::nullopt;
    }
    return parsed;
}

}  // namespace tarvik::res
