#pragma once
// The Upgrade command on several devices at once, for a production line: one run per device,
// each on its own thread with its own binding and run state, all over the one adapter the
// environment opened. A device that fails does not stop the others.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "commands/command_line_flows.h"
#include "commands/run_environment.h"
#include "image/descriptor.h"

namespace tarvik {

// How one device's run ended: for the summary, the JSON result and the record.
struct DeviceRunReport {
    std::string DeviceName;
    // The bay the device is in, and the interface that bay is on ("eth1", "eth0.12"), when the
    // station serves several: the same address in two bays is two devices. Empty otherwise.
    std::string Bay;
    std::string Interface;
    UpgradeOutcome Outcome = UpgradeOutcome::Other;
    std::string Result;    // "Upgrade Finish", the message shown, or what the ending means
    int ExitStatus = 0;    // what tarvik-cli would have ended with for this device alone
    bool Skipped = false;  // another board code, when such devices are to be skipped
    bool Stopped = false;  // the user asked to stop
    std::optional<ImageDescriptor> Descriptor;       // the device's, read before the upgrade
    std::optional<ImageDescriptor> DescriptorAfter;  // and after its reset, when it answered
    std::uint64_t FileSize = 0;
    std::uint64_t FramesSent = 0;
    std::uint64_t FramesResent = 0;
    std::uint32_t ElapsedMs = 0;
};

// Fills in how the upgrade ended: outcome, result text, exit status, and whether it was a skip
// or the user's stop. For the one-device command too, whose record says the same.
void SettleReport(DeviceRunReport& report, UpgradeOutcome outcome, bool skipOtherBoards,
                  bool stopped);

// Whether a read-back, when asked for, follows an upgrade that ended so: one that finished and
// was not stopped.
inline bool ReadsBack(const DeviceRunReport& report)
{
    return report.Outcome == UpgradeOutcome::Finished && !report.Stopped;
}

// How many tries (a try is about a second) a device has to answer the information query once
// back from its reset.
inline constexpr std::uint16_t DESCRIPTOR_AFTER_RESET_TRIES = 5;

struct DeviceUpgradeRequest {
    std::string DeviceName;
    std::string ImagePath;
    bool SkipOtherBoards = false;  // a board-code mismatch is a skip, not a failure
    // After an upgrade that finished, ask the device again once it is back from its reset. A
    // device that boots its application answers no more: the read-back then costs its tries
    // and leaves DescriptorAfter empty. Off, the reset is the last frame the device gets.
    bool ReadBack = false;
};

// One device's upgrade, the same for the one-device command and for each device of several:
// the Upgrade command, the report settled. The report's Descriptor is the one the check's
// query got (the device is asked once), its FramesSent, FramesResent and ElapsedMs the Upgrade
// command's alone (from the check's query to the end of the transfer, resends included).
// Returns as soon as the reset is acknowledged: the read-back, when asked for, is
// ReadBackDescriptor's, which the caller runs once it has told the ending.
DeviceRunReport UpgradeDevice(RunState& run, const DeviceUpgradeRequest& request, CommandPort& port,
                              ProgressDisplay& progress, const StopRequested& stop);

// The read-back of a report that finished and asks for one: the device's descriptor, when it
// answers within DESCRIPTOR_AFTER_RESET_TRIES, into report.DescriptorAfter. Sends nothing for
// any other report; the queries count in no frame total and change no outcome.
void ReadBackDescriptor(RunState& run, const DeviceUpgradeRequest& request,
                        DeviceRunReport& report);

// What a run on a shared adapter tells as it goes: the ending as soon as the upgrade returned,
// then, when the request asks for the read-back, the same report with what it read.
struct DeviceRunEndings {
    std::function<void(const DeviceRunReport&)> Ended;
    std::function<void(const DeviceRunReport&)> ReadBack;
};

// One device's upgrade on an environment made for RunSharing::SeveralRuns: its own run opened
// (in the given frame variant, else the environment's), then UpgradeDevice and the read-back.
// A run that cannot be opened is reported as the start-up result it met. Returns the report
// as the read-back left it.
DeviceRunReport UpgradeOnSharedAdapter(RunEnvironment& environment,
                                       const DeviceUpgradeRequest& request, CommandPort& port,
                                       ProgressDisplay& progress, const StopRequested& stop,
                                       const DeviceRunEndings& endings,
                                       std::optional<FrameVariantKind> variant = {});

// What a front end gives each device's run, for a batch of named devices and for the station
// alike. Each run has a number, from 0: a batch's index of the device's name, the station's
// count of attempts in the order they start. Calls come from the runs' own threads (and the
// station's probe), so an implementation that shares anything between runs locks it.
class DeviceRunWatcher {
public:
    virtual ~DeviceRunWatcher() = default;
    // Called after RunStarts of the run.
    virtual CommandPort& PortFor(std::size_t run) = 0;
    virtual ProgressDisplay& ProgressFor(std::size_t run) = 0;
    // bay: the device's bay when the station serves several, else empty (as in the Arrived
    // below and in every report).
    virtual void RunStarts(std::size_t /*run*/, const std::string& /*device*/,
                           const std::string& /*bay*/)
    {
    }
    // As soon as the run's upgrade ended (its reset acknowledged): for the station, the
    // device is free for its ledger from then on.
    virtual void RunEnds(std::size_t /*run*/, const DeviceRunReport& /*report*/) {}
    // With the read-back asked for: the report again, with what the read-back got.
    virtual void ReadBack(std::size_t /*run*/, const DeviceRunReport& /*report*/) {}
    // The station's alone: a device answered its probe for the first time in the station's
    // run, or again after it left.
    virtual void Arrived(const std::string& /*device*/, const std::string& /*bay*/,
                         const ImageDescriptor& /*descriptor*/, bool /*cameBack*/)
    {
    }
    // The station's alone: the device's board code is not the image's; shown once, never
    // upgraded.
    virtual void Skipped(const DeviceRunReport& /*report*/) {}
};

// A bay: one segment (an interface, or a VLAN on a trunk) of a station or a batch that serves
// several, with an environment of its own made for RunSharing::SeveralRuns and started.
struct StationBay {
    std::string Name;       // as the board, the records and the events show it
    std::string Interface;  // the adapter it was opened on ("eth1", "eth0.12", "lab0")
    RunEnvironment& Environment;
};

struct SeveralDevicesRequest {
    std::vector<std::string> DeviceNames;
    std::string ImagePath;
    std::size_t Jobs = 0;          // at most this many runs at once; 0: all
    bool SkipOtherBoards = false;  // a board-code mismatch is a skip, not a failure
    bool ReadBack = false;         // each device's descriptor read again after its reset
    // Over several bays: the bay (its index among the bays given) of each name, in the names'
    // order. Empty: every name is in the first bay.
    std::vector<std::size_t> DeviceBays = {};
};

// Browse on an environment made for RunSharing::SeveralRuns: the same flow, with the frames
// received handed to the environment's own binding meanwhile.
bool BrowseSharedSegment(RunEnvironment& environment, CommandPort& port,
                         std::vector<std::string>& names);

// Browse in every bay at once, each on its own segment: names[i] gets bay i's devices. Returns
// the index of the first bay whose discovery could not be broadcast (its names empty), or
// bays.size() when every bay's went out. Shows no message.
std::size_t BrowseBays(std::span<const StationBay> bays,
                       std::vector<std::vector<std::string>>& names);

// Upgrades every named device; the environment was made for RunSharing::SeveralRuns and
// started. Returns one report per name, in the order of the names.
std::vector<DeviceRunReport> UpgradeSeveralDevices(RunEnvironment& environment,
                                                   const SeveralDevicesRequest& request,
                                                   DeviceRunWatcher& watcher,
                                                   const StopRequested& stop);
// The same over several bays, each device in the bay request.DeviceBays gives it: every report
// and every watcher call names its bay, and request.Jobs caps the runs over all bays together.
std::vector<DeviceRunReport> UpgradeSeveralDevices(std::span<const StationBay> bays,
                                                   const SeveralDevicesRequest& request,
                                                   DeviceRunWatcher& watcher,
                                                   const StopRequested& stop);

// Whether the batch succeeded: at least one device upgraded, and every device not skipped
// ended with "Upgrade Finish".
bool EveryDeviceUpgraded(const std::vector<DeviceRunReport>& reports);

}  // namespace tarvik
