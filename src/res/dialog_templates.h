#pragma once
// The dialog templates: for each dialog its caption, size, font and style, and its controls
// in template order (which is also the tab order) with id, kind, text, rectangle and style.
// Rectangles and sizes are in dialog units of the template's font.

#include <cstdint>
#include <span>
#include <string_view>

namespace tarvik::res {

enum class ControlKind {
    PushButton,
    DefPushButton,  // a push button drawn as the default one
    Edit,
    ListBox,
    Static,  // a left-aligned label
    Icon,    // the program icon
    ProgressBar,
};

// Control styles.
inline constexpr std::uint32_t CTL_TABSTOP = 1u << 0;
inline constexpr std::uint32_t CTL_GROUP = 1u << 1;
inline constexpr std::uint32_t CTL_BORDER = 1u << 2;
inline constexpr std::uint32_t CTL_VSCROLL = 1u << 3;
inline constexpr std::uint32_t CTL_AUTOHSCROLL = 1u << 4;
inline constexpr std::uint32_t CTL_READONLY = 1u << 5;
inline constexpr std::uint32_t CTL_NOTIFY = 1u << 6;  // list box reports selection changes
inline constexpr std::uint32_t CTL_SORT = 1u << 7;    // list box keeps its items sorted
inline constexpr std::uint32_t CTL_NOINTEGRALHEIGHT = 1u << 8;
inline constexpr std::uint32_t CTL_NOPREFIX = 1u << 9;  // "&" in a label is shown as is

// Dialog styles.
inline constexpr std::uint32_t DLG_POPUP = 1u << 0;
inline constexpr std::uint32_t DLG_CAPTION = 1u << 1;
inline constexpr std::uint32_t DLG_SYSMENU = 1u << 2;
inline constexpr std::uint32_t DLG_MODALFRAME = 1u << 3;
inline constexpr std::uint32_t DLG_VISIBLE = 1u << 4;        // shown as soon as it is created
inline constexpr std::uint32_t DLG_SETFOREGROUND = 1u << 5;  // brought to the foreground

struct ControlTemplate {
    int Id;
    ControlKind Kind;
    std::string_view Text;
    int X;
    int Y;
    int Width;
    int Height;
    std::uint32_t Style;
};

struct DialogTemplate {
    int Id;
    std::string_view Caption;
    int Width;
    int Height;
    std::string_view FontName;
    int PointSize;
    std::uint32_t Style;
    std::span<const ControlTemplate> Controls;
};

// The template with the given id; nullptr when the program has none of that number.
const DialogTemplate* FindDialogTemplate(int id);
// Every template of the program.
std::span<const DialogTemplate* const> AllDialogTemplates();

}  // namespace tarvik::res
