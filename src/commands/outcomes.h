#pragma once
// Every way a command can end, one table per set of codes. A row holds the code, the system's
// own text (empty when that ending shows none) and tarvik-cli's exit status, with a few words
// for --help and the README. The flows show the texts, the desktop program shows them in its
// message boxes, the command line also exits with the statuses, and its --help and the README
// list them: a new ending is a new row.

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "netio/adapter_discovery.h"

namespace tarvik {

// The caption of every message box.
inline constexpr std::string_view APPLICATION_TITLE = "Tarvik";

struct OutcomeRow {
    int Code;
    std::string_view Text;     // the system's own text; empty when none is shown
    int ExitStatus;            // tarvik-cli's
    std::string_view Meaning;  // what the ending means, for --help and the README
};

// How the Upgrade command (and its check on its own) ended.
enum class UpgradeOutcome {
    Finished,  // "Upgrade Finish" in the progress display, no message
    FileNotSelected,
    FileFormatError,
    CommunicationFail,
    HardwareMismatch,
    FileNotFound,
    RequestTargetError,
    ProcessError,
    SendFailed,  // a resend failed to go out: "Upgrade Process Error !" as well
    Other,       // a result the flow has no message for: ends without a message
};

inline constexpr std::array<OutcomeRow, 10> UPGRADE_OUTCOMES = {{
    {static_cast<int>(UpgradeOutcome::Finished), "", 0,
     "success; an upgrade ended with \"Upgrade Finish\""},
    {static_cast<int>(UpgradeOutcome::FileNotSelected), "File Not Selected !", 10, ""},
    {static_cast<int>(UpgradeOutcome::FileFormatError), "File Format Error !", 11,
     "no readable information block in the image"},
    {static_cast<int>(UpgradeOutcome::CommunicationFail), "Communication Fail", 12,
     "the device did not answer the check's query"},
    {static_cast<int>(UpgradeOutcome::HardwareMismatch), "Hardware Type Mismatch !", 13, ""},
    {static_cast<int>(UpgradeOutcome::FileNotFound), "File Not Found !", 14,
     "the image could not be opened for the transfer"},
    {static_cast<int>(UpgradeOutcome::RequestTargetError), "Request Target Error !", 15,
     "the begin request did not go out"},
    {static_cast<int>(UpgradeOutcome::ProcessError), "Upgrade Process Error !", 16,
     "the device refused a step or stopped answering"},
    {static_cast<int>(UpgradeOutcome::SendFailed), "Upgrade Process Error !", 17,
     "a frame of the transfer could not be sent again"},
    {static_cast<int>(UpgradeOutcome::Other), "", 18,
     "the upgrade ended for a reason that has no message"},
}};

// How the other flows failed: Show file information, Show device information, Browse, and the
// command line's look for a named device among those that answer discovery.
enum class InquiryOutcome {
    FileAccessError,
    AccessTargetError,
    BroadcastError,
    TargetNotFound,
};

inline constexpr std::array<OutcomeRow, 4> INQUIRY_OUTCOMES = {{
    {static_cast<int>(InquiryOutcome::FileAccessError), "File Access Error !", 20,
     "info: the image could not be read"},
    {static_cast<int>(InquiryOutcome::AccessTargetError), "Access Target Error!", 21,
     "device: the device did not answer"},
    {static_cast<int>(InquiryOutcome::BroadcastError), "Broadcast Error !", 22, "browsing failed"},
    {static_cast<int>(InquiryOutcome::TargetNotFound), "", 23,
     "--frame-type auto: the named device did not answer discovery"},
}};

// How the start-up sequence ended. 1 to 5 are the adapter discovery's own results.
inline constexpr int STARTUP_READY = 0;  // the adapter is open and receiving
// Neither family: "Operation System Not Support ! " has been shown; the desktop program runs
// on without an adapter.
inline constexpr int STARTUP_WITHOUT_ADAPTER = 6;
// Only when an adapter was named: no listed adapter has that name. No message is shown; the
// list is left for the front end to offer.
inline constexpr int STARTUP_UNKNOWN_ADAPTER = 7;
// As STARTUP_WITHOUT_ADAPTER, when the family could not be told because the version query
// failed ("Get OSVersionInfo Fail" was shown first). The sequence itself reports
// STARTUP_WITHOUT_ADAPTER; the run environment tells the two apart for the command line.
inline constexpr int STARTUP_NO_OS_VERSION = 8;
// The adapter opened, but the program could not give up its capabilities after the open; it
// stops rather than read the wire with them.
inline constexpr int STARTUP_CAPABILITIES_KEPT = 9;

inline constexpr std::array<OutcomeRow, 10> STARTUP_OUTCOMES = {{
    {STARTUP_READY, "", 0, "the adapter is open"},
    {DISCOVERY_NO_ADAPTER, "No LAN Card Detected !", 30, ""},
    {DISCOVERY_OPEN_ADAPTER_FAILED, "Open Adapter Fail !", 31, ""},
    {DISCOVERY_OPEN_REGISTRY_FAILED, "Open Registry Fail !", 32, ""},
    {DISCOVERY_OPEN_EVENT_FAILED, "Open Event Fail !", 33, ""},
    {DISCOVERY_START_RECEPTION_FAILED, "Start Reception Fail !", 34, ""},
    {STARTUP_WITHOUT_ADAPTER, "Operation System Not Support ! ", 35, ""},
    {STARTUP_UNKNOWN_ADAPTER, "", 37, "-i names no adapter in the list"},
    {STARTUP_NO_OS_VERSION, "Get OSVersionInfo Fail", 36, ""},
    {STARTUP_CAPABILITIES_KEPT, "Drop Capabilities Fail !", 38,
     "the capabilities could not be given up after the open"},
}};

// What the command line says of a run that Ctrl-C or SIGTERM stopped: on stderr, in its JSON
// error and as the result of its record.
inline constexpr std::string_view TEXT_INTERRUPTED = "interrupted";

// The command line's own endings, which no flow reports.
enum class ProgramOutcome {
    Success,
    Usage,
    Interrupted,
    SomeDevicesFailed,
};

inline constexpr std::array<OutcomeRow, 4> PROGRAM_OUTCOMES = {{
    {static_cast<int>(ProgramOutcome::Success), "", 0,
     "success; an upgrade ended with \"Upgrade Finish\""},
    {static_cast<int>(ProgramOutcome::Usage), "", 2, "the command line could not be understood"},
    {static_cast<int>(ProgramOutcome::Interrupted), "", 130,
     "interrupted by Ctrl-C or SIGTERM; the image and the adapter were closed"},
    {static_cast<int>(ProgramOutcome::SomeDevicesFailed), "", 19,
     "upgrade of several devices: some did not end with \"Upgrade Finish\" (each one's own "
     "status is in the summary), or --all found no device that fits"},
}};

// The row of a code; the table's last row stands in for a code it does not hold.
constexpr const OutcomeRow& RowOf(std::span<const OutcomeRow> table, int code)
{
    for (const OutcomeRow& row : table) {
        if (row.Code == code) {
            return row;
        }
    }
    return table.back();
}

constexpr const OutcomeRow& RowOf(UpgradeOutcome outcome)
{
    return RowOf(UPGRADE_OUTCOMES, static_cast<int>(outcome));
}
constexpr const OutcomeRow& RowOf(InquiryOutcome outcome)
{
    return RowOf(INQUIRY_OUTCOMES, static_cast<int>(outcome));
}
constexpr const OutcomeRow& RowOf(ProgramOutcome outcome)
{
    return RowOf(PROGRAM_OUTCOMES, static_cast<int>(outcome));
}
// Null for a code that is no start-up result.
constexpr const OutcomeRow* StartupRow(int result)
{
    for (const OutcomeRow& row : STARTUP_OUTCOMES) {
        if (row.Code == result) {
            return &row;
        }
    }
    return nullptr;
}

// The texts by name, read from the rows, for the flows and the tests.
inline constexpr std::string_view MSG_FILE_NOT_SELECTED =
    RowOf(UpgradeOutcome::FileNotSelected).Text;
inline constexpr std::string_view MSG_FILE_FORMAT_ERROR =
    RowOf(UpgradeOutcome::FileFormatError).Text;
inline constexpr std::string_view MSG_COMMUNICATION_FAIL =
    RowOf(UpgradeOutcome::CommunicationFail).Text;
inline constexpr std::string_view MSG_HARDWARE_MISMATCH =
    RowOf(UpgradeOutcome::HardwareMismatch).Text;
inline constexpr std::string_view MSG_FILE_NOT_FOUND = RowOf(UpgradeOutcome::FileNotFound).Text;
inline constexpr std::string_view MSG_REQUEST_TARGET_ERROR =
    RowOf(UpgradeOutcome::RequestTargetError).Text;
inline constexpr std::string_view MSG_UPGRADE_PROCESS_ERROR =
    RowOf(UpgradeOutcome::ProcessError).Text;
inline constexpr std::string_view MSG_FILE_ACCESS_ERROR =
    RowOf(InquiryOutcome::FileAccessError).Text;
inline constexpr std::string_view MSG_ACCESS_TARGET_ERROR =
    RowOf(InquiryOutcome::AccessTargetError).Text;
inline constexpr std::string_view MSG_BROADCAST_ERROR = RowOf(InquiryOutcome::BroadcastError).Text;
inline constexpr std::string_view MSG_NO_LAN_CARD = StartupRow(DISCOVERY_NO_ADAPTER)->Text;
inline constexpr std::string_view MSG_OPEN_ADAPTER_FAIL =
    StartupRow(DISCOVERY_OPEN_ADAPTER_FAILED)->Text;
inline constexpr std::string_view MSG_OPEN_REGISTRY_FAIL =
    StartupRow(DISCOVERY_OPEN_REGISTRY_FAILED)->Text;
inline constexpr std::string_view MSG_OPEN_EVENT_FAIL =
    StartupRow(DISCOVERY_OPEN_EVENT_FAILED)->Text;
inline constexpr std::string_view MSG_START_RECEPTION_FAIL =
    StartupRow(DISCOVERY_START_RECEPTION_FAILED)->Text;
inline constexpr std::string_view MSG_OS_NOT_SUPPORTED = StartupRow(STARTUP_WITHOUT_ADAPTER)->Text;
inline constexpr std::string_view MSG_GET_VERSION_FAIL = StartupRow(STARTUP_NO_OS_VERSION)->Text;
inline constexpr std::string_view MSG_CAPABILITIES_KEPT =
    StartupRow(STARTUP_CAPABILITIES_KEPT)->Text;

// Every exit status of the command line once, in ascending order, with its text and meaning:
// the rows of all four tables but the flows' own successes (the program's row says it).
std::vector<OutcomeRow> ExitStatusRows();

// One line of the exit-status list: "\"Text\" (Meaning)", "\"Text\"" or "Meaning".
std::string DescribeOutcome(const OutcomeRow& row);

// The README's exit-status table in Markdown, from ExitStatusRows.
std::string ExitStatusMarkdown();

}  // namespace tarvik
