#pragma once
// What each exit status and message usually means on a real bench, and what to do about it:
// one row per exit status, beside the outcome tables and keyed by the same statuses. Most
// reports of a silent device are not faults of the loader but of the machine around it, so the
// rows name those first. `tarvik-cli explain` and the README print these rows.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "commands/outcomes.h"

namespace tarvik {

struct FailureEntry {
    int ExitStatus;
    std::string_view Causes;  // what has been behind this ending in practice
    std::string_view Remedy;  // what to try, and what to send with a report
};

inline constexpr std::array<FailureEntry, 28> FAILURE_CATALOGUE = {{
    {0, "nothing went wrong", "nothing to do"},
    {2,
     "a misspelt command or option, an option before its command, a device name that is not "
     "what browse prints, a trace file that cannot be written",
     "read the line printed above the status; `tarvik-cli --help` lists every command"},
    {10, "upgrade or check was given no image file (an empty name)",
     "name the image file after the command"},
    {11,
     "the file is no image for these devices: another vendor's format, a file cut short, or "
     "an archive not yet unpacked",
     "check it with `tarvik-cli info FILE`; fetch the image again and compare its size"},
    {12,
     "no device answered the check's query: wrong adapter, device off or not in its loader "
     "mode, cable or switch, Wi-Fi, the other frame type, a bridge's spanning tree",
     "confirm with `tarvik-cli -i IFNAME browse`, try `--frame-type auto`, connect the device "
     "directly by cable; send `--trace FILE` with a report"},
    {13, "the image is for another board: its board code differs from the device's",
     "compare `tarvik-cli info FILE` with `tarvik-cli device NAME` and take the image for that "
     "board"},
    {14, "the image went away or lost its read permission between the check and the transfer",
     "keep the file where it is, readable by the user running the loader, and run again"},
    {15,
     "the begin request could not be sent: the interface went down or a network manager "
     "reconfigured it under the loader",
     "keep the interface up and unmanaged for the run (`nmcli device set IFNAME managed no`), "
     "then run again"},
    {16,
     "the device refused a step or stopped answering mid-transfer (power, cable, a network "
     "manager or spanning tree taking the port), or the image file was cut short",
     "power-cycle the device into its loader mode and run again; leave `--pace` at 20; send "
     "`--trace FILE` with a report"},
    {17, "a resend could not go out: the interface went down or lost its carrier mid-transfer",
     "check cable and link lights, keep network managers off the interface, run again"},
    {18, "the upgrade ended for a reason the loader has no message for",
     "run again with `-v --trace FILE` and send both with a report"},
    {19,
     "of several devices some failed, each with its own status in the summary, or --all "
     "found no device whose board code fits the image",
     "run `tarvik-cli explain` on each device's status; check the image's board code with "
     "`info`"},
    {20, "the image file is missing, unreadable or empty",
     "check the path and its permissions (`ls -l FILE`)"},
    {21,
     "the named device did not answer: wrong name or adapter, device off or not in its "
     "loader mode, the other frame type, cable, switch or Wi-Fi",
     "find its name with `tarvik-cli -i IFNAME browse`; try `--frame-type typed`; send "
     "`--trace FILE` with a report"},
    {22,
     "the discovery query could not be sent: interface down, no carrier, or a network "
     "manager taking it over",
     "bring the interface up with a cable in (`ip link set IFNAME up`) and run again"},
    {23, "with --frame-type auto the named device answered discovery in neither frame type",
     "check its name with `browse`; power-cycle it into its loader mode; send `--trace FILE` "
     "with a report"},
    {24,
     "doctor found something that keeps frames from the devices: an interface missing, down "
     "or without carrier, not Ethernet, an MTU too small for a block, a bridge port that "
     "drops frames, no raw network access, or a socket that would not open",
     "do what the failing line says after `->`, then run `tarvik-cli doctor` again"},
    {25,
     "the PostgreSQL server was down or unreachable, refused the login (no password in "
     "~/.pgpass, no such role or database, pg_hba.conf), or the connection broke mid-push",
     "check the URL with `psql URL`, put the password in ~/.pgpass, then push again: nothing "
     "queued is lost and nothing is stored twice"},
    {30,
     "no usable wired adapter: none listed, all down, or only loopback, Wi-Fi or virtual "
     "ones",
     "plug in a wired adapter and bring it up; `tarvik-cli adapters` lists what is seen"},
    {31,
     "opening the raw socket failed: no privilege (neither root nor cap_net_raw nor the "
     "tarvik group), or the adapter vanished",
     "`sudo setcap cap_net_raw+ep` on the binary or join the tarvik group (log in again), or run "
     "as root"},
    {32,
     "the adapter's entry could not be read: a USB adapter unplugged or renamed while "
     "listing",
     "replug the adapter, wait for its name to settle, run again"},
    {33,
     "the receive queue could not be set up: the process ran out of file descriptors or "
     "memory",
     "close other programs holding raw sockets, raise `ulimit -n`, run again"},
    {34,
     "reception could not start: the socket filter was refused or the interface went down "
     "while opening",
     "check `dmesg`, keep the interface up and unmanaged, run again with `-v`"},
    {35, "the system is neither family the adapter discovery knows",
     "run on a supported Linux or Windows system"},
    {36, "the system's version query failed, so its family could not be told",
     "report it with the system's name and version"},
    {37,
     "`-i` names no adapter in the list: a typo, a renamed interface (eth0 vs enp3s0), or "
     "one inside another network namespace",
     "pick a name from `tarvik-cli adapters` (also printed with the error)"},
    {38,
     "the capabilities could not be given up after the open, so the loader stopped rather "
     "than read the wire with them",
     "report it with the output of `getpcaps $$` and the kernel version"},
    {130, "Ctrl-C or SIGTERM; the image and the adapter were closed",
     "a device stopped mid-write keeps its loader mode: run the upgrade again"},
}};

// The catalogue's row of an exit status; null when it has none.
constexpr const FailureEntry* FailureEntryFor(int exitStatus)
{
    for (const FailureEntry& entry : FAILURE_CATALOGUE) {
        if (entry.ExitStatus == exitStatus) {
            return &entry;
        }
    }
    return nullptr;
}

// Whether every row of an outcome table has its catalogue row. Compares statuses, not the
// addresses FailureEntryFor gives: with AddressSanitizer, GCC will not compare addresses in a
// constant expression.
template <typename Row, std::size_t N>
constexpr bool EveryStatusCatalogued(const std::array<Row, N>& table)
{
    for (const Row& row : table) {
        bool found = false;
        for (const FailureEntry& entry : FAILURE_CATALOGUE) {
            found = found || entry.ExitStatus == row.ExitStatus;
        }
        if (!found) {
            return false;
        }
    }
    return true;
}
static_assert(EveryStatusCatalogued(UPGRADE_OUTCOMES));
static_assert(EveryStatusCatalogued(INQUIRY_OUTCOMES));
static_assert(EveryStatusCatalogued(STARTUP_OUTCOMES));
static_assert(EveryStatusCatalogued(PROGRAM_OUTCOMES));

// An exit status with its outcome row and catalogue row.
struct ExplainedStatus {
    OutcomeRow Outcome;
    FailureEntry Entry;
};

// The statuses a topic names: the one whose number it is, or every one whose message it is
// (trailing blanks aside, as some messages end in one); empty for anything else.
std::vector<ExplainedStatus> ExplainTopic(std::string_view topic);

// What explain prints for a status: its line of the exit-status list, its causes and remedy.
std::string ExplainText(const ExplainedStatus& status);

// What explain accepts, for the refusal of a topic it does not know.
std::string ExplainAccepts();

// The README's catalogue in Markdown, one row per exit status.
std::string FailureCatalogueMarkdown();

}  // namespace tarvik
