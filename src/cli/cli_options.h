#pragma once
// What the user asked for on the command line.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/bay_options.h"
#include "cli/history_options.h"
#include "cli/panel_options.h"
#include "cli/signature_options.h"
#include "lab/lab_setup.h"
#include "netio/binding.h"
#include "protocol/frame.h"

namespace tarvik::cli {

enum class Command {
    Adapters,
    Browse,
    Device,
    Info,
    Check,
    Upgrade,
    Station,
    Explain,
    Doctor,
    History,
    Panel
};
enum class ProgressStyle { Auto, Bar, Plain };

struct CliOptions {
    Command Which = Command::Browse;
    std::string Interface;  // -i: empty runs the start-up sequence
    bool Lab = false;
    bool Json = false;
    bool Verbose = false;
    // --frame-type: the variant to speak; nothing for auto (browse first, keep the one answered)
    std::optional<FrameVariantKind> FrameType = FrameVariantKind::Untyped;
    ProgressStyle Progress = ProgressStyle::Auto;
    std::uint32_t PaceMs = SEND_PAUSE_MS;  // --pace: the pause after each frame sent
    std::string DeviceName;                // the first of DeviceNames
    std::vector<std::string> DeviceNames;  // upgrade: every device named, each once
    bool All = false;                      // upgrade --all: every device that answers
    std::size_t Jobs = 0;                  // upgrade, station --jobs: runs at once, 0 for all
    std::string RecordPath;                // upgrade, station --record: the file lines go to
    bool Events = false;                   // upgrade, station --events: JSON lines on stdout
    bool ReadBack = false;  // upgrade, station --read-back: the descriptor again after the reset
    // station: how often it probes, the frame types it probes with, whether a device that
    // passed is flashed again when it comes back, and when it takes no new device (--stop-after)
    std::uint32_t ProbeIntervalMs = 2000;
    std::vector<FrameVariantKind> StationVariants;
    bool Reflash = false;
    std::optional<std::uint32_t> StopAfterMs;
    std::vector<LabPlug> LabPlugs;  // station --lab-plug: the lab's devices come and go
    bool LabBuiltIns = true;        // the lab holds its built-in devices (not a lab bay's)
    // station, upgrade --all: --bay, --lab-bays: the bays, each probed as a segment of its own;
    // --bays FILE adds those of the file, read before the bays open. Devices per lab bay
    // (--lab-bays).
    std::vector<BaySpec> Bays;
    std::string BaysFile;
    std::size_t LabBayDevices = 0;
    bool CountsByBay = false;  // station --counts-by-bay: a status line per bay
    std::string PushUrl;       // station --push: the shared database, pushed to meanwhile
    std::string ImagePath;
    bool AdmitEveryFrame = false;  // the socket filter passes up frames of any type and length
    std::string Topic;             // explain: an exit status or a message text
    std::string TracePath;         // --trace: every frame sent and received, as a pcap file
    std::string ReplayPath;        // --replay: the lab holds the device of this capture
    std::optional<MacAddress> ReplayDevice;  // --replay-device: which, when several answer in it
    std::string InvokedAs;        // argv[0], for the privilege hint when the binary cannot be told
    HistoryOptions History;       // upgrade and history: --history, --station, --operator
    HistoryQuery Query;           // history: what to show, of which attempts
    SignatureOptions Signatures;  // upgrade, station, check, info: --key, --signature, ...
    PanelOptions Panel;           // station --panel, and the factory view (panel URL)

    // Several bays, each an environment of its own.
    bool ServesBays() const { return !Bays.empty() || !BaysFile.empty(); }

    // The upgrade of several devices at once (a single named device runs as it always has).
    bool SeveralDevices() const
    {
        return Which == Command::Station ||
               (Which == Command::Upgrade && (All || DeviceNames.size() > 1));
    }
};

// The most runs at once: each is a thread with its own 64 posted reads.
inline constexpr std::size_t MAX_JOBS = 64;
// A station's transfers at once over all its bays (each bay runs at most MAX_JOBS).
inline constexpr std::size_t MAX_STATION_JOBS = 1024;
// A station's runs at once unless --jobs says: as many as a fixture usually holds, and as
// many lines as the board can show.
inline constexpr std::size_t STATION_DEFAULT_JOBS = 8;

struct ParseResult {
    std::optional<CliOptions> Options;  // nothing: the program ends with ExitStatus
    int ExitStatus = 0;
};

// Parses argv; prints help, version or usage errors itself (help and version on out, errors on
// err: stdout and stderr unless given) and then leaves Options empty.
ParseResult ParseCommandLine(int argc, const char* const* argv);
ParseResult ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                             std::ostream& err);

}  // namespace tarvik::cli
