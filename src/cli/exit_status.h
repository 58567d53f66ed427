#pragma once
// The exit statuses of tarvik-cli: 0 only on success, one status per way a command can fail,
// so that a script can tell a board-code mismatch from a silent device.

#include <span>
#include <string_view>

#include "commands/commands.h"

namespace tarvik::cli {

inline constexpr int EXIT_SUCCESS_STATUS = 0;
inline constexpr int EXIT_USAGE = 2;

inline constexpr int EXIT_FILE_NOT_SELECTED = 10;
inline constexpr int EXIT_FILE_FORMAT_ERROR = 11;
inline constexpr int EXIT_COMMUNICATION_FAIL = 12;
inline constexpr int EXIT_HARDWARE_MISMATCH = 13;
inline constexpr int EXIT_FILE_NOT_FOUND = 14;
inline constexpr int EXIT_REQUEST_TARGET_ERROR = 15;
inline constexpr int EXIT_PROCESS_ERROR = 16;
inline constexpr int EXIT_SEND_FAILED = 17;
inline constexpr int EXIT_UPGRADE_OTHER = 18;

inline constexpr int EXIT_FILE_ACCESS_ERROR = 20;
inline constexpr int EXIT_ACCESS_TARGET_ERROR = 21;
inline constexpr int EXIT_BROADCAST_ERROR = 22;
inline constexpr int EXIT_TARGET_NOT_FOUND = 23;

inline constexpr int EXIT_NO_LAN_CARD = 30;
inline constexpr int EXIT_OPEN_ADAPTER_FAIL = 31;
inline constexpr int EXIT_OPEN_REGISTRY_FAIL = 32;
inline constexpr int EXIT_OPEN_EVENT_FAIL = 33;
inline constexpr int EXIT_START_RECEPTION_FAIL = 34;
inline constexpr int EXIT_OS_NOT_SUPPORTED = 35;
inline constexpr int EXIT_GET_VERSION_FAIL = 36;
inline constexpr int EXIT_UNKNOWN_ADAPTER = 37;

inline constexpr int EXIT_INTERRUPTED = 130;

struct ExitStatusEntry {
    int Status;
    std::string_view Meaning;
};

// Every status with what it means, for --help and the README.
std::span<const ExitStatusEntry> ExitStatusTable();

int ExitStatusFor(UpgradeOutcome outcome);

}  // namespace tarvik::cli
