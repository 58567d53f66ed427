#pragma once
// --events: one JSON object per line on stdout, for scripts that follow an upgrade (or many)
// as it goes. Every object carries "schema", "time" (UTC, ISO 8601, milliseconds), "device"
// (with "bay" when the station serves several bays) and "event"; the kinds are discovered, skipped,
// started, progress and finished. Each line is built whole and written with one call under one
// lock, then flushed, so lines from the runs of several devices never interleave.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/json_output.h"
#include "commands/several_devices.h"
#include "platform/files/append_file.h"
#include "protocol/progress.h"

namespace tarvik::cli {

inline constexpr int EVENTS_SCHEMA = 1;

// A random UUID (version 4, RFC 9562), from std::random_device: libstdc++ draws it from the
// system's generator (getrandom or /dev/urandom on Linux, rand_s on Windows), which is what a
// record id needs: unique, not guessable matters little.
std::string RandomUuid();

// The phase's name in progress events: "erase", "write", "verify", "reset", "done".
std::string_view PhaseName(ProgressPhase phase);

class EventStream {
public:
    EventStream(std::ostream& out, UtcClock& clock) : out_(&out), clock_(clock) {}
    // Events for the tap alone (a panel without --events).
    explicit EventStream(UtcClock& clock) : out_(nullptr), clock_(clock) {}

    // Hands every event, as it is written, to tap too (the panel's view). The tap runs on the
    // thread of the run that made the event: it must be quick and thread-safe.
    void Tap(std::function<void(const Json&)> tap) { tap_ = std::move(tap); }

    // bay: the device's bay, empty when the station serves one segment.
    void Discovered(const std::string& device, const std::string& bay = {});
    void Started(const std::string& device, const std::string& recordId,
                 const std::string& bay = {});
    // Writes a progress event when the phase changed since the device's last one, or when the
    // bytes done crossed another tenth of the phase's total.
    void Progress(const std::string& device, const ProgressReport& report,
                  const std::string& bay = {});
    // A skipped report gives a skipped event, any other a finished one.
    void Ends(const DeviceRunReport& report, const std::string& recordId);
    // What the finished events say of the image's signature: its state ("verified", ...), its
    // signer's key id and its signed comment (null when no signature was read).
    void SetSignature(std::string state, std::optional<std::string> keyId,
                      std::optional<std::string> comment);

private:
    struct Last {
        ProgressPhase Phase = ProgressPhase::Erase;
        std::uint64_t Tenth = 0;
        bool Any = false;
    };

    Json Event(std::string_view kind, const std::string& device, const std::string& bay);
    void Write(const Json& event);

    std::ostream* const out_;
    UtcClock& clock_;
    std::function<void(const Json&)> tap_;
    std::string signature_ = "not checked";
    std::optional<std::string> signerKeyId_;
    std::optional<std::string> signedComment_;
    std::mutex lock_;
    std::map<std::pair<std::string, std::string>, Last> last_;  // by bay and device
};

// Passes a run's progress on to its display and to the event stream, if any.
class EventProgress final : public ProgressDisplay {
public:
    EventProgress(ProgressDisplay& inner, EventStream* events, std::string device,
                  std::string bay = {})
        : inner_(inner), events_(events), device_(std::move(device)), bay_(std::move(bay))
    {
    }
    void BeginProgress(std::uint64_t bytesTotal) override { inner_.BeginProgress(bytesTotal); }
    void SetProgress(const ProgressReport& report) override
    {
        inner_.SetProgress(report);
        if (events_ != nullptr) {
            events_->Progress(device_, report, bay_);
        }
    }

private:
    ProgressDisplay& inner_;
    EventStream* const events_;
    const std::string device_;
    const std::string bay_;
};

// Each device's run seen by its watcher (the board on stderr) and by the event stream; gives
// every run a record id as it starts.
class EventWatcher final : public DeviceRunWatcher {
public:
    EventWatcher(DeviceRunWatcher& inner, EventStream* events,
                 const std::vector<std::string>& names);

    // The id of the device's current attempt; empty before it started.
    std::string RecordId(std::size_t device);

    CommandPort& PortFor(std::size_t device) override { return inner_.PortFor(device); }
    ProgressDisplay& ProgressFor(std::size_t device) override;
    void RunStarts(std::size_t device, const std::string& name, const std::string& bay) override;
    void RunEnds(std::size_t device, const DeviceRunReport& report) override;

private:
    DeviceRunWatcher& inner_;
    EventStream* const events_;
    const std::vector<std::string> names_;
    std::vector<std::unique_ptr<EventProgress>> progress_;
    std::mutex lock_;
    std::vector<std::string> ids_;
    std::vector<std::string> bays_;  // each run's bay, as it started
};

}  // namespace tarvik::cli
