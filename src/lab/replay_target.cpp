#include "lab/replay_target.h"

#include <algorithm>
#include <limits>

#include "protocol/frame.h"

namespace tarvik {
namespace {

struct Decoded {
    FrameHeader Header;
    const CapturedFrame* Frame;
};

bool IsProtocolFrame(const FrameHeader& header)
{
    return (header.FrameType == FRAME_TYPE_UNTYPED || header.FrameType == FRAME_TYPE_TYPED) &&
           header.Opcode <= OP_VERIFY;
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

// Rounded to the millisecond. A capture merged from several interfaces may put a reply a
// little before its request: that is no delay at all.
std::uint32_t DelayMs(std::uint64_t from, std::uint64_t to)
{
    if (to <= from) {
        return 0;
    }
    const std::uint64_t ms = (to - from + 500) / 1000;
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

std::optional<RecordedSession> RecordedSession::FromCapture(
    const std::vector<CapturedFrame>& frames, const std::optional<MacAddress>& device,
    std::string_view deviceOption, std::string& error)
{
    std::vector<Decoded> decoded;
    for (const CapturedFrame& frame : frames) {
        if (const auto header = DecodeHeader(frame.Bytes); header && IsProtocolFrame(*header)) {
            decoded.push_back({*header, &frame});
        }
    }
    // The tool is whoever sent what only a tool sends; a capture of nothing but the short
    // requests and their replies began with the tool's first.
    std::set<MacAddress> tools;
    for (const Decoded& frame : decoded) {
        if (SurelyRequest(frame.Header)) {
            tools.insert(frame.Header.Source);
        }
    }
    if (tools.empty() && !decoded.empty()) {
        tools.insert(decoded.front().Header.Source);
    }
    std::vector<MacAddress> answering;
    for (const Decoded& frame : decoded) {
        const MacAddress& source = frame.Header.Source;
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

    bool toolKnown = false;
    for (const Decoded& frame : decoded) {
        const FrameHeader& header = frame.Header;
        const RequestKind kind{header.FrameType, header.Opcode};
        if (tools.count(header.Source) != 0) {
            const bool probe = header.Destination == BROADCAST_ADDRESS && header.Opcode == OP_INFO;
            if (header.Destination != session.Device && !probe) {
                continue;
            }
            if (!toolKnown) {
                session.Tool = header.Source;
                toolKnown = true;
            }
            auto& requests = probe ? session.Probes[header.FrameType] : session.Requests[kind];
            requests.push_back({frame.Frame->Microseconds, header.Sequence, {}});
        } else if (header.Source == session.Device) {
            // A reply answers the latest request of its kind: a late reply to a request that
            // was sent again lands after the resend, as it did on the wire.
            RecordedRequest* request = LatestOf(session, kind);
            if (request == nullptr) {
                continue;  // the capture began after its request
            }
            request->Replies.push_back({frame.Frame->Bytes,
                                        DelayMs(request->Microseconds, frame.Frame->Microseconds)});
        }
    }
    return session;
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
        DeviceReply live{reply.Frame, reply.DelayMs};
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
    repliesSent_ += replies.size();
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

void ReplayTarget::Note(const RequestKind& kind, const std::string& line)
{
    if (noted_.insert(kind).second && note_) {
        note_(line);
    }
}

}  // namespace tarvik
