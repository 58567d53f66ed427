#include "res/shell_resources.h"

#include <array>

#include "res/resource_ids.h"

namespace tarvik::res {
namespace {

struct StringEntry {
    int Id;
    std::string_view Text;
};

constexpr StringEntry STRINGS[] = {
    {IDR_MAINFRAME, "Tarvik\nUpgrade Utility\nTarvik\nTarvik Files "
                    "(*.bin)\n.bin\nTarvik.Document\nTarvik Document"},
    {ID_INDICATOR_TIME, "Time"},
    {IDS_APP_TITLE, "Tarvik"},
    {IDS_IDLE_MESSAGE, "Ready"},
    {ID_FILE_OPEN, "Select Firmware BIN File for Upgrade\nSelect BIN File"},
    {ID_APP_EXIT, "Quit the application\nExit"},
    {ID_BROWSE_TARGET, "Browse Targets on Network\nBrowse Target"},
    {ID_PREPARE_UPGRADE, "Prepare for Upgrade\nUpgrade"},
    {ID_APP_ABOUT, "Display program information, version number and copyright\nAbout"},
    {ID_FILE_NEW, "Create a new document\nNew"},
};

constexpr MenuItem FILE_ITEMS[] = {
    {ID_FILE_OPEN, "&Select BIN File..."},
    {0, ""},
    {ID_APP_EXIT, "E&xit"},
};
constexpr MenuItem BROWSE_ITEMS[] = {{ID_BROWSE_TARGET, "Browse &Target..."}};
constexpr MenuItem UPGRADE_ITEMS[] = {{ID_PREPARE_UPGRADE, "&Prepare Upgrade..."}};
constexpr MenuItem HELP_ITEMS[] = {{ID_APP_ABOUT, "&About Tarvik..."}};

constexpr MenuPopup MENU[] = {
    {"&File", FILE_ITEMS},
    {"&Browse", BROWSE_ITEMS},
    {"&Upgrade", UPGRADE_ITEMS},
    {"&Help", HELP_ITEMS},
};

constexpr std::array<int, 4> TOOLBAR = {ID_FILE_OPEN, ID_BROWSE_TARGET, ID_PREPARE_UPGRADE,
                                        ID_APP_EXIT};

constexpr Accelerator ACCELERATORS[] = {
    {"Ctrl+N", ID_FILE_NEW},    {"Ctrl+O", ID_FILE_OPEN},        {"Ctrl+S", ID_FILE_SAVE},
    {"Ctrl+Z", ID_EDIT_UNDO},   {"Alt+Backspace", ID_EDIT_UNDO}, {"Ctrl+X", ID_EDIT_CUT},
    {"Shift+Del", ID_EDIT_CUT}, {"Ctrl+C", ID_EDIT_COPY},        {"Ctrl+Ins", ID_EDIT_COPY},
    {"Ctrl+V", ID_EDIT_PASTE},  {"Shift+Ins", ID_EDIT_PASTE},    {"F6", ID_NEXT_PANE},
    {"Shift+F6", ID_PREV_PANE},
};

}  // namespace

std::string_view LoadString(int id)
{
    for (const StringEntry& entry : STRINGS) {
        if (entry.Id == id) {
            return entry.Text;
        }
    }
    return {};
}

std::string_view StringPart(std::string_view text, int n)
{
    for (int i = 0; i < n; ++i) {
        const std::size_t lineBreak = text.find('\n');
        if (lineBreak == std::string_view::npos) {
            return {};
        }
        text.remove_prefix(lineBreak + 1);
    }
    return text.substr(0, text.find('\n'));
}

std::string_view PromptStatusText(int commandId)
{
    return StringPart(LoadString(commandId), 0);
}

std::string_view PromptTooltip(int commandId)
{
    return StringPart(LoadString(commandId), 1);
}

std::span<const MenuPopup> MainMenu()
{
    return MENU;
}

std::span<const int> ToolbarCommands()
{
    return TOOLBAR;
}

std::span<const Accelerator> Accelerators()
{
    return ACCELERATORS;
}

}  // namespace tarvik::res
