#pragma once
// The replaying device as the replay fuzzers set it up: the session a trace records, the
// device it names, and the replies that device sent, which are all it may send.

#include <optional>
#include <string>
#include <utility>

#include "lab/replay_target.h"
#include "replay_oracle.h"

namespace tarvik {

// The live tool that puts requests to the replaying device: another station than the one
// the traces recorded.
inline constexpr MacAddress LIVE_TOOL = {0x02, 0x00, 0x54, 0x56, 0x4B, 0x01};

struct RecordedReplay {
    RecordedSession Session;
    MacAddress Device{};
    RecordedReplies Oracle;
};

// None where the trace holds no session the replaying device would take.
inline std::optional<RecordedReplay> ReplayOf(const Capture& capture)
{
    std::string error;
    auto session = RecordedSession::FromCapture(capture, {}, "--device", error);
    if (!session) {
        return std::nullopt;
    }
    const MacAddress device = session->Device;
    return RecordedReplay{std::move(*session), device, RecordedReplies(capture, device)};
}

}  // namespace tarvik
