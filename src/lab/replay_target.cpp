#include "lab/replay_target.h"

#include <algorithm>
#include <limits>

#include "protocol/frame.h"

namespace tarvik {
namespace {

bool IsProtocolFrame(const FrameHeader& header)
{
    return (header.FrameType == FRAME_TYPE_UNTYPED || header.FrameType == FRAME_TYPE_TYPED) &&
           header.Opcode <= OP_VERIFY;
}

// The header of a frame of the protocol that a segment can carry. The capture is walked
// several times and decoded each time rather than kept decoded: a header costs less to decode
// than to hold for every frame of a large capture.
std::optional<FrameHeader> ProtocolHeader(const CapturedFrame& frame)
{
    if (frame.Bytes.size() > MAX_FRAME_BYTES) {
        return std::nullopt;
    }
    const auto header = DecodeHeader(frame.Bytes);
    return header && IsProtocolFrame(*header) ? header : std::nullopt;
}

// Frames only the tool sends: probes, information requests (the reply carries the block) and
// blocks to write or verify (the reply carries a status word). The other requests look like
// their replies and are told apart by who sent them.
bool SurelyRequest(const FrameHeader& header)
{
    return header.Destination == BROADCAST_ADDRESS ||
           (header.Opcode == OP_INFO && header.DataLength == 0) ||
           ((header.Opcode == OP_WRITE || header.Opcode == OP_VERIFY) &&
            header.DataLength > STATUS_BYTES);
}

std::string ListOf(const std::vector<MacAddress>& addresses)
{
    std::string text;
    for (const MacAddress& address : addresses) {
        text += (text.empty() ? "" : ", ") + FormatMacAddress(address);
    }
    return text;
}

std::string VariantOf(std::uint16_t frameType)
{
    return std::string(FrameVariantName(frameType == FRAME_TYPE_TYPED ? FrameVariantKind::Typed
                                                                      : FrameVariantKind::Untyped));
}

// In whole milliseconds, the fraction dropped: a reply the tool saw 989.6 ms after its request
// came within a 990 ms wait, and must come within it again. A capture merged from several
// interfaces may put a reply a little before its request: that is no delay at all.
std::uint32_t DelayMs(std::uint64_t from, std::uint64_t to)
{
    if (to <= from) {
        return 0;
    }
    const std::uint64_t ms = (to - from) / 1000;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(ms, std::numeric_limits<std::uint32_t>::max()));
}

// The request of the kind recorded last, a probe or one of the session's.
RecordedRequest* LatestOf(RecordedSession& session, const RequestKind& kind)
{
    RecordedRequest* latest = nullptr;
    if (const auto requests = session.Requests.find(kind); requests != session.Requests.end()) {
        latest = &requests->second.back();
    }
    if (kind.second == OP_INFO) {
        if (const auto probes = session.Probes.find(kind.first); probes != session.Probes.end()) {
            RecordedRequest* probe = &probes->second.back();
            if (latest == nullptr || probe->Microseconds >= latest->Microseconds) {
                latest = probe;
            }
        }
    }
    return latest;
}

}  // namespace

std::optional<RecordedSession> RecordedSession::FromCapture(const Capture& frames,
                                                            const std::optional<MacAddress>& device,
                                                            std::string_view deviceOption,
                                                            std::string& error)
{
    // The tool is whoever sent what only a tool sends; a capture of nothing but the short
    // requests and their replies began with the tool's first.
    std::set<MacAddress> tools;
    std::optional<MacAddress> first;
    for (const CapturedFrame& frame : frames) {
        if (const auto header = ProtocolHeader(frame)) {
            first = first.value_or(header->Source);
            if (SurelyRequest(*header)) {
                tools.insert(header->Source);
            }
        }
    }
    if (tools.empty() && first) {
        tools.insert(*first);
    }
    std::vector<MacAddress> answering;
    for (const CapturedFrame& frame : frames) {
        const auto header = ProtocolHeader(frame);
        if (!header) {
            continue;
        }
        const MacAddress& source = header->Source;
        if (tools.count(source) == 0 &&
            std::find(answering.begin(), answering.end(), source) == answering.end()) {
            answering.push_back(source);
        }
    }
    if (answering.empty()) {
        error = "no device answers in it";
        return std::nullopt;
    }
    RecordedSession session;
    if (device) {
        if (std::find(answering.begin(), answering.end(), *device) == answering.end()) {
            error = FormatMacAddress(*device) +
                    " does not answer in it; the devices that do: " + ListOf(answering);
            return std::nullopt;
        }
        session.Device = *device;
    } else if (answering.size() > 1) {
        error = "several devices answer in it (" + ListOf(answering) +
                "); name the one to replay with " + std::string(deviceOption) + " MAC";
        return std::nullopt;
    } else {
        session.Device = answering.front();
    }

    session.Storage = frames.Storage();
    session.OversizedFrames = static_cast<std::size_t>(
        std::count_if(frames.begin(), frames.end(), [&session](const CapturedFrame& frame) {
            const auto header = DecodeHeader(frame.Bytes);
            return frame.Bytes.size() > MAX_FRAME_BYTES && header && IsProtocolFrame(*header) &&
                   header->Source == session.Device;
        }));
    session.Collect(frames, tools);
    return session;
}

void RecordedSession::Collect(const Capture& frames, const std::set<MacAddress>& tools)
{
    bool toolKnown = false;
    for (const CapturedFrame& frame : frames) {
        const auto decoded = ProtocolHeader(frame);
        if (!decoded) {
            continue;
        }
        const FrameHeader& header = *decoded;
        const RequestKind kind{header.FrameType, header.Opcode};
        if (tools.count(header.Source) != 0) {
            const bool probe = header.Destination == BROADCAST_ADDRESS && header.Opcode == OP_INFO;
            if (header.Destination != Device && !probe) {
                continue;
            }
            if (!toolKnown) {
                Tool = header.Source;
                toolKnown = true;
            }
            auto& requests = probe ? Probes[header.FrameType] : Requests[kind];
            requests.push_back({frame.Microseconds, header.Sequence, {}});
        } else if (header.Source == Device) {
            // A reply answers the latest request of its kind: a late reply to a request that
            // was sent again lands after the resend, as it did on the wire.
            RecordedRequest* request = LatestOf(*this, kind);
            if (request == nullptr) {
                continue;  // the capture began after its request
            }
            request->Replies.push_back({frame.Bytes,
                                        DelayMs(request->Microseconds, frame.Microseconds)});
        }
    }
}

ReplayTarget::ReplayTarget(RecordedSession session, std::optional<MacAddress> address)
    : session_(std::move(session)), address_(address.value_or(session_.Device))
{
}

const RecordedRequest* ReplayTarget::FirstAnsweredInformation(std::uint16_t frameType) const
{
    const RecordedRequest* first = nullptr;
    const auto consider = [&first](const std::vector<RecordedRequest>& requests) {
        for (const RecordedRequest& request : requests) {
            if (!request.Replies.empty()) {
                if (first == nullptr || request.Microseconds < first->Microseconds) {
                    first = &request;
                }
                return;
            }
        }
    };
    if (const auto probes = session_.Probes.find(frameType); probes != session_.Probes.end()) {
        consider(probes->second);
    }
    if (const auto requests = session_.Requests.find({frameType, OP_INFO});
        requests != session_.Requests.end()) {
        consider(requests->second);
    }
    return first;
}

std::vector<DeviceReply> ReplayTarget::Rewritten(const RecordedRequest& recorded,
                                                 const MacAddress& liveTool,
                                                 std::uint16_t liveSequence)
{
    std::vector<DeviceReply> replies;
    for (const RecordedReply& reply : recorded.Replies) {
        DeviceReply live{{reply.Frame.begin(), reply.Frame.end()}, reply.DelayMs};
        FrameHeader header = *DecodeHeader(live.Frame);
        header.Destination = liveTool;
        header.Source = address_;
        // A reply that echoed the request's sequence echoes the live one; any other number
        // stays as the device sent it.
        if (header.Sequence == recorded.Sequence) {
            header.Sequence = liveSequence;
        }
        EncodeHeader(live.Frame, header);
        replies.push_back(std::move(live));
    }
    return replies;
}

std::vector<DeviceReply> ReplayTarget::HandleFrame(std::span<const std::uint8_t> frame)
{
    const auto request = DecodeHeader(frame);
    if (!request || !IsProtocolFrame(*request)) {
        return {};
    }
    const RequestKind kind{request->FrameType, request->Opcode};
    const std::string name(OpcodeName(request->Opcode));
    if (request->Destination == BROADCAST_ADDRESS) {
        // A probe finds any device on the segment, whatever the session is at: the device
        // answers it as it answered its first information request in that frame type.
        if (request->Opcode != OP_INFO || request->DataLength != 0) {
            return {};
        }
        const RecordedRequest* answered = FirstAnsweredInformation(request->FrameType);
        if (answered == nullptr) {
            Note(kind, "the trace holds no information reply in " + VariantOf(request->FrameType) +
                           " frames: probes in them go unanswered");
            return {};
        }
        return Rewritten(*answered, request->Source, request->Sequence);
    }
    if (request->Destination != address_ || request->Source == address_) {
        return {};
    }
    const std::size_t position = seen_[kind]++;
    const auto recorded = session_.Requests.find(kind);
    const std::size_t count = recorded == session_.Requests.end() ? 0 : recorded->second.size();
    if (position >= count) {
        Note(kind, "the trace holds " + std::to_string(count) + " " + name + " request" +
                       (count == 1 ? "" : "s") + " in " + VariantOf(request->FrameType) +
                       " frames: " + name + " request " + std::to_string(position + 1) +
                       " and any after it go unanswered");
        return {};
    }
    return Rewritten(recorded->second[position], request->Source, request->Sequence);
}

void ReplayTarget::SetUnansweredNote(UnansweredNote note)
{
    note_ = std::move(note);
    if (note_ && session_.OversizedFrames > 0) {
        note_("the trace holds " + std::to_string(session_.OversizedFrames) + " frame" +
              (session_.OversizedFrames == 1 ? "" : "s") + " of the device longer than the " +
              std::to_string(MAX_FRAME_BYTES) +
              " bytes a segment carries: left out of the replay, as if never sent");
    }
}

void ReplayTarget::Note(const RequestKind& kind, const std::string& line)
{
    if (noted_.insert(kind).second && note_) {
        note_(line);
    }
}

}  // namespace tarvik
