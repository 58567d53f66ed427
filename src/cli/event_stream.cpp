#include "cli/event_stream.h"

#include <array>
#include <cstdio>
#include <random>

namespace tarvik::cli {

std::string RandomUuid()
{
    std::random_device source;
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        const std::uint32_t word = source();
        for (std::size_t j = 0; j < 4; ++j) {
            bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
        }
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // the RFC's variant
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text += '-';
        }
        std::array<char, 3> hex{};
        std::snprintf(hex.data(), hex.size(), "%02x", bytes[i]);
        text += hex.data();
    }
    return text;
}

std::string_view PhaseName(ProgressPhase phase)
{
    switch (phase) {
    case ProgressPhase::Erase:
        return "erase";
    case ProgressPhase::Write:
        return "write";
    case ProgressPhase::Verify:
        return "verify";
    case ProgressPhase::Reset:
        return "reset";
    case ProgressPhase::Done:
        return "done";
    }
    return {};
}

Json EventStream::Event(std::string_view kind, const std::string& device, const std::string& bay)
{
    Json event{{"schema", EVENTS_SCHEMA},
               {"time", FormatUtcTime(clock_.MillisecondsSinceEpoch())},
               {"device", JsonText(device)}};
    if (!bay.empty()) {
        event["bay"] = JsonText(bay);
    }
    event["event"] = std::string(kind);
    return event;
}

void EventStream::Write(const Json& event)
{
    if (out_ != nullptr) {
        // The line escapes every control character: its only newline is its last.
        const std::string line = JsonLine(event) + '\n';
        std::lock_guard lock(lock_);
        out_->write(line.data(), static_cast<std::streamsize>(line.size()));
        out_->flush();
    }
    if (tap_) {
        tap_(event);
    }
}

void EventStream::Discovered(const std::string& device, const std::string& bay)
{
    Write(Event("discovered", device, bay));
}

void EventStream::Started(const std::string& device, const std::string& recordId,
                          const std::string& bay)
{
    {
        std::lock_guard lock(lock_);
        last_.erase({bay, device});
    }
    Json event = Event("started", device, bay);
    event["recordId"] = JsonText(recordId);
    Write(event);
}

void EventStream::Progress(const std::string& device, const ProgressReport& report,
                           const std::string& bay)
{
    const std::uint64_t tenth = report.BytesTotal == 0 ? 0
                                                       : report.BytesDone * 10 / report.BytesTotal;
    {
        std::lock_guard lock(lock_);
        Last& last = last_[{bay, device}];
        if (last.Any && last.Phase == report.Phase && tenth <= last.Tenth) {
            return;
        }
        last = Last{report.Phase, tenth, true};
    }
    Json event = Event("progress", device, bay);
    event["phase"] = std::string(PhaseName(report.Phase));
    event["bytesDone"] = report.BytesDone;
    event["bytesTotal"] = report.BytesTotal;
    Write(event);
}

void EventStream::Ends(const DeviceRunReport& report, const std::string& recordId)
{
    // The board code comes from the descriptor read before the upgrade; discovery's answers
    // name the devices only.
    const Json boardCode = report.Descriptor ? DescriptorJson(*report.Descriptor)["BoardCode"]
                                             : Json(nullptr);
    if (report.Skipped) {
        Json event = Event("skipped", report.DeviceName, report.Bay);
        event["result"] = JsonText(report.Result);
        event["boardCode"] = boardCode;
        Write(event);
        return;
    }
    Json event = Event("finished", report.DeviceName, report.Bay);
    event["result"] = JsonText(report.Result);
    event["boardCode"] = boardCode;
    event["exitStatus"] = report.ExitStatus;
    event["framesSent"] = report.FramesSent;
    event["framesResent"] = report.FramesResent;
    event["elapsedMs"] = report.ElapsedMs;
    event["recordId"] = JsonText(recordId);
    event["signature"] = signature_;
    event["signerKeyId"] = signerKeyId_ ? Json(*signerKeyId_) : Json(nullptr);
    event["signedComment"] = signedComment_ ? Json(JsonText(*signedComment_)) : Json(nullptr);
    Write(event);
}

void EventStream::SetSignature(std::string state, std::optional<std::string> keyId,
                               std::optional<std::string> comment)
{
    signature_ = std::move(state);
    signerKeyId_ = std::move(keyId);
    signedComment_ = std::move(comment);
}

EventWatcher::EventWatcher(DeviceRunWatcher& inner, EventStream* events,
                           const std::vector<std::string>& names)
    : inner_(inner), events_(events), names_(names), ids_(names.size()), bays_(names.size())
{
    progress_.resize(names.size());
}

std::string EventWatcher::RecordId(std::size_t device)
{
    std::lock_guard lock(lock_);
    return ids_.at(device);
}

ProgressDisplay& EventWatcher::ProgressFor(std::size_t device)
{
    if (events_ == nullptr) {
        return inner_.ProgressFor(device);
    }
    std::lock_guard lock(lock_);
    if (!progress_.at(device)) {
        progress_[device] = std::make_unique<EventProgress>(inner_.ProgressFor(device), events_,
                                                            names_[device], bays_[device]);
    }
    return *progress_[device];
}

void EventWatcher::RunStarts(std::size_t device, const std::string& name, const std::string& bay)
{
    std::string id = RandomUuid();
    {
        std::lock_guard lock(lock_);
        ids_.at(device) = id;
        bays_.at(device) = bay;
    }
    inner_.RunStarts(device, name, bay);
    if (events_ != nullptr) {
        events_->Started(names_[device], id, bay);
    }
}

void EventWatcher::RunEnds(std::size_t device, const DeviceRunReport& report)
{
    inner_.RunEnds(device, report);
    if (events_ != nullptr) {
        events_->Ends(report, RecordId(device));
    }
}

}  // namespace tarvik::cli
