#pragma once
// A device that answers as a device in a capture did: the session read from the capture (the
// device, the tool that talked to it, every request the tool sent it with the replies that
// followed), and the device that replays it. Each live request is matched to the recorded
// request of the same frame type and opcode at the same position (the n-th live WRITE to the
// n-th recorded WRITE: a resend in the capture is a request of its own, so losses and resends
// come back as they happened) and answered with what followed that request, after the delay it
// followed after. A recorded request that got no reply gets none.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lab/device_side.h"
#include "platform/formats/mac_address.h"
#include "platform/formats/pcap_reader.h"

namespace tarvik {

struct RecordedReply {
    std::span<const std::uint8_t> Frame;  // in the capture's bytes, which the session keeps
    std::uint32_t DelayMs = 0;            // after the request it answered
};

struct RecordedRequest {
    std::uint64_t Microseconds = 0;  // when it was captured
    std::uint16_t Sequence = 0;
    std::vector<RecordedReply> Replies;  // none when the device stayed silent
};

// Requests of one kind: frame type and opcode.
using RequestKind = std::pair<std::uint16_t, std::uint16_t>;

struct RecordedSession {
    MacAddress Device{};
    MacAddress Tool{};
    std::map<RequestKind, std::vector<RecordedRequest>> Requests;  // in the order recorded
    // Probes (broadcast information requests) by frame type: any device answers them whatever
    // its session is at, so they hold no place in it.
    std::map<std::uint16_t, std::vector<RecordedRequest>> Probes;
    // Frames longer than an Ethernet segment carries (1514 bytes without the check sequence)
    // are left out, whoever sent them: a capture taken where the system joins segments can
    // hold them, a device never sent one, and a replay must not put one on the wire. The
    // device's are counted here, so that it can be said.
    std::size_t OversizedFrames = 0;
    // The capture's bytes, in which the replies lie.
    std::shared_ptr<const std::vector<std::uint8_t>> Storage;

    // The session of the device that answered in the capture, or of device when given (the
    // capture may hold several that answered). Nothing and the reason in error when no device
    // answered, when several did and none is named (the error lists them and says to name one
    // with deviceOption), or when the one named did not.
    static std::optional<RecordedSession> FromCapture(const Capture& frames,
                                                      const std::optional<MacAddress>& device,
                                                      std::string_view deviceOption,
                                                      std::string& error);

private:
    // Every request the tool sent the device, each with the replies that followed it.
    void Collect(const Capture& frames, const std::set<MacAddress>& tools);
};

class ReplayTarget final : public DeviceSide {
public:
    // What the replay cannot do as the capture did: told once, as soon as it is set, when
    // frames were left out of the capture, and once per kind of request that the live tool
    // sent and the capture never answered.
    using UnansweredNote = std::function<void(const std::string& line)>;

    // Answers from address: the recorded device's own unless another is given.
    explicit ReplayTarget(RecordedSession session, std::optional<MacAddress> address = {});

    void SetUnansweredNote(UnansweredNote note);

    const MacAddress& Address() const override { return address_; }
    std::vector<DeviceReply> HandleFrame(std::span<const std::uint8_t> frame) override;

private:
    std::vector<DeviceReply> Rewritten(const RecordedRequest& recorded, const MacAddress& liveTool,
                                       std::uint16_t liveSequence);
    const RecordedRequest* FirstAnsweredInformation(std::uint16_t frameType) const;
    void Note(const RequestKind& kind, const std::string& line);

    RecordedSession session_;
    MacAddress address_;
    std::map<RequestKind, std::size_t> seen_;  // live requests per kind so far
    std::set<RequestKind> noted_;
    UnansweredNote note_;
};

}  // namespace tarvik
