#pragma once
// The production station: the interface stays open, a probe goes out every few seconds, and
// each device that answers, fits the image and has not been flashed in this station's run is
// upgraded at once, beside the others, until the user stops the station. The probes share the
// adapter with the runs under way without touching them: the shared adapter passes every
// source from the start, and a probe's answers go to the station, never to a run (see
// FanOutDriver).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "commands/run_environment.h"
#include "commands/several_devices.h"
#include "image/descriptor.h"
#include "platform/formats/mac_address.h"
#include "protocol/frame.h"

namespace tarvik {

inline constexpr std::uint32_t STATION_PROBE_INTERVAL_MS = 2000;
// A device that missed this many probes in a row has left (been unplugged): one lost answer
// is not an unplugging.
inline constexpr unsigned STATION_ABSENT_PROBES = 2;

// What the station decides for each device, from the answers to its probes and the ends of
// its runs. Not thread-safe: the station holds it under its lock.
class StationLedger {
public:
    enum class Decision { None, Upgrade, Skip };
    struct Answer {
        Decision Do = Decision::None;
        bool Arrived = false;   // first answer in the station's run, or first since it left
        bool CameBack = false;  // ... and it had left
    };

    explicit StationLedger(bool reflash) : reflash_(reflash) {}

    // The device answered this round's probe; fits says whether its board code is the image's.
    // Upgrade: a run is to start now (the device is busy until RunEnds). Skip: it is shown as
    // skipped, once in the station's run.
    Answer Answered(const MacAddress& device, bool fits);
    // A probe round is over: a device that did not answer counts a miss, and after
    // STATION_ABSENT_PROBES misses in a row it has left. A device that finished has left only
    // when it answered after its run: a device rebooting into its new firmware misses a few
    // probes without having been unplugged.
    void RoundEnds();
    void RunEnds(const MacAddress& device, bool passed);

private:
    enum class Phase { Busy, Passed, Failed, Skipped };
    struct Device {
        Phase At = Phase::Busy;
        unsigned Missed = 0;
        bool AnsweredThisRound = false;
        bool AnsweredSinceRun = false;
        bool Left = false;
    };

    const bool reflash_;
    std::map<MacAddress, Device> devices_;
};

struct StationRequest {
    std::string ImagePath;
    std::uint32_t ProbeIntervalMs = STATION_PROBE_INTERVAL_MS;
    // The frame variants each round probes with, in this order; a device is upgraded in the
    // variant it answered first.
    std::vector<FrameVariantKind> Variants = {FrameVariantKind::Untyped, FrameVariantKind::Typed};
    std::size_t Jobs = 1;  // runs at once, 1 to 64
    bool Reflash = false;  // a device that passed is flashed again when it comes back
    // Each device's descriptor read again after its reset, by a task of its own: the job is
    // free for the next device from the reset on, and the device busy until its read-back
    // is over.
    bool ReadBack = false;
    // The station takes no new device once this says so, lets the runs under way finish and
    // ends (a planned end, unlike the user's stop, which also ends the runs between frames).
    StopRequested Closing;
};

struct StationSummary {
    std::vector<DeviceRunReport> Attempts;  // in the order they ended
    std::vector<DeviceRunReport> Skips;
    bool ProbeFailed = false;  // a probe could not be sent: the station stopped
    // Finished, or why the image's descriptor could not be read (FileNotFound,
    // FileFormatError): then nothing was sent.
    UpgradeOutcome ImageOutcome = UpgradeOutcome::Finished;
};

// Runs the station on an environment made for RunSharing::SeveralRuns and started, until stop
// or the request's Closing says so. The watcher hears of every device that arrives or is
// skipped, and of every attempt.
StationSummary RunStation(RunEnvironment& environment, const StationRequest& request,
                          DeviceRunWatcher& watcher, const StopRequested& stop);

// The station over several bays at once, each probed as its own segment: a device is known
// by its bay and its address (the same address in two bays is two devices, each flashed once),
// every report names its bay, and request.Jobs caps the transfers in flight over all bays
// (each bay runs at most 64 at once). The environments share one clock (the first one's).
StationSummary RunStationBays(std::span<const StationBay> bays, const StationRequest& request,
                              DeviceRunWatcher& watcher, const StopRequested& stop);

}  // namespace tarvik
