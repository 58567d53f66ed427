#pragma once
// The main window's resources as data: the string table, menu 128, toolbar 128 and the
// accelerator table 128.

#include <span>
#include <string_view>

namespace tarvik::res {

// The string with the given id; empty when the table has none.
std::string_view LoadString(int id);

// Part n (from 0) of a text whose parts are separated by line breaks; empty when it has fewer.
std::string_view StringPart(std::string_view text, int n);

// Indexes of the parts of document string 128.
inline constexpr int DOC_WINDOW_TITLE = 0;
inline constexpr int DOC_DOCUMENT_NAME = 1;
inline constexpr int DOC_NEW_FILE_NAME = 2;
inline constexpr int DOC_FILTER_NAME = 3;
inline constexpr int DOC_FILTER_EXTENSION = 4;
inline constexpr int DOC_REGISTRY_TYPE = 5;
inline constexpr int DOC_REGISTRY_NAME = 6;

// A command's prompt: the text before the line break goes to the status bar, the text after
// it is the tooltip.
std::string_view PromptStatusText(int commandId);
std::string_view PromptTooltip(int commandId);

struct MenuItem {
    int CommandId;  // 0 for a separator
    std::string_view Text;
};

struct MenuPopup {
    std::string_view Text;
    std::span<const MenuItem> Items;
};

std::span<const MenuPopup> MainMenu();

inline constexpr int TOOLBAR_BUTTON_SIZE = 51;

// The toolbar's buttons, left to right; button i shows image i of the toolbar strip.
std::span<const int> ToolbarCommands();

struct Accelerator {
    std::string_view Keys;  // portable key text, "Ctrl+O", "Shift+Del"
    int CommandId;
};

std::span<const Accelerator> Accelerators();

}  // namespace tarvik::res
