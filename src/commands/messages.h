#pragma once
// Every fixed text the program shows, in one table read by the desktop window, the command
// line and the tests.

#include <string_view>

namespace tarvik {

inline constexpr std::string_view MSG_FILE_NOT_SELECTED = "File Not Selected !";
inline constexpr std::string_view MSG_FILE_FORMAT_ERROR = "File Format Error !";
inline constexpr std::string_view MSG_COMMUNICATION_FAIL = "Communication Fail";
inline constexpr std::string_view MSG_HARDWARE_MISMATCH = "Hardware Type Mismatch !";
inline constexpr std::string_view MSG_FILE_NOT_FOUND = "File Not Found !";
inline constexpr std::string_view MSG_REQUEST_TARGET_ERROR = "Request Target Error !";
inline constexpr std::string_view MSG_UPGRADE_PROCESS_ERROR = "Upgrade Process Error !";
inline constexpr std::string_view MSG_FILE_ACCESS_ERROR = "File Access Error !";
inline constexpr std::string_view MSG_ACCESS_TARGET_ERROR = "Access Target Error!";
inline constexpr std::string_view MSG_BROADCAST_ERROR = "Broadcast Error !";

inline constexpr std::string_view MSG_NO_LAN_CARD = "No LAN Card Detected !";
inline constexpr std::string_view MSG_OPEN_ADAPTER_FAIL = "Open Adapter Fail !";
inline constexpr std::string_view MSG_OPEN_REGISTRY_FAIL = "Open Registry Fail !";
inline constexpr std::string_view MSG_OPEN_EVENT_FAIL = "Open Event Fail !";
inline constexpr std::string_view MSG_START_RECEPTION_FAIL = "Start Reception Fail !";
inline constexpr std::string_view MSG_OS_NOT_SUPPORTED = "Operation System Not Support ! ";
inline constexpr std::string_view MSG_GET_VERSION_FAIL = "Get OSVersionInfo Fail";

inline constexpr std::string_view APPLICATION_TITLE = "Tarvik";

}  // namespace tarvik
