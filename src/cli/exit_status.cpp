#include "cli/exit_status.h"

#include <array>

namespace tarvik::cli {
namespace {

constexpr std::array<ExitStatusEntry, 24> TABLE = {{
    {EXIT_SUCCESS_STATUS, "success (an upgrade ended with \"Upgrade Finish\")"},
    {EXIT_USAGE, "the command line could not be understood"},
    {EXIT_FILE_NOT_SELECTED, "\"File Not Selected !\": no image path"},
    {EXIT_FILE_FORMAT_ERROR, "\"File Format Error !\": the image has no readable descriptor"},
    {EXIT_COMMUNICATION_FAIL, "\"Communication Fail\": the device did not answer the query"},
    {EXIT_HARDWARE_MISMATCH, "\"Hardware Type Mismatch !\": board codes differ"},
    {EXIT_FILE_NOT_FOUND, "\"File Not Found !\": the image could not be opened for the transfer"},
    {EXIT_REQUEST_TARGET_ERROR, "\"Request Target Error !\": the begin request did not go out"},
    {EXIT_PROCESS_ERROR, "\"Upgrade Process Error !\": the device refused or stopped answering"},
    {EXIT_SEND_FAILED, "a resend during the transfer did not go out (no message)"},
    {EXIT_UPGRADE_OTHER, "the upgrade ended for a reason that has no message"},
    {EXIT_FILE_ACCESS_ERROR, "\"File Access Error !\": info could not read the image"},
    {EXIT_ACCESS_TARGET_ERROR, "\"Access Target Error!\": device did not answer"},
    {EXIT_BROADCAST_ERROR, "\"Broadcast Error !\": discovery failed"},
    {EXIT_TARGET_NOT_FOUND, "--frame-type auto: the named device did not answer discovery"},
    {EXIT_NO_LAN_CARD, "\"No LAN Card Detected !\""},
    {EXIT_OPEN_ADAPTER_FAIL, "\"Open Adapter Fail !\""},
    {EXIT_OPEN_REGISTRY_FAIL, "\"Open Registry Fail !\""},
    {EXIT_OPEN_EVENT_FAIL, "\"Open Event Fail !\""},
    {EXIT_START_RECEPTION_FAIL, "\"Start Reception Fail !\""},
    {EXIT_OS_NOT_SUPPORTED, "\"Operation System Not Support ! \""},
    {EXIT_GET_VERSION_FAIL, "\"Get OSVersionInfo Fail\""},
    {EXIT_UNKNOWN_ADAPTER, "-i names no adapter in the list"},
    {EXIT_INTERRUPTED, "interrupted (Ctrl-C or SIGTERM); the adapter was closed"},
}};

}  // namespace

std::span<const ExitStatusEntry> ExitStatusTable()
{
    return TABLE;
}

int ExitStatusFor(UpgradeOutcome outcome)
{
    switch (outcome) {
    case UpgradeOutcome::Finished:
        return EXIT_SUCCESS_STATUS;
    case UpgradeOutcome::FileNotSelected:
        return EXIT_FILE_NOT_SELECTED;
    case UpgradeOutcome::FileFormatError:
        return EXIT_FILE_FORMAT_ERROR;
    case UpgradeOutcome::CommunicationFail:
        return EXIT_COMMUNICATION_FAIL;
    case UpgradeOutcome::HardwareMismatch:
        return EXIT_HARDWARE_MISMATCH;
    case UpgradeOutcome::FileNotFound:
        return EXIT_FILE_NOT_FOUND;
    case UpgradeOutcome::RequestTargetError:
        return EXIT_REQUEST_TARGET_ERROR;
    case UpgradeOutcome::ProcessError:
        return EXIT_PROCESS_ERROR;
    case UpgradeOutcome::SendFailed:
        return EXIT_SEND_FAILED;
    case UpgradeOutcome::Other:
        return EXIT_UPGRADE_OTHER;
    }
    return EXIT_UPGRADE_OTHER;
}

}  // namespace tarvik::cli
