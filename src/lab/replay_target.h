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
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lab/device_side.h"
#include "platform/formats/mac_address.h"
#include "platform/formats/pcap_reader.h"

namespace tarvik {

struct RecordedReply {
    std::vector<std::uint8_t> Frame;
    std::uint32_t DelayMs = 0;  // after the request it answered
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

    // The session of the device that answered in the capture, or of device when given (the
    // capture may hold several that answered). Nothing and the reason in error when no device
    // answered, when several did and none is named (the error lists them and says to name one
    // with deviceOption), or when the one named did not.
    static std::optional<RecordedSession> FromCapture(const std::vector<CapturedFrame>& frames,
                                                      const std::optional<MacAddress>& device,
                                                      std::string_view deviceOption,
                                                      std::string& error);
};

class ReplayTarget final : public DeviceSide {
public:
    // Told once per kind of request that the live tool sent and the capture never answered.
    using UnansweredNote = std::function<void(const std::string& line)>;

    // Answers from address: the recorded device's own unless another is given.
    explicit ReplayTarget(RecordedSession session, std::optional<MacAddress> address = {});

    void SetUnansweredNote(UnansweredNote note) { note_ = std::move(note); }

    const MacAddress& Address() const override { return address_; }
    std::vector<DeviceReply> HandleFrame(std::span<const std::uint8_t> frame) override;

    std::uint64_t RepliesSent() const { return repliesSent_; }

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
    std::uint64_t repliesSent_ = 0;
};

}  // namespace tarvik
