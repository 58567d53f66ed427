#include "res/dialog_templates.h"

#include <array>

#include "res/resource_ids.h"

namespace tarvik::res {
namespace {

constexpr std::uint32_t DLG_MODAL = DLG_POPUP | DLG_CAPTION | DLG_SYSMENU | DLG_MODALFRAME;
constexpr std::uint32_t READ_ONLY_BOX = CTL_BORDER | CTL_AUTOHSCROLL | CTL_READONLY;

constexpr ControlTemplate ABOUT_CONTROLS[] = {
    {IDC_STATIC, ControlKind::Icon, "", 11, 17, 20, 20, 0},
    {IDC_STATIC, ControlKind::Static, "Tarvik Version 1.03.002", 40, 10, 119, 8, CTL_NOPREFIX},
    {IDOK, ControlKind::DefPushButton, "OK", 178, 7, 32, 14, CTL_TABSTOP | CTL_GROUP},
};

constexpr ControlTemplate PREPARE_CONTROLS[] = {
    {IDCANCEL, ControlKind::PushButton, "Cancel", 153, 66, 32, 14, CTL_TABSTOP},
    {IDC_UPGRADE, ControlKind::DefPushButton, "Upgrade", 142, 22, 39, 17, CTL_TABSTOP},
    {IDC_VIEW_TARGET_INFO, ControlKind::DefPushButton, "View Target Information", 7, 66, 114, 15,
     CTL_TABSTOP},
    {IDC_VIEW_FILE_INFO, ControlKind::DefPushButton, "View File Infomation", 7, 22, 114, 15,
     CTL_TABSTOP},
    {IDC_DEVICE_FOR_UPGRADE, ControlKind::Edit, "", 80, 50, 70, 12, READ_ONLY_BOX},
    {IDC_FILE_FOR_UPGRADE, ControlKind::Edit, "", 71, 7, 125, 12, READ_ONLY_BOX},
    {IDC_STATIC, ControlKind::Static, "Device for Upgrade:", 7, 50, 66, 8, 0},
    {IDC_STATIC, ControlKind::Static, "File for Upgrade:", 7, 7, 64, 8, 0},
};

constexpr ControlTemplate PROCESS_CONTROLS[] = {
    {IDC_CLOSE_PROGRESS, ControlKind::PushButton, "Close", 91, 35, 30, 13, CTL_TABSTOP},
    {IDC_PROGRESS_BAR, ControlKind::ProgressBar, "", 32, 20, 147, 9, CTL_BORDER},
    {IDC_STATUS_TEXT, ControlKind::Static, "", 33, 7, 147, 8, 0},
    {IDC_PERCENT_TEXT, ControlKind::Static, "", 7, 20, 23, 8, 0},
};

// The two information dialogs share their rows; each label sits left of its box.
constexpr ControlTemplate FILE_INFO_CONTROLS[] = {
    {IDC_STATIC, ControlKind::Static, "File Name:", 7, 9, 44, 8, 0},
    {IDC_FILE_NAME, ControlKind::Edit, "", 53, 7, 147, 12, READ_ONLY_BOX},
    {1016, ControlKind::Static, "PID Version:", 7, 23, 56, 8, 0},
    {IDC_PID_VERSION, ControlKind::Edit, "", 65, 20, 26, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1025, ControlKind::Static, "Upgrade Control:", 98, 23, 62, 8, 0},
    {IDC_UPGRADE_CONTROL, ControlKind::Edit, "", 163, 20, 33, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1026, ControlKind::Static, "H/W  Version:", 7, 37, 56, 8, 0},
    {IDC_HW_VERSION, ControlKind::Edit, "", 65, 34, 26, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1027, ControlKind::Static, "Board Code:", 98, 37, 42, 8, 0},
    {IDC_BOARD_CODE, ControlKind::Edit, "", 143, 34, 53, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1028, ControlKind::Static, "F/W Version:", 7, 51, 56, 8, 0},
    {IDC_FW_VERSION, ControlKind::Edit, "", 65, 48, 25, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1034, ControlKind::Static, "Product ID:", 7, 65, 56, 8, 0},
    {IDC_PRODUCT_ID, ControlKind::Edit, "", 65, 62, 24, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1035, ControlKind::Static, "Mask:", 98, 65, 24, 8, 0},
    {IDC_PRODUCT_MASK, ControlKind::Edit, "", 124, 62, 40, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1036, ControlKind::Static, "Protocol ID:", 7, 80, 56, 8, 0},
    {IDC_PROTOCOL_ID, ControlKind::Edit, "", 65, 77, 22, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1037, ControlKind::Static, "Mask:", 98, 80, 24, 8, 0},
    {IDC_PROTOCOL_MASK, ControlKind::Edit, "", 124, 77, 40, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1038, ControlKind::Static, "Function ID:", 7, 96, 56, 8, 0},
    {IDC_FUNCTION_ID, ControlKind::Edit, "", 65, 93, 21, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1039, ControlKind::Static, "Mask:", 98, 96, 24, 8, 0},
    {IDC_FUNCTION_MASK, ControlKind::Edit, "", 124, 93, 20, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1040, ControlKind::Static, "Code Segment:", 7, 112, 56, 8, 0},
    {IDC_CODE_SEGMENT, ControlKind::Edit, "", 65, 109, 21, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1041, ControlKind::Static, "Code Size:", 91, 111, 41, 8, 0},
    {IDC_CODE_SIZE, ControlKind::Edit, "", 134, 109, 18, 12, READ_ONLY_BOX | CTL_TABSTOP},
    {IDOK, ControlKind::DefPushButton, "OK", 157, 109, 26, 14, CTL_TABSTOP},
};

constexpr ControlTemplate DEVICE_INFO_CONTROLS[] = {
    {IDC_STATIC, ControlKind::Static, "Device Name:", 7, 6, 50, 8, 0},
    {IDC_DEVICE_NAME, ControlKind::Edit, "", 59, 4, 114, 12, READ_ONLY_BOX | CTL_TABSTOP},
    {1016, ControlKind::Static, "PID Version:", 7, 19, 54, 8, 0},
    {IDC_PID_VERSION, ControlKind::Edit, "", 63, 17, 22, 12, READ_ONLY_BOX | CTL_TABSTOP},
    {1025, ControlKind::Static, "Upgrade Control:", 96, 20, 62, 8, 0},
    {IDC_UPGRADE_CONTROL, ControlKind::Edit, "", 161, 17, 26, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1026, ControlKind::Static, "H/W  Version:", 7, 35, 54, 8, 0},
    {IDC_HW_VERSION, ControlKind::Edit, "", 63, 32, 24, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1027, ControlKind::Static, "Board Code:", 96, 35, 44, 8, 0},
    {IDC_BOARD_CODE, ControlKind::Edit, "", 143, 32, 51, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1028, ControlKind::Static, "F/W Version:", 7, 49, 54, 8, 0},
    {IDC_FW_VERSION, ControlKind::Edit, "", 63, 46, 27, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1034, ControlKind::Static, "Product ID:", 7, 65, 54, 8, 0},
    {IDC_PRODUCT_ID, ControlKind::Edit, "", 63, 62, 24, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1035, ControlKind::Static, "Mask :", 96, 65, 26, 8, 0},
    {IDC_PRODUCT_MASK, ControlKind::Edit, "", 125, 62, 40, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1036, ControlKind::Static, "Protocol ID:", 7, 82, 54, 8, 0},
    {IDC_PROTOCOL_ID, ControlKind::Edit, "", 63, 79, 24, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1037, ControlKind::Static, "Mask :", 96, 82, 26, 8, 0},
    {IDC_PROTOCOL_MASK, ControlKind::Edit, "", 125, 79, 40, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1038, ControlKind::Static, "Function ID:", 7, 98, 54, 8, 0},
    {IDC_FUNCTION_ID, ControlKind::Edit, "", 63, 95, 25, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1039, ControlKind::Static, "Mask :", 96, 98, 26, 8, 0},
    {IDC_FUNCTION_MASK, ControlKind::Edit, "", 125, 95, 40, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1040, ControlKind::Static, "Code Segment:", 7, 114, 54, 8, 0},
    {IDC_CODE_SEGMENT, ControlKind::Edit, "", 63, 111, 26, 14, READ_ONLY_BOX | CTL_TABSTOP},
    {1041, ControlKind::Static, "Code Size:", 93, 113, 39, 8, 0},
    {IDC_CODE_SIZE, ControlKind::Edit, "", 134, 111, 19, 12, READ_ONLY_BOX | CTL_TABSTOP},
    {IDOK, ControlKind::DefPushButton, "OK", 161, 111, 26, 14, CTL_TABSTOP},
};

constexpr ControlTemplate BROWSE_CONTROLS[] = {
    {IDOK, ControlKind::DefPushButton, "OK", 106, 98, 28, 12, CTL_TABSTOP},
    {IDC_NAME_LIST, ControlKind::ListBox, "", 7, 20, 92, 53,
     CTL_BORDER | CTL_VSCROLL | CTL_TABSTOP | CTL_NOTIFY | CTL_SORT | CTL_NOINTEGRALHEIGHT},
    {IDC_NAME_EDIT, ControlKind::Edit, "", 7, 92, 92, 12,
     CTL_BORDER | CTL_TABSTOP | CTL_AUTOHSCROLL},
    {IDC_STATIC, ControlKind::Static, "Devices Found Lists:", 7, 7, 85, 9, CTL_GROUP},
    {IDC_STATIC, ControlKind::Static, "Device for Upgrade:", 7, 80, 105, 9, CTL_GROUP},
};

constexpr ControlTemplate LAN_CARD_CONTROLS[] = {
    {IDOK, ControlKind::DefPushButton, "OK", 151, 81, 25, 14, CTL_TABSTOP},
    {IDC_STATIC, ControlKind::Static, "Adapter Cards Lists:", 7, 7, 90, 8, 0},
    {IDC_STATIC, ControlKind::Static, "Selected Network Adapter :", 7, 54, 99, 8, 0},
    {IDC_NAME_LIST, ControlKind::ListBox, "", 7, 21, 147, 23,
     CTL_TABSTOP | CTL_NOTIFY | CTL_VSCROLL | CTL_BORDER},
    {IDC_NAME_EDIT, ControlKind::Edit, "", 7, 66, 147, 14,
     CTL_TABSTOP | CTL_BORDER | CTL_AUTOHSCROLL},
};

// clang-format off: one template a line, as the resource script lists them.
constexpr DialogTemplate ABOUT = {IDD_ABOUTBOX, "About Tarvik", 217, 55, "MS Sans Serif", 8,
                                  DLG_MODAL,    ABOUT_CONTROLS};
constexpr DialogTemplate PREPARE = {
    IDD_PREPARE_UPGRADE, "Prepare For Upgrade", 203, 93, "System", 10, DLG_MODAL, PREPARE_CONTROLS};
constexpr DialogTemplate PROCESS = {IDD_UPGRADE_PROCESS,
                                    "Upgrade Process",
                                    212,
                                    59,
                                    "System",
                                    10,
                                    DLG_MODAL | DLG_VISIBLE | DLG_SETFOREGROUND,
                                    PROCESS_CONTROLS};
constexpr DialogTemplate FILE_INFO = {IDD_FILE_INFO, "File Information", 205, 134, "System", 12,
                                      DLG_MODAL,     FILE_INFO_CONTROLS};
constexpr DialogTemplate DEVICE_INFO = {
    IDD_DEVICE_INFO, "Device Information", 201, 133, "System", 12, DLG_MODAL, DEVICE_INFO_CONTROLS};
constexpr DialogTemplate BROWSE = {
    IDD_BROWSE_TARGET, "Browsed Devices on Network", 141, 117, "System", 10, DLG_MODAL,
    BROWSE_CONTROLS};
constexpr DialogTemplate LAN_CARD = {IDD_LAN_CARD, "Detected LAN Cards:", 183, 105, "System", 10,
                                     DLG_MODAL,    LAN_CARD_CONTROLS};
// clang-format on

constexpr std::array<const DialogTemplate*, 7> TEMPLATES = {
    &ABOUT, &PREPARE, &PROCESS, &FILE_INFO, &DEVICE_INFO, &BROWSE, &LAN_CARD,
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int id)
{
    for (const DialogTemplate* dialog : TEMPLATES) {
        if (dialog->Id == id) {
            return dialog;
        }
    }
    return nullptr;
}

std::span<const DialogTemplate* const> AllDialogTemplates()
{
    return TEMPLATES;
}

}  // namespace tarvik::res
