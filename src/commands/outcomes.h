#pragma once
// Every way a command can end, one table per set of codes. A row holds the code, the system's
// own text (empty when that ending shows none) and tarvik-cli's exit status, with a few words
// for --help and the README, and the causes and remedy that `explain` gives. The flows show the
// texts, the desktop program shows them in its message boxes, the command line also exits with the
// statuses (and so does the desktop program after a start-up that ends it), and --help and the
// README list them: a new ending is a new row.

#include <array>
#include <cstddef>
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
    int ExitStatus;            // tarvik-cli's; a start-up row's is the desktop program's too
    std::string_view Meaning;  // what the ending means, for --help and the README
    // What has been behind this ending on a real bench, and what to try (and what to send with
    // a report), for `tarvik-cli explain` and the README. Most reports of a silent device are
    // not faults of the loader but of the machine around it, so these name those first. Empty
    // only in a row whose exit status another row explains (a flow's success: the program's).
    std::string_view Causes;
    std::string_view Remedy;
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
    // The image's signature, checked before anything is sent once a trusted key is installed
    // or given, and what its signed list allows the device.
    SignatureNotFound,
    SignatureFormatError,
    UntrustedSignature,
    RevokedKey,
    SignatureMismatch,
    BoardNotSigned,
    RollbackRefused,
};

inline constexpr std::array<OutcomeRow, 17> UPGRADE_OUTCOMES = {{
    {static_cast<int>(UpgradeOutcome::Finished), "", 0,
     "success; an upgrade ended with \"Upgrade Finish\"", "", ""},
    {static_cast<int>(UpgradeOutcome::FileNotSelected), "File Not Selected !", 10, "",
     "upgrade or check was given no image file (an empty name)",
     "name the image file after the command"},
    {static_cast<int>(UpgradeOutcome::FileFormatError), "File Format Error !", 11,
     "no readable information block in the image",
     "the file is no image for these devices: another vendor's format, a file cut short, or "
     "an archive not yet unpacked",
     "check it with `tarvik-cli info FILE`; fetch the image again and compare its size"},
    {static_cast<int>(UpgradeOutcome::CommunicationFail), "Communication Fail", 12,
     "the device did not answer the check's query",
     "no device answered the check's query: wrong adapter, device off or not in its loader "
     "mode, cable or switch, Wi-Fi, the other frame type, a bridge's spanning tree",
     "confirm with `tarvik-cli -i IFNAME browse`, try `--frame-type auto`, connect the device "
     "directly by cable; send `--trace FILE` with a report"},
    {static_cast<int>(UpgradeOutcome::HardwareMismatch), "Hardware Type Mismatch !", 13, "",
     "the image is for another board: its board code differs from the device's",
     "compare `tarvik-cli info FILE` with `tarvik-cli device NAME` and take the image for that "
     "board"},
    {static_cast<int>(UpgradeOutcome::FileNotFound), "File Not Found !", 14,
     "the image could not be opened for the transfer",
     "the image went away or lost its read permission between the check and the transfer",
     "keep the file where it is, readable by the user running the loader, and run again"},
    {static_cast<int>(UpgradeOutcome::RequestTargetError), "Request Target Error !", 15,
     "the begin request did not go out",
     "the begin request could not be sent: the interface went down or a network manager "
     "reconfigured it under the loader",
     "keep the interface up and unmanaged for the run (`nmcli device set IFNAME managed no`), "
     "then run again"},
    {static_cast<int>(UpgradeOutcome::ProcessError), "Upgrade Process Error !", 16,
     "the device refused a step or stopped answering, or the image file could not be read to its "
     "end",
     "the device refused a step or stopped answering mid-transfer (power, cable, a network "
     "manager or spanning tree taking the port), or the image file was cut short",
     "power-cycle the device into its loader mode and run again; leave `--pace` at 20; send "
     "`--trace FILE` with a report"},
    {static_cast<int>(UpgradeOutcome::SendFailed), "Upgrade Process Error !", 17,
     "a frame of the transfer could not be sent again",
     "a resend could not go out: the interface went down or lost its carrier mid-transfer",
     "check cable and link lights, keep network managers off the interface, run again"},
    {static_cast<int>(UpgradeOutcome::Other), "", 18,
     "the upgrade ended for a reason that has no message",
     "the upgrade ended for a reason the loader has no message for",
     "run again with `-v --trace FILE` and send both with a report"},
    {static_cast<int>(UpgradeOutcome::SignatureNotFound), "Signature Not Found !", 40,
     "a trusted key is installed or given, and the image has no signature",
     "the image came without its .minisig file (left behind when it was copied), or it is a "
     "build that was never released",
     "put IMAGE.minisig beside the image or name it with `--signature FILE`; take images "
     "from your firmware team's release only"},
    {static_cast<int>(UpgradeOutcome::SignatureFormatError), "Signature Format Error !", 41,
     "the signature file or its signed list cannot be read",
     "the .minisig file is cut short, garbled (an editor, a mail program or a line-end "
     "conversion changed it), a legacy signature over the whole file, or its signed list has "
     "a word it cannot read",
     "fetch the signature again with the image; sign with a current minisign or "
     "`tarvik-mkimage sign`; check the list's syntax in the README"},
    {static_cast<int>(UpgradeOutcome::UntrustedSignature), "Untrusted Signature !", 42,
     "the image is signed by a key that is not trusted here",
     "the image was signed by a key this machine does not trust: a developer's key, another "
     "team's, or a new release key not yet installed",
     "install the release key in the trusted-keys folder or give it with `--key FILE`; "
     "`tarvik-cli info FILE` shows the signer's key id"},
    {static_cast<int>(UpgradeOutcome::RevokedKey), "Revoked Signing Key !", 43,
     "the image is signed by a revoked key",
     "the key that signed the image is listed in a trusted-keys folder's revoked file: it was "
     "lost, leaked or retired",
     "ask the firmware team for the image signed with the current key"},
    {static_cast<int>(UpgradeOutcome::SignatureMismatch), "Signature Mismatch !", 44,
     "the signature does not match the image or its signed list",
     "the image or the signature's trusted comment was changed after signing, or the "
     "signature belongs to another file",
     "fetch image and signature again from the release; never edit either"},
    {static_cast<int>(UpgradeOutcome::BoardNotSigned), "Board Not In Signed List !", 45,
     "the device's board is not among those the signature lists",
     "the image was released for other boards than this device's, even if its own board "
     "code would fit",
     "compare `tarvik-cli info FILE` (the signed list) with `tarvik-cli device NAME`; take "
     "the release made for this board"},
    {static_cast<int>(UpgradeOutcome::RollbackRefused), "Rollback Not Allowed !", 46,
     "the device runs newer firmware than the image, and the signature allows no rollback",
     "the device's firmware version is newer than the signed version of the image and its "
     "signature says rollback=no",
     "flash the current release; a rollback needs an image signed with rollback=yes"},
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
     "info: the image could not be read", "the image file is missing, unreadable or empty",
     "check the path and its permissions (`ls -l FILE`)"},
    {static_cast<int>(InquiryOutcome::AccessTargetError), "Access Target Error!", 21,
     "device: the device did not answer",
     "the named device did not answer: wrong name or adapter, device off or not in its "
     "loader mode, the other frame type, cable, switch or Wi-Fi",
     "find its name with `tarvik-cli -i IFNAME browse`; try `--frame-type typed`; send "
     "`--trace FILE` with a report"},
    {static_cast<int>(InquiryOutcome::BroadcastError), "Broadcast Error !", 22, "browsing failed",
     "the discovery query could not be sent: interface down, no carrier, or a network "
     "manager taking it over",
     "bring the interface up with a cable in (`ip link set IFNAME up`) and run again"},
    {static_cast<int>(InquiryOutcome::TargetNotFound), "", 23,
     "--frame-type auto: the named device did not answer discovery",
     "with --frame-type auto the named device answered discovery in neither frame type",
     "check its name with `browse`; power-cycle it into its loader mode; send `--trace FILE` "
     "with a report"},
}};

// How the start-up sequence ended. DISCOVERY_* are the adapter discovery's own results.
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

// Where a start-up result comes from: adapter discovery, whose text the start-up sequence
// shows once discovery has ended, or another step, which showed its own text (if any).
enum class StartupSource { Discovery, OtherStep };
// Whether the desktop program goes on to its window after a start-up result (without an
// adapter, but for STARTUP_READY). The command line needs the adapter and ends after any
// result but STARTUP_READY.
enum class AfterStartup { RunsOn, Ends };

// A start-up result's row. Both front ends end with its exit status when the result ends them.
struct StartupOutcomeRow : OutcomeRow {
    StartupSource Source;
    AfterStartup After;
};

inline constexpr StartupSource BY_DISCOVERY = StartupSource::Discovery;
inline constexpr StartupSource BY_STEP = StartupSource::OtherStep;
inline constexpr AfterStartup PROGRAM_RUNS_ON = AfterStartup::RunsOn;
inline constexpr AfterStartup PROGRAM_ENDS = AfterStartup::Ends;

inline constexpr std::array<StartupOutcomeRow, 10> STARTUP_OUTCOMES = {{
    {{STARTUP_READY, "", 0, "the adapter is open", "", ""}, BY_STEP, PROGRAM_RUNS_ON},
    {{DISCOVERY_NO_ADAPTER, "No LAN Card Detected !", 30, "",
      "no usable wired adapter: none listed, all down, or only loopback, Wi-Fi or virtual "
      "ones",
      "plug in a wired adapter and bring it up; `tarvik-cli adapters` lists what is seen"},
     BY_DISCOVERY,
     PROGRAM_ENDS},
    {{DISCOVERY_OPEN_ADAPTER_FAILED, "Open Adapter Fail !", 31, "",
      "opening the raw socket failed: no privilege (neither root nor cap_net_raw nor the "
      "tarvik group), or the adapter vanished",
      "`sudo setcap cap_net_raw+ep` on the binary or join the tarvik group (log in again), or run "
      "as root"},
     BY_DISCOVERY,
     PROGRAM_ENDS},
    {{DISCOVERY_OPEN_REGISTRY_FAILED, "Open Registry Fail !", 32, "",
      "the adapter's entry could not be read: a USB adapter unplugged or renamed while "
      "listing",
      "replug the adapter, wait for its name to settle, run again"},
     BY_DISCOVERY,
     PROGRAM_ENDS},
    {{DISCOVERY_OPEN_EVENT_FAILED, "Open Event Fail !", 33, "",
      "the receive queue could not be set up: the process ran out of file descriptors or "
      "memory",
      "close other programs holding raw sockets, raise `ulimit -n`, run again"},
     BY_DISCOVERY,
     PROGRAM_ENDS},
    {{DISCOVERY_START_RECEPTION_FAILED, "Start Reception Fail !", 34, "",
      "reception could not start: the socket filter was refused or the interface went down "
      "while opening",
      "check `dmesg`, keep the interface up and unmanaged, run again with `-v`"},
     BY_DISCOVERY,
     PROGRAM_ENDS},
    {{STARTUP_WITHOUT_ADAPTER, "Operation System Not Support ! ", 35, "",
      "the system is neither family the adapter discovery knows",
      "run on a supported Linux or Windows system"},
     BY_STEP,
     PROGRAM_RUNS_ON},
    {{STARTUP_UNKNOWN_ADAPTER, "", 37, "-i names no adapter in the list",
      "`-i` names no adapter in the list: a typo, a renamed interface (eth0 vs enp3s0), or "
      "one inside another network namespace",
      "pick a name from `tarvik-cli adapters` (also printed with the error)"},
     BY_STEP,
     PROGRAM_ENDS},
    {{STARTUP_NO_OS_VERSION, "Get OSVersionInfo Fail", 36, "",
      "the system's version query failed, so its family could not be told",
      "report it with the system's name and version"},
     BY_STEP,
     PROGRAM_RUNS_ON},
    {{STARTUP_CAPABILITIES_KEPT, "Drop Capabilities Fail !", 38,
      "the capabilities could not be given up after the open",
      "the capabilities could not be given up after the open, so the loader stopped rather "
      "than read the wire with them",
      "report it with the output of `getpcaps $$` and the kernel version"},
     BY_STEP,
     PROGRAM_ENDS},
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
    DoctorFoundFault,
    HistoryPushIncomplete,
};

inline constexpr std::array<OutcomeRow, 6> PROGRAM_OUTCOMES = {{
    {static_cast<int>(ProgramOutcome::Success), "", 0,
     "success; an upgrade ended with \"Upgrade Finish\"", "nothing went wrong", "nothing to do"},
    {static_cast<int>(ProgramOutcome::Usage), "", 2, "the command line could not be understood",
     "a misspelt command or option, an option before its command, a device name that is not "
     "what browse prints, a trace file that cannot be written",
     "read the line printed above the status; `tarvik-cli --help` lists every command"},
    {static_cast<int>(ProgramOutcome::Interrupted), "", 130,
     "interrupted by Ctrl-C or SIGTERM; the image and the adapter were closed",
     "Ctrl-C or SIGTERM; the image and the adapter were closed",
     "a device stopped mid-write keeps its loader mode: run the upgrade again"},
    {static_cast<int>(ProgramOutcome::SomeDevicesFailed), "", 19,
     "upgrade of several devices: some did not end with \"Upgrade Finish\" (each one's own "
     "status is in the summary), or --all found no device that fits",
     "of several devices some failed, each with its own status in the summary, or --all "
     "found no device whose board code fits the image",
     "run `tarvik-cli explain` on each device's status; check the image's board code with "
     "`info`"},
    {static_cast<int>(ProgramOutcome::DoctorFoundFault), "", 24,
     "doctor: a check failed (its line says what to do)",
     "doctor found something that keeps frames from the devices: an interface missing, down "
     "or without carrier, not Ethernet, an MTU too small for a block, a bridge port that "
     "drops frames, no raw network access, or a socket that would not open",
     "do what the failing line says after `->`, then run `tarvik-cli doctor` again"},
    {static_cast<int>(ProgramOutcome::HistoryPushIncomplete), "", 25,
     "history push: records remain queued (the server could not be reached, refused them or "
     "went away); they go with the next push",
     "the PostgreSQL server was down or unreachable, refused the login (no password in "
     "~/.pgpass, no such role or database, pg_hba.conf), or the connection broke mid-push",
     "check the URL with `psql URL`, put the password in ~/.pgpass, then push again: nothing "
     "queued is lost and nothing is stored twice"},
}};

// The row of a code; null when the table has none, which the caller must answer for itself.
template <typename Row, std::size_t N>
constexpr const Row* FindRow(const std::array<Row, N>& table, int code)
{
    for (const Row& row : table) {
        if (row.Code == code) {
            return &row;
        }
    }
    return nullptr;
}

// Whether each row stands at the index of its code and the last at the last enumerator's, so
// that every enumerator of a set of codes has its row.
template <typename Outcome, std::size_t N>
constexpr bool RowsStandAtTheirCodes(const std::array<OutcomeRow, N>& table, Outcome last)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (table[i].Code != static_cast<int>(i)) {
            return false;
        }
    }
    return N == static_cast<std::size_t>(last) + 1;
}
// Whether a row has its causes and remedy exactly when it explains its exit status: every row
// but a flow's success, which the program's own success row explains.
template <typename Row, std::size_t N>
constexpr bool EveryEndingExplained(const std::array<Row, N>& table, bool explainsSuccess)
{
    for (const Row& row : table) {
        const bool explains = row.ExitStatus != 0 || explainsSuccess;
        if (explains != (!row.Causes.empty() && !row.Remedy.empty())) {
            return false;
        }
    }
    return true;
}
static_assert(EveryEndingExplained(UPGRADE_OUTCOMES, false));
static_assert(EveryEndingExplained(INQUIRY_OUTCOMES, false));
static_assert(EveryEndingExplained(STARTUP_OUTCOMES, false));
static_assert(EveryEndingExplained(PROGRAM_OUTCOMES, true));

static_assert(RowsStandAtTheirCodes(UPGRADE_OUTCOMES, UpgradeOutcome::RollbackRefused));
static_assert(RowsStandAtTheirCodes(INQUIRY_OUTCOMES, InquiryOutcome::TargetNotFound));
static_assert(RowsStandAtTheirCodes(PROGRAM_OUTCOMES, ProgramOutcome::HistoryPushIncomplete));

// The row of an ending, which every enumerator has (the assertions above).
constexpr const OutcomeRow& RowOf(UpgradeOutcome outcome)
{
    return UPGRADE_OUTCOMES[static_cast<std::size_t>(outcome)];
}
constexpr const OutcomeRow& RowOf(InquiryOutcome outcome)
{
    return INQUIRY_OUTCOMES[static_cast<std::size_t>(outcome)];
}
constexpr const OutcomeRow& RowOf(ProgramOutcome outcome)
{
    return PROGRAM_OUTCOMES[static_cast<std::size_t>(outcome)];
}
// Null for a code that is no start-up result.
constexpr const StartupOutcomeRow* StartupRow(int result)
{
    return FindRow(STARTUP_OUTCOMES, result);
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
