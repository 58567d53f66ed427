#pragma once
// What a replaying device may send, for the fuzzers that drive one: only frames a segment
// carries, and only what the recorded device sent, with the header fields a replay rewrites
// (destination, source, sequence) taken out of the comparison.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <span>
#include <vector>

#include "lab/replay_target.h"
#include "protocol/frame.h"

namespace tarvik {

[[noreturn]] inline void ReplayFault(const char* what)
{
    std::fprintf(stderr, "replaying device fault: %s\n", what);
    std::abort();
}

class RecordedReplies {
public:
    RecordedReplies(const Capture& capture, const MacAddress& device)
    {
        for (const CapturedFrame& frame : capture) {
            if (const auto header = DecodeHeader(frame.Bytes); header && header->Source == device) {
                sent_.insert(Neutral(frame.Bytes));
            }
        }
    }

    // Aborts unless the frame is one the recorded device sent, rewritten for liveTool.
    void Check(std::span<const std::uint8_t> frame, const MacAddress& liveTool,
               const MacAddress& liveDevice) const
    {
        if (frame.size() > MAX_FRAME_BYTES) {
            ReplayFault("a reply longer than a segment carries");
        }
        const auto header = DecodeHeader(frame);
        if (!header) {
            ReplayFault("a reply without a header");
        }
        if (header->Destination != liveTool || header->Source != liveDevice) {
            ReplayFault("a reply not from the device to the tool that asked");
        }
        if (sent_.count(Neutral(frame)) == 0) {
            ReplayFault("a reply the recorded device never sent");
        }
    }

private:
    static std::vector<std::uint8_t> Neutral(std::span<const std::uint8_t> frame)
    {
        std::vector<std::uint8_t> bytes(frame.begin(), frame.end());
        FrameHeader header = *DecodeHeader(bytes);
        header.Destination = {};
        header.Source = {};
        header.Sequence = 0;
        EncodeHeader(bytes, header);
        return bytes;
    }

    std::set<std::vector<std::uint8_t>> sent_;
};

}  // namespace tarvik
