#pragma once
// The command line of tarvik-target.

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "lab/emulated_target.h"

namespace tarvik::target {

struct TargetOptions {
    std::string Interface;
    std::optional<MacAddress> Address;  // the interface's own when not given
    std::array<std::uint8_t, 6> BoardCode{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    std::set<FrameVariantKind> Variants = {FrameVariantKind::Untyped, FrameVariantKind::Typed};
    TargetFaults Faults;
    std::string DumpPath;
    std::string TracePath;   // every frame received and sent, as a pcap file
    std::string ReplayPath;  // answer as the device in this capture did, instead of emulating
    std::optional<MacAddress> ReplayDevice;  // the device in it to replay, when several answer
};

struct TargetParse {
    std::optional<TargetOptions> Options;
    int ExitStatus = 0;
};

TargetParse ParseTargetCommandLine(int argc, const char* const* argv);

// Exactly 12 hex digits.
std::optional<std::array<std::uint8_t, 6>> ParseBoardCode(std::string_view text);

}  // namespace tarvik::target
