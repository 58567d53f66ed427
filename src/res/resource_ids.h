#pragma once
// Numeric ids of the program's resources, commands and dialog controls. Handlers and tests
// address every control by these numbers.

namespace tarvik::res {

// Resources.
inline constexpr int IDR_MAINFRAME = 128;      // menu, toolbar, accelerators, icon, document string
inline constexpr int IDB_BACKGROUND = 137;     // the picture the view paints
inline constexpr int ID_INDICATOR_TIME = 102;  // the time pane, and its first text

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_PREPARE_UPGRADE = 130;
inline constexpr int IDD_UPGRADE_PROCESS = 133;
inline constexpr int IDD_FILE_INFO = 134;
inline constexpr int IDD_DEVICE_INFO = 135;
inline constexpr int IDD_BROWSE_TARGET = 141;
inline constexpr int IDD_LAN_CARD = 142;

// Strings that are not prompts.
inline constexpr int IDS_APP_TITLE = 57344;
inline constexpr int IDS_IDLE_MESSAGE = 57345;

// Commands of the main window.
inline constexpr int ID_FILE_NEW = 57600;
inline constexpr int ID_FILE_OPEN = 57601;  // Select BIN File
inline constexpr int ID_FILE_SAVE = 57603;
inline constexpr int ID_EDIT_COPY = 57634;
inline constexpr int ID_EDIT_CUT = 57635;
inline constexpr int ID_EDIT_PASTE = 57637;
inline constexpr int ID_EDIT_UNDO = 57643;
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_APP_EXIT = 57665;
inline constexpr int ID_NEXT_PANE = 57680;
inline constexpr int ID_PREV_PANE = 57681;
inline constexpr int ID_PREPARE_UPGRADE = 32774;
inline constexpr int ID_BROWSE_TARGET = 32777;

// Buttons shared by every dialog.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
// A control with no id of its own (labels).
inline constexpr int IDC_STATIC = -1;

// Prepare For Upgrade.
inline constexpr int IDC_UPGRADE = 32770;
inline constexpr int IDC_VIEW_TARGET_INFO = 32772;
inline constexpr int IDC_VIEW_FILE_INFO = 32773;
inline constexpr int IDC_DEVICE_FOR_UPGRADE = 1013;
inline constexpr int IDC_FILE_FOR_UPGRADE = 1014;

// Upgrade Process.
inline constexpr int IDC_CLOSE_PROGRESS = 1001;
inline constexpr int IDC_PROGRESS_BAR = 1002;
inline constexpr int IDC_STATUS_TEXT = 1004;
inline constexpr int IDC_PERCENT_TEXT = 1005;

// File and Device Information: the boxes.
inline constexpr int IDC_PRODUCT_ID = 1015;
inline constexpr int IDC_PRODUCT_MASK = 1017;
inline constexpr int IDC_PROTOCOL_ID = 1018;
inline constexpr int IDC_PROTOCOL_MASK = 1019;
inline constexpr int IDC_FUNCTION_ID = 1020;
inline constexpr int IDC_FUNCTION_MASK = 1021;
inline constexpr int IDC_CODE_SEGMENT = 1022;
inline constexpr int IDC_CODE_SIZE = 1023;
inline constexpr int IDC_FW_VERSION = 1024;
inline constexpr int IDC_PID_VERSION = 1029;
inline constexpr int IDC_UPGRADE_CONTROL = 1030;
inline constexpr int IDC_HW_VERSION = 1031;
inline constexpr int IDC_BOARD_CODE = 1032;
inline constexpr int IDC_FILE_NAME = 1033;
inline constexpr int IDC_DEVICE_NAME = 1042;

// Browse and adapter selection.
inline constexpr int IDC_NAME_LIST = 1046;
inline constexpr int IDC_NAME_EDIT = 1048;

}  // namespace tarvik::res
