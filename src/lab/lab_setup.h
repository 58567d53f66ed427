#pragma once
// The built-in lab: a virtual segment with the tool's adapter and emulated targets on it, so
// that anyone can run every command, and a real upgrade, without hardware or privileges.
//
// The built-in targets:
//   QV1A2B3C      (02-5A-17-1A-2B-3C) board 00 11 22 33 44 55, answers both frame types:
//                 the sample image fits it.
//   QV000007      (02-5A-17-00-00-07) board 00 11 22 33 44 66, untyped frames only: the
//                 sample image does not fit it.
//   021122334455  (02-11-22-33-44-55) board 00 11 22 33 44 55, typed frames only.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lab/emulated_target_station.h"
#include "lab/replay_target_station.h"
#include "platform/registry/registry.h"
#include "segment/virtual_segment.h"

namespace tarvik {

inline constexpr char LAB_ADAPTER_NAME[] = "\\Device\\lab0";
inline constexpr MacAddress LAB_ADAPTER_ADDRESS = {0x02, 0x00, 0x54, 0x56, 0x4B, 0x01};
inline constexpr std::uint32_t LAB_LATENCY_MS = 1;
inline constexpr char LAB_ADAPTER_DESCRIPTION[] = "lab0 (the built-in lab's virtual segment)";

// The descriptor a built-in target reports: the sample image's fields with the given board
// code and an older firmware version.
ImageDescriptor LabTargetDescriptor(const std::array<std::uint8_t, 6>& boardCode);
std::vector<TargetConfig> BuiltInLabTargets();

// A device plugged into the lab's segment some time after the lab starts, and perhaps pulled
// out later: a production station's fixture, for its demo and its tests. A device that is not
// one of the lab's fits the sample image and answers both frame types.
struct LabPlug {
    MacAddress Device{};
    std::uint32_t InMs = 0;
    std::optional<std::uint32_t> OutMs;  // nothing: stays plugged in
};

// Reads "NAME@SECONDS" or "NAME@SECONDS-SECONDS" (a device name as browse shows it, seconds
// with up to three decimals after the lab starts); nothing, with the reason in error, if the
// text is not such a plug.
std::optional<LabPlug> ParseLabPlug(std::string_view text, std::string& error);

class Lab {
public:
    explicit Lab(Kernel& kernel, std::uint32_t latencyMs = LAB_LATENCY_MS);
    ~Lab();
    Lab(const Lab&) = delete;
    Lab& operator=(const Lab&) = delete;

    VirtualSegment& Segment() { return segment_; }
    VirtualAdapterDriver& Driver() { return driver_; }

    EmulatedTargetStation& AddTarget(TargetConfig config);
    EmulatedTargetStation* FindTarget(const MacAddress& address);
    std::vector<std::unique_ptr<EmulatedTargetStation>>& Targets() { return targets_; }
    ReplayTargetStation& AddReplayTarget(ReplayTarget device);
    // Each device of the plan is off the segment until its first time in (a device not in the
    // lab yet is added first), and comes off at each time out; a device may come and go
    // several times. Times count from this call.
    void PlugOverTime(const std::vector<LabPlug>& plan);

private:
    // What a plug scheduled on the clock checks before it touches a device: the lab may be
    // gone by the time it comes.
    struct PlugGuard {
        std::mutex Lock;
        bool Open = true;
    };

    Kernel& kernel_;
    std::shared_ptr<PlugGuard> plugGuard_ = std::make_shared<PlugGuard>();
    VirtualSegment segment_;
    VirtualAdapterDriver driver_;
    std::vector<std::unique_ptr<EmulatedTargetStation>> targets_;
    std::vector<std::unique_ptr<ReplayTargetStation>> replays_;
};

// A lab with the tool's adapter (LAB_ADAPTER_NAME) and the three built-in targets (or none: a
// bay of a lab station, whose devices are plugged in).
std::unique_ptr<Lab> MakeBuiltInLab(Kernel& kernel, bool builtInTargets = true);

// A lab with the tool's adapter and, instead of the built-in targets, only the device that
// replays a capture: a recorded device often has the address of one of them, and a replay
// should meet no other device's answers. Its segment takes no time: each reply reaches the tool
// as long after its request as in the capture.
std::unique_ptr<Lab> MakeReplayLab(Kernel& kernel, ReplayTarget device);

// A registry export listing the given adapters under the NT family's network cards, one
// subkey per adapter ("1", "2", ...), each with its "ServiceName" and "Description".
std::string NetworkCardsExport(const std::vector<std::pair<std::string, std::string>>& cards);

// The lab's registry: the one card lab0, so that the start-up sequence runs on the lab as it
// does on a machine.
std::unique_ptr<Registry> MakeLabRegistry();

}  // namespace tarvik
