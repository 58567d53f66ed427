#pragma once
// The accelerator table's key texts ("Ctrl+O", "Shift+Del", "Alt+Backspace", "F6") read into
// modifiers and a virtual-key code, the form Win32's accelerator tables take.

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvik::res {

// The virtual-key codes of the keys the table names by word.
inline constexpr std::uint16_t VKEY_BACK = 0x08;
inline constexpr std::uint16_t VKEY_INSERT = 0x2D;
inline constexpr std::uint16_t VKEY_DELETE = 0x2E;
inline constexpr std::uint16_t VKEY_F1 = 0x70;

struct AcceleratorKey {
    bool Control = false;
    bool Shift = false;
    bool Alt = false;
    // A capital letter or digit stands for its own key; the others by the codes above.
    std::uint16_t VirtualKey = 0;
    bool operator==(const AcceleratorKey&) const = default;
};

// Modifiers joined by '+' before one key; nothing for a text the table does not use.
std::optional<AcceleratorKey> ParseAcceleratorKeys(std::string_view keys);

}  // namespace tarvik::res
